// The waterfall: its ring of rows, the colour rule, the status overlay and
// the run and recording handling through the tick loop.
#include "display/waterfall.h"
#include "display/wflabel.h"
#include "displayfakes.h"
#include "stripchart/cstripchartimagery.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>

#include <cmath>
#include <memory>

namespace {

class WaterFallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = std::make_unique<MemSource>(&owner.curve);
        owner.source = source.get();
        wf = std::make_unique<WaterFall>(&owner);
    }
    void TearDown() override
    {
        wf.reset();
    }
    // One tick: the waterfall sees the lines the previous cycle took in.
    void tick(const std::vector<ScanLineRec> &lines)
    {
        source->deliver(lines);
        wf->processData();
    }
    std::vector<ScanLineRec> lines(std::uint32_t first, int count, std::uint8_t pix = 100)
    {
        std::vector<ScanLineRec> v;
        for (int i = 0; i < count; ++i)
            v.push_back(makeLine(first + std::uint32_t(i), pix));
        return v;
    }
    QRgb at(int x, int row) const { return wf->picture()->pixel(x, row); }

    FakeOwner owner;
    std::unique_ptr<MemSource> source;
    std::unique_ptr<WaterFall> wf;
};

constexpr QRgb kRed = 0xFFFF0000;

QRgb grey(int v) { return qRgba(v, v, v, 255); }

} // namespace

TEST_F(WaterFallTest, RowsRingMirrorAndColourRule)
{
    const QImage *pic = wf->picture();
    ASSERT_EQ(pic->size(), QSize(1680, 4096));
    EXPECT_EQ(pic->bytesPerLine(), 6720);
    EXPECT_EQ(pic->format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(at(0, 0), kRed);
    EXPECT_EQ(at(1679, 4095), kRed);

    ScanLineRec first = makeLine(1, 10);
    first.pix[0] = 254;
    first.pix[1] = 253;
    first.pix[2] = 0;
    first.pix[3] = 255;
    first.pix[1679] = 200;
    tick({first});
    EXPECT_EQ(wf->displayRow(), 3071);
    EXPECT_EQ(wf->writeRow(), 3070);
    EXPECT_EQ(at(0, 3071), kRed);
    EXPECT_EQ(at(1, 3071), grey(0));
    EXPECT_EQ(at(2, 3071), grey(253));
    EXPECT_EQ(at(3, 3071), kRed);
    EXPECT_EQ(at(4, 3071), grey(243));
    EXPECT_EQ(at(1679, 3071), grey(53));
    EXPECT_EQ(at(5, 3070), kRed);   // untouched yet

    // Lines 2..3066 fill rows 3070 down to 6, line 3067 lands on row 5 and
    // is mirrored at row 3076.
    tick(lines(2, 3065, 20));
    EXPECT_EQ(wf->displayRow(), 6);
    tick({makeLine(3067, 77)});
    EXPECT_EQ(wf->displayRow(), 5);
    EXPECT_EQ(at(100, 5), grey(176));
    EXPECT_EQ(at(100, 3076), grey(176));
    EXPECT_EQ(at(100, 3077), at(100, 6));     // row 6 mirrored too
    EXPECT_EQ(at(100, 3071), grey(243));      // the first line is still there

    // Four more reach row 1; the next goes to row 3071 again.
    tick(lines(3068, 4, 30));
    EXPECT_EQ(wf->displayRow(), 1);
    EXPECT_EQ(at(7, 3072), grey(223));
    tick({makeLine(3072, 40)});
    EXPECT_EQ(wf->displayRow(), 3071);
    EXPECT_EQ(at(1, 3071), grey(213));
    EXPECT_EQ(at(1, 4095), kRed);             // row 4095 is never written

    // The window from any display row stays within the picture.
    QWidget cell;
    wfLabel *view = wf->createViewLabel(&cell);
    EXPECT_EQ(view->sourceRect(), QRect(0, 3071, 1680, 1024));
    EXPECT_LE(view->sourceRect().bottom(), 4095);
    tick({makeLine(3073, 40)});
    EXPECT_EQ(view->sourceRect(), QRect(0, 3070, 1680, 1024));
}

TEST_F(WaterFallTest, QuietTickChangesNothing)
{
    QSignalSpy painted(wf.get(), &WaterFall::linesPainted);
    tick(lines(1, 3));
    ASSERT_EQ(painted.count(), 1);
    EXPECT_EQ(painted.at(0).at(0).toInt(), 3);
    const QImage before = wf->overlay()->copy();
    const QImage rows = wf->picture()->copy(0, 3060, 1680, 12);

    source->altitudeBias = 500.0f;   // navigation changes, no new line
    tick({});
    EXPECT_EQ(painted.count(), 1);
    EXPECT_EQ(*wf->overlay(), before);
    EXPECT_EQ(wf->picture()->copy(0, 3060, 1680, 12), rows);
    EXPECT_EQ(wf->displayRow(), 3069);

    // The next line redraws the overlay with the new altitude.
    tick(lines(4, 1));
    EXPECT_NE(*wf->overlay(), before);

    // Without a source nothing is read or drawn.
    owner.source = nullptr;
    source->deliver(lines(5, 2));
    source->priorCalls = 0;
    wf->processData();
    EXPECT_EQ(source->priorCalls, 0);
    EXPECT_EQ(wf->displayRow(), 3068);
}

TEST(WaterFallTexts, PositionAltitudeSpeedHeading)
{
    EXPECT_EQ(WaterFall::positionText(45.0, -118.5, 42),
              QString::fromUtf8(" Lon = 118\u00b030'00\"  Lat = 45\u00b000'00\"  42 "));
    // Clamped, no hemisphere, leading zeros on minutes and seconds.
    EXPECT_EQ(WaterFall::positionText(-95.0, 200.0, 7),
              QString::fromUtf8(" Lon = 180\u00b000'00\"  Lat = 90\u00b000'00\"  7 "));
    EXPECT_EQ(WaterFall::positionText(0.0 + 1.0 / 3600.0 * 5.0, -(2.0 + 3.0 / 60.0), 0),
              QString::fromUtf8(" Lon = 2\u00b003'00\"  Lat = 0\u00b000'05\"  0 "));
    // Seconds that round up to a full minute carry on.
    int d, m, s;
    WaterFall::toDms(45.0 + 59.0 / 60.0 + 59.7 / 3600.0, 90.0, &d, &m, &s);
    EXPECT_EQ(QList<int>({d, m, s}), QList<int>({46, 0, 0}));
    WaterFall::toDms(12.0 + 10.0 / 60.0 + 29.4 / 3600.0, 90.0, &d, &m, &s);
    EXPECT_EQ(QList<int>({d, m, s}), QList<int>({12, 10, 29}));

    EXPECT_EQ(WaterFall::altitudeText(3000.0f), "9842 ft");
    EXPECT_EQ(WaterFall::altitudeText(0.3f), "0 ft");
    EXPECT_EQ(WaterFall::speedText(60.0f), "116 kts");
    EXPECT_EQ(WaterFall::speedText(51.45f), "100 kts");
    EXPECT_EQ(WaterFall::headingText(359.9f, 0.4f), "359(0)");
    EXPECT_EQ(WaterFall::headingText(90.7f, 91.5f), "90(92)");
}

namespace {

// The horizon measured in a rendered overlay: in the columns 20..40 pixels
// either side of the centre, the centre of the black run nearest the
// expected line, fitted with a straight line.
struct Horizon {
    double angleDeg;     // screen angle, positive = falling to the right
    double offset;       // signed distance of the line from the centre
};

Horizon measureHorizon(const QImage &img, double expectA, double expectOffset)
{
    const int cx = 150, cy = 200;
    std::vector<double> xs, ys;
    for (int dx = -40; dx <= 40; ++dx) {
        if (std::abs(dx) < 20)
            continue;
        const int x = cx + dx;
        // Expected y of the line: through (-off sin a, off cos a), direction (cos a, sin a).
        const double px0 = -expectOffset * std::sin(expectA), py0 = expectOffset * std::cos(expectA);
        const double expY = cy + py0 + (dx - px0) * std::tan(expectA);
        double best = 1e9, bestY = 0;
        int runStart = -1;
        for (int y = cy - 59; y <= cy + 60; ++y) {
            const bool black = y <= cy + 59 && qAlpha(img.pixel(x, y)) == 255 && qRed(img.pixel(x, y)) == 0;
            if (black && runStart < 0)
                runStart = y;
            if (!black && runStart >= 0) {
                const double centre = (runStart + y - 1) / 2.0;
                if (std::fabs(centre - expY) < best) {
                    best = std::fabs(centre - expY);
                    bestY = centre;
                }
                runStart = -1;
            }
        }
        if (best < 8) {
            xs.push_back(dx);
            ys.push_back(bestY - cy);
        }
    }
    // Least squares y = k x + b.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = double(xs.size());
    for (size_t i = 0; i < xs.size(); ++i) {
        sx += xs[i];
        sy += ys[i];
        sxx += xs[i] * xs[i];
        sxy += xs[i] * ys[i];
    }
    const double k = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double b = (sy - k * sx) / n;
    const double a = std::atan(k);
    return {a * 180.0 / M_PI, b * std::cos(a)};
}

} // namespace

TEST_F(WaterFallTest, AttitudeIndicatorFollowsRollAndPitch)
{
    struct Case {
        int roll100, pitch100;
    };
    for (Case c : {Case{0, 0}, Case{2000, 500}, Case{-1500, -400}}) {
        ScanLineRec l = makeLine(1);
        l.roll = std::int16_t(c.roll100);
        l.pitch = std::int16_t(c.pitch100);
        tick({l});
        const double roll = c.roll100 / 100.0, pitch = c.pitch100 / 100.0;
        const double a = -roll * M_PI / 180.0;
        const Horizon h = measureHorizon(*wf->overlay(), a, 2.0 * pitch);
        // A right roll tilts the horizon up to the right; nose up moves it down.
        EXPECT_NEAR(h.angleDeg, -roll, 1.5) << roll << " " << pitch;
        EXPECT_NEAR(h.offset, 2.0 * pitch, 1.5) << roll << " " << pitch;
    }
    // Nothing of the indicator outside its clip: the column left of the clip
    // is clear at the horizon's height.
    EXPECT_EQ(qAlpha(wf->overlay()->pixel(150 - 101, 200)), 0);
}

TEST_F(WaterFallTest, OverlayShowsPositionLine)
{
    tick(lines(1, 1));
    const QImage *ov = wf->overlay();
    ASSERT_EQ(ov->size(), QSize(300, 400));
    // The position line is drawn in dark blue from y 340 down, centred.
    int blue = 0, left = 300, right = 0;
    for (int y = 340; y < 400; ++y)
        for (int x = 0; x < 300; ++x) {
            const QRgb p = ov->pixel(x, y);
            if (qAlpha(p) == 255 && qBlue(p) == 192 && qRed(p) == 0) {
                ++blue;
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    EXPECT_GT(blue, 50);
    EXPECT_NEAR((left + right) / 2.0, 150.0, 4.0);
    // Above the overlay's texts everything stays transparent.
    EXPECT_EQ(qAlpha(ov->pixel(5, 5)), 0);
    // The overlay label shows a window twice as wide and 1.4 times as high,
    // from a seventh of the screen's width and a sixth of its height.
    QWidget cell;
    std::unique_ptr<wfLabel> label(wf->createOverlayLabel(&cell));
    EXPECT_EQ(label->sourceRect(), QRect(0, 0, 600, 560));
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(label->targetX(), avail.width() / 7);
    EXPECT_EQ(label->targetY(), avail.height() / 6);
    EXPECT_TRUE(label->scaled());

    // Painting a window partly outside the image draws the image part
    // scaled and leaves the rest transparent.
    label.reset(wf->createOverlayLabel(&cell));
    wfLabel small(&cell, ov, nullptr, 0, 0, wfLabel::Scaled, &cell);
    small.resize(600, 560);
    QImage shot(600, 560, QImage::Format_ARGB32_Premultiplied);
    shot.fill(0);
    small.render(&shot, QPoint(), QRegion(), QWidget::RenderFlags());
    // The position line (image y 340..) lands at the same place: no scaling
    // when the label is as large as the source window.
    int blueShot = 0;
    for (int y = 340; y < 400; ++y)
        for (int x = 0; x < 300; ++x)
            blueShot += qBlue(shot.pixel(x, y)) == 192 && qRed(shot.pixel(x, y)) == 0 && qAlpha(shot.pixel(x, y)) == 255;
    EXPECT_EQ(blueShot, blue);
    EXPECT_EQ(qAlpha(shot.pixel(450, 300)), 0);
}

TEST_F(WaterFallTest, RunStartsAndStopsStripChartAndLog)
{
    tick(lines(1, 2));
    EXPECT_FALSE(wf->stripChartActive());

    // Run: the next tick creates the builder with the owner's map mode; the
    // builder registers the pass at the first line, opens the log and
    // writes that line; the other lines of that tick follow it into the log.
    owner.runRequested = true;
    owner.mapMode = false;
    tick(lines(10, 3));
    ASSERT_TRUE(wf->stripChartActive());
    ASSERT_NE(wf->stripChart(), nullptr);
    EXPECT_EQ(wf->stripChart()->parent(), &owner.parentObject);
    EXPECT_EQ(owner.passNumber, 1);
    EXPECT_EQ(owner.logCalls, QStringList({"open"}));
    EXPECT_TRUE(wf->recording());
    EXPECT_EQ(owner.written, std::vector<std::uint32_t>({10, 11, 12}));

    tick(lines(13, 2));
    EXPECT_TRUE(wf->recording());
    EXPECT_EQ(owner.written, std::vector<std::uint32_t>({10, 11, 12, 13, 14}));

    // Stop Run: the owner drops runRequested and logOpen; the next tick
    // finishes the builder and closes the log.
    owner.runRequested = false;
    owner.logOpen = false;
    tick(lines(15, 1));
    EXPECT_FALSE(wf->stripChartActive());
    EXPECT_EQ(wf->stripChart(), nullptr);
    EXPECT_FALSE(wf->recording());
    EXPECT_EQ(owner.logCalls, QStringList({"open", "close"}));
    EXPECT_EQ(owner.endPasses, 1);
    EXPECT_EQ(owner.written, std::vector<std::uint32_t>({10, 11, 12, 13, 14}));
    EXPECT_TRUE(owner.parentObject.children().isEmpty());

    // A second run is a new pass with a new log.
    owner.runRequested = true;
    tick(lines(20, 1));
    EXPECT_EQ(owner.passNumber, 2);
    EXPECT_EQ(owner.logCalls.count("open"), 2);
    wf->finishRun();
    EXPECT_FALSE(wf->stripChartActive());
}

TEST_F(WaterFallTest, RecordingFollowsLogStateAndRetriesFailures)
{
    owner.runRequested = true;
    tick(lines(1, 1));
    tick(lines(2, 1));
    ASSERT_TRUE(wf->recording());

    // The operator stops recording (logOpen drops) while the run goes on;
    // a failed close keeps recording on and is retried next tick.
    owner.failClose = true;
    owner.logOpen = false;
    tick(lines(3, 1));
    EXPECT_TRUE(wf->recording());
    EXPECT_EQ(owner.logCalls.count("close"), 1);
    owner.failClose = false;
    tick({});
    EXPECT_FALSE(wf->recording());
    EXPECT_EQ(owner.logCalls.count("close"), 2);
    EXPECT_TRUE(wf->stripChartActive());

    // With runs not armed for recording the waterfall opens the log itself
    // when the owner reports one open; a failed open is retried.
    owner.recordArmed = false;
    owner.failOpen = true;
    owner.logOpen = true;
    tick({});
    EXPECT_FALSE(wf->recording());
    owner.failOpen = false;
    tick({});
    EXPECT_TRUE(wf->recording());

    // Without a strip chart the log is never opened by the waterfall.
    owner.runRequested = false;
    owner.logOpen = false;
    tick({});
    EXPECT_FALSE(wf->stripChartActive());
    const int opens = owner.logCalls.count("open");
    owner.logOpen = true;
    tick({});
    EXPECT_FALSE(wf->recording());
    EXPECT_EQ(owner.logCalls.count("open"), opens);
}
