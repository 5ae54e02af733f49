// Orthorectification cost: rectifying a simulated 2,000-line pass (lines
// per second), against a plain read of the same log through the data
// source. The closing line prints the ratio.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "geodata/celevationdata.h"
#include "ortho/crectifiedstripchart.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "sim/demodata.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

constexpr int kLines = 2000;
QString g_log;


bool prepare(const QString &dir)
{
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(dir + QStringLiteral("/c-drive")));
    QDir::setCurrent(dir);
    sim::SceneParams sp;
    sp.seed = 11;
    sp.regionDeg = 0.25;
    sp.fireCount = 6;
    sp.fireSpreadM = 1500;
    sim::Scene scene(sp);
    QString error;
    const auto tilePath = [](int i) {
        return cindrel::mapCDrivePath(QStringLiteral("C:\\demdata\\cd%1\\demimage").arg(i, 2, 10, QLatin1Char('0')));
    };
    if (!sim::writeDemTiles(scene, dir + QStringLiteral("/Cindrel_ElevationTileBoundaries.dat"), tilePath, &error))
        return false;
    sim::PassParams pass;
    pass.startLat = 44.49;
    pass.startLon = -121.5;
    pass.lineCount = kLines;
    g_log = dir + QStringLiteral("/20240715_1432_Bench_1.plf");
    ColdCurve curve;
    CCindrelDspLog log(&curve);
    if (!log.OpenForWrite(g_log))
        return false;
    sim::LineGenerator gen(scene, pass);
    auto rec = std::make_unique<ScanLineRec>();
    while (gen.next(*rec))
        log.WriteRecord(*rec);
    log.Close();
    CElevationData dem;
    return dem.ExtractArea(-121.55, 44.56, -121.45, 44.48, dir + QStringLiteral("/20240715_1432_Bench"));
}

void BM_Rectify(benchmark::State &state)
{
    for (auto _ : state) {
        ColdCurve curve;
        CCindrelDspLog log(&curve);
        log.OnFileOpen(g_log);
        CRectifiedStripChart rect(&log);
        rect.Process();
        if (rect.GetOutcome() != CRectifiedStripChart::Produced)
            state.SkipWithError("no products");
    }
    state.SetItemsProcessed(state.iterations() * kLines);

}
BENCHMARK(BM_Rectify)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

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
BENCHMARK(BM_ReadLog)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Notice::setTestMode(true);
    QTemporaryDir dir;
    if (!dir.isValid() || !prepare(dir.path())) {
        std::fprintf(stderr, "bench_ortho: cannot prepare the simulated run\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    QDir::setCurrent(QDir::tempPath());
    return 0;
}
