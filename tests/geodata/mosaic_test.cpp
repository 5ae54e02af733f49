// Mission mosaic built from palette ortho images written by the ortho
// product writer itself, checked on the picture, on the heat point
// shapefile (with ogrinfo when present) and against damaged inputs.
#include "geodata/cmosaic.h"
#include "common/testsupport.h"
#include "datasource/cutmconverter.h"
#include "geodata/cbil.h"
#include "stripchart/ctifffile.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QPointF>
#include <QProcess>
#include <QFile>
#include <QImage>
#include <QSettings>

#include <shapefil.h>

#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr double kCell = 25.400309;
constexpr double kE0 = 480000.0;   // left edge of the image's columns (model)
constexpr double kN0 = 4500000.0;  // bottom edge

// Writes "<dir>/<name>.tif" as the ortho writer does: rows top-down given by
// pixel(column, row) over a rows x 1728 palette image, centred on meridian
// cm, its lower-left image corner at (e0, n0).
QString writeOrtho(const QString &dir, const QString &name, int rows,
                   const std::function<uchar(int, int)> &pixel, double cm = -117.0, double e0 = kE0,
                   double n0 = kN0)
{
    QDir().mkpath(dir);
    CTiffFile tif;
    const QString tmp = dir + QLatin1Char('/') + name + QStringLiteral(".tmp");
    EXPECT_TRUE(tif.Open(tmp));
    tif.SetCentralMeridian(cm);
    std::vector<uchar> row(1728);
    for (int r = rows - 1; r >= 0; --r) {   // bottom row first
        for (int c = 0; c < 1728; ++c)
            row[c] = pixel(c, r);
        tif.WriteRow(row.data(), 1728);
    }
    CBil grid;
    grid.SetDimensions(1728, rows, 1, Int8);
    // Rows count northward from the bottom edge; the writer puts the left
    // margin's outer edge at column -33.5.
    grid.SetGeoReference(kCell, kCell, 0, 0, e0 + 33.5 * kCell, n0 + 0.5 * kCell, 1, 0.0, 0);
    EXPECT_TRUE(tif.WriteTrailer(grid, rows));
    // A stamp whose count bytes are 255, as a fire pixel would be: the
    // mosaic must not take the stamp for image data.
    EXPECT_TRUE(tif.Finalize(tmp, 0, 0, 0xFFFFFFFFu));
    return dir + QLatin1Char('/') + name + QStringLiteral(".tif");
}

// A block pattern: data columns 33..1632 hold 'value' except the rectangle
// [c0,c1) x [r0,r1), which holds 'inner'.
std::function<uchar(int, int)> block(uchar value, uchar inner, int c0, int c1, int r0, int r1)
{
    return [=](int c, int r) -> uchar {
        if (c < 33 || c > 1632)
            return 0;
        return (c >= c0 && c < c1 && r >= r0 && r < r1) ? inner : value;
    };
}

// Mean colour of a small square (JPEG is lossy).
QColor meanAt(const QImage &img, int x, int y)
{
    int r = 0, g = 0, b = 0, n = 0;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            const QColor c = img.pixelColor(x + dx, y + dy);
            r += c.red();
            g += c.green();
            b += c.blue();
            ++n;
        }
    return QColor(r / n, g / n, b / n);
}

void expectNear(const QColor &c, int r, int g, int b, int tol = 8)
{
    EXPECT_NEAR(c.red(), r, tol);
    EXPECT_NEAR(c.green(), g, tol);
    EXPECT_NEAR(c.blue(), b, tol);
}

struct HeatRecords {
    int shapes = -1;
    QStringList passes;
};

HeatRecords readHeat(const QString &base)
{
    HeatRecords h;
    SHPHandle shp = SHPOpen(QFile::encodeName(base).constData(), "rb");
    DBFHandle dbf = DBFOpen(QFile::encodeName(base + QStringLiteral(".dbf")).constData(), "rb");
    if (shp && dbf) {
        int type = 0;
        SHPGetInfo(shp, &h.shapes, &type, nullptr, nullptr);
        EXPECT_EQ(type, SHPT_POINT);
        for (int i = 0; i < DBFGetRecordCount(dbf); ++i)
            h.passes << QString::fromLatin1(DBFReadStringAttribute(dbf, i, 0));
    }
    if (shp)
        SHPClose(shp);
    if (dbf)
        DBFClose(dbf);
    return h;
}

QString folder(const QString &n) { return QDir::currentPath() + QLatin1Char('/') + n; }

} // namespace

TEST(Mosaic, NamesFollowTheMissionAndPass)
{
    EXPECT_EQ(CMosaic::MissionBaseName(QStringLiteral("/a/Fire1_3.plf")), QStringLiteral("Fire1"));
    EXPECT_EQ(CMosaic::MissionBaseName(QStringLiteral("/a/Fire1_3_ORTHO.tif")), QStringLiteral("Fire1"));
    EXPECT_EQ(CMosaic::MissionBaseName(QStringLiteral("Big_Fire_12.plf")), QStringLiteral("Big_Fire"));
    EXPECT_EQ(CMosaic::PassName(QStringLiteral("/a/Fire1_3_ortho.tif")), QStringLiteral("3"));
    EXPECT_EQ(CMosaic::PassName(QStringLiteral("Big_Fire_12_ortho.tif")), QStringLiteral("12"));
}

TEST(Mosaic, OnePassGreysFireAndHeatPoints)
{
    const QString dir = folder(QStringLiteral("one"));
    const int rows = 120;
    // Background 128, a 100-byte block, a 0 block, a 254 block and a fire block.
    writeOrtho(dir, QStringLiteral("M_7_ortho"), rows, [](int c, int r) -> uchar {
        if (c < 33 || c > 1632)
            return 0;
        if (r >= 10 && r < 40 && c >= 200 && c < 260)
            return 100;
        if (r >= 10 && r < 40 && c >= 400 && c < 460)
            return 0;
        if (r >= 10 && r < 40 && c >= 600 && c < 660)
            return 254;
        if (r >= 60 && r < 63 && c >= 800 && c < 804)
            return 255;   // 12 fire pixels
        return 128;
    });
    // Another mission's pass in the same folder is not part of it.
    writeOrtho(dir, QStringLiteral("Other_1_ortho"), 20, block(10, 10, 0, 0, 0, 0));
    {
        CMosaic mosaic(dir + QStringLiteral("/M_7.plf"));
        EXPECT_TRUE(mosaic.Saved()) << mosaic.Error().toStdString();
        EXPECT_EQ(mosaic.Inputs().size(), 1);
        EXPECT_EQ(mosaic.HeatPointCount(), 12);
    }
    QImage img(dir + QStringLiteral("/M_mosaic.jpg"));
    ASSERT_FALSE(img.isNull());
    // The extent is the pass's data columns 32..1632 and its rows.
    EXPECT_NEAR(img.width(), 1602, 1);
    EXPECT_NEAR(img.height(), rows + 2, 1);
    // File column c lands on picture column c - 31, file row r on row r + 2.
    expectNear(meanAt(img, 230 - 31, 25 + 2), 192, 192, 192);
    expectNear(meanAt(img, 430 - 31, 25 + 2), 255, 255, 255);
    expectNear(meanAt(img, 630 - 31, 25 + 2), 1, 1, 1);
    expectNear(meanAt(img, 1000, 90), 164, 164, 164);
    const QColor fire = img.pixelColor(801 - 31, 61 + 2);
    EXPECT_GT(fire.red(), 180);
    EXPECT_LT(fire.green(), 90);

    const HeatRecords heat = readHeat(dir + QStringLiteral("/M_RawHeatData"));
    EXPECT_EQ(heat.shapes, 12);
    ASSERT_EQ(heat.passes.size(), 12);
    EXPECT_EQ(heat.passes.count(QStringLiteral("7")), 12);

    if (testsupport::haveTool(QStringLiteral("ogrinfo"))) {
        const auto r = testsupport::run(QStringLiteral("ogrinfo"),
                                        {QStringLiteral("-al"), QStringLiteral("-so"),
                                         dir + QStringLiteral("/M_RawHeatData.shp")});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Geometry: Point"))) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Feature Count: 12"))) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Pass: String (3.0)"))) << r.out.toStdString();
        // The points lie near 117 W, 40.6 N (longitude is x), on NAD83 as
        // the ortho image states.
        EXPECT_TRUE(r.out.contains(QStringLiteral("Extent: (-11"))) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("NAD83"))) << r.out.toStdString();
    }
    // Each heat point at its pixel's centre: their mean is the centre of the
    // fire block (columns 800-803, rows 60-62) as GDAL reads the ortho image,
    // and the mosaic picture (world file, coordinate system) puts its fire
    // pixel there too.
    if (testsupport::haveTool(QStringLiteral("gdaltransform"))) {
        double lat = 0, lon = 0;
        SHPHandle shp = SHPOpen(QFile::encodeName(dir + QStringLiteral("/M_RawHeatData")).constData(), "rb");
        ASSERT_TRUE(shp);
        for (int i = 0; i < 12; ++i) {
            SHPObject *o = SHPReadObject(shp, i);
            lon += o->padfX[0] / 12;
            lat += o->padfY[0] / 12;
            SHPDestroyObject(o);
        }
        SHPClose(shp);
        auto where = [](const QString &image, double x, double y) {
            QProcess p;
            p.start(QStringLiteral("gdaltransform"), {QStringLiteral("-t_srs"), QStringLiteral("EPSG:4269"), image});
            p.waitForStarted();
            p.write(QByteArray::number(x) + ' ' + QByteArray::number(y) + '\n');
            p.closeWriteChannel();
            p.waitForFinished();
            const QList<QByteArray> f = p.readAllStandardOutput().simplified().split(' ');
            return f.size() >= 2 ? QPointF(f[0].toDouble(), f[1].toDouble()) : QPointF();
        };
        const QPointF centre = where(dir + QStringLiteral("/M_7_ortho.tif"), 802.0, 61.5);
        EXPECT_NEAR(lon, centre.x(), 1e-7);
        EXPECT_NEAR(lat, centre.y(), 1e-7);
        const QPointF picture = where(dir + QStringLiteral("/M_mosaic.jpg"), 801 - 31 + 0.5, 61 + 2 + 0.5);
        EXPECT_NEAR((picture.x() - centre.x()) * 85000.0, 0.0, 1.5 * kCell);
        EXPECT_NEAR((picture.y() - centre.y()) * 111000.0, 0.0, 1.5 * kCell);
        const QString info = testsupport::run(QStringLiteral("gdalinfo"), {dir + QStringLiteral("/M_mosaic.jpg")}).out;
        EXPECT_TRUE(info.contains(QStringLiteral("Transverse Mercator")) && info.contains(QStringLiteral("NAD83")))
            << info.toStdString();
    }
}

TEST(Mosaic, PicturesNorthUpAndRebuildsHeatFilesEachTime)
{
    const QString dir = folder(QStringLiteral("north"));
    // Fire only in the file's top rows (north edge of the pass).
    writeOrtho(dir, QStringLiteral("N_1_ortho"), 200, block(50, 255, 500, 540, 5, 25));
    const QString heat = dir + QStringLiteral("/N_RawHeatData");
    { CMosaic m(dir + QStringLiteral("/N_1.plf")); EXPECT_EQ(m.HeatPointCount(), 800); }
    { CMosaic m(dir + QStringLiteral("/N_1.plf")); EXPECT_EQ(m.HeatPointCount(), 800); }
    EXPECT_EQ(readHeat(heat).shapes, 800);   // not appended to the earlier build
    QImage img(dir + QStringLiteral("/N_mosaic.jpg"));
    ASSERT_FALSE(img.isNull());
    EXPECT_GT(meanAt(img, 520 - 31, 17).red(), 200);
    EXPECT_LT(meanAt(img, 520 - 31, 17).green(), 80);
    EXPECT_LT(meanAt(img, 520 - 31, img.height() - 17).red(), 240);   // south: grey only

    // The fire points lie north of the pass's middle.
    CUtmConverter utm;
    utm.SetCentralMeridian(117);
    double midLat, midLon;
    utm.UtmToLatLon(kN0 + 100 * kCell, 500000.0, 0, &midLat, &midLon, 3);
    SHPHandle shp = SHPOpen(QFile::encodeName(heat).constData(), "rb");
    ASSERT_TRUE(shp);
    SHPObject *p = SHPReadObject(shp, 0);
    ASSERT_TRUE(p);
    EXPECT_GT(p->padfY[0], midLat);
    EXPECT_LT(p->padfX[0], -116.0);
    EXPECT_GT(p->padfX[0], -118.0);
    SHPDestroyObject(p);
    SHPClose(shp);
}

TEST(Mosaic, OverlappingPassesAverageGreyAndKeepFire)
{
    const QString dir = folder(QStringLiteral("two"));
    QSettings().setValue(QStringLiteral("LastUsed/MosaicGamma"), 1.0);
    // Same area: pass 1 all 0 (white) with a fire block, pass 2 all 200 with
    // a fire block elsewhere.
    // Pass 1 is 0 between data bytes at both ends of every row.
    const auto first = block(0, 255, 300, 340, 30, 60);
    writeOrtho(dir, QStringLiteral("T_1_ortho"), 100,
               [&](int c, int r) -> uchar { return (c == 33 || c == 1632) ? 1 : first(c, r); });
    writeOrtho(dir, QStringLiteral("T_2_ortho"), 100, block(200, 255, 900, 940, 30, 60));
    {
        CMosaic m(dir + QStringLiteral("/T_2.plf"));
        ASSERT_TRUE(m.Saved()) << m.Error().toStdString();
        EXPECT_EQ(m.HeatPointCount(), 2 * 40 * 30);
    }
    QSettings().remove(QStringLiteral("LastUsed/MosaicGamma"));
    QImage img(dir + QStringLiteral("/T_mosaic.jpg"));
    ASSERT_FALSE(img.isNull());
    EXPECT_NEAR(img.height(), 102, 1);
    // The first pass painted 0 as white (255): its red marks the pixel as
    // final, so the second pass leaves it.
    expectNear(meanAt(img, 600, 70), 255, 255, 255);
    // Both fires are red: the second pass's fire shows over the first's white.
    EXPECT_GT(meanAt(img, 320 - 31, 47).red(), 200);
    EXPECT_LT(meanAt(img, 320 - 31, 47).green(), 60);
    EXPECT_GT(meanAt(img, 920 - 31, 47).red(), 200);
    EXPECT_LT(meanAt(img, 920 - 31, 47).green(), 60);
    const HeatRecords h = readHeat(dir + QStringLiteral("/T_RawHeatData"));
    EXPECT_EQ(h.passes.count(QStringLiteral("1")), 1200);
    EXPECT_EQ(h.passes.count(QStringLiteral("2")), 1200);
}

TEST(Mosaic, SecondPassGreyIsMeanWithTheFirst)
{
    const QString dir = folder(QStringLiteral("mean"));
    QSettings().setValue(QStringLiteral("LastUsed/MosaicGamma"), 1.0);
    writeOrtho(dir, QStringLiteral("G_1_ortho"), 60, block(55, 55, 0, 0, 0, 0));    // grey 200
    writeOrtho(dir, QStringLiteral("G_2_ortho"), 60, block(155, 155, 0, 0, 0, 0));  // grey 100
    { CMosaic m(dir + QStringLiteral("/G_1_ortho.tif")); EXPECT_TRUE(m.Saved()); }
    QSettings().remove(QStringLiteral("LastUsed/MosaicGamma"));
    QImage img(dir + QStringLiteral("/G_mosaic.jpg"));
    ASSERT_FALSE(img.isNull());
    expectNear(meanAt(img, 800, 30), 150, 150, 150, 4);
}

TEST(Mosaic, PassesOnAnotherMeridianAreReprojected)
{
    const QString dir = folder(QStringLiteral("meridian"));
    // Pass 1 on 117 W; pass 2 covers the same ground, described on 118 W.
    writeOrtho(dir, QStringLiteral("R_1_ortho"), 80, block(128, 128, 0, 0, 0, 0));
    CUtmConverter a, b;
    a.SetCentralMeridian(117);
    b.SetCentralMeridian(118);
    double lat, lon, n, e;
    std::int32_t zone;
    a.UtmToLatLon(kN0, kE0, 0, &lat, &lon, 2);
    b.LatLonToUtm(lat, lon, &n, &e, &zone, 2);
    writeOrtho(dir, QStringLiteral("R_2_ortho"), 80, block(128, 255, 700, 760, 20, 50), -118.0, e, n);
    {
        CMosaic m(dir + QStringLiteral("/R_2.plf"));
        ASSERT_TRUE(m.Saved()) << m.Error().toStdString();
    }
    QImage img(dir + QStringLiteral("/R_mosaic.jpg"));
    ASSERT_FALSE(img.isNull());
    // Re-projected onto 117 W the two passes nearly coincide (grid
    // convergence turns the second a little), so the extent stays close to
    // one pass's size.
    EXPECT_LT(img.width(), 1602 + 80);
    EXPECT_LT(img.height(), 82 + 80);
    const HeatRecords h = readHeat(dir + QStringLiteral("/R_RawHeatData"));
    EXPECT_EQ(h.passes.size(), 60 * 30);
}

TEST(Mosaic, DamagedOrMissingInputsNeverCrashOrReportSuccess)
{
    const QString dir = folder(QStringLiteral("bad"));
    QDir().mkpath(dir);
    auto put = [&](const QString &name, const QByteArray &bytes) {
        QFile f(dir + QLatin1Char('/') + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    // No input at all: the heat files are still recreated, empty.
    put(QStringLiteral("B_RawHeatData.shp"), QByteArray("stale"));
    {
        CMosaic m(dir + QStringLiteral("/B_1.plf"));
        EXPECT_FALSE(m.Saved());
        EXPECT_FALSE(m.Error().isEmpty());
    }
    EXPECT_EQ(readHeat(dir + QStringLiteral("/B_RawHeatData")).shapes, 0);
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/B_mosaic.jpg")));

    // Wrong byte order, IFD past the end, tag offsets past the end, a huge
    // row count over a few rows, a file cut inside its header.
    put(QStringLiteral("B_1_ortho.tif"), QByteArray("MM\0\x2a\0\0\0\x08", 8) + QByteArray(1728, 'x'));
    put(QStringLiteral("B_2_ortho.tif"), QByteArray("II\x2a\0\xff\xff\xff\x7f", 8) + QByteArray(100, 'x'));
    QByteArray tags("II\x2a\0\x08\0\0\0", 8);
    tags += QByteArray("\x02\0", 2);
    tags += QByteArray("\x01\x01\x04\0\x01\0\0\0\xff\xff\xff\xff", 12);   // 257: 4G rows
    tags += QByteArray("\xd8\x85\x0c\0\x10\0\0\0\xf0\xff\xff\xff", 12);   // 34264 far away
    put(QStringLiteral("B_3_ortho.tif"), tags);
    put(QStringLiteral("B_4_ortho.tif"), QByteArray("II", 2));
    {
        CMosaic m(dir + QStringLiteral("/B_1.plf"));
        EXPECT_EQ(m.Inputs().size(), 4);
        EXPECT_FALSE(m.Saved());
    }
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/B_mosaic.jpg")));

    // A real pass cut short: its row count says more than the file holds.
    const QString good = writeOrtho(dir, QStringLiteral("B_5_ortho"), 50, block(128, 255, 100, 110, 0, 50));
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray all = f.readAll();
    const quint32 ifd = quint32(uchar(all[4])) | quint32(uchar(all[5])) << 8 | quint32(uchar(all[6])) << 16
        | quint32(uchar(all[7])) << 24;
    // Patch ImageLength to a million rows.
    const int n = uchar(all[ifd]) | uchar(all[ifd + 1]) << 8;
    for (int i = 0; i < n; ++i) {
        const int at = ifd + 2 + 12 * i;
        if (uchar(all[at]) == 0x01 && uchar(all[at + 1]) == 0x01) {
            const quint32 big = 1000000;
            std::memcpy(all.data() + at + 8, &big, 4);
        }
    }
    f.seek(0);
    f.write(all);
    f.close();
    {
        CMosaic m(dir + QStringLiteral("/B_5.plf"));
        // The huge extent cannot be pictured; nothing is claimed.
        EXPECT_FALSE(m.Saved());
        EXPECT_FALSE(m.Error().isEmpty());
    }

    // Finite but absurd model transforms (a few rows of a damaged header):
    // no meridian is made up from them, no picture claimed.
    for (double scale : {1e300, 1e12, -1e9}) {
        SCOPED_TRACE(scale);
        QByteArray t("II\x2a\0\x08\0\0\0\x01\0", 10);
        t += QByteArray("\xd8\x85\x0c\0\x10\0\0\0\x1a\0\0\0", 12);   // 34264 at 26
        t += QByteArray(4, '\0');
        const double m[16] = {scale, 0, 0, scale, 0, -scale, 0, -scale, 0, 0, 0, 0, 0, 0, 0, 1};
        t += QByteArray(reinterpret_cast<const char *>(m), sizeof m);
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        put(QStringLiteral("C_1_ortho.tif"), t + QByteArray(3 * 1728, '\x80'));
        CMosaic c(dir + QStringLiteral("/C_1.plf"));
        EXPECT_FALSE(c.Saved());
        EXPECT_FALSE(c.Error().isEmpty());
    }
}

TEST(Mosaic, MapLinesMarkTheirVerticesOnly)
{
    const QString dir = folder(QStringLiteral("lines"));
    writeOrtho(dir, QStringLiteral("L_1_ortho"), 200, block(128, 128, 0, 0, 0, 0));
    // A highway with two vertices inside the pass and a river far outside.
    CUtmConverter utm;
    utm.SetCentralMeridian(117);
    double lat1, lon1, lat2, lon2;
    utm.UtmToLatLon(kN0 + 100 * kCell, kE0 + 400 * kCell, 0, &lat1, &lon1, 3);
    utm.UtmToLatLon(kN0 + 100 * kCell, kE0 + 1200 * kCell, 0, &lat2, &lon2, 3);
    QDir().mkpath(QStringLiteral("GeoData"));
    auto line = [](const char *name, double x1, double y1, double x2, double y2) {
        SHPHandle s = SHPCreate((QByteArray("GeoData/") + name).constData(), SHPT_ARC);
        ASSERT_TRUE(s);
        double x[2] = {x1, x2}, y[2] = {y1, y2};
        SHPObject *o = SHPCreateSimpleObject(SHPT_ARC, 2, x, y, nullptr);
        SHPWriteObject(s, -1, o);
        SHPDestroyObject(o);
        SHPClose(s);
    };
    line("highways", lon1, lat1, lon2, lat2);
    line("hydrolin", -100.0, 30.0, -99.0, 31.0);
    {
        CMosaic m(dir + QStringLiteral("/L_1.plf"));
        ASSERT_TRUE(m.Saved());
    }
    QImage img(dir + QStringLiteral("/L_mosaic.jpg"));
    ASSERT_FALSE(img.isNull());
    // Vertex pixel: column 400 of the data from the left edge, row 100 from
    // the bottom.
    const int x = 400 - 32 + 0, y = img.height() - 1 - 100 - 0;
    int greenish = 0;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            const QColor c = img.pixelColor(x + dx, y + dy);
            if (c.green() > c.red() + 40)
                ++greenish;
        }
    EXPECT_GE(greenish, 3);
    // Midway between the vertices nothing is drawn.
    const QColor mid = meanAt(img, 800 - 32, y);
    EXPECT_NEAR(mid.green(), mid.red(), 10);
    QDir(QStringLiteral("GeoData")).removeRecursively();
}

// Each heat point record holds its fields as the library's own attribute
// writers put them (numbers right-aligned and rounded as printf rounds,
// over-long values cut), with the scan time's date and time as the
// calendar gives them.
TEST(Mosaic, HeatRecordsHoldTheFieldsAsTheLibraryWritesThem)
{
    const QString dir = folder(QStringLiteral("records"));
    writeOrtho(dir, QStringLiteral("H_1_ortho"), 20, block(128, 128, 0, 0, 0, 0));
    firepoints::RunRecord run;
    run.log = QStringLiteral("H_1.plf");
    run.pass = QStringLiteral("1");
    run.cellM = 3.005;
    run.platform = QStringLiteral("N%1 très long tail number text").arg(QChar(0x2708));
    run.version = QStringLiteral("1.0");
    const struct {
        double lat, lon;
        qint64 timeMs;
        std::int64_t line;
        int sample, a, b;
    } points[] = {
        {44.123456785, -121.000000015, 1721053920000, 0, 0, 0, 0},          // halves at the 8th decimal
        {-0.000000004, 179.99999999, 951782399999, -1, -1, -5, 65535},      // 2000-02-28 23:59:59.999
        {89.5, -180.0, 0, 123456789012, 1679, 123456789, -1234567},          // unknown time, values too wide
        {44.5, -121.5, 4102444800000, 7, 12345, 2500, 3500},                 // 2100-01-01
        {44.5, -121.5, 253402300800000, 8, 1, 2, 3},                         // year 10000
    };
    for (const auto &p : points) {
        firepoints::FirePixel px;
        px.lat = px.wgsLat = p.lat;
        px.lon = px.wgsLon = p.lon;
        px.timeMs = p.timeMs;
        px.line = p.line;
        px.sample = p.sample;
        px.a = p.a;
        px.b = p.b;
        run.pixels.push_back(px);
    }
    ASSERT_TRUE(firepoints::WriteRun(firepoints::RunFileName(dir + QStringLiteral("/H_1")), run));
    ASSERT_TRUE(firepoints::ReadRun(firepoints::RunFileName(dir + QStringLiteral("/H_1")), &run));
    {
        CMosaic m(dir + QStringLiteral("/H_1.plf"));
        ASSERT_TRUE(m.Saved()) << m.Error().toStdString();
        ASSERT_EQ(m.HeatPointCount(), int(std::size(points)));
    }
    // The same points through the library's attribute writers, in a copy
    // of the file's fields.
    DBFHandle made = DBFOpen(QFile::encodeName(dir + QStringLiteral("/H_RawHeatData.dbf")).constData(), "rb");
    ASSERT_TRUE(made);
    DBFHandle ref = DBFCloneEmpty(made, QFile::encodeName(dir + QStringLiteral("/reference.dbf")).constData());
    ASSERT_TRUE(ref);
    for (int i = 0; i < int(run.pixels.size()); ++i) {
        const firepoints::FirePixel &p = run.pixels[size_t(i)];
        DBFWriteStringAttribute(ref, i, 0, run.pass.toLatin1().constData());
        DBFWriteDoubleAttribute(ref, i, 1, p.wgsLat);
        DBFWriteDoubleAttribute(ref, i, 2, p.wgsLon);
        if (p.timeMs) {
            const QDateTime t = QDateTime::fromMSecsSinceEpoch(p.timeMs, Qt::UTC);
            DBFWriteStringAttribute(ref, i, 3, t.toString(QStringLiteral("yyyy-MM-dd")).toLatin1().constData());
            DBFWriteStringAttribute(ref, i, 4, t.toString(QStringLiteral("HH:mm:ss")).toLatin1().constData());
        }
        DBFWriteDoubleAttribute(ref, i, 5, double(p.line));
        DBFWriteIntegerAttribute(ref, i, 6, p.sample);
        DBFWriteIntegerAttribute(ref, i, 7, p.a);
        DBFWriteIntegerAttribute(ref, i, 8, p.b);
        DBFWriteDoubleAttribute(ref, i, 9, run.cellM);
        DBFWriteStringAttribute(ref, i, 10, run.platform.toUtf8().left(24).constData());
        DBFWriteStringAttribute(ref, i, 11, run.version.toUtf8().left(24).constData());
    }
    ASSERT_EQ(DBFGetRecordCount(made), DBFGetRecordCount(ref));
    for (int i = 0; i < DBFGetRecordCount(ref); ++i) {
        const std::string expected(DBFReadTuple(ref, i), size_t(ref->nRecordLength));
        const std::string written(DBFReadTuple(made, i), size_t(made->nRecordLength));
        EXPECT_EQ(written, expected) << "point " << i;
    }
    DBFClose(ref);
    DBFClose(made);
}

TEST(Mosaic, TwoThreadsWriteTheSameFilesAsOne)
{
    // Missions of several hundred rows a pass, each built on one thread and
    // on two from copies of the same inputs: every file must match.
    auto shades = [](int c, int r) -> uchar {
        if (c < 33 || c > 1632)
            return 0;
        return (c > 600 && c < 630 && r > 40 && r < 140) ? 255 : uchar((c * 7 + r * 3) % 250 + 1);
    };
    auto record = [](const QString &dir, const QString &run, int points) {
        firepoints::RunRecord rec;
        rec.log = run + QStringLiteral(".plf");
        rec.pass = run.section(QLatin1Char('_'), -1);
        rec.cellM = 25.4;
        for (int i = 0; i < points; ++i) {
            firepoints::FirePixel p;
            p.lat = p.wgsLat = 40.6 + i * 1e-4;
            p.lon = p.wgsLon = -117.2 + (i % 7) * 1e-4;
            p.timeMs = 1721053920000 + i * 40;
            p.line = i;
            p.sample = i % 1680;
            rec.pixels.push_back(p);
        }
        ASSERT_TRUE(firepoints::WriteRun(firepoints::RunFileName(dir + QLatin1Char('/') + run), rec));
    };
    CUtmConverter a, b;
    a.SetCentralMeridian(117);
    b.SetCentralMeridian(118);
    double lat, lon, n118, e118;
    std::int32_t zone;
    a.UtmToLatLon(kN0 + 2000, kE0 + 3000, 0, &lat, &lon, 2);
    b.LatLonToUtm(lat, lon, &n118, &e118, &zone, 2);
    const struct {
        const char *name;
        std::function<void(const QString &)> write;
    } cases[] = {
        {"overlapping passes, points from the pictures",
         [&](const QString &dir) {
             writeOrtho(dir, QStringLiteral("M_1_ortho"), 350, shades);
             writeOrtho(dir, QStringLiteral("M_2_ortho"), 300, block(180, 255, 200, 220, 10, 130), -117.0,
                        kE0 + 1500, kN0 + 2500);
         }},
        {"a pass on another meridian",
         [&](const QString &dir) {
             writeOrtho(dir, QStringLiteral("M_1_ortho"), 260, shades);
             writeOrtho(dir, QStringLiteral("M_2_ortho"), 330, shades, -118.0, e118, n118);
         }},
        {"recorded passes beside one without a record",
         [&](const QString &dir) {
             writeOrtho(dir, QStringLiteral("M_1_ortho"), 200, shades);
             record(dir, QStringLiteral("M_1"), 300);
             writeOrtho(dir, QStringLiteral("M_2_ortho"), 280, block(90, 255, 900, 920, 60, 180));
             writeOrtho(dir, QStringLiteral("M_3_ortho"), 150, shades, -117.0, kE0 - 2000, kN0 + 1000);
             record(dir, QStringLiteral("M_3"), 40);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString one = folder(QStringLiteral("threads1")), two = folder(QStringLiteral("threads2"));
        QDir(one).removeRecursively();
        QDir(two).removeRecursively();
        QDir().mkpath(two);
        c.write(one);
        for (const QString &name : QDir(one).entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(one + QLatin1Char('/') + name, two + QLatin1Char('/') + name));
        int points[2] = {};
        for (int threads : {1, 2}) {
            CMosaic m((threads == 1 ? one : two) + QStringLiteral("/M_1.plf"), true, threads);
            ASSERT_TRUE(m.Saved()) << m.Error().toStdString();
            points[threads - 1] = m.HeatPointCount();
        }
        EXPECT_GT(points[0], 0);
        EXPECT_EQ(points[1], points[0]);
        const QStringList names = QDir(one).entryList(QDir::Files, QDir::Name);
        ASSERT_EQ(QDir(two).entryList(QDir::Files, QDir::Name), names);
        for (const QString &name : names) {
            QFile f1(one + QLatin1Char('/') + name), f2(two + QLatin1Char('/') + name);
            ASSERT_TRUE(f1.open(QIODevice::ReadOnly) && f2.open(QIODevice::ReadOnly));
            EXPECT_TRUE(f1.readAll() == f2.readAll()) << name.toStdString();
        }
    }
}
