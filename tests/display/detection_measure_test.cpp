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
    std::vector<Feature> features;   // the warm patch under each sample, if any
};

// What the truth has under a sample: flame in its footprint (one IFOV
// along the heading, stretched by the slant across it), else the warm
// patch whose profile reaches it (within two radii), if any.
Feature featureAt(const Scene &scene, const GroundPoint &gp, double agl)
{
    const double my = meridionalRadius(gp.lat) * M_PI / 180.0;
    const double mx = primeVerticalRadius(gp.lat) * std::cos(gp.lat * M_PI / 180.0) * M_PI / 180.0;
    const double along = gp.range * (120.0 / 1680.0) * M_PI / 180.0;
    const double across = along * gp.range / agl;
    for (const Fire &f : scene.fires()) {
        const double dn = (gp.lat - f.lat) * my, de = (gp.lon - f.lon) * mx;
        if (std::hypot(dn, de) < f.radiusM + 0.5 * std::hypot(along, across))
            return Feature::Flame;
    }
    Feature f = Feature::None;
    for (const WarmPatch &w : scene.warmPatches()) {
        const double dn = (gp.lat - w.lat) * my, de = (gp.lon - w.lon) * mx;
        if (dn * dn + de * de < 4.0 * w.radiusM * w.radiusM)
            f = w.kind == PatchKind::HotGround ? Feature::HotGround : (f == Feature::None ? Feature::Smoke : f);
    }
    return f;
}

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
        while (gen.next(r)) {
            sp.records.push_back(r);
            for (const GroundPoint &gp : gen.groundPoints())
                sp.features.push_back(featureAt(scene, gp, p.agl));
        }
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

void print(const char *name, const FireTestSettings &s, const DetectionFigures &f, int passes, bool details)
{
    std::printf("%-8s threshold %d, fire limit %d, cold limit %d: %d sightings; live %d found, %d false; "
                "re-detected %d found, %d false; desmoked %d found (recall %.1f %%), %.1f false clusters per pass, "
                "centre shift median %.2f max %.2f px\n",
                name, s.fireThreshold, s.fireLimit, s.coldLimit, f.sightings, f.liveFound, f.liveFalse,
                f.redetectFound, f.redetectFalse, f.found, 100.0 * f.found / std::max(f.sightings, 1),
                double(f.falseClusters) / passes, f.medianShift(), f.maxShift());
    for (const ClusterDetail &d : details ? f.falseDetails : std::vector<ClusterDetail>())
        std::printf("  false cluster: pass %d line %d sample %d, %d px, margin %d, B %d, %s, %s\n", d.pass, d.line,
                    d.sample, d.pixels, d.peakMargin, d.peakB, d.byFireLimit ? "fire limit" : "curve",
                    featureName(d.feature));
    for (const LostSighting &l : f.lost)
        std::printf("  lost: pass %d fire %d in the %s\n", l.pass, l.fireId, l.stage);
}

struct Measured {
    DetectionFigures autoTotal, defaultTotal;
};

// Both settings through the passes, once for the whole group: Auto* first,
// then the defaults.
const Measured &measured()
{
    static const Measured m = [] {
        Measured out;
        QSettings().clear();
        const Scene scene = measureScene();
        const QString dir = QDir::currentPath();
        const std::vector<SimPass> passes = simulate(scene, dir);
        EXPECT_EQ(passes.size(), 2u);
        FireTestSettings autoSettings, defaults;
        defaults.fireThreshold = 100;   // the panel's default threshold
        defaults.fireLimit = kDefaultChnBFireLimit;
        defaults.coldLimit = kDefaultChnBColdLimit;
        int pass = 0;
        for (const SimPass &p : passes) {
            ++pass;
            EXPECT_FALSE(p.sightings.empty());
            ColdCurve curve;
            autoSettings = operatorAuto(p.records, curve);
            std::vector<ScanLineRec> records = p.records;
            DetectionFigures f;
            QString error;
            EXPECT_TRUE(measurePass(records, p.sightings, autoSettings, curve, dir, &f, &error, &p.features, pass))
                << qPrintable(error);
            out.autoTotal.add(f);
            ColdCurve fresh;
            fresh.resetStartValues();
            records = p.records;
            EXPECT_TRUE(measurePass(records, p.sightings, defaults, fresh, dir, &f, &error, &p.features, pass))
                << qPrintable(error);
            out.defaultTotal.add(f);
        }
        print("Auto*", autoSettings, out.autoTotal, 2, true);
        print("defaults", defaults, out.defaultTotal, 2, false);
        return out;
    }();
    return m;
}

// The operator's settings keep the fires, whole and in place, with at most
// one false cluster per pass after desmoke; desmoke never loses a fire that
// re-detection found, with either settings.
TEST(DetectionMeasure, OperatorsAutoSettingsKeepTheFires)
{
    const Measured &m = measured();
    EXPECT_GE(m.autoTotal.found, std::ceil(0.95 * m.autoTotal.sightings));
    EXPECT_LE(m.autoTotal.falseClusters, 2);
    EXPECT_LE(m.autoTotal.maxShift(), 0.5);
    EXPECT_EQ(m.autoTotal.found, m.autoTotal.redetectFound);
    EXPECT_EQ(m.defaultTotal.found, m.defaultTotal.redetectFound);
}

} // namespace
