#pragma once

#include <QQuickWidget>
#include <QRect>

#include <filesystem>
#include <string>

class KioskLog;
class QWebEnginePage;

// Whether the settings file asks for the on-screen keyboard (on_screen_keyboard=1). Read before the
// application exists, as the input method must be chosen then; the window reads and logs the
// settings as ever.
bool onScreenKeyboardWanted(const std::filesystem::path &settingsFile);
// Makes Qt Virtual Keyboard the application's input method, without a window of its own; before
// the application is made.
void prepareOnScreenKeyboard();

// The on-screen keyboard, inside the kiosk window: a separate window would be shown full screen by
// a kiosk compositor. It lies across the bottom of its parent while a text field has the focus
// (the input method is visible), and hides when the field loses it. Keys type into the field with
// the focus; the keyboard never takes the focus itself.
class OnScreenKeyboard : public QQuickWidget
{
    Q_OBJECT
public:
    // layout: a locale such as "it_IT" or "en_GB"; empty: the system's language.
    OnScreenKeyboard(const QString &layout, QWidget *parent);

    // A keyboard in the view's window that makes room in the view; one that cannot load says so
    // in the log.
    static OnScreenKeyboard *inView(const std::string &layout, QWidget *view, QWebEnginePage *page,
                                    const KioskLog &log);

    // While the keyboard shows, the view ends above it and the page's focused field is brought
    // into view; the view gets its place back when the keyboard goes.
    void makeRoomIn(QWidget *view, QWebEnginePage *page);

signals:
    // The keyboard appeared with its top edge at top (in the parent), or went (top -1).
    void coverChanged(int top);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow();

    QRect m_viewPlace; // the view's place without the keyboard, while the keyboard shows
};
