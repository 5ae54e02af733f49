// Elevation extraction of a 1 x 1 degree box at one arc-second from four
// tiles, against reading the same number of bytes sequentially in the same
// run; and Interpolate calls per second on the extracted raster.
//
// Everything lives in a temporary folder: the working directory (boundary
// file, output), the "C:" folder (tiles) and the settings store.
#include "geodata/cbil.h"
#include "geodata/celevationdata.h"
#include "platform/paths.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr double kCell = 0.0002777777777777778;

struct Fixture {
    std::unique_ptr<QTemporaryDir> dir;
    QString output;
    qint64 outputBytes = 0;
    bool ok = false;
};

Fixture &fixture()
{
    static Fixture f;
    if (f.dir)
        return f;
    f.dir = std::make_unique<QTemporaryDir>();
    const QString root = f.dir->path();
    QDir().mkpath(root + "/work");
    QDir().mkpath(root + "/c");
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(root + "/c"));
    QDir::setCurrent(root + "/work");

    // Four 1-degree tiles around 46 N, 121 W.
    QFile boundaries(CElevationData::BoundaryFilePath());
    if (!boundaries.open(QIODevice::WriteOnly))
        return f;
    std::mt19937 rng(7);
    int index = 1;
    for (int ty = 0; ty < 2; ++ty)
        for (int tx = 0; tx < 2; ++tx, ++index) {
            const double left = -122.0 + tx, top = 47.0 - ty;
            // Laid out as real tiles: cell centres on whole arc-seconds,
            // from one whole-degree line to the next.
            CBil tile;
            tile.SetDimensions(3601, 3601, 1, Int16);
            tile.SetGeoReference(kCell, kCell, 0, 0, left, top, 0, 0.0, 1);
            if (!tile.Allocate())
                return f;
            for (qint64 i = 0; i < tile.GetTotalBytes(); ++i)
                tile.MutableData()[i] = uchar(rng());
            const QString name = CElevationData::TileName(index);
            QDir().mkpath(QFileInfo(name).path());
            if (!tile.Write(name))
                return f;
            boundaries.write(QByteArray::number(index) + "," + QByteArray::number(left) + ","
                             + QByteArray::number(top) + "," + QByteArray::number(left + 1) + ","
                             + QByteArray::number(top - 1) + "\n");
        }
    boundaries.close();
    f.output = root + "/work/extract";
    f.ok = true;
    return f;
}

} // namespace

static void BM_ExtractArea1Degree(benchmark::State &state)
{
    Fixture &f = fixture();
    if (!f.ok) {
        state.SkipWithError("fixture");
        return;
    }
    for (auto _ : state) {
        CElevationData e;
        if (!e.ExtractArea(-121.5, 46.5, -120.5, 45.5, f.output) || e.TilesRead() != 4) {
            state.SkipWithError("extract failed");
            return;
        }
    }
    f.outputBytes = QFileInfo(f.output + ".bil").size();
    state.SetBytesProcessed(state.iterations() * f.outputBytes);
}
BENCHMARK(BM_ExtractArea1Degree)->Unit(benchmark::kMillisecond)->Iterations(5);

// Reads as many bytes as the extraction writes, from one tile file.
static void BM_SequentialRead(benchmark::State &state)
{
    Fixture &f = fixture();
    if (!f.ok) {
        state.SkipWithError("fixture");
        return;
    }
    const qint64 bytes = 3751LL * 3751 * 2;   // the 1-degree output with its margin
    const QByteArray path = QFile::encodeName(CElevationData::TileName(1) + ".bil");
    std::vector<char> buf(1 << 20);
    for (auto _ : state) {
        std::FILE *in = std::fopen(path.constData(), "rb");
        qint64 left = bytes;
        while (in && left > 0) {
            size_t n = std::fread(buf.data(), 1, size_t(std::min<qint64>(left, qint64(buf.size()))), in);
            if (n == 0) {
                std::rewind(in);
                continue;
            }
            left -= qint64(n);
        }
        if (in)
            std::fclose(in);
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_SequentialRead)->Unit(benchmark::kMillisecond)->Iterations(5);

static void BM_Interpolate(benchmark::State &state)
{
    Fixture &f = fixture();
    CBil tile;
    if (!f.ok || !tile.Open(CElevationData::TileName(1))) {
        state.SkipWithError("fixture");
        return;
    }
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> lon(-121.9, -121.1), lat(46.1, 46.9);
    std::vector<std::pair<double, double>> points(4096);
    for (auto &p : points)
        p = {lon(rng), lat(rng)};
    size_t i = 0;
    double sum = 0;
    for (auto _ : state) {
        double v;
        tile.Interpolate(points[i].first, points[i].second, 0, &v);
        sum += v;
        i = (i + 1) & 4095;
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Interpolate);

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Tarn");
    QCoreApplication::setApplicationName("Cindrel64-bench");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture().dir.reset();
    return 0;
}
