#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct KioskSettings;

// The server list as the kiosk uses it: web_server laid out geturl_failure_limit times (the
// design's ArrayUrl), the entry in use (ServerIndex), and the pages' addresses on it.
class ServerList
{
public:
    void configure(const KioskSettings &settings);

    const std::vector<std::string> &entries() const { return m_entries; }
    int16_t index() const { return m_index; }

    // A page on the server in use, on the first entry.
    std::string address(const std::string &page) const;
    std::string firstAddress(const std::string &page) const;
    std::string startPage() const { return address(m_startPage); }
    std::string firstStartPage() const { return firstAddress(m_startPage); }
    std::string adminPage() const { return address(m_adminPage); }
    std::string logoutPage() const { return address(m_logoutPage); }
    // The entry in use, as the log and the metrics show it.
    std::string shownServer() const;
    // Whether the entry in use is the same server as the first.
    bool onFirst() const;

    // To the next entry, after the last back to the first.
    void moveToNext();
    void returnToFirst() { m_index = 0; }

private:
    std::vector<std::string> m_entries;
    int16_t m_index = 0;
    std::string m_startPage;
    std::string m_adminPage;
    std::string m_logoutPage;
};

// A server as the log and the metrics show it: never with a user name and password written in it.
std::string shownServer(const std::string &server);
