// Writes the starting corpus of every fuzz target into OUT/<target>/,
// each seed made by the simulator: a recorded pass, its elevation tiles
// and boundary file, an ortho image over its scene, a plan of a box around
// its fires, and the simulated board's boot files.
//
//   fuzz_make_seeds OUT
#include "datasource/cdspdatabuffer.h"
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "dsp/simbootfiles.h"
#include "geodata/cbil.h"
#include "sim/demodata.h"
#include "sim/scene.h"
#include "stripchart/ctifffile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

bool save(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int fail(const QString &what)
{
    std::fprintf(stderr, "fuzz_make_seeds: %s\n", qPrintable(what));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2)
        return fail(QStringLiteral("usage: fuzz_make_seeds OUT"));
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir temp;
    const QString tmp = temp.path();

    sim::SceneParams params;
    params.regionDeg = 0.9;
    const sim::Scene scene(params);

    // Flight logs: a short pass, whole and cut; the range filter byte pairs
    // put the range nowhere, over the pass and before it.
    {
        auto curve = std::make_unique<ColdCurve>();
        curve->resetStartValues();
        CDspDataBuffer ring(curve.get());
        sim::FlightPlan plan;
        plan.passes = 1;
        std::vector<sim::PassParams> passes = sim::planPasses(scene, plan);
        passes[0].lineCount = 3;
        QString error;
        const QString log = tmp + QStringLiteral("/pass.plf");
        if (!sim::recordPass(scene, passes[0], log, ring, nullptr, &error))
            return fail(error);
        const QByteArray bytes = readAll(log);
        const char ranges[][2] = {{0, 0}, {char(250), 1}, {1, 0}};
        int k = 0;
        for (const auto &r : ranges)
            save(out + QStringLiteral("/log_reader/pass%1").arg(k++), QByteArray(r, 2) + bytes);
        save(out + QStringLiteral("/log_reader/cut"), QByteArray(2, '\0') + bytes.left(int(bytes.size() * 2 / 3)));
        // The same records in the version 3 layout (bytes 72..87 left out).
        QByteArray v3;
        for (int i = 0; i + 8560 <= bytes.size(); i += 8560)
            v3 += bytes.mid(i, 72) + bytes.mid(i + 88, 8560 - 88 - 16);
        save(out + QStringLiteral("/log_reader/v3"), QByteArray(2, '\0') + v3);
    }

    // Elevation tiles: the boundary file the simulator writes, over its
    // tiles; and one tile as a BIL trio (cut to a corner to stay small).
    {
        QString error;
        const QString boundary = tmp + QStringLiteral("/bounds.dat");
        if (!sim::writeDemTiles(scene, boundary, [&](int i) { return tmp + QStringLiteral("/tile%1").arg(i); }, &error))
            return fail(error);
        const QByteArray list = readAll(boundary);
        const char boxes[][3] = {{0, 0, 0}, {char(128), char(128), char(255)}, {char(255), char(255), 10}};
        int k = 0;
        for (const auto &b : boxes)
            save(out + QStringLiteral("/tile_extract/bounds%1").arg(k++), QByteArray(b, 3) + list);

        CBil tile;
        if (!tile.Open(tmp + QStringLiteral("/tile1")))
            return fail(QStringLiteral("cannot read the simulated tile"));
        for (int n : {4, 12}) {
            CBil part;
            part.SetDimensions(n, n, 1, Int16);
            part.SetGeoReference(tile.GetXDim(), tile.GetYDim(), 0, 0, tile.GetLeft(), tile.GetTop(), 1, 0.0, 1);
            part.SetByteOrder(tile.GetByteOrder());
            if (!part.Allocate())
                return fail(QStringLiteral("no memory"));
            tile.SetWindow(0, 0, n, n);
            tile.CopyWindowInto(part);
            const QString base = tmp + QStringLiteral("/part%1").arg(n);
            if (!part.Write(base))
                return fail(QStringLiteral("cannot write a tile part"));
            save(out + QStringLiteral("/bil_trio/tile%1").arg(n),
                 readAll(base + QStringLiteral(".hdr")) + "#BLW\n" + readAll(base + QStringLiteral(".blw")) + "#BIL\n"
                     + readAll(base + QStringLiteral(".bil")));
        }
    }

    // An ortho image over the scene: fire, cold and grey pixels in rows.
    {
        CUtmConverter utm;
        double n, e;
        std::int32_t zone;
        utm.LatLonToUtm(params.centerLat, params.centerLon, &n, &e, &zone, 3);
        const double cm = std::trunc(utm.ZoneCentralMeridianWest(zone));
        for (int rows : {3, 6}) {
            CTiffFile tif;
            const QString t = tmp + QStringLiteral("/o.tmp");
            if (!tif.Open(t))
                return fail(QStringLiteral("cannot write an ortho image"));
            tif.SetCentralMeridian(-cm);
            std::vector<uchar> row(1728);
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < 1728; ++c)
                    row[size_t(c)] = (c < 33 || c > 1632) ? 0 : uchar((c * 7 + r * 13) % 3 == 0 ? 255 : 60 + (c + r) % 150);
                tif.WriteRow(row.data(), 1728);
            }
            CBil grid;
            grid.SetDimensions(1728, rows, 1, Int8);
            grid.SetGeoReference(25.400309, 25.400309, 0, 0, e, n, 1, 0.0, 0);
            if (!tif.WriteTrailer(grid, rows) || !tif.Finalize(t, 0, 0, 0))
                return fail(QStringLiteral("cannot finish an ortho image"));
            save(out + QStringLiteral("/ortho_mosaic/ortho%1").arg(rows), readAll(tmp + QStringLiteral("/o.tif")));
        }
    }

    // Mission plans: boxes around the scene's fires.
    {
        QByteArray xml = "<?xml version=\"1.0\"?>\n<request-information>\n";
        int k = 0;
        for (const sim::Fire &f : scene.fires()) {
            if (k == 3)
                break;
            xml += QStringLiteral("  <request>\n    <name>Sim Fire #%1</name> <p-number>P%2</p-number>\n"
                                  "    <north>%3</north> <south>%4</south>\n    <east>%5</east> <west>%6</west>\n"
                                  "  </request>\n")
                       .arg(++k)
                       .arg(1000 + f.id)
                       .arg(f.lat + 0.05, 0, 'f', 4)
                       .arg(f.lat - 0.05, 0, 'f', 4)
                       .arg(f.lon + 0.05, 0, 'f', 4)
                       .arg(f.lon - 0.05, 0, 'f', 4)
                       .toUtf8();
        }
        xml += "</request-information>\n";
        save(out + QStringLiteral("/mission_plan/plan"), xml);
    }

    // Boot files of the simulated board (small FPGA image; each core's program).
    {
        save(out + QStringLiteral("/boot_files/rbf"), QByteArray(1, '\1') + simboot::makeRbf(512));
        for (std::uint32_t core = 0; core < 3; ++core) {
            simboot::ProgramOptions o;
            o.core = core;
            o.payloadWords = 16;
            o.ddrSegment = core == 1;
            save(out + QStringLiteral("/boot_files/c%1").arg(core), QByteArray(1, char(core * 2)) + simboot::makeProgram(o));
        }
    }
    return 0;
}
