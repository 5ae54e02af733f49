// Fire detection measured against the simulator's truth: short passes over
// fires from a fraction of a pixel to tens of metres across, smoke and hot
// ground, through the live fire test and the analyst's chain, once with the
// settings the threshold panel's Auto* button gives on the first seconds of
// the pass and once with the defaults.
#include "datasource/firelimits.h"
#include "display/dspsig.h"
#include "displayfakes.h"
#include "sim/demodata.h"
#include "sim/detectmeasure.h"
#include "sim/geodesy.h"

#include <QDir>
#include <QSettings>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace {
using namespace sim;

constexpr int kLines = 520;
constexpr int kAutoLines = 80;   // the first two seconds at about 40 lines/s

// Fires and patches in the middle of the passes' common ground, never in
// the first seconds of a pass (where the operator presses Auto*).
Scene measureScene()
{
    SceneParams p;
    p.seed = 13;
    p.regionDeg = 0.1;
    p.fireCount = 0;
    p.smokeCount = 0;
    Scene scene(p);
    const double my = meridionalRadius(p.centerLat) * M_PI / 180.0;
    const double mx = primeVerticalRadius(p.centerLat) * std::cos(p.centerLat * M_PI / 180.0) * M_PI / 180.0;
    Rng rng(99);
    const double radii[] = {0.15, 0.3, 0.5, 0.8, 1.5, 3.0, 6.0, 12.0};
    std::vector<Fire> fires;
    for (int i = 0; i < 24; ++i) {
        Fire f;
        f.id = i + 1;
        f.lat = p.centerLat + rng.uniform(-220.0, 220.0) / my;
        f.lon = p.centerLon + rng.uniform(-2200.0, 2200.0) / mx;
        f.radiusM = radii[i % 8];
        f.intensity = rng.uniform(0.1, 1.0);
        fires.push_back(f);
    }
    scene.setFires(fires);
    std::vector<WarmPatch> patches;
    for (int i = 0; i < 4; ++i) {
        WarmPatch w;
        w.lat = p.centerLat + rng.uniform(-120.0, 120.0) / my;
        w.lon = p.centerLon + rng.uniform(-1800.0, 1800.0) / mx;
        w.radiusM = rng.uniform(60.0, 140.0);
        w.deltaK = rng.uniform(15.0, 35.0);
        w.kind = i % 2 ? PatchKind::HotGround : PatchKind::Smoke;
        patches.push_back(w);
    }
    scene.setWarmPatches(patches);
    return scene;
}

struct SimPass {
    std::vector<ScanLineRec> records;
    std::vector<FireSighting> sightings;
};

// The lines of each pass and where they saw each fire (from a throwaway
// recording of the pass).
std::vector<SimPass> simulate(const Scene &scene, const QString &dir)
{
    FlightPlan plan;
    plan.passes = 2;
    plan.lines = kLines;
    std::vector<SimPass> out;
    for (const PassParams &p : planPasses(scene, plan)) {
        SimPass sp;
        ColdCurve curve;
        curve.resetStartValues();
        CDspDataBuffer ring(&curve);
        PassRecord rec;
        QString error;
        EXPECT_TRUE(recordPass(scene, p, dir + QStringLiteral("/truth.plf"), ring, &rec, &error)) << qPrintable(error);
        sp.sightings = rec.sightings;
        LineGenerator gen(scene, p);
        ScanLineRec r;
        while (gen.next(r))
            sp.records.push_back(r);
        out.push_back(std::move(sp));
    }
    return out;
}

// What the operator's panel holds after Auto* on the first seconds of a
// pass flown with the defaults: the lines go through the live fire test
// and reach the panel a few at a time.
FireTestSettings operatorAuto(const std::vector<ScanLineRec> &records, ColdCurve &learned)
{
    FakeOwner owner;
    owner.bMax = kDefaultChnBFireLimit;
    owner.bMin = kDefaultChnBColdLimit;
    MemSource source(&owner.curve);
    owner.source = &source;
    DspSig panel(&owner, nullptr);
    CDspDataBuffer live(&owner.curve);
    live.SetFireDetectParams(true, owner.bMax, owner.bMin, 0.0, 0.0, 0.0);
    live.SetFireThresholdOverride(std::uint32_t(panel.fireThreshold()));
    std::vector<ScanLineRec> tick;
    for (int k = 0; k < kAutoLines; ++k) {
        ScanLineRec r = records[std::size_t(k)];
        live.AddLine(r);
        tick.push_back(r);
        if (tick.size() == 2) {
            source.deliver(tick);
            panel.updateGraph();
            tick.clear();
        }
    }
    panel.OnAutoAll();
    for (int i = 0; i < ColdCurve::kEntries; ++i)
        learned.set(i, owner.curve.at(i));
    FireTestSettings s;
    s.fireThreshold = panel.fireThreshold();
    s.fireLimit = panel.bMaxThreshold();
    s.coldLimit = panel.bMinThreshold();
    return s;
}

void print(const char *name, const FireTestSettings &s, const DetectionFigures &f, int passes)
{
    std::printf("%-8s threshold %d, fire limit %d, cold limit %d: %d sightings; live %d found, %d false; "
                "re-detected %d found, %d false; desmoked %d found (recall %.1f %%), %.1f false clusters per pass, "
                "centre shift median %.2f max %.2f px\n",
                name, s.fireThreshold, s.fireLimit, s.coldLimit, f.sightings, f.liveFound, f.liveFalse,
                f.redetectFound, f.redetectFalse, f.found, 100.0 * f.found / std::max(f.sightings, 1),
                double(f.falseClusters) / passes, f.medianShift(), f.maxShift());
}

// Both settings through the passes: Auto* first, then the defaults.
void measureBoth(DetectionFigures *autoTotal, DetectionFigures *defaultTotal)
{
    QSettings().clear();
    const Scene scene = measureScene();
    const QString dir = QDir::currentPath();
    const std::vector<SimPass> passes = simulate(scene, dir);
    ASSERT_EQ(passes.size(), 2u);
    FireTestSettings autoSettings, defaults;
    defaults.fireThreshold = 100;   // the panel's default threshold
    defaults.fireLimit = kDefaultChnBFireLimit;
    defaults.coldLimit = kDefaultChnBColdLimit;
    for (const SimPass &p : passes) {
        ASSERT_FALSE(p.sightings.empty());
        ColdCurve curve;
        autoSettings = operatorAuto(p.records, curve);
        std::vector<ScanLineRec> records = p.records;
        DetectionFigures f;
        QString error;
        ASSERT_TRUE(measurePass(records, p.sightings, autoSettings, curve, dir, &f, &error)) << qPrintable(error);
        autoTotal->add(f);
        ColdCurve fresh;
        fresh.resetStartValues();
        records = p.records;
        ASSERT_TRUE(measurePass(records, p.sightings, defaults, fresh, dir, &f, &error)) << qPrintable(error);
        defaultTotal->add(f);
    }
    print("Auto*", autoSettings, *autoTotal, 2);
    print("defaults", defaults, *defaultTotal, 2);
}

// Desmoke never loses a fire that re-detection found.
TEST(DetectionMeasure, DesmokeKeepsEveryFireReDetectionFound)
{
    DetectionFigures autoTotal, defaultTotal;
    measureBoth(&autoTotal, &defaultTotal);
    EXPECT_EQ(autoTotal.found, autoTotal.redetectFound);
    EXPECT_EQ(defaultTotal.found, defaultTotal.redetectFound);
    EXPECT_GE(autoTotal.found, std::ceil(0.85 * autoTotal.sightings));
}

// The figures the operator's settings must reach. Not yet reached: the
// false clusters left are hot ground warmer than the first seconds of the
// pass (Auto* puts the fire limit 200 counts above their hottest line) and
// lone noise pixels above the Auto* fire threshold, which desmoke keeps.
TEST(DetectionMeasure, DISABLED_OperatorsAutoSettingsKeepTheFires)
{
    DetectionFigures autoTotal, defaultTotal;
    measureBoth(&autoTotal, &defaultTotal);
    EXPECT_GE(autoTotal.found, std::ceil(0.95 * autoTotal.sightings));
    EXPECT_LE(autoTotal.falseClusters, 2);
    EXPECT_LE(autoTotal.maxShift(), 0.5);
}

} // namespace
