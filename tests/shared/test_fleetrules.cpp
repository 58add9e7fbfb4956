#include "hostallowlist.h"
#include "platform.h"
#include "updaterules.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(HostAllowList, NamesAndSubDomainPatternsWithoutRegardToCaseAndNothingThatIsNotAHost)
{
    std::vector<std::string> refused;
    HostAllowList list = HostAllowList::fromText(" Pay.Example.org, *.cdn.example.NET,,[::1], http://a.org, b.org/x, "
                                                 "c.org:8080, *, a*.org",
                                                 refused);
    EXPECT_EQ(refused, (std::vector<std::string>{"http://a.org", "b.org/x", "c.org:8080", "*", "a*.org"}));
    for (const char *host : {"pay.example.org", "PAY.EXAMPLE.ORG", "x.cdn.example.net", "a.b.cdn.example.net", "::1"})
        EXPECT_TRUE(list.allows(host)) << host;
    for (const char *host : {"example.org", "cdn.example.net", "evilcdn.example.net", "a.org", "b.org", "c.org", ""})
        EXPECT_FALSE(list.allows(host)) << host;
    list.allow("Server.Local");
    EXPECT_TRUE(list.allows("server.local"));
}

TEST(UpdateSpread, TheSameMachineTakesTheSameSlotAndAFleetSpreadsOverTheWholeSpread)
{
    EXPECT_EQ(updateSpreadSeconds("abc", 0), 0);
    const std::string id = platform::machineIdentity();
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(updateSpreadSeconds(id, 30), updateSpreadSeconds(id, 30));
    // 600 kiosks named one after the other over 10 minutes: every minute gets some, none most.
    std::vector<int> perMinute(10);
    std::set<int> seconds;
    for (int k = 0; k < 600; ++k) {
        const int delay = updateSpreadSeconds("kiosk-" + std::to_string(k), 10);
        ASSERT_GE(delay, 0);
        ASSERT_LT(delay, 600);
        ++perMinute[delay / 60];
        seconds.insert(delay);
    }
    for (const int n : perMinute)
        EXPECT_TRUE(n >= 30 && n <= 90) << n;
    EXPECT_GT(seconds.size(), 300u) << "kiosks land on different seconds, not the same few";
}

} // namespace
