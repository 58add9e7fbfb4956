#include "layout.h"

#include <gtest/gtest.h>

namespace {

void expectRect(const TwipsRect &r, float left, float top, float width, float height, const char *name)
{
    SCOPED_TRACE(name);
    EXPECT_FLOAT_EQ(r.left, left);
    EXPECT_FLOAT_EQ(r.top, top);
    EXPECT_FLOAT_EQ(r.width, width);
    EXPECT_FLOAT_EQ(r.height, height);
}

TEST(Layout, EveryControlOfA1024By768Screen)
{
    const float W = 1024 * 15, H = 768 * 15; // 15360 x 11520 twips
    const KioskLayout l = layoutForScreen(W, H);
    expectRect(l.window, 0, 0, 15360, 11520, "window");
    expectRect(l.WebBrowser, 0, 0, 15360, 11170, "WebBrowser");
    expectRect(l.cmdTesmora, 0, 11170, 3840, 375, "cmdTesmora");
    expectRect(l.cmdAdminPannel, 3840, 11170, 3840, 375, "cmdAdminPannel");
    expectRect(l.cmdLogOut, 7680, 11170, 3840, 375, "cmdLogOut");
    expectRect(l.cmdClose, 11520, 11170, 3840, 375, "cmdClose");
    expectRect(l.pitAdmin, 5175, 4837.5f, 5010, 1845, "pitAdmin");
    expectRect(l.lblButton1, 0, 11170, 700, 350, "lblButton1");
    expectRect(l.lblButton2, 14660, 11170, 700, 350, "lblButton2");
    expectRect(l.shpBase, 45, 11345, 1695, 75, "shpBase");
    expectRect(l.shpRiempimento, 45, 11345, 0, 75, "shpRiempimento");
    expectRect(l.lblStatus, 45, 11135, 1365, 210, "lblStatus");
    expectRect(l.ptcStop, 2100, 11165, 360, 360, "ptcStop");
    expectRect(l.ptcRefresh, 2640, 11165, 360, 360, "ptcRefresh");
}

TEST(Layout, WidthsNotAMultipleOfFourStayFractionalUntilDrawn)
{
    const KioskLayout l = layoutForScreen(1366 * 15, 768 * 15); // 20490 twips
    EXPECT_FLOAT_EQ(l.cmdAdminPannel.left, 5122.5f);
    EXPECT_FLOAT_EQ(l.cmdClose.left, 15367.5f);
    // Rounded at the edges, the four buttons still meet and fill the strip to the last pixel.
    const QRect a = toPixels(l.cmdTesmora), b = toPixels(l.cmdAdminPannel), c = toPixels(l.cmdLogOut),
                d = toPixels(l.cmdClose);
    EXPECT_EQ(a.left(), 0);
    EXPECT_EQ(a.right() + 1, b.left());
    EXPECT_EQ(b.right() + 1, c.left());
    EXPECT_EQ(c.right() + 1, d.left());
    EXPECT_EQ(d.right() + 1, 1366);
}

TEST(Layout, TwipsBecomePixelsAtFifteenEach)
{
    EXPECT_EQ(toPixels({5175, 4837.5f, 5010, 1845}), QRect(345, 323, 334, 123));
    EXPECT_EQ(twipsToPixels(11170), 745);
    EXPECT_EQ(twipsToPixels(7), 0);
    EXPECT_EQ(twipsToPixels(8), 1);
}

} // namespace
