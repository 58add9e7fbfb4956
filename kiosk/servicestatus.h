#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <string>

class KioskLog;

// The service status that the operator panel and page errors set. change() applies a code as the
// design's ChangeStatus does; any code but these four changes nothing. What each status means to
// the other rules (the server checks, the panel's hiding, the refresh bar, the error countdown,
// the end) they take from changed().
class ServiceStatus : public QObject
{
    Q_OBJECT
public:
    enum Code : int16_t { Pause = 1, Play = 2, Stop = 3, Error = 4 };

    explicit ServiceStatus(KioskLog &log, QObject *parent = nullptr);

    void change(int16_t code);
    // A page error's way to error: through a pause that the event log and the metrics do not see.
    void changeToErrorThroughPause();

    // The status last applied; 0 before the first. Kept for the metrics and the event log only:
    // the design stores no status.
    int16_t applied() const { return m_applied; }
    // The names the event log and the metrics' help use: "pause", "play", "stop", "error".
    static std::string name(int16_t code);

signals:
    // A status other than the last one applied (the event log has its line by then).
    void statusApplied(int16_t code);
    // The status label's text; error leaves it as it is.
    void labelChanged(const QString &text);
    // Which of the panel's play and pause areas can be clicked.
    void choicesChanged(bool play, bool pause);
    void changed(int16_t code);

private:
    KioskLog &m_log;
    int16_t m_applied = 0;
    bool m_passingThroughPause = false;
};
