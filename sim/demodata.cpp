#include "sim/demodata.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/cdspdatabuffer.h"
#include "platform/paths.h"
#include "sim/geodesy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTextStream>
#include <QtEndian>

#include <shapefil.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace sim {

namespace {
constexpr double kDeg = M_PI / 180.0;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool makeParent(const QString &path, QString *error)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir))
        return fail(error, QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(dir)));
    return true;
}

bool writeText(const QString &path, const QString &text, QString *error)
{
    if (!makeParent(path, error))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return fail(error, QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
    const QByteArray bytes = text.toUtf8();
    if (f.write(bytes) != bytes.size() || !f.flush())
        return fail(error, QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
    return true;
}

QString num(double v, int decimals) { return QString::number(v, 'f', decimals); }
} // namespace

// ------------------------------------------------------------------ rasters

bool writeBil(const QString &baseName, const BilLayout &recipe, const void *data, QString *error)
{
    if (!makeParent(baseName, error))
        return false;
    const int bytes = recipe.nbits / 8;
    QString hdr;
    QTextStream h(&hdr);
    auto line = [&](const char *key, const QString &value) { h << QString::fromLatin1(key).leftJustified(14) << value << "\n"; };
    line("BYTEORDER", QStringLiteral("I"));
    line("LAYOUT", QStringLiteral("BIL"));
    line("NROWS", QString::number(recipe.nrows));
    line("NCOLS", QString::number(recipe.ncols));
    line("NBANDS", QStringLiteral("1"));
    line("NBITS", QString::number(recipe.nbits));
    line("BANDROWBYTES", QString::number(qint64(recipe.ncols) * bytes));
    line("TOTALROWBYTES", QString::number(qint64(recipe.ncols) * bytes));
    line("BANDGAPBYTES", QStringLiteral("0"));
    line("PIXELTYPE", recipe.floatSamples ? QStringLiteral("FLOAT") : QStringLiteral("SIGNEDINT"));
    line("ULXMAP", num(recipe.ulxmap, 14));
    line("ULYMAP", num(recipe.ulymap, 14));
    line("XDIM", num(recipe.xdim, 14));
    line("YDIM", num(recipe.ydim, 14));
    h.flush();
    if (!writeText(baseName + QStringLiteral(".hdr"), hdr, error))
        return false;
    const QString blw = num(recipe.xdim, 14) + "\n" + num(0.0, 14) + "\n" + num(0.0, 14) + "\n" + num(-recipe.ydim, 14) + "\n"
                        + num(recipe.ulxmap, 14) + "\n" + num(recipe.ulymap, 14) + "\n";
    if (!writeText(baseName + QStringLiteral(".blw"), blw, error))
        return false;

    QFile f(baseName + QStringLiteral(".bil"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(error, QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(f.fileName()), f.errorString()));
    const qint64 total = qint64(recipe.ncols) * recipe.nrows * bytes;
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    QByteArray swapped(static_cast<const char *>(data), int(total));
    for (qint64 i = 0; i < total; i += bytes)
        std::reverse(swapped.data() + i, swapped.data() + i + bytes);
    const char *src = swapped.constData();
#else
    const char *src = static_cast<const char *>(data);
#endif
    if (f.write(src, total) != total || !f.flush())
        return fail(error, QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(f.fileName()), f.errorString()));
    return true;
}

QString driveTilePath(int index)
{
    return cindrel::mapCDrivePath(QStringLiteral("C:\\demdata\\cd%1\\demimage").arg(index, 2, 10, QLatin1Char('0')));
}

bool writeDemTiles(const Scene &scene, const QString &boundaryFile, const std::function<QString(int)> &tilePath,
                   QString *error)
{
    const std::vector<DemTile> tiles = scene.tiles();
    QString list;
    QTextStream out(&list);
    out << "// Elevation tile boundaries: index, x1, y1, x2, y2 (degrees, opposite corners)\n";
    std::vector<std::int16_t> cells;
    for (size_t i = 0; i < tiles.size(); ++i) {
        const DemTile &t = tiles[i];
        const int index = int(i) + 1;
        // Cell centres on whole cells from the west to the east degree line
        // and from the north to the south one; the listed box is the
        // whole-degree square these centres span.
        const int n = t.cellsPerDegree;
        cells.resize(size_t(n + 1) * size_t(n + 1));
        scene.fillCells(long(t.lon0) * n, long(t.lat0 + 1) * n, n + 1, n + 1, cells.data());
        BilLayout recipe;
        recipe.ncols = recipe.nrows = n + 1;
        recipe.nbits = 16;
        recipe.xdim = recipe.ydim = 1.0 / n;
        recipe.ulxmap = t.lon0;
        recipe.ulymap = t.lat0 + 1;
        if (!writeBil(tilePath(index), recipe, cells.data(), error))
            return false;
        out << index << "," << t.lon0 << "," << (t.lat0 + 1) << "," << (t.lon0 + 1) << "," << t.lat0 << "\n";
    }
    out.flush();
    return writeText(boundaryFile, list, error);
}

void alaskaShiftAt(double lat, double lon, double &latShiftSec, double &lonShiftSec)
{
    latShiftSec = 0.6 + 0.9 * std::sin((lon + 160.0) / 12.0) + 0.5 * std::cos((lat - 60.0) / 7.0);
    lonShiftSec = 6.0 + 1.5 * std::sin((lat - 60.0) / 9.0) + 1.0 * std::cos((lon + 150.0) / 15.0);
}

bool writeShiftGrids(const QString &folder, QString *error)
{
    // Nodes every quarter degree over Alaska: 46..77 N, 180..128 W.
    const double step = 0.25, west = -180.0, north = 77.0;
    const int ncols = 209, nrows = 125;
    std::vector<float> lat(size_t(ncols) * nrows), lon(size_t(ncols) * nrows);
    for (int r = 0; r < nrows; ++r)
        for (int c = 0; c < ncols; ++c) {
            double a, b;
            alaskaShiftAt(north - r * step, west + c * step, a, b);
            lat[size_t(r) * ncols + c] = float(a);
            lon[size_t(r) * ncols + c] = float(b);
        }
    BilLayout recipe;
    recipe.ncols = ncols;
    recipe.nrows = nrows;
    recipe.nbits = 32;
    recipe.floatSamples = true;
    recipe.xdim = recipe.ydim = step;
    recipe.ulxmap = west;
    recipe.ulymap = north;
    return writeBil(folder + QStringLiteral("/AlaskaLatShift"), recipe, lat.data(), error)
           && writeBil(folder + QStringLiteral("/AlaskaLonShift"), recipe, lon.data(), error);
}

// ---------------------------------------------------------------- map lines

namespace {
struct Polyline {
    QString name;
    std::vector<double> x, y;
};

bool writeLineShapefile(const QString &base, const std::vector<Polyline> &lines, QString *error)
{
    if (!makeParent(base, error))
        return false;
    const QByteArray path = QFile::encodeName(base);
    SHPHandle shp = SHPCreate(path.constData(), SHPT_ARC);
    if (!shp)
        return fail(error, QStringLiteral("cannot create the shapefile %1").arg(QDir::toNativeSeparators(base)));
    DBFHandle dbf = DBFCreate(path.constData());
    if (!dbf) {
        SHPClose(shp);
        return fail(error, QStringLiteral("cannot create the table of %1").arg(QDir::toNativeSeparators(base)));
    }
    DBFAddField(dbf, "NAME", FTString, 40, 0);
    bool ok = true;
    for (const Polyline &l : lines) {
        SHPObject *o = SHPCreateSimpleObject(SHPT_ARC, int(l.x.size()), l.x.data(), l.y.data(), nullptr);
        const int id = SHPWriteObject(shp, -1, o);
        SHPDestroyObject(o);
        ok = ok && id >= 0 && DBFWriteStringAttribute(dbf, id, 0, l.name.toLatin1().constData());
    }
    SHPClose(shp);
    DBFClose(dbf);
    if (!ok)
        return fail(error, QStringLiteral("cannot write the shapefile %1").arg(QDir::toNativeSeparators(base)));
    const QString prj = QStringLiteral(
        "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
        "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]");
    return writeText(base + QStringLiteral(".prj"), prj, error);
}

// A wandering line across the region through (lat, lon) at a bearing.
Polyline wanderingLine(const Scene &scene, Rng &rng, const QString &name, double lat, double lon, double bearingDeg,
                       double wander, int vertices)
{
    const SceneParams &p = scene.params();
    const double half = p.regionDeg / 2.0;
    const double mx = primeVerticalRadius(p.centerLat) * std::cos(p.centerLat * kDeg) * kDeg;
    const double my = meridionalRadius(p.centerLat) * kDeg;
    const double lenM = p.regionDeg * my * 1.5;
    Polyline l;
    l.name = name;
    const double b = bearingDeg * kDeg;
    const double phase = rng.uniform(0.0, 2.0 * M_PI), phase2 = rng.uniform(0.0, 2.0 * M_PI);
    for (int k = 0; k < vertices; ++k) {
        const double s = (double(k) / (vertices - 1) - 0.5) * lenM;
        const double side = wander * (std::sin(s / 3000.0 + phase) + 0.4 * std::sin(s / 900.0 + phase2));
        const double e = s * std::sin(b) + side * std::cos(b), n = s * std::cos(b) - side * std::sin(b);
        const double x = lon + e / mx, y = lat + n / my;
        if (x < p.centerLon - half || x > p.centerLon + half || y < p.centerLat - half || y > p.centerLat + half)
            continue;
        l.x.push_back(x);
        l.y.push_back(y);
    }
    return l;
}
} // namespace

bool writeGeoData(const Scene &scene, const QString &folder, QString *error)
{
    const SceneParams &p = scene.params();
    Rng rng(mixSeed(p.seed, 0x6E0DA7A));
    const QString dir = folder + QStringLiteral("/GeoData/");
    const double my = meridionalRadius(p.centerLat) * kDeg;
    const double mx = primeVerticalRadius(p.centerLat) * std::cos(p.centerLat * kDeg) * kDeg;
    auto near = [&](double spreadM, double &lat, double &lon) {
        lat = p.centerLat + rng.uniform(-spreadM, spreadM) / my;
        lon = p.centerLon + rng.uniform(-spreadM, spreadM) / mx;
    };
    double lat, lon;
    std::vector<Polyline> highways, interstates, rivers;
    for (int k = 0; k < 3; ++k) {
        near(k == 0 ? 1500.0 : 8000.0, lat, lon);
        highways.push_back(wanderingLine(scene, rng, QStringLiteral("State Route %1").arg(20 + 7 * k), lat, lon,
                                         rng.uniform(0.0, 180.0), 250.0, 400));
    }
    near(4000.0, lat, lon);
    interstates.push_back(wanderingLine(scene, rng, QStringLiteral("Interstate 5"), lat, lon, rng.uniform(0.0, 180.0), 60.0, 200));
    for (int k = 0; k < 4; ++k) {
        near(k == 0 ? 2000.0 : 10000.0, lat, lon);
        rivers.push_back(wanderingLine(scene, rng, QStringLiteral("Creek %1").arg(k + 1), lat, lon,
                                       rng.uniform(0.0, 180.0), 600.0, 600));
    }
    auto drop = [](std::vector<Polyline> &v) {
        v.erase(std::remove_if(v.begin(), v.end(), [](const Polyline &l) { return l.x.size() < 2; }), v.end());
    };
    drop(highways);
    drop(interstates);
    drop(rivers);
    return writeLineShapefile(dir + QStringLiteral("highways"), highways, error)
           && writeLineShapefile(dir + QStringLiteral("interst"), interstates, error)
           && writeLineShapefile(dir + QStringLiteral("hydrolin"), rivers, error);
}

// ----------------------------------------------------------------- bitmaps

namespace {
bool saveBmp(const QImage &img, const QString &path, QString *error)
{
    if (!makeParent(path, error))
        return false;
    if (!img.save(path, "BMP"))
        return fail(error, QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(path)));
    return true;
}

// Point-in-triangle test for the button shapes.
bool inTriangle(double px, double py, double ax, double ay, double bx, double by, double cx, double cy)
{
    const double d1 = (px - bx) * (ay - by) - (ax - bx) * (py - by);
    const double d2 = (px - cx) * (by - cy) - (bx - cx) * (py - cy);
    const double d3 = (px - ax) * (cy - ay) - (cx - ax) * (py - ay);
    const bool neg = d1 < 0 || d2 < 0 || d3 < 0, pos = d1 > 0 || d2 > 0 || d3 > 0;
    return !(neg && pos);
}

QImage button(const std::function<QRgb(double, double, QRgb)> &shape)
{
    QImage img(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const bool border = x < 2 || y < 2 || x > 61 || y > 61;
            const int shade = 236 - (x + y) / 4;
            const QRgb bg = border ? qRgb(120, 120, 128) : qRgb(shade, shade, shade + 4);
            img.setPixel(x, y, shape(x + 0.5, y + 0.5, bg));
        }
    return img;
}
} // namespace

bool writeButtons(const QString &folder, QString *error)
{
    const QString dir = folder + QStringLiteral("/buttons/");
    const QRgb green = qRgb(20, 150, 40), red = qRgb(200, 30, 30), dark = qRgb(40, 40, 48), blue = qRgb(30, 80, 190);
    const QImage play = button([&](double x, double y, QRgb bg) {
        return inTriangle(x, y, 20, 14, 20, 50, 50, 32) ? green : bg;
    });
    const QImage stop = button([&](double x, double y, QRgb bg) {
        return (x > 16 && x < 48 && y > 16 && y < 48) ? dark : bg;
    });
    const QImage run = button([&](double x, double y, QRgb bg) {
        const double r = std::hypot(x - 32, y - 32);
        return r < 17 ? red : (r < 21 ? dark : bg);
    });
    const QImage stopRun = button([&](double x, double y, QRgb bg) {
        const double r = std::hypot(x - 32, y - 32);
        if (x > 22 && x < 42 && y > 22 && y < 42)
            return dark;
        return (r > 17 && r < 21) ? red : bg;
    });
    const QImage ftp = button([&](double x, double y, QRgb bg) {
        if (inTriangle(x, y, 32, 8, 14, 28, 50, 28) || (x > 25 && x < 39 && y >= 28 && y < 44))
            return blue;
        return (x > 12 && x < 52 && y > 48 && y < 55) ? dark : bg;
    });
    return saveBmp(play, dir + QStringLiteral("Play.bmp"), error) && saveBmp(stop, dir + QStringLiteral("Stop.bmp"), error)
           && saveBmp(run, dir + QStringLiteral("RunP.bmp"), error)
           && saveBmp(stopRun, dir + QStringLiteral("StopP.bmp"), error)
           && saveBmp(ftp, dir + QStringLiteral("Ftp.bmp"), error);
}

bool writeLogos(const QString &folder, QString *error)
{
    // Left logo: a jet over a grey band; right logo: a flame in a ring.
    QImage jet(420, 110, QImage::Format_Grayscale8);
    for (int y = 0; y < jet.height(); ++y) {
        uchar *row = jet.scanLine(y);
        for (int x = 0; x < jet.width(); ++x) {
            int v = 200 - x / 6;
            const double px = x + 0.5, py = y + 0.5;
            if (inTriangle(px, py, 40, 55, 300, 45, 300, 65) || inTriangle(px, py, 150, 55, 230, 10, 250, 55)
                || inTriangle(px, py, 150, 55, 230, 100, 250, 55) || inTriangle(px, py, 260, 55, 300, 25, 305, 55))
                v = 40;
            if (y > 96 && y < 102 && x > 30 && x < 390)
                v = 70;
            row[x] = uchar(std::clamp(v, 0, 255));
        }
    }
    QImage flame(360, 110, QImage::Format_Grayscale8);
    for (int y = 0; y < flame.height(); ++y) {
        uchar *row = flame.scanLine(y);
        for (int x = 0; x < flame.width(); ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const double r = std::hypot(px - 60, py - 55);
            int v = 235;
            if (r > 44 && r < 50)
                v = 60;
            const double t = (py - 15) / 80.0;   // 0 at the tip, 1 at the base
            if (t > 0 && t < 1 && std::fabs(px - 60 - 6 * std::sin(t * 6)) < 28 * std::sqrt(t) * (1.1 - t))
                v = 30 + int(120 * t);
            if (x > 130 && x < 340 && ((y > 35 && y < 45) || (y > 65 && y < 75)))
                v = 50 + (x - 130) / 3;
            row[x] = uchar(std::clamp(v, 0, 255));
        }
    }
    return saveBmp(jet, folder + QStringLiteral("/NewOrvekLogoJetGray.bmp"), error)
           && saveBmp(flame, folder + QStringLiteral("/CindrelTransparentLogoGrayDark.bmp"), error);
}

// ------------------------------------------------------------------ flights

std::vector<PassParams> planPasses(const Scene &scene, const FlightPlan &plan)
{
    const SceneParams &sp = scene.params();
    std::vector<PassParams> out;
    const double swath = 2.0 * plan.agl * std::tan(60.0 * kDeg);
    const double spacing = 0.75 * swath;
    const EnuFrame centre(sp.centerLat, sp.centerLon, 0.0);
    for (int k = 0; k < plan.passes; ++k) {
        PassParams p;
        p.passNumber = k + 1;
        p.headingDeg = std::fmod(plan.headingDeg + (k % 2 ? 180.0 : 0.0) + 360.0, 360.0);
        p.crabDeg = (k % 2 ? -2.5 : 2.5);
        p.groundSpeed = plan.speed;
        p.agl = plan.agl;
        p.lineRateHz = plan.lineRateHz;
        p.lineCount = plan.lines;
        p.firstLineIndex = 1000 + 100000u * unsigned(k);
        p.attitudeNoiseDeg = plan.attitudeNoiseDeg;
        p.faults = plan.faults;
        if (k == 1)
            p.lowScanPeriodFraction = 0.05;   // a run with some slow scans
        const LineGenerator probe(scene, p);
        const double rate = probe.lineRateHz();
        const double length = plan.speed * plan.lines / rate;
        const double trk = (p.headingDeg + p.crabDeg) * kDeg;
        const double across = (k - (plan.passes - 1) / 2.0) * spacing;
        const double base = plan.headingDeg * kDeg;
        // Offsets across the first pass's heading; start half a length back along the track.
        const double e = across * std::cos(base) - 0.5 * length * std::sin(trk);
        const double n = -across * std::sin(base) - 0.5 * length * std::cos(trk);
        const Geodetic g = ecefToGeodetic(centre.toEcef(e, n, 0.0));
        p.startLat = g.latDeg;
        p.startLon = g.lonDeg;
        out.push_back(p);
    }
    return out;
}

QString logFileName(const QDateTime &missionStart, const QString &mission, int pass)
{
    QString prefix = missionStart.toString(QStringLiteral("yyyyMMdd_HHmm_")) + mission;
    prefix.remove(QLatin1Char(' '));
    return prefix + QStringLiteral("_%1.plf").arg(pass);
}

bool recordPass(const Scene &scene, const PassParams &pass, const QString &path, CDspDataBuffer &ring,
                PassRecord *record, QString *error, const std::function<void(int)> &progress)
{
    if (!makeParent(path, error))
        return false;
    // Record faults happen after the host has taken the line; line losses before.
    PassParams clean = pass;
    clean.faults.shiftLeft.clear();
    clean.faults.shiftRight.clear();
    clean.faults.insane.clear();
    LineGenerator gen(scene, clean);

    CCindrelDspLog recorder(ring.coldCurve());
    if (!recorder.OpenForWrite(path))
        return fail(error, QStringLiteral("cannot create the flight log %1").arg(QDir::toNativeSeparators(path)));
    auto line = std::make_unique<ScanLineRec>();
    PassRecord rec;
    rec.pass = pass.passNumber;
    rec.logFile = QFileInfo(path).fileName();
    rec.headingDeg = pass.headingDeg;
    int k = 0;
    while (gen.next(*line)) {
        if (!ring.AddLine(*line)) {
            ++k;
            continue;
        }
        ring.TakeNewLineCount();
        for (int i = 0; i < SAMPLES_PER_LINE; ++i)
            rec.firePixels += line->pix[i] == FIRE_PIXEL;
        const double lat = milliArcSecToDeg(line->latitude), lon = milliArcSecToDeg(line->longitude);
        if (rec.lines == 0) {
            rec.startLat = lat;
            rec.startLon = lon;
        }
        rec.endLat = lat;
        rec.endLon = lon;
        for (const auto &[sample, id] : gen.fireHits()) {
            auto it = std::find_if(rec.sightings.begin(), rec.sightings.end(),
                                   [id = id](const FireSighting &s) { return s.fireId == id; });
            if (it == rec.sightings.end()) {
                rec.sightings.push_back(FireSighting{id, 0, 0, line->lineIndex, line->lineIndex, sample, sample});
                it = rec.sightings.end() - 1;
            }
            it->firstSample = std::min(it->firstSample, sample);
            it->lastSample = std::max(it->lastSample, sample);
            ++it->samples;
            it->markedPixels += line->pix[SAMPLES_PER_LINE - 1 - sample] == FIRE_PIXEL;
            it->lastLineIndex = line->lineIndex;
        }
        LineGenerator::applyRecordFaults(pass.faults, k, *line);
        if (!recorder.WriteRecord(*line)) {
            recorder.Close();
            return fail(error, QStringLiteral("cannot write the flight log %1").arg(QDir::toNativeSeparators(path)));
        }
        ++rec.lines;
        ++k;
        if (progress && k % 100 == 0)
            progress(k);
    }
    recorder.Close();
    if (pass.faults.trailingPartial) {
        QFile f(path);
        QByteArray half(int(CCindrelDspLog::kRecordSizeV1 / 2), '\0');
        std::memcpy(half.data(), line.get(), 144);
        if (!f.open(QIODevice::Append) || f.write(half) != half.size())
            return fail(error, QStringLiteral("cannot write the flight log %1").arg(QDir::toNativeSeparators(path)));
    }
    if (progress)
        progress(k);
    std::sort(rec.sightings.begin(), rec.sightings.end(),
              [](const FireSighting &a, const FireSighting &b) { return a.fireId < b.fireId; });
    if (record)
        *record = rec;
    return true;
}

bool writeTruth(const Scene &scene, const std::vector<PassRecord> &passes, const QString &folder, QString *error)
{
    QString fires;
    QTextStream f(&fires);
    f << "id,latitude,longitude,radius_m,intensity\n";
    for (const Fire &x : scene.fires())
        f << x.id << "," << num(x.lat, 9) << "," << num(x.lon, 9) << "," << num(x.radiusM, 2) << ","
          << num(x.intensity, 3) << "\n";
    f.flush();
    QString list;
    QTextStream p(&list);
    p << "pass,log_file,start_latitude,start_longitude,end_latitude,end_longitude,heading,lines\n";
    for (const PassRecord &r : passes)
        p << r.pass << "," << r.logFile << "," << num(r.startLat, 9) << "," << num(r.startLon, 9) << ","
          << num(r.endLat, 9) << "," << num(r.endLon, 9) << "," << num(r.headingDeg, 2) << "," << r.lines << "\n";
    p.flush();
    QString seen;
    QTextStream s(&seen);
    s << "pass,fire_id,samples,marked_pixels,first_line_index,last_line_index,first_sample,last_sample\n";
    for (const PassRecord &r : passes)
        for (const FireSighting &x : r.sightings)
            s << r.pass << "," << x.fireId << "," << x.samples << "," << x.markedPixels << "," << x.firstLineIndex << ","
              << x.lastLineIndex << "," << x.firstSample << "," << x.lastSample << "\n";
    s.flush();
    return writeText(folder + QStringLiteral("/truth/fires.csv"), fires, error)
           && writeText(folder + QStringLiteral("/truth/passes.csv"), list, error)
           && writeText(folder + QStringLiteral("/truth/sightings.csv"), seen, error);
}

} // namespace sim
