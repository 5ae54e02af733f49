// Log replay throughput: records per second through DoNextFwdCycle with
// the fire test, against a plain sequential read of the same file in the
// same run. The closing line prints the ratio.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRecords = 2000;
QString g_path;
std::map<std::string, double> g_rates;

void writeLog(const QString &path)
{
    ColdCurve curve;
    CCindrelDspLog writer(&curve);
    writer.OpenForWrite(path);
    auto r = std::make_unique<ScanLineRec>();
    std::mt19937 rng(1);
    for (int n = 0; n < kRecords; ++n) {
        r->clear();
        r->lineIndex = std::uint32_t(n);
        r->chnBGain = 1.0f;
        r->vhInterval = 1;
        r->fireThreshold = 400;
        r->altitude = 300000;
        r->heading = 9000;
        r->latitude = 45 * 3600 * 1000;
        r->longitude = -120 * 3600 * 1000;
        for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
            r->chanA[i] = int(rng() % 4000) - 2000;
            r->chanB[i] = int(rng() % 4000) - 2000;
            r->pix[i] = std::uint8_t(rng() % 255);
        }
        writer.WriteRecord(*r);
    }
    writer.Close();
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            auto it = run.counters.find("items_per_second");
            if (it != run.counters.end())
                g_rates[run.benchmark_name()] = it->second;
        }
    }
};

} // namespace

static void BM_PlainSequentialRead(benchmark::State &state)
{
    QFile f(g_path);
    f.open(QIODevice::ReadOnly);
    std::vector<char> buf(8560);
    for (auto _ : state) {
        if (f.read(buf.data(), 8560) != 8560) {
            f.seek(0);
            f.read(buf.data(), 8560);
        }
        benchmark::DoNotOptimize(buf[100]);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainSequentialRead);

static void BM_ReplayWithFireTest(benchmark::State &state)
{
    auto curve = std::make_unique<ColdCurve>();
    curve->resetStartValues();
    CCindrelDspLog log(curve.get());
    log.SetFireDetectParams(false, 1500, -1500, 0, 0, 10);
    log.OnFileOpen(g_path);
    for (auto _ : state) {
        if (log.DoNextFwdCycle(0, false, true))
            log.RewindLog();
        benchmark::DoNotOptimize(log.GetNumNewImageLines());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReplayWithFireTest);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    g_path = dir.path() + QStringLiteral("/bench.plf");
    writeLog(g_path);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double plain = g_rates["BM_PlainSequentialRead"];
    const double replay = g_rates["BM_ReplayWithFireTest"];
    if (plain > 0 && replay > 0)
        std::printf("replay with fire test: %.0f records/s = %.3f x plain sequential read (%.0f records/s)\n", replay,
                    replay / plain, plain);
    benchmark::Shutdown();
    return 0;
}
