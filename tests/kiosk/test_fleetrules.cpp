#include "hostallowlist.h"

#include <gtest/gtest.h>

namespace {

TEST(HostAllowList, NamesAndSubDomainPatternsWithoutRegardToCaseAndNothingThatIsNotAHost)
{
    HostAllowList list = HostAllowList::fromText(" Pay.Example.org, *.cdn.example.NET,,[::1], http://a.org, b.org/x, "
                                                 "c.org:8080, *, a*.org");
    EXPECT_EQ(list.refused(), (std::vector<std::string>{"http://a.org", "b.org/x", "c.org:8080", "*", "a*.org"}));
    for (const char *host : {"pay.example.org", "PAY.EXAMPLE.ORG", "x.cdn.example.net", "a.b.cdn.example.net", "::1"})
        EXPECT_TRUE(list.allows(host)) << host;
    for (const char *host : {"example.org", "cdn.example.net", "evilcdn.example.net", "a.org", "b.org", "c.org", ""})
        EXPECT_FALSE(list.allows(host)) << host;
    list.allow("Server.Local");
    EXPECT_TRUE(list.allows("server.local"));
}

TEST(HostAllowList, AnEntryCutAtTheEndOfASettingsValueAllowsNothing)
{
    // 256 characters: the last entry, cut to "*.bank.co", would allow another domain.
    const std::string value = "*.example.org, " + std::string(225, 'x') + ".net, *.bank.com";
    const std::string read = value.substr(0, 255);
    const HostAllowList cut = HostAllowList::fromSettingValue(read);
    EXPECT_EQ(cut.cutEntry(), "*.bank.co");
    EXPECT_FALSE(cut.allows("www.bank.co"));
    EXPECT_TRUE(cut.allows("www.example.org"));
    const HostAllowList whole = HostAllowList::fromSettingValue(value.substr(0, 254));
    EXPECT_FALSE(whole.cutEntry().has_value()) << "shorter than a value can be: nothing was cut";
    EXPECT_TRUE(whole.allows("a.bank.c"));
}

} // namespace
