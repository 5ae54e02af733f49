#pragma once
// WaterFall keeps the live scrolling picture of the scan lines and the small
// flight status overlay. On every tick of the owner's processing timer
// (processData) it starts or ends the run's strip chart builder and the
// recording when the owner's run and record flags change, then walks the
// lines the last cycle brought, oldest first: each goes to the flight log
// while recording, to the strip chart builder while a run is active, and
// becomes the newest row of the picture.
//
// The picture is 1680 x 4096 pixels: a ring of rows 1..3071 written from the
// bottom up (newest line on top), with rows 1..1023 mirrored at 3072..4094
// so that every 1024-row window from the display row down is contiguous. The
// view (a wfLabel reading the display row) scrolls by moving its source
// window; no pixel is ever moved.
#include "datasource/scanline.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class CStripChartImagery;
class DisplayOwner;
class wfLabel;

class WaterFall : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = SAMPLES_PER_LINE;
    static constexpr int kHeight = 4096;
    static constexpr int kRingRows = 3071;       // rows 1..3071
    static constexpr int kViewRows = 1024;
    static constexpr int kOverlayWidth = 300;
    static constexpr int kOverlayHeight = 400;
    static constexpr std::uint32_t kRed = 0xFFFF0000u;

    WaterFall(DisplayOwner *owner, QWidget *parent = nullptr);
    ~WaterFall() override;

    const QImage *picture() const { return &picture_; }
    const QImage *overlay() const { return &overlay_; }
    // The top row of the 1024-row window shown; the view label reads it.
    const int *displayRowPtr() const { return &displayRow_; }
    int displayRow() const { return displayRow_; }
    int writeRow() const { return writeRow_; }

    // The two labels of the owner's grid cell, stacked with the overlay on
    // top: the view (a 1680 x 1024 window from the display row) and the
    // status overlay (scaled, its target at one seventh of the available
    // screen width and one sixth of its height).
    wfLabel *createViewLabel(QWidget *parent) const;
    wfLabel *createOverlayLabel(QWidget *parent) const;

    bool runFlag() const { return runFlag_; }
    bool stripChartActive() const { return stripActive_; }
    bool recording() const { return recording_; }
    CStripChartImagery *stripChart() const { return strip_; }

    // The position line of the overlay for a position in degrees and a line
    // index: " Lon = 118°30'00"  Lat = ...  <index> ".
    static QString positionText(double latitude, double longitude, std::uint32_t lineIndex);
    // The overlay's texts: "%1 ft" (feet), "%1 kts" (knots) and
    // "heading(track)" in whole degrees.
    static QString altitudeText(float metres);
    static QString speedText(float metresPerSecond);
    static QString headingText(float heading, float track);
    // Degrees, minutes and seconds of |angle| after clamping to +-limit.
    static void toDms(double angle, double limit, int *deg, int *min, int *sec);

    // Ends an active run now: finishes and deletes the strip chart builder
    // and closes the flight log. For the owner's shutdown, while the owner
    // is still whole (the builder calls back into it).
    void finishRun();

public slots:
    void processData();

signals:
    // New lines were painted (the picture and the overlay changed).
    void linesPainted(int count);

private:
    void paintLine(const ScanLineRec &line);
    void drawOverlay();
    void endStripChart();

    DisplayOwner *owner_;
    std::unique_ptr<std::uint32_t[]> pixels_;
    QImage picture_;
    QImage overlay_;
    std::uint32_t lut_[256];
    int writeRow_ = 0;
    int displayRow_ = 0;

    float speed_ = 0.0f;
    float heading_ = 0.0f;
    float altitude_ = 0.0f;
    float pitch_ = 0.0f;
    float roll_ = 0.0f;
    double longitude_ = 0.0;
    double latitude_ = 0.0;

    bool runFlag_ = false;
    bool stripActive_ = false;
    CStripChartImagery *strip_ = nullptr;
    bool mapMode_ = false;
    bool recording_ = false;

    ScanLineRec line_;
};
