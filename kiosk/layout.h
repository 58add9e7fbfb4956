#pragma once

#include "twips.h"

// Design-time geometry of the kiosk window's controls.
namespace Design {
constexpr TwipsRect cmdLogOut{6120, 5400, 1455, 375};
constexpr TwipsRect cmdAdminPannel{3840, 5400, 2535, 375};
constexpr TwipsRect cmdClose{7440, 5400, 1215, 375};
constexpr TwipsRect cmdTesmora{1200, 5400, 2535, 375};
constexpr TwipsRect pitAdmin{1920, 1920, 5010, 1845};
constexpr TwipsRect lblPlay{120, 240, 1455, 1335};
constexpr TwipsRect lblPause{1680, 240, 1575, 1335};
constexpr TwipsRect lblStop{3360, 240, 1455, 1335};
constexpr TwipsRect ptcRefresh{2400, 5160, 360, 360};
constexpr TwipsRect ptcStop{1920, 5160, 360, 360};
constexpr TwipsRect lblButton2{7800, 5520, 705, 195};
constexpr TwipsRect lblButton1{0, 5520, 705, 195};
constexpr TwipsRect lblStatus{0, 5160, 1365, 210};
constexpr TwipsRect shpRiempimento{45, 5400, 495, 75};
constexpr TwipsRect shpBase{45, 5400, 1695, 75};
} // namespace Design

// Where every control of the kiosk window lies on a screen of W x H twips.
struct KioskLayout
{
    TwipsRect window;
    TwipsRect WebBrowser;
    TwipsRect cmdTesmora;
    TwipsRect cmdAdminPannel;
    TwipsRect cmdLogOut;
    TwipsRect cmdClose;
    TwipsRect pitAdmin;
    TwipsRect lblButton1;
    TwipsRect lblButton2;
    TwipsRect shpBase;
    TwipsRect shpRiempimento;
    TwipsRect lblStatus;
    TwipsRect ptcStop;
    TwipsRect ptcRefresh;
};

KioskLayout layoutForScreen(float W, float H);
