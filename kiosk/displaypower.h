#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <deque>

class QProcess;
class QTimer;

// Switches the screen off and on. switchTo() returns at once; each request's outcome comes later,
// in the order of the requests, as switched() or as failed() with a reason for the log.
class DisplayPower : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void switchTo(bool on) = 0;

signals:
    void switched(bool on);
    void failed(bool on, const QString &reason);
};

// A program and its arguments, the program looked up in the PATH of the environment it runs in.
struct DisplayCommand
{
    QString program;
    QStringList arguments;

    QString shown() const { return (QStringList{program} + arguments).join(QLatin1Char(' ')); }
};

// The session's own tools, each started as a program: with cec, the television's standby and
// wake through cec-ctl; under Wayland (WAYLAND_DISPLAY) wlr-randr for the output; under X11
// (DISPLAY) xset's power saving. A command fails when it cannot be found or started, ends with
// any status but 0, writes to its error output (xset says "server does not have extension for
// dpms option" and ends with 0), or has not ended after 10 seconds.
class CommandDisplayPower final : public DisplayPower
{
public:
    struct Commands
    {
        DisplayCommand off;
        DisplayCommand on;
        QString missing; // why the session has none; then both are empty
    };
    // outputName: the screen's name as the compositor calls it (Wayland only).
    static Commands forSession(bool cec, const QProcessEnvironment &environment, const QString &outputName);

    CommandDisplayPower(Commands commands, QProcessEnvironment environment, QObject *parent = nullptr);
    // The commands of the session the kiosk runs in, for its primary screen.
    static CommandDisplayPower *ofSession(bool cec, const QProcessEnvironment &environment, QObject *parent);

    void switchTo(bool on) override;

private:
    void startNext();
    void finish(const QString &failure);

    Commands m_commands;
    QProcessEnvironment m_environment;
    std::deque<bool> m_requests; // the first is the one running
    bool m_busy = false;
    QProcess *m_process = nullptr;
    QTimer *m_limit;
};
