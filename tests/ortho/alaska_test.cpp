// Runs in Alaska: Clarke 1866 and NAD27 (GeoKey 4267) with every position
// shifted by the NADCON grids before it is projected.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "geodata/cbil.h"
#include "ortho/crectifiedstripchart.h"
#include "orthofixtures.h"
#include "sim/demodata.h"
#include "common/testsupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

using namespace orthotest;

namespace {

constexpr double kLat = 61.0, kLon = -150.0;

// A flat elevation raster of 100 m around the run, in two arc-second cells.
bool writeFlatRaster(const QString &name)
{
    CBil bil;
    const double cell = 1.0 / 1800.0;
    bil.SetDimensions(720, 360, 1, Int16);
    bil.SetByteOrder(1);
    bil.SetGeoReference(cell, cell, 0, 0, kLon - 0.2 + cell / 2, kLat + 0.1 - cell / 2, 0, 0.0, 1);
    if (!bil.Allocate())
        return false;
    auto *v = reinterpret_cast<std::int16_t *>(bil.MutableData());
    for (int k = 0; k < 720 * 360; ++k)
        v[k] = 100;
    return bil.Write(name);
}

struct AlaskaRun {
    bool alaska = false;
    int datum = 0;
    double lat = 0, lon = 0;   // NAD27 position of a pixel near the image centre
    QString gdalinfo;
};

AlaskaRun rectifyIn(const QString &folder)
{
    AlaskaRun out;
    QDir().mkpath(folder);
    const QString log = folder + QStringLiteral("/20240801_1000_Ak_1.plf");
    EXPECT_TRUE(writePlainLog(log, 120, [](int k, ScanLineRec &r) {
        r.latitude = std::int32_t(kLat * 3600000.0) + k * 60;
        r.longitude = std::int32_t(kLon * 3600000.0);
        r.altitude = 200000;
    }));
    EXPECT_TRUE(writeFlatRaster(folder + QStringLiteral("/20240801_1000_Ak")));
    ColdCurve curve;
    CCindrelDspLog source(&curve);
    source.OnFileOpen(log);
    CRectifiedStripChart rect(&source);
    rect.SetOutputDirectory(folder);
    rect.Process();
    EXPECT_EQ(rect.GetOutcome(), CRectifiedStripChart::Produced);
    out.alaska = rect.IsAlaska();
    out.datum = rect.Datum();
    const QString tif = folder + QStringLiteral("/20240801_1000_Ak_1_ortho.tif");
    const QImage img(tif);
    if (img.isNull() || !testsupport::haveTool(QStringLiteral("gdaltransform")))
        return out;
    QProcess p;
    p.start(QStringLiteral("gdaltransform"), {QStringLiteral("-t_srs"), QStringLiteral("EPSG:4267"), tif});
    p.waitForStarted();
    p.write(QByteArray::number(33 + 800) + ' ' + QByteArray::number(img.height() / 2) + '\n');
    p.closeWriteChannel();
    p.waitForFinished();
    const QList<QByteArray> f = p.readAllStandardOutput().simplified().split(' ');
    if (f.size() >= 2) {
        out.lon = f[0].toDouble();
        out.lat = f[1].toDouble();
    }
    out.gdalinfo = testsupport::run(QStringLiteral("gdalinfo"), {tif}).out;
    return out;
}

} // namespace

TEST(OrthoAlaska, PositionsAreShiftedIntoNad27BeforeProjection)
{
    if (!testsupport::haveTool(QStringLiteral("gdaltransform")))
        GTEST_SKIP() << "gdaltransform is not installed";
    const QString work = testsupport::workDir();
    // Without shift grids the shift is the identity.
    const AlaskaRun plain = rectifyIn(work + QStringLiteral("/ak-plain"));
    EXPECT_TRUE(plain.alaska);
    EXPECT_EQ(plain.datum, 1);
    EXPECT_TRUE(plain.gdalinfo.contains(QStringLiteral("NAD27"))) << plain.gdalinfo.toStdString();

    QString error;
    ASSERT_TRUE(sim::writeShiftGrids(work, &error)) << error.toStdString();
    const AlaskaRun shifted = rectifyIn(work + QStringLiteral("/ak-shifted"));
    for (const char *ext : {".hdr", ".bil", ".blw"}) {
        QFile::remove(work + QStringLiteral("/AlaskaLatShift") + QLatin1String(ext));
        QFile::remove(work + QStringLiteral("/AlaskaLonShift") + QLatin1String(ext));
    }
    // The same pixel lies where NAD27 puts the navigation position: the
    // grids hold the shift from NAD27 to the navigation datum.
    double latShift, lonShiftWest;
    sim::alaskaShiftAt(kLat, kLon, latShift, lonShiftWest);
    ASSERT_GT(std::fabs(latShift) + std::fabs(lonShiftWest), 0.5);
    EXPECT_NEAR((shifted.lat - plain.lat) * 3600.0, -latShift, 0.05);
    EXPECT_NEAR((shifted.lon - plain.lon) * 3600.0, lonShiftWest, 0.1);
}
