#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

class FormTimer;

// The operator's way to the panel: the hidden areas of the two bottom corners (lblButton1 marks
// "7", lblButton2 "3"), clicked in either order within the 5 seconds that the first click starts
// (tmrOpenAdmin), show it. The panel hides 5 seconds later (tmrUnloadAdmin); play holds it, pause
// lets it hide again.
class OperatorGesture : public QObject
{
    Q_OBJECT
public:
    OperatorGesture(FormTimer *openTimer, FormTimer *hideTimer, QObject *parent = nullptr);

    void leftCornerClicked();
    void rightCornerClicked();
    // Opens the panel when both marks are set.
    void TryOpenAdmin();
    // tmrOpenAdmin: the 5 seconds are over and the marks go.
    void openTimeUp();
    // tmrUnloadAdmin.
    void hideTimeUp();
    void statusChanged(int16_t code);

    bool panelOpen() const { return m_panelOpen; }
    // Both corners' marks, left then right: "" before any click, "0" once cleared.
    QString marks() const { return m_left + m_right; }

signals:
    void panelShown(bool shown);

private:
    void clearMarks();

    FormTimer *m_openTimer;
    FormTimer *m_hideTimer;
    QString m_left;
    QString m_right;
    bool m_panelOpen = false;
};
