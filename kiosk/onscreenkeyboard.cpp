#include "onscreenkeyboard.h"

#include "clsfileini.h"
#include "kiosklog.h"

#include <QEvent>
#include <QGuiApplication>
#include <QInputMethod>
#include <QQuickItem>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QtMath>

bool onScreenKeyboardWanted(const std::filesystem::path &settingsFile)
{
    clsFileIni ini;
    ini.setNomeFile(settingsFile.string());
    return ini.ReadKey("data", "on_screen_keyboard", "") == "1";
}

void prepareOnScreenKeyboard()
{
    qputenv("QT_IM_MODULE", "qtvirtualkeyboard");
    qputenv("QT_VIRTUALKEYBOARD_DESKTOP_DISABLE", "1");
}

OnScreenKeyboard::OnScreenKeyboard(const QString &layout, QWidget *parent)
    : QQuickWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setResizeMode(QQuickWidget::SizeRootObjectToView);
    setSource(QUrl(QStringLiteral("qrc:/kiosk/onscreenkeyboard.qml")));
    if (QQuickItem *root = rootObject())
        root->setProperty("layout", layout);
    hide();
    parent->installEventFilter(this);
    connect(QGuiApplication::inputMethod(), &QInputMethod::visibleChanged, this, &OnScreenKeyboard::follow);
}

bool OnScreenKeyboard::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && isVisible())
        follow();
    return QQuickWidget::eventFilter(watched, event);
}

void OnScreenKeyboard::follow()
{
    QQuickItem *root = rootObject();
    if (!root || !QGuiApplication::inputMethod()->isVisible()) {
        hide();
        emit coverChanged(-1);
        return;
    }
    // The panel keeps its own proportions: its height follows from the width it is given.
    const QWidget *area = parentWidget();
    root->setWidth(area->width());
    const int height = qCeil(root->property("panelHeight").toReal());
    setGeometry(0, area->height() - height, area->width(), height);
    show();
    raise();
    emit coverChanged(area->height() - height);
}

void OnScreenKeyboard::makeRoomIn(QWidget *view, QWebEnginePage *page)
{
    connect(this, &OnScreenKeyboard::coverChanged, view, [this, view, page](int top) {
        if (top < 0) {
            if (m_viewPlace.isValid())
                view->setGeometry(m_viewPlace);
            m_viewPlace = {};
            return;
        }
        if (!m_viewPlace.isValid())
            m_viewPlace = view->geometry();
        QRect place = m_viewPlace;
        if (top <= place.bottom())
            place.setBottom(top - 1);
        view->setGeometry(place);
        // The page learns its new height a little later; the field is brought into view then too.
        page->runJavaScript(QStringLiteral("(() => { const show = () => document.activeElement"
                                           " && document.activeElement.scrollIntoView({block: 'nearest'});"
                                           " addEventListener('resize', show, {once: true}); show(); })()"),
                            QWebEngineScript::ApplicationWorld);
    });
}

OnScreenKeyboard *OnScreenKeyboard::inView(const std::string &layout, QWidget *view, QWebEnginePage *page,
                                           const KioskLog &log)
{
    auto *keyboard = new OnScreenKeyboard(QString::fromStdString(layout), view->parentWidget());
    if (!keyboard->errors().isEmpty())
        log.write("Tastiera su schermo non disponibile: " + keyboard->errors().constFirst().toString().toStdString());
    keyboard->makeRoomIn(view, page);
    return keyboard;
}
