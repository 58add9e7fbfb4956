#pragma once

#include <QIcon>
#include <QPixmap>

// The pictures both programs show, drawn at build time and built into the programs.

// The window icon, in 16, 32 and 48 pixels.
QIcon tesmoraIcon();
// The operator panel: play, pause and stop, left to right, 330 x 119 pixels.
QPixmap panelPicture();
