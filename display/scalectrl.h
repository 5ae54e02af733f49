#pragma once
// ScaleCtrl draws the thresholds panel's picture: two scrolling bar plots of
// the last 300 per-line values (the fire value against the Fire threshold and
// the channel B maximum against the BMax threshold), each with a range that
// zooms on the 1-2-5 sequence, and below them the channel B display scale
// with a bracket where the current line's channel B minimum and maximum fall
// on the 0..255 display range. It has no window; BuildScaleImage returns a
// copy of the finished picture.
#include <QColor>
#include <QImage>
#include <QPixmap>

#include <array>
#include <cstdint>

class ScaleCtrl : public QPixmap {
public:
    static constexpr int kWidth = 480;
    static constexpr int kHeight = 170;
    static constexpr int kHistory = 300;

    ScaleCtrl();

    // Set the plot's threshold marker, then append count values to its ring.
    void AddFireValues(const std::int32_t *values, int count, std::int32_t threshold);
    void AddBMaxValues(const std::int32_t *values, int count, std::int32_t threshold);

    void FireZoomIn();
    void FireZoomOut();
    void BMaxZoomIn();
    void BMaxZoomOut();

    int GetFireMantissa() const { return fire_.mantissa; }
    int GetFireExponent() const { return fire_.exponent; }
    int GetBMaxMantissa() const { return bmax_.mantissa; }
    int GetBMaxExponent() const { return bmax_.exponent; }
    void SetFireMantissa(int m);
    void SetFireExponent(int e);
    void SetBMaxMantissa(int m);
    void SetBMaxExponent(int e);

    int GetFireRange() const { return fire_.range; }
    int GetBMaxRange() const { return bmax_.range; }

    // Threshold markers (the panel sets them directly when a threshold changes).
    void SetFireThreshold(std::int32_t t) { fire_.threshold = t; }
    void SetBMaxThreshold(std::int32_t t) { bmax_.threshold = t; }
    std::int32_t GetFireThreshold() const { return fire_.threshold; }
    std::int32_t GetBMaxThreshold() const { return bmax_.threshold; }

    // Draw the picture for the channel B offset value and the display
    // positions (0..255 scale) of the centre, the minimum and the maximum.
    QImage BuildScaleImage(int offsetValue, int centrePos, int minPos, int maxPos);

    // Largest exponent reachable by zooming out (keeps the range in 32 bits).
    static constexpr int kMaxExponent = 9;

private:
    struct Plot {
        std::array<std::int32_t, kHistory> values{};
        int writeIndex = -1;
        int filled = 0;     // slots written so far (at most kHistory)
        std::int32_t threshold = 0;
        int mantissa = 2;
        int exponent = 1;
        int range = 20;
    };

    static void append(Plot &p, const std::int32_t *values, int count, std::int32_t threshold);
    static void zoomIn(Plot &p);
    static void zoomOut(Plot &p);
    static void recompute(Plot &p);
    void drawLabels(class QPainter &painter, const Plot &p, int labelTop, int labelMid, int labelBottom,
                    int labelAdd);
    void drawBars(const Plot &p, int barBase, int barTopBase, int barCeiling);

    QImage picture_;
    QColor background_ = Qt::black;
    QColor frame_ = Qt::cyan;
    QColor data_ = Qt::white;
    Plot fire_;
    Plot bmax_;
};
