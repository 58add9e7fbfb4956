#include "kioskfixture.h"
#include "navigationrefusals.h"

namespace {

using namespace std::chrono_literals;

class NavigationRefusalsTest : public RuleFixture
{
protected:
    size_t lines() const { return static_cast<size_t>(std::ranges::count(kioskLog(), '\n')); }

    NavigationRefusals refusals{log, clock};
};

TEST_F(NavigationRefusalsTest, AHostOrSchemeIsLoggedOnceAMinuteWithoutWhatAVisitorTyped)
{
    refusals.refused(QUrl("https://Other.Example.org/pay?card=1234"));
    refusals.refused(QUrl("https://other.example.org/again"));
    refusals.refused(QUrl("mailto:mario.rossi@example.org?subject=segreto"));
    refusals.refused(QUrl(QString("x-") + QString(60, 'a') + ":b"));
    EXPECT_EQ(kioskLog(),
              "Navigazione rifiutata verso other.example.org: non in allowed_hosts\r\n"
              "Navigazione rifiutata verso mailto: schema non consentito\r\n"
              "Navigazione rifiutata verso x-"
                  + std::string(38, 'a') + ": schema non consentito\r\n");
    clock.advance(61s);
    refusals.refused(QUrl("https://other.example.org/"));
    EXPECT_EQ(lines(), 4u);
}

TEST_F(NavigationRefusalsTest, APageTryingOneHostAfterAnotherWritesAtMostTwentyLinesAMinute)
{
    for (int i = 0; i < 50; ++i)
        refusals.refused(QUrl(QString("http://h%1.example.com/").arg(i)));
    EXPECT_EQ(lines(), 20u);
    clock.advance(30s);
    refusals.refused(QUrl("http://h49.example.com/"));
    EXPECT_EQ(lines(), 20u);
    clock.advance(31s);
    refusals.refused(QUrl("http://h49.example.com/"));
    EXPECT_EQ(lines(), 21u);
}

} // namespace
