// Flight simulator throughput: scan lines per second on one core (the ray
// tracing dominates). Target: at least 1,000 lines per second.
#include "datasource/cdspdatabuffer.h"
#include "datasource/coldcurve.h"
#include "sim/demodata.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace {

const sim::Scene &demoScene()
{
    static const sim::Scene scene([] {
        sim::SceneParams p;
        p.regionDeg = 0.3;
        return p;
    }());
    return scene;
}

// Lines of a demo pass (relief, fires, smoke, attitude motion).
void BM_GenerateLines(benchmark::State &state)
{
    const sim::Scene &scene = demoScene();
    sim::PassParams pass;
    pass.startLat = scene.params().centerLat - 0.02;
    pass.startLon = scene.params().centerLon;
    pass.lineCount = 1 << 30;
    sim::LineGenerator gen(scene, pass);
    auto rec = std::make_unique<ScanLineRec>();
    for (auto _ : state) {
        gen.next(*rec);
        benchmark::DoNotOptimize(rec->chanA[0]);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["lines/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GenerateLines)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One ray per call, for the cost of the geometry alone.
void BM_TraceRay(benchmark::State &state)
{
    const sim::Scene &scene = demoScene();
    sim::LookState s;
    s.lat = scene.params().centerLat;
    s.lon = scene.params().centerLon;
    s.altitude = scene.elevation(s.lat, s.lon) + 1500.0;
    s.rollDeg = 1.0;
    s.pitchDeg = 0.5;
    s.headingDeg = 30.0;
    sim::RayTracer tracer(scene, s);
    int i = 0;
    double guess = std::nan("");
    for (auto _ : state) {
        const sim::GroundPoint gp = tracer.trace(sim::scanAngleOfPix(i), guess);
        guess = gp.height;
        benchmark::DoNotOptimize(gp.lat);
        if (++i == SAMPLES_PER_LINE) {
            i = 0;
            guess = std::nan("");
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceRay);

// What `cindrel simulate` does per line: generate, host fire test, write
// the version 1 record. Lines per second of a whole recorded pass.
void BM_RecordPass(benchmark::State &state)
{
    const sim::Scene &scene = demoScene();
    sim::PassParams pass;
    pass.startLat = scene.params().centerLat - 0.02;
    pass.startLon = scene.params().centerLon;
    pass.lineCount = int(state.range(0));
    ColdCurve curve;
    curve.resetStartValues();
    auto ring = std::make_unique<CDspDataBuffer>(&curve);
    ring->SetFireDetectParams(true, 30000, 1000, 0, 0, 0);
    QTemporaryDir dir;
    for (auto _ : state) {
        QString error;
        sim::PassRecord rec;
        if (!sim::recordPass(scene, pass, dir.filePath(QStringLiteral("20240715_1432_Bench_1.plf")), *ring, &rec, &error))
            state.SkipWithError(error.toUtf8().constData());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["lines/s"] =
        benchmark::Counter(double(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RecordPass)->Arg(1000)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);   // the log writer is a widget
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
