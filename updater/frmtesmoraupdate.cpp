#include "frmtesmoraupdate.h"

#include "tesmoraart.h"
#include "twips.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int ClientWidth = 4680;
constexpr int ClientHeight = 975;
constexpr int BarLeft = 120;
constexpr int BarTop = 360;
constexpr int BarWidth = 4455;
constexpr int BarHeight = 255;

QWidget *filledShape(QWidget *parent, const char *name, const QColor &colour)
{
    auto *shape = new QWidget(parent);
    shape->setObjectName(name);
    shape->setAutoFillBackground(true);
    QPalette palette = shape->palette();
    palette.setColor(QPalette::Window, colour);
    shape->setPalette(palette);
    return shape;
}

} // namespace

int progressStep(int barWidthTwips, std::size_t entryCount)
{
    return static_cast<int>(static_cast<std::size_t>(barWidthTwips) / entryCount);
}

frmTesmoraUpdate::frmTesmoraUpdate(UpdaterEnvironment environment, UpdateSettings settings, CountSettingReader &counts,
                                   QWidget *parent)
    : QWidget(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                  | Qt::MSWindowsFixedSizeDialogHint)
    , m_exeName(environment.paths.exeName)
    , m_run(std::move(environment), std::move(settings), counts, *this)
{
    setObjectName("frmTesmoraUpdate");
    setFixedSize(twipsToPixels(ClientWidth), twipsToPixels(ClientHeight));
    setWindowIcon(tesmoraIcon());

    cmdUpDate = new QPushButton("UpDate", this);
    cmdUpDate->setObjectName("cmdUpDate");
    cmdUpDate->setGeometry(toPixels({3600, 0, 975, 375}));

    lblFile = new QLabel("...", this);
    lblFile->setObjectName("lblFile");
    lblFile->setGeometry(toPixels({120, 120, 135, 195}));
    lblFile->adjustSize();

    // The filled part lies under the frame, so the frame's outline stays visible over it.
    ShpFileA = filledShape(this, "ShpFileA", QColor(0, 0, 255));
    ShpFileA->setGeometry(toPixels({BarLeft, BarTop, 615, BarHeight}));

    ShpFileB = new QFrame(this);
    ShpFileB->setObjectName("ShpFileB");
    ShpFileB->setFrameShape(QFrame::Box);
    ShpFileB->setGeometry(toPixels({BarLeft, BarTop, BarWidth, BarHeight}));

    ShpActivity = filledShape(this, "ShpActivity", QColor(255, 0, 0));
    ShpActivity->setGeometry(toPixels({120, 720, BarWidth, 135}));
    m_blinker = std::make_unique<ActivityBlinker>(*this, *ShpActivity);

    setTabOrder(lblFile, cmdUpDate);
    connect(cmdUpDate, &QPushButton::clicked, this, [this] { cmdUpDate_Click(); });

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Form_Load();
}

frmTesmoraUpdate::~frmTesmoraUpdate() = default;

void frmTesmoraUpdate::Form_Load()
{
    setWindowTitle(QString::fromStdString(m_exeName) + " v" TESMORA_VERSION_TEXT);
    m_shpFileAWidth = 0;
    ShpFileA->resize(0, ShpFileA->height());
}

void frmTesmoraUpdate::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_activated)
        return;
    m_activated = true;
    // Queued, so that the window is on screen before the run holds the thread.
    QMetaObject::invokeMethod(
        this, [this] { Form_Activate(); }, Qt::QueuedConnection);
}

void frmTesmoraUpdate::Form_Activate()
{
    cmdUpDate_Click();
}

void frmTesmoraUpdate::closeEvent(QCloseEvent *event)
{
    event->accept();
    Form_Unload();
}

void frmTesmoraUpdate::Form_Unload()
{
    // Closed by hand in the middle of a run: the update does not happen, and the run, which
    // holds the thread, ends first.
    if (m_running)
        m_run.requestCancel();
    else
        endWith(m_outcome ? *m_outcome : m_run.abandon());
}

void frmTesmoraUpdate::cmdUpDate_Click()
{
    // The run lets window events through during downloads, where a click must not start a
    // second run over the first.
    if (m_running || m_outcome)
        return;
    m_running = true;
    cmdUpDate->setEnabled(false);
    m_outcome = m_run.perform();
    m_running = false;
    endWith(*m_outcome);
}

void frmTesmoraUpdate::endWith(const RunOutcome &outcome)
{
    if (m_ended)
        return;
    m_ended = true;
    m_run.finish(outcome);
    emit finished(outcome.exitCode());
}

void frmTesmoraUpdate::paintNow()
{
    repaint();
}

void frmTesmoraUpdate::showText(const std::string &text)
{
    lblFile->setText(QString::fromStdString(text));
    lblFile->adjustSize();
}

void frmTesmoraUpdate::showProgress(std::size_t done, std::size_t total)
{
    m_shpFileAWidth = static_cast<int>(done) * progressStep(BarWidth, total);
    ShpFileA->resize(twipsToPixels(m_shpFileAWidth), ShpFileA->height());
}

void frmTesmoraUpdate::blockArrived()
{
    m_blinker->onBlock();
}

void frmTesmoraUpdate::downloadEnded()
{
    m_blinker->finish();
}
