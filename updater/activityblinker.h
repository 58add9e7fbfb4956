#pragma once

#include <QElapsedTimer>

class QWidget;

// Serves the updater's window during a download, once per received block: the activity bar
// changes state and the window's pending events run (repaint, input, a close request). Blocks
// arrive far more often than a screen shows frames, so the bar's state reaches the screen at most
// once per frame; finish() shows the last state.
class ActivityBlinker
{
public:
    ActivityBlinker(QWidget &window, QWidget &bar);

    void onBlock();
    void finish();

    // The bar's state as the blocks left it (shown, or to be shown at the next frame).
    bool barVisible() const { return m_visible; }

private:
    static constexpr qint64 FrameMs = 40;

    QWidget &m_window;
    QWidget &m_bar;
    bool m_visible;
    QElapsedTimer m_lastFrame;
};
