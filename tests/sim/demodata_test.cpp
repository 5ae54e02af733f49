// The demo data set as other parts of the system and outside tools read it:
// elevation tiles through the raster class and GDAL, shift grids, map line
// shapefiles through ogrinfo, bitmaps, and recorded flight logs through the
// flight log reader.
#include "datasource/ccindreldsplog.h"
#include "datasource/cdspdatabuffer.h"
#include "datasource/coldcurve.h"
#include "geodata/cbil.h"
#include "sim/demodata.h"
#include "sim/geodesy.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"
#include "common/testsupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTextStream>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace sim;

namespace {
constexpr double kDeg = M_PI / 180.0;

SceneParams tinyScene()
{
    SceneParams p;
    p.seed = 5;
    p.centerLat = 44.55;
    p.centerLon = -121.45;
    p.regionDeg = 0.1;
    return p;
}

QString work(const QString &name) { return testsupport::workDir() + QLatin1Char('/') + name; }
} // namespace

TEST(DemoData, ElevationTilesReadBackCellForCell)
{
    const Scene scene(tinyScene());
    QString error;
    const QString boundary = work(QStringLiteral("dem/Cindrel_ElevationTileBoundaries.dat"));
    ASSERT_TRUE(writeDemTiles(scene, boundary,
                              [](int i) { return work(QStringLiteral("dem/cd%1/demimage").arg(i, 2, 10, QLatin1Char('0'))); },
                              &error))
        << error.toStdString();
    QFile list(boundary);
    ASSERT_TRUE(list.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QLatin1String("//")));
    EXPECT_EQ(lines[1], QStringLiteral("1,-122,45,-121,44"));

    CBil tile;
    ASSERT_TRUE(tile.Open(work(QStringLiteral("dem/cd01/demimage"))));
    // As real 1 degree tiles: cell centres on whole arc-seconds, from the
    // listed box's west and north lines to its east and south ones.
    EXPECT_EQ(tile.GetNCols(), 3601);
    EXPECT_EQ(tile.GetNRows(), 3601);
    EXPECT_EQ(tile.GetPixelType(), int(Int16));
    EXPECT_NEAR(tile.GetULXMap(), -122.0, 1e-9);
    EXPECT_NEAR(tile.GetULYMap(), 45.0, 1e-9);
    EXPECT_NEAR(tile.GetLeft(), -122.0 - 0.5 / 3600, 1e-9);
    EXPECT_NEAR(tile.GetTop(), 45.0 + 0.5 / 3600, 1e-9);
    Rng rng(1);
    for (int k = 0; k < 500; ++k) {
        const int c = int(rng.next() % 3601), r = int(rng.next() % 3601);
        double v = 0;
        ASSERT_TRUE(tile.GetValue(c, r, 0, &v));
        ASSERT_EQ(v, scene.cell(-122L * 3600 + c, 45L * 3600 - r)) << c << "," << r;
    }
    // The elevation the rays meet is the stored cells: at a cell centre exactly.
    double x, y, v;
    tile.PixelToGeo(1800.5, 900.5, &x, &y);
    EXPECT_NEAR(x, -121.5, 1e-9);
    EXPECT_NEAR(y, 44.75, 1e-9);
    ASSERT_TRUE(tile.GetValue(1800, 900, 0, &v));
    EXPECT_NEAR(scene.elevation(y, x), v, 1e-6);
    // Relief: hundreds of metres within the tile, never wrapping around 16 bits.
    double mn, mx, mean;
    tile.ComputeStatistics(&mn, &mx, &mean);
    EXPECT_GT(mx - mn, 300.0);
    EXPECT_GT(mn, 0.0);

    if (testsupport::haveTool(QStringLiteral("gdalinfo"))) {
        const auto r = testsupport::run(QStringLiteral("gdalinfo"), {QStringLiteral("-stats"), work(QStringLiteral("dem/cd01/demimage.bil"))});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QLatin1String("Driver: EHdr"))) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QLatin1String("Size is 3601, 3601")));
        EXPECT_TRUE(r.out.contains(QLatin1String("Type=Int16")));
        // GDAL's origin is the outer corner: half a cell west and north of
        // the whole-degree lines.
        const int at = r.out.indexOf(QLatin1String("Origin = ("));
        ASSERT_GE(at, 0) << r.out.toStdString();
        const QString origin = r.out.mid(at + 10, r.out.indexOf(QLatin1Char(')'), at) - at - 10);
        ASSERT_EQ(origin.split(QLatin1Char(',')).size(), 2) << origin.toStdString();
        EXPECT_NEAR(origin.split(QLatin1Char(','))[0].toDouble(), -122.0 - 0.5 / 3600, 1e-12);
        EXPECT_NEAR(origin.split(QLatin1Char(','))[1].toDouble(), 45.0 + 0.5 / 3600, 1e-12);
        EXPECT_TRUE(r.out.contains(QStringLiteral("Minimum=%1, Maximum=%2").arg(mn, 0, 'f', 3).arg(mx, 0, 'f', 3)))
            << r.out.toStdString();
        // At a whole arc-second GDAL reads the scene's cell there, on the
        // tile's corners too.
        for (const auto &[gx, gy] : {std::pair{-121L * 3600 - 1800, 44L * 3600 + 2700}, {-122L * 3600, 45L * 3600},
                                     {-121L * 3600, 44L * 3600}}) {
            const auto at = testsupport::run(QStringLiteral("gdallocationinfo"),
                                             {QStringLiteral("-valonly"), QStringLiteral("-geoloc"),
                                              work(QStringLiteral("dem/cd01/demimage.bil")),
                                              QString::number(gx / 3600.0, 'f', 10), QString::number(gy / 3600.0, 'f', 10)});
            ASSERT_EQ(at.exitCode, 0) << at.err.toStdString();
            EXPECT_EQ(at.out.trimmed().toInt(), scene.cell(gx, gy)) << gx << "," << gy;
        }
    }
}

TEST(DemoData, TwoArcSecondTilesNorthWestOfTheLimit)
{
    SceneParams p = tinyScene();
    p.centerLat = 60.55;
    p.centerLon = -150.45;
    const Scene alaska(p);
    EXPECT_EQ(alaska.cellsPerDegree(), 1800);
    ASSERT_EQ(alaska.tiles().size(), 1u);
    EXPECT_EQ(alaska.tiles()[0].lat0, 60);
    EXPECT_EQ(alaska.tiles()[0].lon0, -151);
    p.centerLat = 50.9;
    EXPECT_EQ(Scene(p).cellsPerDegree(), 3600);
    p.centerLat = 60.5;
    p.centerLon = -129.7;
    EXPECT_EQ(Scene(p).cellsPerDegree(), 3600);
}

TEST(DemoData, ShiftGridsAreFloatArcSecondsAtTheirNodes)
{
    QString error;
    ASSERT_TRUE(writeShiftGrids(testsupport::workDir(), &error)) << error.toStdString();
    CBil lat, lon;
    ASSERT_TRUE(lat.Open(work(QStringLiteral("AlaskaLatShift.bil"))));
    ASSERT_TRUE(lon.Open(work(QStringLiteral("AlaskaLonShift"))));
    EXPECT_EQ(lat.GetPixelType(), int(Float32));
    EXPECT_EQ(lon.GetNCols(), 209);
    EXPECT_EQ(lon.GetNRows(), 125);
    // Node (c, r) lies at (ulxmap + c xdim, ulymap - r ydim).
    EXPECT_DOUBLE_EQ(lat.GetULXMap(), -180.0);
    EXPECT_DOUBLE_EQ(lat.GetULYMap(), 77.0);
    double v, a, b;
    ASSERT_TRUE(lat.GetValue(80, 60, 0, &v));
    alaskaShiftAt(77.0 - 60 * 0.25, -180.0 + 80 * 0.25, a, b);
    EXPECT_NEAR(v, a, 1e-5);
    ASSERT_TRUE(lon.GetValue(80, 60, 0, &v));
    EXPECT_NEAR(v, b, 1e-5);
    // Plausible NAD27 shifts: a few arc-seconds, smooth from node to node.
    for (int r = 0; r + 1 < 125; r += 5)
        for (int c = 0; c + 1 < 209; c += 5) {
            double v0, v1;
            lon.GetValue(c, r, 0, &v0);
            lon.GetValue(c + 1, r, 0, &v1);
            EXPECT_GT(v0, 2.0);
            EXPECT_LT(v0, 10.0);
            EXPECT_LT(std::fabs(v1 - v0), 0.1);
        }
    if (testsupport::haveTool(QStringLiteral("gdalinfo"))) {
        const auto r = testsupport::run(QStringLiteral("gdalinfo"), {work(QStringLiteral("AlaskaLonShift.bil"))});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QLatin1String("Type=Float32")));
        EXPECT_TRUE(r.out.contains(QLatin1String("Origin = (-180.125000000000000,77.125000000000000)"))) << r.out.toStdString();
        const auto loc = testsupport::run(QStringLiteral("gdallocationinfo"),
                                          {QStringLiteral("-valonly"), work(QStringLiteral("AlaskaLonShift.bil")),
                                           QStringLiteral("80"), QStringLiteral("60")});
        if (loc.exitCode == 0) {
            EXPECT_NEAR(loc.out.trimmed().toDouble(), b, 1e-5) << loc.out.toStdString();
        }
    }
}

TEST(DemoData, MapLinesAreShapefilesInDegreesOverTheScene)
{
    const Scene scene(tinyScene());
    QString error;
    ASSERT_TRUE(writeGeoData(scene, testsupport::workDir(), &error)) << error.toStdString();
    for (const char *name : {"highways", "interst", "hydrolin"}) {
        for (const char *ext : {".shp", ".shx", ".dbf", ".prj"})
            EXPECT_TRUE(QFile::exists(work(QStringLiteral("GeoData/%1%2").arg(QLatin1String(name), QLatin1String(ext)))));
        if (!testsupport::haveTool(QStringLiteral("ogrinfo")))
            continue;
        const auto r = testsupport::run(QStringLiteral("ogrinfo"),
                                        {QStringLiteral("-so"), QStringLiteral("-ro"),
                                         work(QStringLiteral("GeoData/%1.shp").arg(QLatin1String(name))), QLatin1String(name)});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QLatin1String("Geometry: Line String"))) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QLatin1String("WGS")) && r.out.contains(QLatin1String("1984"))) << r.out.toStdString();
        // Extent: (xmin, ymin) - (xmax, ymax) inside the scene region.
        const int at = r.out.indexOf(QLatin1String("Extent: ("));
        ASSERT_GE(at, 0);
        const QString ext = r.out.mid(at + 9, r.out.indexOf(QLatin1Char('\n'), at) - at - 9);
        const QStringList nums = QString(ext).remove(QLatin1Char('(')).remove(QLatin1Char(')')).replace(QLatin1String(" - "), QLatin1String(",")).split(QLatin1Char(','));
        ASSERT_EQ(nums.size(), 4) << ext.toStdString();
        EXPECT_GE(nums[0].trimmed().toDouble(), -121.5 - 1e-6);
        EXPECT_LE(nums[2].trimmed().toDouble(), -121.4 + 1e-6);
        EXPECT_GE(nums[1].trimmed().toDouble(), 44.5 - 1e-6);
        EXPECT_LE(nums[3].trimmed().toDouble(), 44.6 + 1e-6);
    }
}

TEST(DemoData, BitmapsHaveTheirNamesAndSizes)
{
    QString error;
    ASSERT_TRUE(writeButtons(testsupport::workDir(), &error)) << error.toStdString();
    ASSERT_TRUE(writeLogos(testsupport::workDir(), &error)) << error.toStdString();
    QImage prev;
    for (const char *name : {"Play", "Stop", "RunP", "StopP", "Ftp"}) {
        QImage img(work(QStringLiteral("buttons/%1.bmp").arg(QLatin1String(name))));
        ASSERT_FALSE(img.isNull()) << name;
        EXPECT_EQ(img.size(), QSize(64, 64));
        EXPECT_NE(img, prev) << name;   // five different pictures
        prev = img;
    }
    for (const char *name : {"NewOrvekLogoJetGray.bmp", "CindrelTransparentLogoGrayDark.bmp"}) {
        QImage img(work(QLatin1String(name)));
        ASSERT_FALSE(img.isNull()) << name;
        EXPECT_TRUE(img.isGrayscale()) << name;
        EXPECT_LT(img.width(), 600);
        EXPECT_GT(img.height(), 50);
    }
}

TEST(DemoData, RecordedPassReadsBackWithFiresWhereTheyAre)
{
    SceneParams sp = tinyScene();
    sp.fireCount = 0;
    sp.smokeCount = 0;
    Scene scene(sp);
    PassParams pass;
    pass.startLat = 44.545;
    pass.startLon = -121.45;
    pass.lineCount = 300;
    pass.agl = 900.0;
    pass.headingDeg = 95.0;
    LineGenerator probe(scene, pass);
    double lat, lon;
    probe.nominalPosition(probe.timeOfLine(200), lat, lon);
    // A strong fire under line 200 and a moderate one 250 m to its right.
    const double trk = probe.trackDeg() * kDeg;
    const double mLat = meridionalRadius(lat) * kDeg, mLon = primeVerticalRadius(lat) * std::cos(lat * kDeg) * kDeg;
    scene.setFires({Fire{1, lat, lon, 6.0, 0.9},
                    Fire{2, lat - 250.0 * std::sin(trk) / mLat, lon + 250.0 * std::cos(trk) / mLon, 8.0, 0.5}});

    ColdCurve curve;
    curve.resetStartValues();
    auto ring = std::make_unique<CDspDataBuffer>(&curve);
    ring->SetFireDetectParams(true, 30000, 1000, 0, 0, 0);
    PassRecord rec;
    QString error;
    const QString path = work(QStringLiteral("logs/20240715_1432_Fire12_1.plf"));
    ASSERT_TRUE(recordPass(scene, pass, path, *ring, &rec, &error)) << error.toStdString();
    EXPECT_EQ(rec.lines, 300);
    EXPECT_EQ(QFileInfo(path).size(), 300 * 8560);

    // Read it back as a replay does and compare with the traced ground points.
    CCindrelDspLog log(&curve);
    log.OnFileOpen(path);
    ASSERT_EQ(log.GetFileVersion(), 1);
    LineGenerator gen(scene, pass);
    auto expect = std::make_unique<ScanLineRec>();
    auto got = std::make_unique<ScanLineRec>();
    int lines = 0, hits[3] = {0, 0, 0}, rim = 0, stray = 0;
    do {
        if (log.GetNumNewImageLines() == 0)
            break;
        log.GetPriorImageLine(0, got.get());
        ASSERT_TRUE(gen.next(*expect));
        ASSERT_EQ(got->lineIndex, expect->lineIndex);
        ASSERT_EQ(std::memcmp(got->chanA, expect->chanA, sizeof got->chanA), 0);
        for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
            if (got->pix[i] != FIRE_PIXEL)
                continue;
            const GroundPoint &gp = gen.groundPoints()[size_t(SAMPLES_PER_LINE - 1 - i)];
            // Inside a fire, or a footprint (about 1 m) reaching over its rim
            // (the fire counts as the square of the same area).
            int which = 0;
            bool nearRim = false;
            for (const Fire &f : scene.fires()) {
                const double d = localDistance(f.lat, f.lon, gp.lat, gp.lon);
                if (d <= f.radiusM)
                    which = f.id;
                else if (d < 1.3 * f.radiusM + 1.5)
                    nearRim = true;
            }
            if (which)
                ++hits[which];
            else if (nearRim)
                ++rim;
            else
                ++stray;
        }
        ++lines;
    } while (!log.DoNextFwdCycle(0, false, false));
    EXPECT_EQ(lines, 300);
    EXPECT_GT(hits[1], 10);
    EXPECT_GT(hits[2], 10);
    EXPECT_EQ(stray, 0);
    EXPECT_EQ(rec.firePixels, hits[1] + hits[2] + rim);
    // The pass's sightings: both fires, with the samples that saw them.
    ASSERT_EQ(rec.sightings.size(), 2u);
    EXPECT_EQ(rec.sightings[0].fireId, 1);
    EXPECT_EQ(rec.sightings[0].markedPixels, hits[1]);
    EXPECT_EQ(rec.sightings[1].markedPixels, hits[2]);
    EXPECT_GE(rec.sightings[1].samples, rec.sightings[1].markedPixels);
    // A 6 m fire under 0.9 km: seen on a few lines around line 200 (the
    // pitch moves the look a few metres along the track).
    const double interval = expect->vhInterval;
    const double mid = (rec.sightings[0].firstLineIndex + rec.sightings[0].lastLineIndex) / 2.0;
    EXPECT_NEAR(mid, 1000 + 200 * interval, 10 * interval);
    EXPECT_LT(rec.sightings[0].lastLineIndex - rec.sightings[0].firstLineIndex, 20 * interval);
}
