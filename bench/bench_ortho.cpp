// Orthorectification cost on a simulated 10,000-line pass over rugged
// terrain, in CPU time of the whole process (a second thread counts):
// - BM_Rectify/1, BM_Rectify/2: the rectifier alone on one thread and on
//   two, in lines per second of CPU time (and of wall time);
// - BM_Chain: the orthorectify worker's whole chain for the same log
//   (elevation extraction, desmoke, rectification, mosaic, script);
// - BM_Mosaic/N: the mission mosaic of N passes, per heat point;
// - BM_ReadLog: a plain read of the log through the data source.
// The closing lines print the figures and the chain's ratio to the
// rectifier, all measured in this run (with --benchmark_repetitions=N, from
// the repetition of least CPU time). --lines=N simulates a shorter pass.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "geodata/celevationdata.h"
#include "geodata/cmosaic.h"
#include "ortho/crectifiedstripchart.h"
#include "ortho/orthorectifyworker.h"
#include "platform/notice.h"
#include "sim/demodata.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

int kLines = 10000;   // --lines=N for a shorter pass (e.g. under callgrind)
constexpr int kMeridian = -121;
QString g_dir;
QString g_log;            // the pristine simulated log
QString g_ortho;          // its ortho image, made once
std::map<std::string, double> g_seconds;   // CPU seconds per iteration
std::map<std::string, double> g_wall;      // wall seconds per iteration
std::map<std::string, double> g_system;    // system CPU seconds per iteration
std::map<std::string, double> g_heatPoints;

bool prepare(const QString &dir)
{
    g_dir = dir;
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(dir + QStringLiteral("/c-drive")));
    QDir::setCurrent(dir);
    sim::SceneParams sp;
    sp.seed = 11;
    sp.regionDeg = 0.5;
    sp.relief = 700.0;
    sp.fireCount = 60;
    sp.fireSpreadM = 1500;
    sim::Scene scene(sp);
    QString error;
    if (!sim::writeDemTiles(scene, dir + QStringLiteral("/Cindrel_ElevationTileBoundaries.dat"), sim::driveTilePath, &error))
        return false;
    sim::PassParams pass;
    pass.startLat = 44.41;
    pass.startLon = -121.5;
    pass.lineCount = kLines;
    QDir().mkpath(dir + QStringLiteral("/rect"));
    g_log = dir + QStringLiteral("/rect/20240715_1432_Bench_1.plf");
    ColdCurve curve;
    CCindrelDspLog log(&curve);
    if (!log.OpenForWrite(g_log))
        return false;
    sim::LineGenerator gen(scene, pass);
    auto rec = std::make_unique<ScanLineRec>();
    // Fire pixels scattered over the whole swath (about one sample in a
    // hundred), as an un-desmoked log holds them: the mosaic's heat points.
    for (int line = 0; gen.next(*rec); ++line) {
        for (int i = 0; i < SAMPLES_PER_LINE; ++i)
            if ((line * 131 + i * 17) % 97 == 0)
                rec->pix[i] = FIRE_PIXEL;
        log.WriteRecord(*rec);
    }
    log.Close();
    CElevationData dem;
    if (!dem.ExtractArea(-121.57, 44.60, -121.43, 44.40, dir + QStringLiteral("/rect/20240715_1432_Bench")))
        return false;
    return true;
}

// The pass's ortho image, made on first use: a run of the rectifier alone
// (under callgrind, say) then counts only the rectifications it measures.
bool MakeOrtho()
{
    if (!g_ortho.isEmpty())
        return true;
    ColdCurve curve;
    CCindrelDspLog source(&curve);
    source.OnFileOpen(g_log);
    CRectifiedStripChart rect(&source);
    rect.Process();
    g_ortho = g_dir + QStringLiteral("/rect/20240715_1432_Bench_1_ortho.tif");
    return rect.GetOutcome() == CRectifiedStripChart::Produced && QFile::exists(g_ortho);
}

// Reports per-iteration CPU seconds to the closing lines.
class TimeReporter : public benchmark::ConsoleReporter {
public:
    TimeReporter() : ConsoleReporter(OO_Tabular) {}   // plain text: the closing lines follow
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // With --benchmark_repetitions, the repetition of least CPU time
        // (the machine may be shared).
        for (const Run &run : runs) {
            if (run.iterations <= 0 || run.run_type == Run::RT_Aggregate)
                continue;
            const std::string name =
                run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
            const double cpu = run.GetAdjustedCPUTime() / 1e3;   // ms -> s
            if (g_seconds.count(name) && g_seconds[name] <= cpu)
                continue;
            g_seconds[name] = cpu;
            g_wall[name] = run.GetAdjustedRealTime() / 1e3;
            const auto sys = run.counters.find("system_s");
            if (sys != run.counters.end())
                g_system[name] = sys->second;
        }
    }
};

double SystemSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) * 1e-6;
}

// The rectifier on state.range(0) threads.
void BM_Rectify(benchmark::State &state)
{
    const double system = SystemSeconds();
    for (auto _ : state) {
        ColdCurve curve;
        CCindrelDspLog log(&curve);
        log.OnFileOpen(g_log);
        CRectifiedStripChart rect(&log);
        rect.SetThreads(int(state.range(0)));
        rect.Process();
        if (rect.GetOutcome() != CRectifiedStripChart::Produced)
            state.SkipWithError("no products");
    }
    state.SetItemsProcessed(state.iterations() * kLines);
    state.counters["system_s"] = (SystemSeconds() - system) / double(state.iterations());
}
BENCHMARK(BM_Rectify)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime();

void BM_Chain(benchmark::State &state)
{
    const QString folder = g_dir + QStringLiteral("/chain");
    const QString log = folder + QStringLiteral("/20240715_1432_Bench_1.plf");
    // The run area as the main window hands it over: grid corners on the
    // mission meridian.
    CUtmConverter utm;
    utm.SetCentralMeridian(kMeridian);
    double n1, e1, n2, e2;
    std::int32_t zone;
    utm.LatLonToUtm(44.40, -121.57, &n1, &e1, &zone, 2);
    utm.LatLonToUtm(44.60, -121.43, &n2, &e2, &zone, 2);
    ColdCurve curve;
    curve.resetStartValues();
    const double system = SystemSeconds();
    for (auto _ : state) {
        state.PauseTiming();
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        QFile::copy(g_log, log);
        state.ResumeTiming();
        OrthoRectifyWorker worker(&curve);
        worker.SetRunArea(e1, n1, e2, n2, kMeridian);
        worker.SetElevationReady(false);
        worker.AddFile(log);
        worker.Stop();
        worker.doWork();
        const auto results = worker.Results();
        if (results.size() != 1 || results[0].outcome != CRectifiedStripChart::Produced || !results[0].mosaicSaved)
            state.SkipWithError("the chain made no products");
    }
    state.SetItemsProcessed(state.iterations() * kLines);
    state.counters["system_s"] = (SystemSeconds() - system) / double(state.iterations());
}
BENCHMARK(BM_Chain)->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime();

// The mosaic of the pass's ortho image copied as passes 1..N.
void BM_Mosaic(benchmark::State &state)
{
    const QString folder = g_dir + QStringLiteral("/mosaic");
    if (!MakeOrtho()) {
        state.SkipWithError("no ortho image");
        return;
    }
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    for (int pass = 1; pass <= state.range(0); ++pass)
        QFile::copy(g_ortho, folder + QStringLiteral("/20240715_1432_Bench_%1_ortho.tif").arg(pass));
    int points = 0;
    for (auto _ : state) {
        CMosaic mosaic(folder + QStringLiteral("/20240715_1432_Bench_1.plf"));
        if (!mosaic.Saved())
            state.SkipWithError("no mosaic");
        points = mosaic.HeatPointCount();
    }
    state.counters["heat_points"] = points;
    state.SetItemsProcessed(state.iterations() * points);
    g_heatPoints["BM_Mosaic/" + std::to_string(state.range(0))] = points;
}
BENCHMARK(BM_Mosaic)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime();

void BM_ReadLog(benchmark::State &state)
{
    for (auto _ : state) {
        ColdCurve curve;
        CCindrelDspLog log(&curve);
        log.OnFileOpen(g_log);
        auto rec = std::make_unique<ScanLineRec>();
        while (log.GetNextLine(rec.get()))
            benchmark::DoNotOptimize(rec->chanB[0]);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ReadLog)->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--lines=", 8) == 0) {
            kLines = std::max(1, std::atoi(argv[i] + 8));
            std::copy(argv + i + 1, argv + argc + 1, argv + i);   // hidden from the benchmark library
            --argc;
            --i;
        }
    }
    Notice::setTestMode(true);
    QTemporaryDir dir;
    if (!dir.isValid() || !prepare(dir.path())) {
        std::fprintf(stderr, "bench_ortho: cannot prepare the simulated run\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char *name : {"BM_Rectify/1", "BM_Rectify/2"}) {
        const double cpu = g_seconds[name], wall = g_wall[name];
        if (cpu > 0 && wall > 0)
            std::printf("rectifier on %c thread(s): %d lines in %.2f s CPU (%.2f s system) = %.0f lines/s of CPU; "
                        "%.2f s wall = %.0f lines/s\n",
                        name[11], kLines, cpu, g_system[name], kLines / cpu, wall, kLines / wall);
    }
    const double rect = g_seconds["BM_Rectify/2"], chain = g_seconds["BM_Chain"];
    if (rect > 0 && chain > 0)
        std::printf("worker chain: %.2f s CPU (%.2f s system), %.2f s wall = %.2f x the rectifier alone (CPU)\n",
                    chain, g_system["BM_Chain"], g_wall["BM_Chain"], chain / rect);
    for (const auto &m : g_heatPoints) {
        const double s = g_seconds[m.first];
        if (s > 0 && m.second > 0)
            std::printf("%s: %.0f heat points in %.3f s CPU = %.2f us per heat point\n", m.first.c_str(), m.second, s,
                        s / m.second * 1e6);
    }
    benchmark::Shutdown();
    QDir::setCurrent(QDir::tempPath());
    return 0;
}
