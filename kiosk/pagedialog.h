#pragma once

#include <QWidget>

class QEventLoop;
class QLabel;
class QLineEdit;
class QPushButton;

// A page's alert, confirm or prompt asked inside the kiosk window: a box over the area it is
// given (the browser's), which takes that area's clicks while it waits. Never a window of its own.
class PageDialog : public QWidget
{
    Q_OBJECT
public:
    enum class Kind { Alert, Confirm, Prompt };

    explicit PageDialog(QWidget *parent);

    // Shows the question and lets events run until it is answered: true for OK. For a prompt,
    // value holds the default before and the text typed after. A question asked while another
    // waits is answered false at once.
    bool ask(Kind kind, const QString &message, QString *value = nullptr);
    // Answers the waiting question, if any, as "Annulla".
    void dismiss();
    bool waiting() const { return m_waiting != nullptr; }
    // While refusing, every question is answered "Annulla" at once.
    void setRefusing(bool refusing) { m_refusing = refusing; }

    QLabel *message = nullptr;
    QLineEdit *input = nullptr;
    QPushButton *ok = nullptr;
    QPushButton *cancel = nullptr;

private:
    QEventLoop *m_waiting = nullptr;
    bool m_accepted = false;
    bool m_refusing = false;
};
