// Flight simulator throughput: scan lines per second on one core (the ray
// tracing dominates). Target: at least 1,000 lines per second.
#include "sim/linegenerator.h"
#include "sim/scene.h"

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

} // namespace

BENCHMARK_MAIN();
