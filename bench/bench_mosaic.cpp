// Mosaic cost: rebuilding the mission mosaic and heat points from two
// rectified simulated passes and copies of them (ortho rows per second), on
// one and on two threads, against a plain read of the same ortho files. The
// ratios between them are the figures to watch.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "geodata/celevationdata.h"
#include "geodata/cmosaic.h"
#include "ortho/crectifiedstripchart.h"
#include "platform/notice.h"
#include "sim/demodata.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

constexpr int kLines = 1500;
// Passes of the mosaic: the two rectified ones, then copies of them, so that
// placing the rows outweighs writing the files.
constexpr int kPasses = 6;
QString g_dir;
QStringList g_orthos;
qint64 g_rows = 0;

bool prepare(const QString &dir)
{
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(dir + QStringLiteral("/c-drive")));
    QDir::setCurrent(dir);
    g_dir = dir;
    sim::SceneParams sp;
    sp.seed = 11;
    sp.regionDeg = 0.25;
    sp.fireCount = 6;
    sp.fireSpreadM = 1500;
    sim::Scene scene(sp);
    QString error;
    if (!sim::writeDemTiles(scene, dir + QStringLiteral("/Cindrel_ElevationTileBoundaries.dat"), sim::driveTilePath, &error))
        return false;
    CElevationData dem;
    if (!dem.ExtractArea(-121.56, 44.56, -121.44, 44.46, dir + QStringLiteral("/20240715_1432_Bench")))
        return false;
    // Two overlapping passes, north- and southbound.
    for (int pass = 1; pass <= 2; ++pass) {
        sim::PassParams p;
        p.passNumber = pass;
        p.startLat = pass == 1 ? 44.49 : 44.53;
        p.startLon = pass == 1 ? -121.5 : -121.49;
        p.headingDeg = pass == 1 ? 0.0 : 180.0;
        p.lineCount = kLines;
        const QString log = dir + QStringLiteral("/20240715_1432_Bench_%1.plf").arg(pass);
        ColdCurve curve;
        {
            CCindrelDspLog out(&curve);
            if (!out.OpenForWrite(log))
                return false;
            sim::LineGenerator gen(scene, p);
            auto rec = std::make_unique<ScanLineRec>();
            while (gen.next(*rec))
                out.WriteRecord(*rec);
            out.Close();
        }
        CCindrelDspLog in(&curve);
        in.OnFileOpen(log);
        CRectifiedStripChart rect(&in);
        rect.SetOutputDirectory(dir);
        rect.Process();
        if (rect.GetOutcome() != CRectifiedStripChart::Produced)
            return false;
        const QString ortho = dir + QStringLiteral("/20240715_1432_Bench_%1_ortho.tif").arg(pass);
        g_orthos << ortho;
        g_rows += QFileInfo(ortho).size() / 1728;
    }
    for (int pass = 3; pass <= kPasses; ++pass) {
        const QString from = dir + QStringLiteral("/20240715_1432_Bench_%1").arg(2 - pass % 2);
        const QString to = dir + QStringLiteral("/20240715_1432_Bench_%1").arg(pass);
        for (const QString &suffix : {QStringLiteral("_ortho.tif"), QStringLiteral("_firepixels.txt")})
            if (!QFile::copy(from + suffix, to + suffix))
                return false;
        g_orthos << to + QStringLiteral("_ortho.tif");
        g_rows += QFileInfo(to + QStringLiteral("_ortho.tif")).size() / 1728;
    }
    return true;
}

// The argument is the number of threads the mosaic is built with.
void BM_Mosaic(benchmark::State &state)
{
    for (auto _ : state) {
        CMosaic mosaic(g_dir + QStringLiteral("/20240715_1432_Bench_2.plf"), false, int(state.range(0)));
        if (!mosaic.Saved())
            state.SkipWithError("no mosaic");
    }
    state.SetItemsProcessed(state.iterations() * g_rows);
}
BENCHMARK(BM_Mosaic)->DenseRange(1, 2)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ReadOrthos(benchmark::State &state)
{
    QByteArray row(1728, '\0');
    for (auto _ : state) {
        for (const QString &path : g_orthos) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                state.SkipWithError("cannot read");
            while (f.read(row.data(), row.size()) == row.size())
                benchmark::DoNotOptimize(row.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * g_rows);
}
BENCHMARK(BM_ReadOrthos)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Notice::setTestMode(true);
    QTemporaryDir dir;
    if (!dir.isValid() || !prepare(dir.path())) {
        std::fprintf(stderr, "bench_mosaic: cannot prepare the rectified passes\n");
        return 1;
    }
    // One build before the timed ones: it writes back what preparing left
    // in the page cache, which would otherwise fall on the first timing.
    { CMosaic warm(g_dir + QStringLiteral("/20240715_1432_Bench_2.plf")); }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    QDir::setCurrent(QDir::tempPath());
    return 0;
}
