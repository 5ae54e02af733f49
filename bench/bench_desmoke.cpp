// Desmoke of a 10,000-line flight log (re-detection, cluster pass, the new
// log and the replacement) against a plain sequential read of the same log
// in the same run, with one thread and with two. The log holds noise,
// scattered fire pixels and large warm patches that the cluster pass has
// to search. The closing lines print the ratios.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "geodata/desmoke.h"

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

constexpr int kLines = 10000;
constexpr int kFireLimit = 20000;
constexpr int kColdLimit = -2000;
constexpr double kA0 = 0.0;
QString g_path;
std::unique_ptr<ColdCurve> g_curve;
std::map<std::string, double> g_seconds;

void writeLog(const QString &path)
{
    ColdCurve unused;
    CCindrelDspLog writer(&unused);
    writer.OpenForWrite(path);
    auto r = std::make_unique<ScanLineRec>();
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 60.0);
    for (int y = 0; y < kLines; ++y) {
        r->clear();
        r->lineIndex = std::uint32_t(y);
        r->chnBGain = 1.0f;
        r->vhInterval = 1;
        r->fireThreshold = 300;
        r->altitude = 300000;
        r->heading = 9000;
        r->latitude = 45 * 3600 * 1000;
        r->longitude = -120 * 3600 * 1000;
        for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
            int a = -3000 + int(noise(rng));
            int b = int(noise(rng));
            // A warm patch (smoke) of 60 lines x 80 samples every 400 lines.
            if (y % 400 < 60 && i % 700 >= 300 && i % 700 < 380) {
                a = 0;
                b = 1500 + int(noise(rng));
            }
            // Scattered fire pixels.
            if ((y * 131 + i * 17) % 997 == 0) {
                a = 500;
                b = 3000;
            }
            r->chanA[i] = a;
            r->chanB[i] = b;
            r->pix[i] = std::uint8_t((b + 32768) / 256);
        }
        writer.WriteRecord(*r);
    }
    writer.Close();
}

class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (run.iterations > 0)
                g_seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / 1e3;   // ms -> s
    }
};

} // namespace

static void BM_PlainReadOfTheLog(benchmark::State &state)
{
    std::vector<char> buf(8560);
    for (auto _ : state) {
        QFile f(g_path);
        f.open(QIODevice::ReadOnly);
        qint64 sum = 0;
        while (f.read(buf.data(), 8560) == 8560)
            sum += buf[100];
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_PlainReadOfTheLog)->Unit(benchmark::kMillisecond)->UseRealTime();

// The argument is the number of threads.
static void BM_DesmokeLog(benchmark::State &state)
{
    DesmokeThreads threads;
    threads.count = int(state.range(0));
    for (auto _ : state) {
        const int rc = DesmokeLog(g_path, 0.0, 0.0, kA0, kFireLimit, kColdLimit, g_curve.get(), nullptr, threads);
        if (rc != 0)
            state.SkipWithError("desmoke failed");
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_DesmokeLog)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);   // the log writer is a widget
    QTemporaryDir dir;
    g_path = dir.path() + QStringLiteral("/20240715_1432_Bench_1.plf");
    writeLog(g_path);
    g_curve = std::make_unique<ColdCurve>();
    g_curve->resetStartValues();
    for (int b = -2000; b <= 4000; ++b)
        g_curve->set(b + 32769, 30000);   // fire when a > 30000 + 300 - 32768 = -2468

    benchmark::Initialize(&argc, argv);
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double plain = g_seconds["BM_PlainReadOfTheLog/real_time"];
    const double desmoke = g_seconds["BM_DesmokeLog/1/iterations:3/real_time"];
    const double twoThreads = g_seconds["BM_DesmokeLog/2/iterations:3/real_time"];
    if (plain > 0 && desmoke > 0)
        std::printf("desmoke of %d lines: %.3f s = %.1f x a plain read of the log (%.3f s)\n", kLines, desmoke,
                    desmoke / plain, plain);
    if (desmoke > 0 && twoThreads > 0)
        std::printf("desmoke with 2 threads: %.3f s = %.2f x 1 thread\n", twoThreads, twoThreads / desmoke);
    benchmark::Shutdown();
    return 0;
}
