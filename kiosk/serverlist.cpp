#include "serverlist.h"

#include "kiosksettings.h"
#include "pageaddress.h"

#include <QUrl>

std::string shownServer(const std::string &server)
{
    const QUrl url(QString::fromStdString(server));
    return url.userInfo().isEmpty() ? server : url.toString(QUrl::RemoveUserInfo).toStdString();
}

void ServerList::configure(const KioskSettings &settings)
{
    ReturnUrl(settings.serverList, m_entries, settings.failureLimit);
    m_startPage = settings.startPage;
    m_adminPage = settings.adminPage;
    m_logoutPage = settings.logoutPage;
}

std::string ServerList::address(const std::string &page) const
{
    return pageAddress(m_entries, m_index, page);
}

std::string ServerList::firstAddress(const std::string &page) const
{
    return pageAddress(m_entries, 0, page);
}

std::string ServerList::shownServer() const
{
    return ::shownServer(address(""));
}

bool ServerList::onFirst() const
{
    return address("") == firstAddress("");
}

void ServerList::moveToNext()
{
    const size_t next = static_cast<size_t>(m_index) + 1;
    m_index = next < m_entries.size() && next <= INT16_MAX ? static_cast<int16_t>(next) : 0;
}
