// The elevation a reader of the extracted raster sees against the scene's
// own terrain: tiles written by the simulator, a box cut out of them by the
// elevation extractor, heights interpolated at random positions. Any
// misregistration between tiles, extraction and interpolation shows as a
// systematic shift of the terrain.
#include "geodata/cbil.h"
#include "geodata/celevationdata.h"
#include "sim/demodata.h"
#include "sim/geodesy.h"
#include "sim/scene.h"
#include "common/testsupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>

using namespace sim;

namespace {

constexpr double kDeg = M_PI / 180.0;

// Writes the scene's tiles where the extractor looks for them.
void writeTilesForExtractor(const Scene &scene)
{
    QDir(QFileInfo(CElevationData::TileName(1)).path() + QStringLiteral("/..")).removeRecursively();
    QString error;
    ASSERT_TRUE(writeDemTiles(scene, CElevationData::BoundaryFilePath(),
                              [](int i) { return CElevationData::TileName(i); }, &error))
        << error.toStdString();
}

struct Fit {
    double eastCells = 0, northCells = 0;   // best-fitting shift of the terrain read
    double worstError = 0;                  // largest |read - truth| over local relief per cell
    int points = 0;
};

// Reads the raster at random positions of the box (inner part) and fits
// read(p) - truth(p) = grad(p) . s by least squares: s is the shift (in
// cells) by which the raster's terrain is displaced against the truth.
Fit measure(const Scene &scene, const CBil &raster, double west, double north, double east, double south)
{
    const double cell = scene.cellDeg();
    Rng rng(77);
    double a11 = 0, a12 = 0, a22 = 0, b1 = 0, b2 = 0;
    Fit fit;
    for (int k = 0; k < 3000; ++k) {
        const double lat = rng.uniform(south, north), lon = rng.uniform(west, east);
        double v = 0;
        if (!raster.Interpolate(lon, lat, 0, &v)) {
            ADD_FAILURE() << "no elevation at " << lat << ", " << lon;
            return fit;
        }
        const double truth = scene.elevation(lat, lon);
        // Slope per cell, east and north (central differences over a cell).
        const double gx = 0.5 * (scene.elevation(lat, lon + cell) - scene.elevation(lat, lon - cell));
        const double gy = 0.5 * (scene.elevation(lat + cell, lon) - scene.elevation(lat - cell, lon));
        const double d = v - truth;
        a11 += gx * gx;
        a12 += gx * gy;
        a22 += gy * gy;
        b1 += gx * d;
        b2 += gy * d;
        const double relief = std::max(std::hypot(gx, gy), 0.5);
        fit.worstError = std::max(fit.worstError, std::fabs(d) / relief);
        ++fit.points;
    }
    const double det = a11 * a22 - a12 * a12;
    // d = grad . s where the raster at p shows the truth at p + s; the
    // terrain therefore appears displaced by -s.
    fit.eastCells = -(a22 * b1 - a12 * b2) / det;
    fit.northCells = -(a11 * b2 - a12 * b1) / det;
    return fit;
}

} // namespace

TEST(DemTruth, ExtractedElevationReproducesTheSceneTerrain)
{
    // A scene on a tile corner: the box takes cells from four tiles.
    SceneParams p;
    p.seed = 11;
    p.centerLat = 45.0;
    p.centerLon = -121.0;
    p.regionDeg = 0.1;
    p.relief = 900.0;
    const Scene scene(p);
    ASSERT_EQ(scene.tiles().size(), 4u);
    writeTilesForExtractor(scene);

    const double west = -121.02, east = -120.985, north = 45.015, south = 44.98;
    CElevationData dem;
    const QString name = QDir::currentPath() + QStringLiteral("/truth_dem");
    ASSERT_TRUE(dem.ExtractArea(west, north, east, south, name));
    EXPECT_EQ(dem.TilesRead(), 4);
    CBil raster;
    ASSERT_TRUE(raster.Open(name));

    const Fit fit = measure(scene, raster, west, north, east, south);
    const double my = meridionalRadius(45.0) * kDeg * scene.cellDeg();
    const double mx = primeVerticalRadius(45.0) * std::cos(45.0 * kDeg) * kDeg * scene.cellDeg();
    RecordProperty("shift_east_m", QString::number(fit.eastCells * mx, 'f', 3).toStdString());
    RecordProperty("shift_north_m", QString::number(fit.northCells * my, 'f', 3).toStdString());
    EXPECT_LT(std::fabs(fit.eastCells), 0.1) << "terrain shifted east by " << fit.eastCells * mx << " m";
    EXPECT_LT(std::fabs(fit.northCells), 0.1) << "terrain shifted north by " << fit.northCells * my << " m";
    // Not merely unbiased: every read is the scene's own height.
    EXPECT_LT(fit.worstError, 0.02);
    EXPECT_EQ(fit.points, 3000);

    // The extracted cells are the tiles' cells: each output cell centre is
    // a cell centre of the scene, and holds that cell's stored height.
    const double cell = scene.cellDeg();
    const long gx0 = std::lround(raster.GetULXMap() / cell), gy0 = std::lround(raster.GetULYMap() / cell);
    EXPECT_NEAR(raster.GetULXMap(), gx0 * cell, 1e-9);
    EXPECT_NEAR(raster.GetULYMap(), gy0 * cell, 1e-9);
    int bad = 0;
    for (int r = 0; r < raster.GetNRows(); r += 7)
        for (int c = 0; c < raster.GetNCols(); c += 5) {
            double v = 0;
            ASSERT_TRUE(raster.GetValue(c, r, 0, &v));
            if (v != scene.cell(gx0 + c, gy0 - r) && ++bad < 5)
                ADD_FAILURE() << "cell " << c << "," << r << ": " << v << " vs " << scene.cell(gx0 + c, gy0 - r);
        }
    EXPECT_EQ(bad, 0);

    // An outside reader agrees on where the cells are: at a cell centre of
    // the raster it reports that cell's stored height.
    if (testsupport::haveTool(QStringLiteral("gdallocationinfo"))) {
        for (const auto &[c, r] : {std::pair{40, 31}, {133, 170}, {200, 9}}) {
            const double lon = (gx0 + c) * cell, lat = (gy0 - r) * cell;
            const auto res = testsupport::run(
                QStringLiteral("gdallocationinfo"),
                {QStringLiteral("-valonly"), QStringLiteral("-geoloc"), name + QStringLiteral(".bil"),
                 QString::number(lon, 'f', 12), QString::number(lat, 'f', 12)});
            ASSERT_EQ(res.exitCode, 0) << res.err.toStdString();
            EXPECT_EQ(res.out.trimmed().toInt(), scene.cell(gx0 + c, gy0 - r)) << c << "," << r;
            double v = 0;
            ASSERT_TRUE(raster.Interpolate(lon, lat, 0, &v));
            EXPECT_NEAR(v, scene.cell(gx0 + c, gy0 - r), 1e-3);
        }
    }
}
