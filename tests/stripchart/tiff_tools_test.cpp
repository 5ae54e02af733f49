// Final GeoTIFFs checked with libtiff, GDAL, listgeo and Qt's readers.
#include "common/testsupport.h"
#include "geodata/cbil.h"
#include "stripchart/ctifffile.h"
#include "stripchart/tiffstream.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

struct Product {
    QString tif;
    CBil grid;
    double rowValue = 0;
    int rows = 0;
};

// An ortho product of 37 rows on a 10 m grid turned by rotation degrees.
void makeProduct(Product &p, const QString &name, bool twoColor, bool nad27, double rotation)
{
    p.grid.SetDimensions(1600, 1600, 1, Int8);
    p.grid.SetGeoReference(10.0, 10.0, 0, 0, 512345.0, 4987654.0, 0, rotation, 1);
    const QString tmp = QDir::currentPath() + QLatin1Char('/') + name + QStringLiteral(".tmp");
    CTiffFile t;
    ASSERT_TRUE(t.Open(tmp));
    if (twoColor)
        t.SetTwoColor();
    t.SetDatumFlag(nad27);
    t.SetCentralMeridian(-123.0);
    p.rows = 37;
    for (int i = 0; i < p.rows; ++i) {
        QByteArray row(t.GetRowWidth(), char(i * 6));
        row[40] = char(255);
        row[41] = char(254);
        ASSERT_TRUE(t.WriteRow(row.constData(), row.size()));
    }
    p.rowValue = 812;
    ASSERT_TRUE(t.WriteTrailer(p.grid, p.rowValue));
    ASSERT_TRUE(t.Finalize(tmp, 1.0, 2.0, 3));
    ASSERT_TRUE(t.SaveJpeg(tiffstream::FinalPathFor(tmp)));
    p.tif = tiffstream::FinalPathFor(tmp);
}

QJsonObject gdalInfoJson(const QString &path)
{
    const auto r = testsupport::run("gdalinfo", {"-json", path});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

double proj4Value(const QString &proj4, const QString &key)
{
    const QRegularExpression re(QStringLiteral("\\+%1=([-0-9.e]+)").arg(key));
    const auto m = re.match(proj4);
    EXPECT_TRUE(m.hasMatch()) << key.toStdString() << " in " << proj4.toStdString();
    return m.captured(1).toDouble();
}

} // namespace

TEST(TiffWithTools, TiffinfoAcceptsPaletteAndRgbImages)
{
    if (!testsupport::haveTool("tiffinfo"))
        GTEST_SKIP() << "tiffinfo not installed";
    for (bool rgb : {false, true}) {
        SCOPED_TRACE(rgb);
        Product p;
        makeProduct(p, rgb ? "ti_color" : "ti_ortho", rgb, false, 0.0);
        const auto r = testsupport::run("tiffinfo", {"-D", p.tif});
        EXPECT_EQ(r.exitCode, 0);
        // libtiff itself does not know the GeoTIFF tags and says so; any
        // other message is a fault.
        for (const QString &line : r.err.split('\n', Qt::SkipEmptyParts))
            EXPECT_TRUE(line.contains(QRegularExpression("Unknown field with tag 34(264|735|736) ")))
                << line.toStdString();
        EXPECT_TRUE(r.out.contains("Image Width: 1728 Image Length: 37")) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(rgb ? "Photometric Interpretation: RGB color"
                                       : "Photometric Interpretation: palette color"))
            << r.out.toStdString();
        EXPECT_TRUE(r.out.contains("Rows/Strip: 10"));
        if (rgb) {
            EXPECT_TRUE(r.out.contains("Samples/Pixel: 3"));
        }
        EXPECT_TRUE(r.out.contains("Bits/Sample: 8"));
    }
}

TEST(TiffWithTools, GdalSeesTransverseMercatorDatumAndOurCorners)
{
    if (!testsupport::haveTool("gdalinfo"))
        GTEST_SKIP() << "gdalinfo not installed";
    const struct {
        bool rgb;
        bool nad27;
        double rotation;
        const char *datum;
    } cases[] = {{false, false, 0.0, "NAD83"}, {true, true, -37.0, "NAD27"}, {false, true, 12.5, "NAD27"}};
    for (const auto &k : cases) {
        SCOPED_TRACE(testing::Message() << k.rgb << " " << k.datum << " " << k.rotation);
        Product p;
        makeProduct(p, QStringLiteral("gd_%1_%2").arg(k.rgb).arg(k.rotation), k.rgb, k.nad27, k.rotation);

        const auto r = testsupport::run("gdalinfo", {"-proj4", p.tif});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QString proj4 = r.out.section(QStringLiteral("PROJ.4 string is:"), 1).section('\n', 1, 1);
        // On a zone's central meridian with the UTM scale, GDAL knows the
        // grid for UTM zone 10 itself; otherwise it spells the parameters.
        if (proj4.contains("+proj=utm")) {
            EXPECT_TRUE(proj4.contains("+zone=10 ")) << proj4.toStdString();
        } else {
            EXPECT_TRUE(proj4.contains("+proj=tmerc")) << proj4.toStdString();
            EXPECT_EQ(proj4Value(proj4, "lon_0"), -123.0);
            EXPECT_EQ(proj4Value(proj4, "lat_0"), 0.0);
            EXPECT_NEAR(proj4Value(proj4, "k"), 0.9996, 1e-12);
            EXPECT_EQ(proj4Value(proj4, "x_0"), 500000.0);
            EXPECT_EQ(proj4Value(proj4, "y_0"), 0.0);
        }
        EXPECT_TRUE(proj4.contains(QStringLiteral("+datum=%1").arg(k.datum))) << proj4.toStdString();
        EXPECT_TRUE(proj4.contains("+units=m"));

        // Corners: the grid's PixelToGeo of the image's corners.
        const QJsonObject info = gdalInfoJson(p.tif);
        const QJsonObject corners = info.value("cornerCoordinates").toObject();
        const double c0 = -(CTiffFile::kLeftMargin + 0.5), r0 = p.rowValue - 0.5;
        const struct {
            const char *key;
            double dc, dr;
        } cs[] = {{"upperLeft", 0, 0}, {"upperRight", 1728, 0}, {"lowerLeft", 0, 37}, {"lowerRight", 1728, 37}};
        for (const auto &c : cs) {
            double x, y;
            p.grid.PixelToGeo(c0 + c.dc, r0 + c.dr, &x, &y);
            const QJsonArray xy = corners.value(c.key).toArray();
            ASSERT_EQ(xy.size(), 2) << c.key;
            EXPECT_NEAR(xy[0].toDouble(), x, 1e-3) << c.key;
            EXPECT_NEAR(xy[1].toDouble(), y, 1e-3) << c.key;
        }
        const QJsonArray bands = info.value("bands").toArray();
        EXPECT_EQ(bands.size(), k.rgb ? 3 : 1);
    }
}

TEST(TiffWithTools, ListgeoPrintsOurKeys)
{
    if (!testsupport::haveTool("listgeo"))
        GTEST_SKIP() << "listgeo not installed";
    Product p;
    makeProduct(p, "lg_ortho", false, false, 0.0);
    const auto r = testsupport::run("listgeo", {"-no_norm", p.tif});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Key names differ between listgeo versions (GeographicType/GeodeticCRS,
    // ProjCoordTrans/ProjMethod); the values do not.
    for (const char *s : {"GTModelTypeGeoKey (Short,1): ModelTypeProjected",
                          "GTRasterTypeGeoKey (Short,1): RasterPixelIsArea",
                          "GeoKey (Short,1): Code-4269", "CRSGeoKey (Short,1): User-Defined",
                          "ProjectionGeoKey (Short,1): User-Defined",
                          "GeoKey (Short,1): CT_TransverseMercator",
                          "ProjLinearUnitsGeoKey (Short,1): Code-9001",
                          "ProjNatOriginLongGeoKey (Double,1): -123 ",
                          "ProjNatOriginLatGeoKey (Double,1): 0 ",
                          "ProjFalseEastingGeoKey (Double,1): 500000 ",
                          "ProjFalseNorthingGeoKey (Double,1): 0 ",
                          "ProjScaleAtNatOriginGeoKey (Double,1): 0.9996 ", "ModelTransformationTag (4,4)"})
        EXPECT_TRUE(r.out.contains(QLatin1String(s))) << s << "\n" << r.out.toStdString();
}

TEST(TiffWithTools, QtReadsTheFinalFileAndItsJpegCopy)
{
    for (bool rgb : {false, true}) {
        SCOPED_TRACE(rgb);
        Product p;
        makeProduct(p, rgb ? "qt_color" : "qt_ortho", rgb, false, 0.0);
        const QImage tif(p.tif);
        ASSERT_FALSE(tif.isNull());
        EXPECT_EQ(tif.width(), 1728);
        EXPECT_EQ(tif.height(), 37);
        if (!rgb) {
            ASSERT_EQ(tif.format(), QImage::Format_Indexed8);
            // Top row is the last row written (36 * 6 = 216); the bottom the first.
            EXPECT_EQ(tif.pixelIndex(1000, 0), 216);
            EXPECT_EQ(tif.pixelIndex(1000, 36), 0);
            EXPECT_EQ(tif.pixel(40, 5), qRgb(255, 0, 0));
            EXPECT_EQ(tif.pixel(41, 5), qRgb(0, 0, 0));
            EXPECT_EQ(tif.pixel(1000, 36), qRgb(255, 255, 255));
        }
        const QString jpg = tiffstream::JpegPathFor(p.tif);
        EXPECT_EQ(QFileInfo(jpg).path(), QFileInfo(p.tif).path() + "/jpeg");
        const QImage j(jpg);
        ASSERT_FALSE(j.isNull()) << jpg.toStdString();
        EXPECT_EQ(j.size(), tif.size());
    }
}
