// Rebuilding a strip image from a flight log: the channel B stretch, fire
// pixels kept, the degenerate stretch, and a simulated pass with fires.
#include "stripchart/stripimagerebuild.h"
#include "stripchart/standalonepassservices.h"
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"
#include "stripfixtures.h"
#include "common/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>

#include <cmath>
#include <functional>

using stripfix::countValue;

namespace {

constexpr int kTopRows = 60 + 59;   // END RUN and end bar above the newest line

QString writeLog(const QString &name, int lines, const std::function<void(ScanLineRec &, int)> &fill)
{
    const QString dir = testsupport::workDir() + QStringLiteral("/") + name;
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/20240715_1432_Fire12_3.plf");
    ColdCurve curve;
    CCindrelDspLog writer(&curve);
    EXPECT_TRUE(writer.OpenForWrite(path));
    for (int k = 0; k < lines; ++k) {
        ScanLineRec l = stripfix::makeLine(45.0 + k * 1e-5, -120.5, 1200.0, 60.0, 0.0, std::uint32_t(k + 1));
        l.chnBGain = 1.0f;
        l.fireThreshold = 100000;   // only channel B above its limit is fire
        for (int s = 0; s < SAMPLES_PER_LINE; ++s)
            l.chanA[s] = 100;
        fill(l, k);
        EXPECT_TRUE(writer.WriteRecord(l));
    }
    writer.Close();
    return path;
}

struct Rebuild {
    explicit Rebuild(const QString &logPath) : log(&curve)
    {
        log.SetFireDetectParams(true, 2500, 1000, 0.0, 0.0, 0.0);
        log.OnFileOpen(logPath);
        svc.dataSource = &log;
        const QFileInfo fi(logPath);
        tmp = fi.path() + QLatin1Char('/') + fi.completeBaseName() + QStringLiteral(".tmp");
    }
    StripRebuildResult run(const std::function<void()> &done = {})
    {
        return RebuildStripImage(svc, tmp, done);
    }
    ColdCurve curve;
    CCindrelDspLog log;
    StandalonePassServices svc;
    QString tmp;
};

TEST(StripStretchTest, ThreeDeviationsSpanTheGreyScale)
{
    // Samples 90 and 110, equally many: mean 100, sd 10; lo 70, hi 130.
    const StripStretch s = computeStripStretch(200.0, 90.0 * 90.0 + 110.0 * 110.0, 2);
    EXPECT_FALSE(s.degenerate);
    EXPECT_DOUBLE_EQ(s.mean, 100.0);
    EXPECT_NEAR(s.sd, 10.0, 1e-9);
    EXPECT_EQ(s.apply(130), 254);
    EXPECT_EQ(s.apply(70), 0);
    EXPECT_EQ(s.apply(100), 127);
    EXPECT_EQ(s.apply(1000), 254);   // clamped, never fire
    EXPECT_EQ(s.apply(-1000), 0);
}

TEST(StripStretchTest, DegenerateStatisticsGiveMidGrey)
{
    for (const StripStretch &s : {computeStripStretch(0.0, 0.0, 0), computeStripStretch(500.0, 50000.0, 5),
                                  computeStripStretch(3.0, 2.0, 1)}) {
        EXPECT_TRUE(s.degenerate);
        EXPECT_EQ(s.apply(5), 127);
        EXPECT_EQ(s.apply(-32768), 127);
        EXPECT_EQ(s.apply(32767), 127);
    }
}

TEST(StripRebuildTest, SwathFollowsTheStretchAndFireStaysRed)
{
    const int lines = 300;
    auto bOf = [](int k) { return 1000 + (k % 100) * 10; };
    const QString logPath = writeLog(QStringLiteral("stretch"), lines, [&](ScanLineRec &l, int k) {
        for (int s = 0; s < SAMPLES_PER_LINE; ++s)
            l.chanB[s] = bOf(k);
        if (k == 150)
            l.chanB[SAMPLES_PER_LINE - 1 - 700] = 3000;   // above the fire limit: pix 700 is fire
    });
    Rebuild rb(logPath);
    ASSERT_TRUE(rb.log.isOpen);
    int announced = 0;
    const StripRebuildResult r = rb.run([&] { ++announced; });
    EXPECT_EQ(announced, 1);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.lines, std::uint64_t(lines));
    EXPECT_EQ(r.samples, std::uint64_t(lines) * SAMPLES_PER_LINE - 1);

    // The statistics of the non-fire samples.
    double sum = 0, sq = 0;
    for (int k = 0; k < lines; ++k) {
        sum += double(bOf(k)) * SAMPLES_PER_LINE;
        sq += double(bOf(k)) * bOf(k) * SAMPLES_PER_LINE;
    }
    sum -= bOf(150);
    sq -= double(bOf(150)) * bOf(150);
    const double n = double(lines) * SAMPLES_PER_LINE - 1;
    const double mean = sum / n;
    EXPECT_NEAR(r.stretch.mean, mean, 1e-6);
    EXPECT_NEAR(r.stretch.sd, std::sqrt(sq / n - mean * mean), 1e-6);

    const QString tif = QFileInfo(logPath).path() + QStringLiteral("/20240715_1432_Fire12_3.tif");
    EXPECT_EQ(QDir::fromNativeSeparators(r.imagePath), tif);
    EXPECT_EQ(QDir::fromNativeSeparators(r.jpegPath),
              QFileInfo(logPath).path() + QStringLiteral("/jpeg/20240715_1432_Fire12_3.jpg"));
    const stripfix::TiffFile t = stripfix::readTiff(tif);
    ASSERT_TRUE(t.ok);
    ASSERT_EQ(t.rows, kTopRows + lines + 119);
    int fireCol = -1;
    for (int k = 0; k < lines; ++k) {
        const std::uint8_t *row = t.row(kTopRows + lines - 1 - k) + 33;
        const int fires = countValue(row, 0, 1600, 255);
        // Dilation: the fire cell and its four neighbours.
        if (k == 150) {
            ASSERT_EQ(fires, 3);
            for (int c = 0; c < 1600; ++c)
                if (row[c] == 255 && fireCol < 0)
                    fireCol = c + 1;
        } else {
            ASSERT_EQ(fires, (k == 149 || k == 151) ? 1 : 0) << k;
        }
        const int grey = r.stretch.apply(bOf(k));
        EXPECT_EQ(countValue(row, 0, 1600, std::uint8_t(grey)), 1600 - fires) << k;
    }
    EXPECT_NEAR(fireCol, 700 * 1600 / 1680, 2);
    // The darkest lines reach near black, the lightest near white.
    EXPECT_GE(r.stretch.apply(bOf(99)), 200);
    EXPECT_LE(r.stretch.apply(bOf(0)), 54);
    EXPECT_EQ(QImageReader(r.jpegPath).size(), QSize(1728, t.rows));
}

TEST(StripRebuildTest, FlatChannelBStillWritesAMidGreyImage)
{
    const QString logPath = writeLog(QStringLiteral("flat"), 120, [](ScanLineRec &l, int k) {
        for (int s = 0; s < SAMPLES_PER_LINE; ++s)
            l.chanB[s] = 1500;
        if (k == 60)
            l.chanB[100] = 3000;
    });
    Rebuild rb(logPath);
    const StripRebuildResult r = rb.run();
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.stretch.degenerate);
    const stripfix::TiffFile t = stripfix::readTiff(r.imagePath);
    ASSERT_TRUE(t.ok);
    for (int k = 0; k < 120; ++k) {
        // Counted from the bottom: START RUN and start bar, then line 0.
        const std::uint8_t *row = t.row(t.rows - 119 - 1 - k) + 33;
        const int fires = countValue(row, 0, 1600, 255);
        EXPECT_EQ(countValue(row, 0, 1600, 127) + fires, 1600) << k;
    }
}

TEST(StripRebuildTest, ClosedLogDoesNothing)
{
    ColdCurve curve;
    CCindrelDspLog log(&curve);
    StandalonePassServices svc(&log);
    const StripRebuildResult r = RebuildStripImage(svc);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.imagePath.isEmpty());
    EXPECT_EQ(svc.passNumber, 0);
}

TEST(StripRebuildTest, SimulatedPassOverFires)
{
    sim::SceneParams sp;
    sp.seed = 7;
    sp.fireCount = 6;
    sp.fireSpreadM = 400.0;
    sp.smokeCount = 0;
    const sim::Scene scene(sp);
    sim::PassParams pp;
    pp.startLat = sp.centerLat - 600.0 / 111000.0;
    pp.startLon = sp.centerLon;
    pp.headingDeg = 0.0;
    pp.crabDeg = 0.0;
    pp.agl = 1000.0;
    pp.lineCount = 500;
    pp.lineRateHz = 75.0 / 2.4;   // 2.4 m between lines
    sim::LineGenerator gen(scene, pp);

    const QString dir = testsupport::workDir() + QStringLiteral("/simpass");
    QDir().mkpath(dir);
    const QString logPath = dir + QStringLiteral("/20240715_1432_Sim_1.plf");
    {
        ColdCurve curve;
        CCindrelDspLog writer(&curve);
        ASSERT_TRUE(writer.OpenForWrite(logPath));
        ScanLineRec l;
        while (gen.next(l))
            ASSERT_TRUE(writer.WriteRecord(l));
        writer.Close();
    }
    Rebuild rb(logPath);
    rb.curve.resetStartValues();   // the curve learns the cold background
    rb.log.SetFireDetectParams(true, 65000, 1000, 0.0, 0.0, 0.0);
    const StripRebuildResult r = rb.run();
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.lines, 500u);
    EXPECT_FALSE(r.stretch.degenerate);
    const stripfix::TiffFile t = stripfix::readTiff(r.imagePath);
    ASSERT_TRUE(t.ok);
    long fires = 0, greySum = 0, greyCount = 0;
    for (int k = 0; k < 500; ++k) {
        const std::uint8_t *row = t.row(t.rows - 119 - 1 - k) + 33;
        for (int c = 0; c < 1600; ++c) {
            if (row[c] == 255) {
                ++fires;
            } else {
                greySum += row[c];
                ++greyCount;
            }
        }
    }
    EXPECT_GT(fires, 0);
    EXPECT_LT(fires, 500 * 1600 / 100);   // fires are small spots in the swath
    // A stretch to +-3 sd centres the swath on mid-grey.
    EXPECT_NEAR(double(greySum) / greyCount, 127.0, 30.0);
}

} // namespace
