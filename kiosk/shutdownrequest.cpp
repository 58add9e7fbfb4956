#include "shutdownrequest.h"

#include "fileops.h"
#include "kiosksettings.h"

ShutdownRequest::ShutdownRequest(std::filesystem::path requestFile, CountSettingReader &counts, QObject *parent)
    : QObject(parent)
    , m_file(std::move(requestFile))
    , m_counts(counts)
{
}

void ShutdownRequest::configure(const KioskSettings &settings)
{
    m_countdown = settings.shutdownCountdown;
}

void ShutdownRequest::tick()
{
    m_countdown--;
    if (m_countdown != 0)
        return;
    if (ordinaryFileExists(m_file)) {
        emit requested();
        return;
    }
    m_countdown = m_counts.read(KioskKeys::shutdownCheckInterval);
}
