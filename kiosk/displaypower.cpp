#include "displaypower.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

CommandDisplayPower::Commands CommandDisplayPower::forSession(bool cec, const QProcessEnvironment &environment,
                                                              const QString &outputName)
{
    const QString cecCtl = QStringLiteral("cec-ctl");
    if (cec) {
        // --playback: the adapter must have a logical address of its own before it may send.
        const QStringList to{QStringLiteral("--playback"), QStringLiteral("--to"), QStringLiteral("0")};
        return {{cecCtl, to + QStringList{QStringLiteral("--standby")}},
                {cecCtl, to + QStringList{QStringLiteral("--image-view-on")}},
                {}};
    }
    if (!environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()) {
        if (outputName.isEmpty())
            return {{}, {}, QStringLiteral("il compositore non dice il nome dello schermo")};
        const QString randr = QStringLiteral("wlr-randr");
        const QStringList output{QStringLiteral("--output"), outputName};
        return {{randr, output + QStringList{QStringLiteral("--off")}},
                {randr, output + QStringList{QStringLiteral("--on")}},
                {}};
    }
    if (!environment.value(QStringLiteral("DISPLAY")).isEmpty()) {
        const QString xset = QStringLiteral("xset");
        // The session runs without power saving (-dpms); forcing the screen off switches it on,
        // and left on, the X server would blank the screen by day after its own idle times.
        return {
            {xset, {QStringLiteral("dpms"), QStringLiteral("force"), QStringLiteral("off")}},
            {xset, {QStringLiteral("dpms"), QStringLiteral("force"), QStringLiteral("on"), QStringLiteral("-dpms")}},
            {}};
    }
    return {{}, {}, QStringLiteral("nessuna sessione grafica (né DISPLAY né WAYLAND_DISPLAY)")};
}

CommandDisplayPower::CommandDisplayPower(Commands commands, QProcessEnvironment environment, QObject *parent)
    : DisplayPower(parent)
    , m_commands(std::move(commands))
    , m_environment(std::move(environment))
    , m_limit(new QTimer(this))
{
    m_limit->setSingleShot(true);
    m_limit->setInterval(10000);
    connect(m_limit, &QTimer::timeout, this, [this] {
        m_process->kill();
        finish(QStringLiteral("non ha risposto in 10 secondi"));
    });
}

void CommandDisplayPower::switchTo(bool on)
{
    m_requests.push_back(on);
    startNext();
}

void CommandDisplayPower::startNext()
{
    // One command at a time: an off and an on racing each other could end in either order.
    if (m_busy || m_requests.empty())
        return;
    m_busy = true;
    const DisplayCommand &command = m_requests.front() ? m_commands.on : m_commands.off;
    if (command.program.isEmpty()) {
        finish(m_commands.missing);
        return;
    }
    // Looked up here, in the PATH the program is given, so that a missing tool is named as such.
    const QString found = QStandardPaths::findExecutable(
        command.program, m_environment.value(QStringLiteral("PATH")).split(QDir::listSeparator(), Qt::SkipEmptyParts));
    if (found.isEmpty()) {
        finish(QStringLiteral("programma non trovato nel PATH"));
        return;
    }
    m_process = new QProcess(this);
    m_process->setProcessEnvironment(m_environment);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardOutputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(m_process->errorString());
    });
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        // The tools' first line of complaint is the one that tells why.
        const QString said =
            QString::fromLocal8Bit(m_process->readAllStandardError()).trimmed().section(QLatin1Char('\n'), 0, 0);
        if (status != QProcess::NormalExit)
            finish(QStringLiteral("interrotto"));
        else if (code != 0)
            finish(QStringLiteral("codice di uscita %1").arg(code)
                   + (said.isEmpty() ? QString() : QStringLiteral(", ") + said));
        else
            finish(said);
    });
    m_limit->start();
    m_process->start(found, command.arguments);
}

void CommandDisplayPower::finish(const QString &failure)
{
    m_limit->stop();
    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
        m_process = nullptr;
    }
    const bool on = m_requests.front();
    const DisplayCommand &command = on ? m_commands.on : m_commands.off;
    const QString reason = command.program.isEmpty() ? failure : command.shown() + QStringLiteral(": ") + failure;
    m_requests.pop_front();
    m_busy = false;
    if (failure.isEmpty())
        emit switched(on);
    else
        emit failed(on, reason);
    startNext();
}

CommandDisplayPower *CommandDisplayPower::ofSession(bool cec, const QProcessEnvironment &environment, QObject *parent)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return new CommandDisplayPower(forSession(cec, environment, screen ? screen->name() : QString()), environment,
                                   parent);
}
