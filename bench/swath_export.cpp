// swath_export DIR [LINES]: writes a simulated pass over rugged terrain for
// the peer comparison (peer_gdalwarp.sh):
//   DIR/Cindrel_ElevationTileBoundaries.dat, DIR/c-drive (DEM tiles),
//   DIR/20240715_1432_Peer_1.plf     the recorded log,
//   DIR/20240715_1432_Peer.hdr/.bil  its elevation raster,
//   DIR/swath.vrt                    channels A and B (Int16, one row per
//                                    line, samples in scan order) with a
//                                    GDAL geolocation array from
//   DIR/lat.f64, DIR/lon.f64         the simulator's ray-traced ground
//                                    point of every sample (WGS 84).
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "geodata/celevationdata.h"
#include "platform/notice.h"
#include "sim/demodata.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

bool writeText(const QString &path, const QString &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0;
}

QString rawBand(const char *type, int bytes, int width, const QString &file, int offset, int band)
{
    return QStringLiteral("  <VRTRasterBand dataType=\"%1\" band=\"%2\" subClass=\"VRTRawRasterBand\">\n"
                          "    <SourceFilename relativeToVRT=\"1\">%3</SourceFilename>\n"
                          "    <ImageOffset>%4</ImageOffset><PixelOffset>%5</PixelOffset>"
                          "<LineOffset>%6</LineOffset><ByteOrder>LSB</ByteOrder>\n"
                          "  </VRTRasterBand>\n")
        .arg(QLatin1String(type))
        .arg(band)
        .arg(file)
        .arg(offset)
        .arg(bytes)
        .arg(qint64(bytes) * width);
}

QString vrt(int width, int height, const QString &metadata, const QString &bands)
{
    return QStringLiteral("<VRTDataset rasterXSize=\"%1\" rasterYSize=\"%2\">\n%3%4</VRTDataset>\n")
        .arg(width)
        .arg(height)
        .arg(metadata, bands);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Notice::setTestMode(true);
    if (argc < 2) {
        std::fprintf(stderr, "usage: swath_export DIR [LINES]\n");
        return 2;
    }
    const QString dir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int lines = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10000;
    if (!QDir().mkpath(dir))
        return 1;
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(dir + QStringLiteral("/c-drive")));
    QDir::setCurrent(dir);

    // The scene and pass of the ortho benchmark.
    sim::SceneParams sp;
    sp.seed = 11;
    sp.regionDeg = 0.5;
    sp.relief = 700.0;
    sp.fireCount = 60;
    sp.fireSpreadM = 1500;
    const sim::Scene scene(sp);
    QString error;
    if (!sim::writeDemTiles(scene, dir + QStringLiteral("/Cindrel_ElevationTileBoundaries.dat"), sim::driveTilePath, &error)) {
        std::fprintf(stderr, "swath_export: %s\n", qPrintable(error));
        return 1;
    }
    sim::PassParams pass;
    pass.startLat = 44.41;
    pass.startLon = -121.5;
    pass.lineCount = lines;

    ColdCurve curve;
    CCindrelDspLog log(&curve);
    if (!log.OpenForWrite(dir + QStringLiteral("/20240715_1432_Peer_1.plf")))
        return 1;
    QFile lat(dir + QStringLiteral("/lat.f64")), lon(dir + QStringLiteral("/lon.f64")),
        data(dir + QStringLiteral("/ab.i16"));
    if (!lat.open(QIODevice::WriteOnly | QIODevice::Truncate) || !lon.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || !data.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    sim::LineGenerator gen(scene, pass);
    auto rec = std::make_unique<ScanLineRec>();
    std::vector<double> la(SAMPLES_PER_LINE), lo(SAMPLES_PER_LINE);
    std::vector<qint16> ab(2 * SAMPLES_PER_LINE);
    int written = 0;
    while (gen.next(*rec)) {
        log.WriteRecord(*rec);
        const auto &ground = gen.groundPoints();
        for (int s = 0; s < SAMPLES_PER_LINE; ++s) {
            la[s] = ground[std::size_t(s)].lat;
            lo[s] = ground[std::size_t(s)].lon;
            ab[s] = qint16(std::clamp(rec->chanA[s], -32768, 32767));
            ab[SAMPLES_PER_LINE + s] = qint16(std::clamp(rec->chanB[s], -32768, 32767));
        }
        lat.write(reinterpret_cast<const char *>(la.data()), qint64(la.size() * sizeof(double)));
        lon.write(reinterpret_cast<const char *>(lo.data()), qint64(lo.size() * sizeof(double)));
        data.write(reinterpret_cast<const char *>(ab.data()), qint64(ab.size() * sizeof(qint16)));
        ++written;
    }
    log.Close();
    lat.close();
    lon.close();
    data.close();

    const int w = SAMPLES_PER_LINE;
    // Lines in the data file hold A then B.
    const QString bands = QStringLiteral("  <VRTRasterBand dataType=\"Int16\" band=\"1\" subClass=\"VRTRawRasterBand\">\n"
                                         "    <SourceFilename relativeToVRT=\"1\">ab.i16</SourceFilename>\n"
                                         "    <ImageOffset>0</ImageOffset><PixelOffset>2</PixelOffset>"
                                         "<LineOffset>%1</LineOffset><ByteOrder>LSB</ByteOrder>\n"
                                         "  </VRTRasterBand>\n"
                                         "  <VRTRasterBand dataType=\"Int16\" band=\"2\" subClass=\"VRTRawRasterBand\">\n"
                                         "    <SourceFilename relativeToVRT=\"1\">ab.i16</SourceFilename>\n"
                                         "    <ImageOffset>%2</ImageOffset><PixelOffset>2</PixelOffset>"
                                         "<LineOffset>%1</LineOffset><ByteOrder>LSB</ByteOrder>\n"
                                         "  </VRTRasterBand>\n")
                              .arg(4 * w)
                              .arg(2 * w);
    const QString geoloc = QStringLiteral(
        "  <Metadata domain=\"GEOLOCATION\">\n"
        "    <MDI key=\"SRS\">GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
        "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433],AXIS[\"Longitude\",EAST],"
        "AXIS[\"Latitude\",NORTH]]</MDI>\n"
        "    <MDI key=\"X_DATASET\">lon.vrt</MDI><MDI key=\"X_BAND\">1</MDI>\n"
        "    <MDI key=\"Y_DATASET\">lat.vrt</MDI><MDI key=\"Y_BAND\">1</MDI>\n"
        "    <MDI key=\"PIXEL_OFFSET\">0</MDI><MDI key=\"LINE_OFFSET\">0</MDI>\n"
        "    <MDI key=\"PIXEL_STEP\">1</MDI><MDI key=\"LINE_STEP\">1</MDI>\n"
        "  </Metadata>\n");
    if (!writeText(dir + QStringLiteral("/lat.vrt"), vrt(w, written, QString(), rawBand("Float64", 8, w, QStringLiteral("lat.f64"), 0, 1)))
        || !writeText(dir + QStringLiteral("/lon.vrt"), vrt(w, written, QString(), rawBand("Float64", 8, w, QStringLiteral("lon.f64"), 0, 1)))
        || !writeText(dir + QStringLiteral("/swath.vrt"), vrt(w, written, geoloc, bands)))
        return 1;

    // The rectifier's elevation raster round the pass.
    CElevationData dem;
    if (!dem.ExtractArea(-121.57, 44.60, -121.43, 44.40, dir + QStringLiteral("/20240715_1432_Peer"))) {
        std::fprintf(stderr, "swath_export: cannot extract the elevation raster\n");
        return 1;
    }
    std::printf("%d lines\n", written);
    return 0;
}
