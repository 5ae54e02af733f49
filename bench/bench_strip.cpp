// Strip chart cost: AddLine per line in plain and in map mode against the
// copy of one record out of the ring (what the display loop does for every
// line anyway), and the rebuild of a 10,000-line log against a plain read of
// the same log. The closing lines print the ratios.
#include "datasource/ccindreldsplog.h"
#include "datasource/cdspdatabuffer.h"
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "stripchart/cstripchartimagery.h"
#include "stripchart/standalonepassservices.h"
#include "stripchart/stripimagerebuild.h"
#include "platform/notice.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kLogLines = 10000;
constexpr int kFlightLines = 300000;
QString g_dir;
QString g_log;
std::map<std::string, double> g_rates;   // items per second
std::map<std::string, double> g_times;   // seconds per iteration

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            auto it = run.counters.find("items_per_second");
            if (it != run.counters.end())
                g_rates[run.benchmark_name()] = it->second;
            g_times[run.benchmark_name()] = run.GetAdjustedRealTime() /
                                            benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }
};

void fillPix(ScanLineRec &l, std::mt19937 &rng)
{
    for (int i = 0; i < SAMPLES_PER_LINE; ++i)
        l.pix[i] = std::uint8_t(rng() % 254);
    l.pix[rng() % SAMPLES_PER_LINE] = 255;
}

// Positions of a straight northbound flight, one metre per line.
struct Flight {
    Flight()
    {
        CUtmConverter conv;
        double n0, e0;
        std::int32_t zone;
        conv.LatLonToUtm(45.0, -120.5, &n0, &e0, &zone, 2);
        lat.resize(kFlightLines);
        lon.resize(kFlightLines);
        for (int k = 0; k < kFlightLines; ++k) {
            double la, lo;
            conv.UtmToLatLon(n0 + k, e0, zone, &la, &lo, 2);
            lat[std::size_t(k)] = std::int32_t(std::llround(la * 3.6e6));
            lon[std::size_t(k)] = std::int32_t(std::llround(lo * 3.6e6));
        }
    }
    std::vector<std::int32_t> lat, lon;
};

Flight &flight()
{
    static Flight f;
    return f;
}

void writeLog(const QString &path)
{
    ColdCurve curve;
    CCindrelDspLog writer(&curve);
    writer.OpenForWrite(path);
    auto r = std::make_unique<ScanLineRec>();
    std::mt19937 rng(1);
    for (int n = 0; n < kLogLines; ++n) {
        r->clear();
        r->lineIndex = std::uint32_t(n + 1);
        r->chnBGain = 1.0f;
        r->fireThreshold = 100000;
        r->altitude = 150000;
        r->speed = 6000;
        r->latitude = flight().lat[std::size_t(n)];
        r->longitude = flight().lon[std::size_t(n)];
        for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
            r->chanA[i] = 100;
            r->chanB[i] = 1000 + int(rng() % 2000);
        }
        writer.WriteRecord(*r);
    }
    writer.Close();
}

// What the builder asks of the live source.
class MovingSource : public CDataSource {
public:
    QDateTime GetDateTime() override { return QDateTime(QDate(2024, 7, 15), QTime(14, 32)); }
    float GetSpeed() override { return 60.0f; }
};

void addLines(benchmark::State &state, bool map)
{
    const Flight &f = flight();
    auto source = std::make_unique<MovingSource>();
    StandalonePassServices svc(source.get());
    svc.pathPrefix = g_dir + (map ? QStringLiteral("/map") : QStringLiteral("/plain"));
    svc.mapMode = map;
    auto chart = std::make_unique<CStripChartImagery>(&svc);
    chart->SetMapMode(map);
    auto line = std::make_unique<ScanLineRec>();
    line->clear();
    line->altitude = 150000;
    line->speed = 6000;
    std::mt19937 rng(2);
    fillPix(*line, rng);
    std::size_t k = 0;
    for (auto _ : state) {
        line->lineIndex = std::uint32_t(k);
        line->latitude = f.lat[k % f.lat.size()];
        line->longitude = f.lon[k % f.lon.size()];
        chart->AddLine(*line, true);
        ++k;
    }
    state.SetItemsProcessed(state.iterations());
    chart->SetFileOutput(false);
    chart.reset();
}

} // namespace

static void BM_RingRecordCopy(benchmark::State &state)
{
    ColdCurve curve;
    CDspDataBuffer ring(&curve);
    auto line = std::make_unique<ScanLineRec>();
    line->clear();
    line->chnBGain = 1.0f;
    for (int i = 0; i < 64; ++i) {
        line->lineIndex = std::uint32_t(i);
        ring.StoreLine(*line);
    }
    ring.TakeNewLineCount();
    auto out = std::make_unique<ScanLineRec>();
    std::uint32_t age = 0;
    for (auto _ : state) {
        ring.GetPriorLine(age, out.get());
        age = (age + 1) & 31;
        benchmark::DoNotOptimize(out->pix[7]);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RingRecordCopy);

static void BM_AddLinePlain(benchmark::State &state)
{
    addLines(state, false);
}
BENCHMARK(BM_AddLinePlain)->Iterations(100000);

static void BM_AddLineMap(benchmark::State &state)
{
    addLines(state, true);
}
BENCHMARK(BM_AddLineMap)->Iterations(100000);

static void BM_PlainReadOfLog(benchmark::State &state)
{
    std::vector<char> buf(8560);
    for (auto _ : state) {
        QFile f(g_log);
        f.open(QIODevice::ReadOnly);
        while (f.read(buf.data(), 8560) == 8560)
            benchmark::DoNotOptimize(buf[100]);
    }
}
BENCHMARK(BM_PlainReadOfLog)->Unit(benchmark::kMillisecond)->Iterations(5);

static void BM_Rebuild10kLines(benchmark::State &state)
{
    for (auto _ : state) {
        ColdCurve curve;
        curve.resetStartValues();
        CCindrelDspLog log(&curve);
        log.SetFireDetectParams(true, 65000, 1000, 0, 0, 0);
        log.OnFileOpen(g_log);
        StandalonePassServices svc(&log);
        const StripRebuildResult r = RebuildStripImage(svc, g_dir + QStringLiteral("/rebuild.tmp"));
        benchmark::DoNotOptimize(r.lines);
    }
}
BENCHMARK(BM_Rebuild10kLines)->Unit(benchmark::kMillisecond)->Iterations(2);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Notice::setTestMode(true);   // a box would stop the run
    QTemporaryDir dir;
    g_dir = dir.path();
    g_log = g_dir + QStringLiteral("/20240715_1432_Bench_1.plf");
    writeLog(g_log);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double copy = g_rates["BM_RingRecordCopy"];
    for (const char *name : {"BM_AddLinePlain/iterations:100000", "BM_AddLineMap/iterations:100000"}) {
        const double rate = g_rates[name];
        if (copy > 0 && rate > 0)
            std::printf("%s: %.1f us per line = %.1f x the ring record copy (%.2f us)\n", name, 1e6 / rate,
                        copy / rate, 1e6 / copy);
    }
    const double read = g_times["BM_PlainReadOfLog/iterations:5"];
    const double rebuild = g_times["BM_Rebuild10kLines/iterations:2"];
    if (read > 0 && rebuild > 0)
        std::printf("rebuild of %d lines: %.2f s = %.1f x a plain read of the log (%.3f s)\n", kLogLines, rebuild,
                    rebuild / read, read);
    benchmark::Shutdown();
    return 0;
}
