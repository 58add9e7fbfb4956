#include "layout.h"

KioskLayout layoutForScreen(float W, float H)
{
    KioskLayout l;
    l.window = {0, 0, W, H};

    l.cmdTesmora = Design::cmdTesmora;
    l.cmdClose = Design::cmdClose;
    l.cmdLogOut = Design::cmdLogOut;
    l.cmdAdminPannel = Design::cmdAdminPannel;
    l.cmdTesmora.left = 0;
    l.cmdTesmora.width = W / 4;
    l.cmdClose.width = W / 4;
    l.cmdLogOut.width = W / 4;
    l.cmdAdminPannel.width = W / 4;
    l.cmdAdminPannel.left = l.cmdTesmora.width;
    l.cmdLogOut.left = l.cmdTesmora.width + l.cmdAdminPannel.left;
    l.cmdClose.left = l.cmdTesmora.width + l.cmdLogOut.left;
    // The buttons keep their height of 375 and so reach 25 twips below the screen's edge.
    l.cmdTesmora.top = H - 350;
    l.cmdAdminPannel.top = H - 350;
    l.cmdLogOut.top = H - 350;
    l.cmdClose.top = H - 350;

    l.WebBrowser = {0, 0, W, H - 350};

    l.pitAdmin = Design::pitAdmin;
    l.pitAdmin.top = H / 2 - l.pitAdmin.height / 2;
    l.pitAdmin.left = W / 2 - l.pitAdmin.width / 2;

    l.lblButton1 = {0, H - 350, 700, 350};
    l.lblButton2 = {W - 700, H - 350, 700, 350};

    l.shpBase = Design::shpBase;
    l.shpBase.top = H - 350.0f / 2;
    l.shpRiempimento = Design::shpRiempimento;
    l.shpRiempimento.top = l.shpBase.top;
    l.shpRiempimento.width = 0;

    l.lblStatus = Design::lblStatus;
    l.lblStatus.left = l.shpBase.left;
    l.lblStatus.top = l.shpBase.top - l.lblStatus.height;

    l.ptcStop = Design::ptcStop;
    l.ptcRefresh = Design::ptcRefresh;
    l.ptcStop.top = (H - 175) - l.ptcStop.height / 2;
    l.ptcRefresh.top = l.ptcStop.top;
    l.ptcStop.left = l.shpBase.width + l.shpBase.left + l.ptcStop.width;
    l.ptcRefresh.left = l.ptcStop.width / 2 * 3 + l.ptcStop.left;
    return l;
}
