// Scan line records of a simulated pass: navigation fields, channels and
// display row, determinism, host changes at run time, and requested faults
// as the scan line buffer sees them.
#include "datasource/cdspdatabuffer.h"
#include "sim/geodesy.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

using namespace sim;

namespace {
SceneParams smallScene(std::uint64_t seed = 3)
{
    SceneParams p;
    p.seed = seed;
    p.regionDeg = 0.1;
    p.fireSpreadM = 1500.0;
    return p;
}

PassParams shortPass(int lines = 40)
{
    PassParams p;
    p.startLat = 44.495;
    p.startLon = -121.5;
    p.headingDeg = 20.0;
    p.lineCount = lines;
    p.agl = 1000.0;
    return p;
}

std::vector<ScanLineRec> run(LineGenerator &gen)
{
    std::vector<ScanLineRec> out;
    auto r = std::make_unique<ScanLineRec>();
    while (gen.next(*r))
        out.push_back(*r);
    return out;
}
} // namespace

TEST(LineGenerator, RecordsCarryNavigationInRecordUnits)
{
    const Scene scene(smallScene());
    PassParams pass = shortPass(50);
    pass.crabDeg = 4.0;
    LineGenerator gen(scene, pass);
    const std::vector<ScanLineRec> lines = run(gen);
    ASSERT_EQ(int(lines.size()), 50);
    EXPECT_EQ(gen.lineCount(), 50);
    EXPECT_NEAR(gen.lineRateHz(), 75.0 / (1000.0 * (120.0 / 1680.0) * M_PI / 180.0), 1e-9);

    const ScanLineRec &first = lines.front();
    EXPECT_EQ(first.lineIndex, 1000u);
    EXPECT_NEAR(milliArcSecToDeg(first.latitude), 44.495, 1e-6);
    EXPECT_NEAR(milliArcSecToDeg(first.longitude), -121.5, 1e-6);
    EXPECT_NEAR(first.altitude * 0.01, scene.elevation(44.495, -121.5) + 1000.0, 150.0);
    EXPECT_NEAR(first.speed * 0.01, 75.0, 0.5);
    EXPECT_TRUE(CDspDataBuffer::IsNavSane(first));
    for (size_t k = 0; k < lines.size(); ++k) {
        const ScanLineRec &r = lines[k];
        // Crab: the track differs from the heading by about the crab angle.
        double diff = r.track * 0.01 - r.heading * 0.01;
        EXPECT_NEAR(diff, 4.0, 2.0);
        EXPECT_NEAR(r.track * 0.01, 24.0, 0.2);
        EXPECT_LE(std::abs(int(r.roll)), 200);
        EXPECT_GE(r.scanPeriod, 4750u);
        if (k > 0) {
            EXPECT_EQ(r.lineIndex, lines[k - 1].lineIndex + lines[k - 1].effectiveInterval());
        }
        // The display row is channel B through gain and offset, in pix order, never 255.
        for (int i = 0; i < SAMPLES_PER_LINE; i += 37) {
            const std::int32_t b = r.chanB[SAMPLES_PER_LINE - 1 - i];
            const double v = std::min(254.0, std::max(0.0, (b - 3500) * 0.1 + 127.0));
            EXPECT_NEAR(r.pix[i], v, 1.0);
            EXPECT_NE(r.pix[i], FIRE_PIXEL);
        }
        std::int32_t mn = 99999, mx = -99999;
        for (int s = 0; s < SAMPLES_PER_LINE; ++s) {
            mn = std::min(mn, r.chanB[s]);
            mx = std::max(mx, r.chanB[s]);
        }
        EXPECT_EQ(r.chnBMin, mn);
        EXPECT_EQ(r.chnBMax, mx);
    }
    // The aircraft advances along the track at the ground speed.
    const double dist = localDistance(milliArcSecToDeg(first.latitude), milliArcSecToDeg(first.longitude),
                                      milliArcSecToDeg(lines.back().latitude), milliArcSecToDeg(lines.back().longitude));
    EXPECT_NEAR(dist, 75.0 * 49 / gen.lineRateHz(), 0.5);
}

TEST(LineGenerator, SameSeedSameLinesOtherSeedOtherLines)
{
    const Scene a(smallScene(11)), b(smallScene(11)), c(smallScene(12));
    LineGenerator ga(a, shortPass(8)), gb(b, shortPass(8)), gc(c, shortPass(8));
    const auto la = run(ga), lb = run(gb), lc = run(gc);
    ASSERT_EQ(la.size(), lb.size());
    EXPECT_EQ(std::memcmp(la.data(), lb.data(), la.size() * sizeof(ScanLineRec)), 0);
    EXPECT_NE(std::memcmp(la.data(), lc.data(), la.size() * sizeof(ScanLineRec)), 0);

    // Tiles: the same cells for the same seed.
    std::vector<std::int16_t> ta(200 * 100), tb(200 * 100), tc(200 * 100);
    a.fillCells(-437400, 160199, 200, 100, ta.data());
    b.fillCells(-437400, 160199, 200, 100, tb.data());
    c.fillCells(-437400, 160199, 200, 100, tc.data());
    EXPECT_EQ(ta, tb);
    EXPECT_NE(ta, tc);
}

TEST(LineGenerator, HostSettingsApplyFromTheNextLine)
{
    const Scene scene(smallScene());
    LineGenerator gen(scene, shortPass(4));
    auto r = std::make_unique<ScanLineRec>();
    ASSERT_TRUE(gen.next(*r));
    const std::uint32_t idx0 = r->lineIndex;
    // 1000 m above ground at 75 m/s: 60 lines per second of 200 scans, every third scan.
    EXPECT_EQ(r->vhInterval, 3u);
    gen.setChannelB(0.5f, 3000);
    gen.setFireThreshold(777);
    gen.setVhOverride(9, true);
    ASSERT_TRUE(gen.next(*r));
    EXPECT_EQ(r->lineIndex, idx0 + 3);   // the earlier line's interval
    EXPECT_FLOAT_EQ(r->chnBGain, 0.5f);
    EXPECT_EQ(r->chnBOffset, 3000);
    EXPECT_EQ(r->fireThreshold, 777);
    EXPECT_EQ(r->vhOverrideOn, 1u);
    for (int i = 0; i < SAMPLES_PER_LINE; i += 11)
        EXPECT_EQ(r->pix[i], LineGenerator::pixValue(r->chanB[SAMPLES_PER_LINE - 1 - i], 0.5f, 3000));
    const std::uint32_t idx1 = r->lineIndex;
    ASSERT_TRUE(gen.next(*r));
    EXPECT_EQ(r->lineIndex, idx1 + 9);
    ASSERT_TRUE(gen.next(*r));
    EXPECT_FALSE(gen.next(*r));
    EXPECT_FALSE(gen.next(*r));

    EXPECT_EQ(LineGenerator::pixValue(-30000, 1.0f, 0), 0);
    EXPECT_EQ(LineGenerator::pixValue(30000, 1.0f, 0), 254);
    EXPECT_EQ(LineGenerator::pixValue(100, 1.0f, 100), 127);
}

TEST(LineGenerator, FaultsShowAsRepairedRejectedAndGapLines)
{
    const Scene scene(smallScene());
    PassParams clean = shortPass(12);
    PassParams faulty = clean;
    faulty.faults.shiftLeft = {3};
    faulty.faults.shiftRight = {5};
    faulty.faults.insane = {7};
    faulty.faults.gaps = {9};
    faulty.faults.gapLength = 2;
    LineGenerator gc(scene, clean), gf(scene, faulty);
    const auto lc = run(gc), lf = run(gf);
    ASSERT_EQ(lf.size(), 12u);

    ColdCurve curve;
    curve.resetStartValues();
    CDspDataBuffer ring(&curve);
    int repaired = 0, rejected = 0;
    for (size_t k = 0; k < lf.size(); ++k) {
        ScanLineRec r = lf[k];
        if (!ring.StoreLine(r)) {
            ++rejected;
            EXPECT_EQ(k, 7u);
            continue;
        }
        ring.TakeNewLineCount();
        const ScanLineRec &stored = ring.CurrentLine();
        if (stored.lineFlags & NAV_REPAIRED) {
            ++repaired;
            // The one-word repair restores the header exactly (but for the flag).
            EXPECT_EQ(std::memcmp(&stored, &lc[k], 132), 0) << "line " << k;
            EXPECT_EQ(std::memcmp(&stored.track, &lc[k].track, 10), 0) << "line " << k;
        }
        if (k == 9) {
            EXPECT_TRUE(stored.lineFlags & LINE_GAP);
            EXPECT_EQ(stored.lineIndex, lf[8].lineIndex + 3 * lf[8].vhInterval);
        } else if (k > 0 && k != 8) {
            EXPECT_FALSE(stored.lineFlags & LINE_GAP) << "line " << k;
        }
    }
    EXPECT_EQ(repaired, 2);
    EXPECT_EQ(rejected, 1);
    // Lines before the first fault are untouched.
    EXPECT_EQ(std::memcmp(&lc[0], &lf[0], 3 * sizeof(ScanLineRec)), 0);
}

TEST(Radiometry, TwoChannelScannerSeesFiresSmokeAndHotGround)
{
    SceneParams p = smallScene();
    p.relief = 0.0;
    p.fireCount = 0;
    p.smokeCount = 0;
    Scene scene(p);
    PassParams pass = shortPass(1);
    pass.rollAmpDeg = pass.pitchAmpDeg = pass.yawAmpDeg = pass.attitudeNoiseDeg = 0.0;
    pass.headingDeg = 0.0;
    pass.crabDeg = 0.0;
    // A large hot fire straight below, a fire a tenth of a pixel in area
    // 200 m left, smoke 600 m right and hot ground 1200 m left.
    const double mLon = 111000.0 * std::cos(44.495 * M_PI / 180.0);
    scene.setFires({Fire{1, 44.495, -121.5, 8.0, 0.95}, Fire{2, 44.495, -121.5 - 200.0 / mLon, 0.3, 0.6}});
    scene.setWarmPatches({WarmPatch{44.495, -121.5 + 600.0 / mLon, 250.0, 20.0, PatchKind::Smoke},
                          WarmPatch{44.495, -121.5 - 1200.0 / mLon, 250.0, 20.0, PatchKind::HotGround}});
    LineGenerator gen(scene, pass);
    auto r = std::make_unique<ScanLineRec>();
    ASSERT_TRUE(gen.next(*r));
    auto sampleAt = [&](double eastM) {
        int best = 0;
        double bestD = 1e9;
        for (int s = 0; s < SAMPLES_PER_LINE; ++s) {
            const double e = (gen.groundPoints()[size_t(s)].lon + 121.5) * mLon;
            if (std::fabs(e - eastM) < bestD) {
                bestD = std::fabs(e - eastM);
                best = s;
            }
        }
        return best;
    };
    int small = -1;
    for (const auto &[sample, id] : gen.fireHits())
        if (id == 2)
            small = sample;
    ASSERT_GE(small, 0) << "the sub-pixel fire is seen";
    const int bg = sampleAt(1500.0);
    const int bgA = r->chanA[bg], bgB = r->chanB[bg];
    EXPECT_NEAR(bgB, 3500.0, 800.0);
    struct Case {
        const char *what;
        int sample;
        int minA, maxA, minB, maxB;   // rise over the background
    } cases[] = {
        {"large hot fire: both channels at full scale", sampleAt(0.0), kSampleMax - bgA, kSampleMax - bgA,
         kSampleMax - bgB, kSampleMax - bgB},
        {"sub-pixel fire: A at full scale, B raised", small, kSampleMax - bgA, kSampleMax - bgA, 2000,
         kSampleMax - bgB - 1},
        {"smoke: A raised, B barely", sampleAt(600.0), 400, 3000, -150, 150},
        {"hot ground: both raised, far from full scale", sampleAt(-1200.0), 500, 4000, 1500, 8000},
    };
    for (const Case &c : cases) {
        const int da = r->chanA[c.sample] - bgA, db = r->chanB[c.sample] - bgB;
        EXPECT_GE(da, c.minA) << c.what;
        EXPECT_LE(da, c.maxA) << c.what;
        EXPECT_GE(db, c.minB) << c.what;
        EXPECT_LE(db, c.maxB) << c.what;
    }
    EXPECT_EQ(r->statWord1, std::uint32_t(std::count(r->chanB, r->chanB + SAMPLES_PER_LINE, kSampleMax)));
}
