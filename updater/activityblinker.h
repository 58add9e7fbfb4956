#pragma once

#include <QElapsedTimer>

class QWidget;

// Serves the updater's window during a download: every received block changes the activity
// bar's state, and the window's pending events (repaint, input, a close request) run with the
// bar's state reaching the screen. Blocks arrive far more often than a screen shows frames, so
// that happens at most once per frame; finish() shows the last state.
class ActivityBlinker
{
public:
    ActivityBlinker(QWidget &window, QWidget &bar);

    void onBlock();
    void finish();

    // The bar's state as the blocks left it (shown, or to be shown at the next frame).
    bool barVisible() const { return m_visible; }

private:
    static constexpr qint64 FrameMs = 20;

    QWidget &m_window;
    QWidget &m_bar;
    bool m_visible;
    QElapsedTimer m_lastFrame;
};
