#pragma once

#include "metricsfile.h"

#include <QImage>
#include <QObject>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class FormTimer;
class InputWatch;
class KioskLog;
struct KioskSettings;

// What the watchdog looks at and does to the page shown; the kiosk's browser is the real one.
class WatchedPage
{
public:
    virtual ~WatchedPage() = default;
    // Asks the page's script engine something trivial; `answered` runs if and when it answers.
    virtual void askScript(std::function<void()> answered) = 0;
    // The view's own picture of the page (not the screen's).
    virtual QImage picture() const = 0;
    virtual bool loading() const = 0;
    virtual QUrl address() const = 0;
    // The renderer process's proportional memory in KiB; empty without a renderer.
    virtual std::optional<long> rendererMemoryKiB() const = 0;
    virtual long rendererPid() const = 0;
    // Ends the renderer at once; `then` runs once it has gone, and its end is no navigation error.
    virtual void endRenderer(std::function<void()> then) = 0;
    // Loads the page shown again, in a new renderer, from the server.
    virtual void reloadFromServer() = 0;
};

// The page watchdog. With page_check_interval, every so many seconds (counted by tick(), once a
// second) the page is checked unless it is loading or `busy` says the kiosk is busy with an
// error. A check fails when the question asked at the last check is still unanswered (hung), or
// when the view's picture is one flat colour although it has shown more since the page loaded
// (blank: the page's own first pictures are what tell a page meant to show something from a
// plain one). Three failed checks in a row are one navigation error (pageFailed), after a hung
// renderer has been ended so that the retry gets a fresh one.
// With renderer_memory_limit, a renderer that uses more (MiB) is replaced, and the page loaded
// again, once nobody has touched the screen for a minute. An idle reset replaces it anyway.
// Every recovery writes a line naming its reason.
class PageWatchdog : public QObject
{
    Q_OBJECT
public:
    enum class Reason { Hung, Blank, Memory };

    PageWatchdog(FormTimer *timer, WatchedPage &page, const InputWatch &input, KioskLog &log,
                 std::function<bool()> busy, QObject *parent = nullptr);

    void configure(const KioskSettings &settings);
    void tick();
    // A page (or the error page) finished loading: its checks start again.
    void pageLoaded();

    uint64_t recoveries(Reason reason) const;
    // For the metrics file; nothing while both settings are off.
    std::vector<Metric> metrics() const;

    static constexpr int FailedChecksForError = 3;
    static constexpr int IdleSecondsForMemory = 60;

signals:
    void pageFailed(const QUrl &url, int statusCode, const QString &description);

private:
    void check();
    // Whether the check that failed was the last one of a row that ends in a recovery.
    bool failedCheck(Reason reason);
    void checkMemory();

    FormTimer *m_timer;
    WatchedPage &m_page;
    const InputWatch &m_input;
    KioskLog &m_log;
    std::function<bool()> m_busy;
    int16_t m_interval = 0; // seconds
    long m_limitKiB = 0;
    int m_seconds = 0; // since the last check
    int m_secondsSinceLoad = 0;
    int m_failures = 0; // failed checks in a row
    uint64_t m_question = 0; // the unanswered question's number, 0 for none
    uint64_t m_lastQuestion = 0;
    bool m_showedPicture = false; // the page has shown more than one colour since it loaded
    std::optional<long> m_memoryKiB;
    long m_oversizedPid = 0; // the renderer found over the limit, waiting for an idle moment
    bool m_ending = false; // a renderer the watchdog ended has not gone yet
    std::map<Reason, uint64_t> m_recoveries;
};

// Every pixel of the picture has the same colour (an empty picture too).
bool isFlat(const QImage &picture);
