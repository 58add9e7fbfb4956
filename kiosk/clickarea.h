#pragma once

#include <QLabel>

// A label or picture box that reacts to clicks. A disabled area receives no clicks.
class ClickArea : public QLabel
{
    Q_OBJECT
public:
    explicit ClickArea(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
};
