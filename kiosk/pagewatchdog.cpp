#include "pagewatchdog.h"

#include "formtimer.h"
#include "inputwatch.h"
#include "kiosklog.h"
#include "kiosksettings.h"

namespace {

const char *reasonName(PageWatchdog::Reason reason)
{
    switch (reason) {
    case PageWatchdog::Reason::Hung:
        return "hung";
    case PageWatchdog::Reason::Blank:
        return "blank";
    case PageWatchdog::Reason::Memory:
        return "memory";
    }
    return "";
}

} // namespace

bool isFlat(const QImage &picture)
{
    if (picture.isNull())
        return true;
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] != first)
                return false;
        }
    }
    return true;
}

PageWatchdog::PageWatchdog(FormTimer *timer, WatchedPage &page, const InputWatch &input, KioskLog &log,
                           std::function<bool()> busy, QObject *parent)
    : QObject(parent)
    , m_timer(timer)
    , m_page(page)
    , m_input(input)
    , m_log(log)
    , m_busy(std::move(busy))
{
}

void PageWatchdog::configure(const KioskSettings &settings)
{
    m_interval = settings.pageCheckInterval;
    m_limitKiB = static_cast<long>(settings.rendererMemoryLimit) * 1024;
    m_timer->setEnabled(m_interval > 0 || m_limitKiB > 0);
}

void PageWatchdog::pageLoaded()
{
    m_seconds = 0;
    m_secondsSinceLoad = 0;
    m_failures = 0;
    m_question = 0; // an answer from the page before does not count
    m_showedPicture = false;
}

void PageWatchdog::tick()
{
    // Nothing is judged while a renderer that was ended goes.
    if (m_ending)
        return;
    if (m_limitKiB > 0)
        checkMemory();
    if (m_interval <= 0 || m_ending)
        return;
    if (m_page.loading() || m_busy()) {
        m_seconds = 0;
        return;
    }
    // A page that empties itself soon after loading must have been seen drawn first; until the
    // first check the picture is looked at every second.
    if (!m_showedPicture && ++m_secondsSinceLoad < m_interval && !isFlat(m_page.picture()))
        m_showedPicture = true;
    if (++m_seconds < m_interval)
        return;
    m_seconds = 0;
    check();
}

void PageWatchdog::check()
{
    if (m_question != 0) {
        failedCheck(Reason::Hung);
        return;
    }
    const bool flat = isFlat(m_page.picture());
    if (flat && m_showedPicture) {
        if (failedCheck(Reason::Blank))
            return;
    } else {
        m_showedPicture = m_showedPicture || !flat;
        m_failures = 0;
    }
    const uint64_t asked = ++m_lastQuestion;
    m_question = asked;
    m_page.askScript([this, asked] {
        if (m_question == asked)
            m_question = 0;
    });
}

bool PageWatchdog::failedCheck(Reason reason)
{
    if (++m_failures < FailedChecksForError)
        return false;
    const QUrl url = m_page.address();
    const std::string address = url.toString(QUrl::RemoveUserInfo).toStdString();
    pageLoaded();
    ++m_recoveries[reason];
    if (reason == Reason::Blank) {
        m_log.write("Pagina vuota da " + std::to_string(FailedChecksForError) + " controlli: " + address);
        emit pageFailed(url, 0, QStringLiteral("pagina vuota"));
        return true;
    }
    m_log.write("Pagina bloccata da " + std::to_string(FailedChecksForError)
                + " controlli, renderer terminato: " + address);
    // The error page and the retry would wait on the same stuck renderer.
    m_ending = true;
    m_page.endRenderer([this, url] {
        m_ending = false;
        emit pageFailed(url, 0, QStringLiteral("pagina bloccata"));
    });
    return true;
}

void PageWatchdog::checkMemory()
{
    m_memoryKiB = m_page.rendererMemoryKiB();
    const long pid = m_page.rendererPid();
    // An idle reset or a crash has brought a new renderer meanwhile.
    if (m_oversizedPid != pid)
        m_oversizedPid = 0;
    if (m_memoryKiB && *m_memoryKiB > m_limitKiB)
        m_oversizedPid = pid;
    // A visitor's page is not taken away: the renderer waits for a moment nobody uses the screen.
    if (m_oversizedPid == 0 || m_input.sinceInput() < std::chrono::seconds(IdleSecondsForMemory) || m_page.loading()
        || m_busy())
        return;
    m_oversizedPid = 0;
    ++m_recoveries[Reason::Memory];
    m_log.write("Renderer oltre renderer_memory_limit (" + std::to_string(m_memoryKiB.value_or(0) / 1024)
                + " MiB), pagina ricaricata: " + m_page.address().toString(QUrl::RemoveUserInfo).toStdString());
    pageLoaded();
    m_ending = true;
    m_page.endRenderer([this] {
        m_ending = false;
        m_page.reloadFromServer();
    });
}

uint64_t PageWatchdog::recoveries(Reason reason) const
{
    const auto found = m_recoveries.find(reason);
    return found == m_recoveries.end() ? 0 : found->second;
}

std::vector<Metric> PageWatchdog::metrics() const
{
    std::vector<Metric> figures;
    if (m_interval <= 0 && m_limitKiB <= 0)
        return figures;
    for (const Reason reason : {Reason::Hung, Reason::Blank, Reason::Memory})
        figures.push_back({"tesmora_kiosk_page_recoveries_total",
                           "Pages the watchdog loaded again, by reason.",
                           "counter",
                           static_cast<double>(recoveries(reason)),
                           {{"reason", reasonName(reason)}}});
    if (m_memoryKiB)
        figures.push_back({"tesmora_kiosk_renderer_memory_bytes",
                           "Proportional memory of the page's renderer process at the last look.",
                           "gauge",
                           static_cast<double>(*m_memoryKiB) * 1024,
                           {}});
    return figures;
}
