#pragma once

#include <QObject>

#include <cstdint>

class FormTimer;
struct KioskSettings;

// The refresh bar: a countdown of geturl_interval seconds that fills the bar one step a second
// (tmrRefreshPage) and starts over; it loads nothing. Widths are in twips.
class RefreshBar : public QObject
{
    Q_OBJECT
public:
    // The bar's width and the filled part's, as drawn before the layout fits them to the screen.
    RefreshBar(FormTimer *timer, float baseWidth, float fillWidth, QObject *parent = nullptr);

    void configure(const KioskSettings &settings);
    // The widths the layout gives on the screen.
    void setWidths(float baseWidth, float fillWidth);

    void tick();
    // The design's ResetRefreshBar: empty, counting from 0.
    void reset();
    // ptcStop: the bar stands where it is.
    void stop();
    // ptcRefresh: empty, and counting again, in any status.
    void restart();
    void statusChanged(int16_t code);

    float fillWidth() const { return m_fillWidth; }
    float baseWidth() const { return m_baseWidth; }
    // The design's RefreshTicks: steps since the bar was last empty.
    int16_t ticks() const { return m_ticks; }
    bool running() const;

signals:
    void fillChanged(float width);

private:
    void setFill(float width);

    FormTimer *m_timer;
    int16_t m_interval = 10;
    int16_t m_ticks = 0;
    float m_baseWidth;
    float m_fillWidth;
};
