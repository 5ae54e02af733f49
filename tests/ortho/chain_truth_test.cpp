// Fire positions through the analyst's whole chain, against the simulator's
// ray-traced truth: simulated flights recorded as the recorder writes them,
// then the orthorectify worker with default settings (elevation extraction,
// fire re-detection and desmoking, orthorectification, mosaic). Every fire
// the pass saw must be found in the "_fire" product, read back through GDAL
// with the file's own georeference, and among the heat points of the
// mosaic, within half a cell (median) and 1.5 cells (worst) of the truth.
// The products must also say where they lie: world files and coordinate
// systems that GDAL and OGR read, and no library chatter while the JPEG
// copies are written.
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "datasource/cdspdatabuffer.h"
#include "datasource/firelimits.h"
#include "platform/paths.h"
#include "geodata/cmosaic.h"
#include "ortho/crectifiedstripchart.h"
#include "ortho/orthorectifyworker.h"
#include "orthofixtures.h"
#include "sim/demodata.h"
#include "sim/geodesy.h"
#include "stripchart/tiffstream.h"
#include "common/testsupport.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSettings>

#include <gtest/gtest.h>
#include <shapefil.h>

#include <algorithm>
#include <cmath>

using namespace orthotest;

namespace {

struct Flight {
    const char *name;
    double lat, lon;          // scene centre and pass start
    double relief;            // metres of relief (0: flat)
    double heading;           // nose heading
    double crab;
    double noiseDeg;          // attitude noise
    int lines;
    bool alaska;
    // The channel B fire limit the analyst has stored (0: the default).
    int storedFireLimit;
    // Share of the sighted fires that must be found in each product.
    double minRecall;
};

// Everything a flight needs lives in its own folder, which is also the
// working directory (tile boundaries, shift grids) and the "C:" drive.
struct FlightFolder {
    QString dir, oldCwd;
    QByteArray oldDrive;
    explicit FlightFolder(const QString &name)
        : dir(testsupport::workDir() + QStringLiteral("/chain-") + name), oldCwd(QDir::currentPath()),
          oldDrive(qgetenv("CINDREL_C_DRIVE"))
    {
        QDir().mkpath(dir + QStringLiteral("/c-drive"));
        QDir().mkpath(dir + QStringLiteral("/logs"));
        QDir::setCurrent(dir);
        qputenv("CINDREL_C_DRIVE", QFile::encodeName(dir + QStringLiteral("/c-drive")));
    }
    ~FlightFolder()
    {
        QDir::setCurrent(oldCwd);
        qputenv("CINDREL_C_DRIVE", oldDrive);
    }
};

struct Point {
    double lat = 0, lon = 0;   // navigation datum
};

// Single-linkage groups of points closer than `link` metres; centroids.
std::vector<Point> groupPoints(const std::vector<Point> &pts, double link)
{
    std::vector<int> group(pts.size(), -1);
    std::vector<Point> out;
    std::vector<int> count;
    for (size_t i = 0; i < pts.size(); ++i) {
        if (group[i] >= 0)
            continue;
        const int g = int(out.size());
        out.push_back(Point{});
        count.push_back(0);
        std::vector<size_t> stack{i};
        group[i] = g;
        while (!stack.empty()) {
            const size_t k = stack.back();
            stack.pop_back();
            out[g].lat += pts[k].lat;
            out[g].lon += pts[k].lon;
            ++count[g];
            for (size_t j = 0; j < pts.size(); ++j)
                if (group[j] < 0 && sim::localDistance(pts[k].lat, pts[k].lon, pts[j].lat, pts[j].lon) <= link) {
                    group[j] = g;
                    stack.push_back(j);
                }
        }
    }
    for (size_t g = 0; g < out.size(); ++g) {
        out[g].lat /= count[g];
        out[g].lon /= count[g];
    }
    return out;
}

// Pixel centres (image coordinates) to longitude/latitude on the file's own
// geographic datum, through GDAL and the file's declared georeference.
bool gdalLonLat(const QString &image, const char *epsg, const std::vector<std::pair<double, double>> &pixels,
                std::vector<std::pair<double, double>> *out)
{
    QProcess p;
    p.start(QStringLiteral("gdaltransform"), {QStringLiteral("-t_srs"), QLatin1String(epsg), image});
    if (!p.waitForStarted(10000))
        return false;
    QByteArray input;
    for (const auto &px : pixels)
        input += QByteArray::number(px.first, 'f', 3) + ' ' + QByteArray::number(px.second, 'f', 3) + '\n';
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return false;
    for (const QByteArray &l : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = l.simplified().split(' ');
        if (f.size() >= 2)
            out->push_back({f[0].toDouble(), f[1].toDouble()});
    }
    return out->size() == pixels.size();
}

Point toNav(double lat, double lon, bool alaska)
{
    Point p{lat, lon};
    if (alaska)
        sim::alaskaGridToNav(lat, lon, &p.lat, &p.lon);
    return p;
}

struct ProductError {
    int found = 0;
    std::vector<double> cells;   // error of each found fire, in cells
    double median() const
    {
        std::vector<double> c = cells;
        std::sort(c.begin(), c.end());
        return c.empty() ? 0.0 : (c.size() % 2 ? c[c.size() / 2] : 0.5 * (c[c.size() / 2 - 1] + c[c.size() / 2]));
    }
    double worst() const { return cells.empty() ? 0.0 : *std::max_element(cells.begin(), cells.end()); }
};

// Nearest group within `reach` metres of each sighted fire.
ProductError measure(const std::vector<sim::Fire> &fires, const std::vector<Point> &groups, double cell, double reach)
{
    ProductError e;
    for (const sim::Fire &f : fires) {
        double best = 1e9;
        for (const Point &g : groups)
            best = std::min(best, sim::localDistance(f.lat, f.lon, g.lat, g.lon));
        if (best <= reach) {
            ++e.found;
            e.cells.push_back(best / cell);
        }
    }
    return e;
}

QtMessageHandler g_previous = nullptr;
QStringList g_libraryWarnings;
void collectWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && text.contains(QLatin1String("Unknown field")))
        g_libraryWarnings << text;
    if (g_previous)
        g_previous(type, context, text);
}

void flyAndCheck(const Flight &fl)
{
    SCOPED_TRACE(fl.name);
    FlightFolder folder(QString::fromLatin1(fl.name));
    QString error;

    sim::SceneParams sp;
    sp.seed = 21;
    sp.centerLat = fl.lat;
    sp.centerLon = fl.lon;
    sp.regionDeg = 0.2;
    sp.relief = fl.relief;
    sp.baseElevation = fl.relief > 1000 ? 1400.0 : 600.0;
    sp.smokeCount = 0;
    sp.fireCount = 0;
    sim::Scene scene(sp);
    sim::PassParams pass;
    pass.startLat = fl.lat - 0.003;
    pass.startLon = fl.lon;
    pass.headingDeg = fl.heading;
    pass.crabDeg = fl.crab;
    pass.attitudeNoiseDeg = fl.noiseDeg;
    pass.lineCount = fl.lines;
    // Fires across the whole swath (about 2600 m either side), along the pass.
    const double track = fl.heading + fl.crab;
    const std::pair<double, double> offsets[] = {{150, -2250}, {220, -1500}, {300, -700}, {380, 0},
                                                 {460, 650},   {540, 1400},  {620, 2200}, {260, 300}};
    std::vector<sim::Fire> fires;
    for (const auto &o : offsets) {
        sim::Fire f;
        f.id = int(fires.size()) + 1;
        offsetPosition(pass.startLat, pass.startLon, track, o.first, o.second, &f.lat, &f.lon);
        f.radiusM = 4.0;
        f.intensity = 0.9;
        fires.push_back(f);
    }
    scene.setFires(fires);
    const auto tilePath = [](int index) {
        return cindrel::mapCDrivePath(QStringLiteral("C:\\demdata\\cd%1\\demimage").arg(index, 2, 10, QLatin1Char('0')));
    };
    ASSERT_TRUE(sim::writeDemTiles(scene, folder.dir + QStringLiteral("/Cindrel_ElevationTileBoundaries.dat"),
                                   tilePath, &error))
        << error.toStdString();
    if (fl.alaska)
        ASSERT_TRUE(sim::writeShiftGrids(folder.dir, &error)) << error.toStdString();

    // Recorded as in flight.
    ColdCurve curve;
    curve.resetStartValues();
    auto ring = std::make_unique<CDspDataBuffer>(&curve);
    ring->SetFireDetectParams(true, kDefaultChnBFireLimit, kDefaultChnBColdLimit, 0.0, 0.0, 0.0);
    const QString log = folder.dir + QStringLiteral("/logs/20240715_1432_Truth_1.plf");
    sim::PassRecord record;
    ASSERT_TRUE(sim::recordPass(scene, pass, log, *ring, &record, &error)) << error.toStdString();
    std::vector<sim::Fire> sighted;
    for (const sim::FireSighting &s : record.sightings)
        if (s.samples > 0)
            sighted.push_back(fires[size_t(s.fireId - 1)]);
    ASSERT_GE(sighted.size(), 6u);

    // The analyst's chain with default settings.
    {
        QSettings settings;
        for (const char *k : {"FireDetectPolyA2", "FireDetectPolyA1", "FireDetectPolyA0", "FireDetectChnBFireLimit",
                              "FireDetectChnBColdLimit"})
            settings.remove(QStringLiteral("LastUsed/") + QLatin1String(k));
        if (fl.storedFireLimit)
            settings.setValue(QStringLiteral("LastUsed/FireDetectChnBFireLimit"), fl.storedFireLimit);
    }
    OrthoRectifyWorker worker(&curve);
    CUtmConverter grid;
    const int meridian = int(std::lround(fl.lon));
    grid.SetCentralMeridian(meridian);
    double n1, e1, n2, e2;
    std::int32_t zone;
    grid.LatLonToUtm(record.startLat, record.startLon, &n1, &e1, &zone, 2);
    grid.LatLonToUtm(record.endLat, record.endLon, &n2, &e2, &zone, 2);
    worker.SetRunArea(std::min(e1, e2) - 3000, std::max(n1, n2) + 3000, std::max(e1, e2) + 3000,
                      std::min(n1, n2) - 3000, meridian);
    g_libraryWarnings.clear();
    g_previous = qInstallMessageHandler(collectWarnings);
    worker.AddFile(log);
    worker.Stop();
    worker.doWork();
    qInstallMessageHandler(g_previous);
    ASSERT_EQ(worker.Results().size(), 1);
    const OrthoRectifyWorker::FileResult result = worker.Results().first();
    ASSERT_EQ(result.outcome, int(CRectifiedStripChart::Produced));
    ASSERT_TRUE(result.mosaicSaved);
    EXPECT_TRUE(g_libraryWarnings.isEmpty()) << g_libraryWarnings.join(QLatin1Char('\n')).toStdString();

    // The "_fire" product: red pixel clusters through GDAL.
    const QString base = folder.dir + QStringLiteral("/logs/20240715_1432_Truth_1");
    const QString fireTif = base + QStringLiteral("_fire.tif");
    QImage img;
    tiffstream::ImageGeoReference geo;
    ASSERT_TRUE(tiffstream::ReadImage(fireTif, &img, &geo));
    ASSERT_TRUE(geo.valid);
    EXPECT_EQ(geo.geographicType, fl.alaska ? 4267 : 4269);
    const double cell = std::hypot(geo.a, geo.d);
    std::vector<std::pair<double, double>> redPixels;
    for (int y = 0; y < img.height(); ++y) {
        const uchar *row = img.constScanLine(y);
        for (int x = 33; x <= 1632; ++x)
            if (row[3 * x] == 255 && row[3 * x + 1] == 0 && row[3 * x + 2] == 0)
                redPixels.push_back({x + 0.5, y + 0.5});
    }
    const char *epsg = fl.alaska ? "EPSG:4267" : "EPSG:4269";
    std::vector<std::pair<double, double>> lonLat, jpegLonLat;
    std::vector<Point> pixels;
    const QString fireJpg = folder.dir + QStringLiteral("/logs/jpeg/20240715_1432_Truth_1_fire.jpg");
    if (!redPixels.empty()) {
        ASSERT_TRUE(gdalLonLat(fireTif, epsg, redPixels, &lonLat));
        for (const auto &ll : lonLat)
            pixels.push_back(toNav(ll.second, ll.first, fl.alaska));
        // The JPEG copy lies where its TIFF does (world file, coordinate system).
        ASSERT_TRUE(gdalLonLat(fireJpg, epsg, {redPixels.front()}, &jpegLonLat));
        EXPECT_LT(sim::localDistance(jpegLonLat[0].second, jpegLonLat[0].first, lonLat[0].second, lonLat[0].first),
                  0.01);
    }

    // The heat points of the mosaic, on the datum their ".prj" states.
    const QString heat = folder.dir + QStringLiteral("/logs/20240715_1432_Truth_RawHeatData");
    std::vector<Point> heatPoints;
    {
        SHPHandle shp = SHPOpen(QFile::encodeName(heat).constData(), "rb");
        ASSERT_TRUE(shp);
        int count = 0;
        SHPGetInfo(shp, &count, nullptr, nullptr, nullptr);
        for (int i = 0; i < count; ++i) {
            SHPObject *o = SHPReadObject(shp, i);
            if (o && o->nVertices == 1)
                heatPoints.push_back(toNav(o->padfY[0], o->padfX[0], fl.alaska));
            SHPDestroyObject(o);
        }
        SHPClose(shp);
    }

    // The fire points for agencies: WGS 84, that is the navigation datum.
    std::vector<Point> agencyPoints;
    {
        QFile csv(folder.dir + QStringLiteral("/logs/20240715_1432_Truth_FirePoints.csv"));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        for (int i = 1; i < rows.size(); ++i) {
            const QList<QByteArray> f = rows[i].split(',');
            if (f.size() > 2)
                agencyPoints.push_back(Point{f[0].toDouble(), f[1].toDouble()});
        }
        EXPECT_EQ(agencyPoints.size(), heatPoints.size());
    }

    const std::vector<Point> fireGroups = groupPoints(pixels, 1.5 * cell);
    const std::vector<Point> heatGroups = groupPoints(heatPoints, 1.5 * cell);
    const ProductError inFire = measure(sighted, fireGroups, cell, 5.0 * cell);
    const ProductError inHeat = measure(sighted, heatGroups, cell, 5.0 * cell);
    const ProductError inAgency = measure(sighted, groupPoints(agencyPoints, 1.5 * cell), cell, 5.0 * cell);
    std::printf("[ truth ] %s: cell %.2f m, %zu sighted; _fire: %d found, median %.2f worst %.2f cells; "
                "heat points: %d found, median %.2f worst %.2f cells\n",
                fl.name, cell, sighted.size(), inFire.found, inFire.median(), inFire.worst(), inHeat.found,
                inHeat.median(), inHeat.worst());
    std::printf("[ truth ] %s: fire points (WGS 84): %d found, median %.2f worst %.2f cells\n", fl.name,
                inAgency.found, inAgency.median(), inAgency.worst());
    for (const ProductError *e : {&inFire, &inHeat, &inAgency}) {
        const char *product = e == &inFire ? "_fire" : (e == &inHeat ? "heat points" : "fire points");
        EXPECT_GE(e->found, int(std::ceil(fl.minRecall * double(sighted.size())))) << product;
        EXPECT_LE(e->median(), 0.5) << product;
        EXPECT_LE(e->worst(), 1.5) << product;
    }

    // Coordinate systems as GIS tools read them.
    const QString datumName = fl.alaska ? QStringLiteral("NAD27") : QStringLiteral("NAD83");
    const QString ogr = testsupport::run(QStringLiteral("ogrinfo"), {QStringLiteral("-so"), QStringLiteral("-al"),
                                                                     heat + QStringLiteral(".shp")}).out;
    EXPECT_TRUE(ogr.contains(datumName) && ogr.contains(QLatin1String("GEOGCRS"))) << ogr.toStdString();
    for (const QString &picture : {fireJpg, result.mosaicPath}) {
        const QString info = testsupport::run(QStringLiteral("gdalinfo"), {picture}).out;
        // A north-up picture shows its origin, a rotated one its transform.
        EXPECT_TRUE(info.contains(QLatin1String("Transverse Mercator")) && info.contains(datumName)
                    && (info.contains(QLatin1String("Origin =")) || info.contains(QLatin1String("GeoTransform ="))))
            << info.toStdString();
    }
}

} // namespace

TEST(OrthoChainTruth, EveryProductPlacesEveryFireWithinHalfACell)
{
    for (const char *tool : {"gdaltransform", "gdalinfo", "ogrinfo"})
        if (!testsupport::haveTool(QLatin1String(tool)))
            GTEST_SKIP() << tool << " is not installed";
    const Flight flights[] = {
        // name        lat    lon      relief heading crab noise lines alaska limit recall
        {"flat",       44.5, -121.5,   0.0,   30.0,   2.0, 0.03, 420, false, 0,     1.0},
        {"relief",     44.5, -121.5,   1500.0, 120.0, -3.0, 0.2, 420, false, 0,     1.0},
        {"north",      44.5, -121.5,   700.0, 0.0,    0.0, 0.03, 420, false, 0,     1.0},
        {"alaska",     61.5, -150.0,   1500.0, 60.0,   2.0, 0.03, 420, true,  0,     1.0},
        {"defaults",   44.5, -121.5,   700.0, 200.0,  2.0, 0.03, 420, false, 0,     1.0},
    };
    // Every flight is flown and processed with the default detection
    // settings an empty settings store gives.
    for (const Flight &f : flights)
        flyAndCheck(f);
}
