// cindrel report: one self-contained HTML page of a processed log folder,
// the mission at a glance: the mosaic with the fire points drawn on it, the
// passes, the fire clusters and what the processing of each log made or
// why it failed.
#include "datasource/cutmconverter.h"
#include "geodata/cmosaic.h"
#include "geodata/firepoints.h"
#include "geodata/georefsidecar.h"
#include "ortho/logproductchain.h"
#include "tools/command.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <cmath>

namespace {
using namespace cindrel::tool;

constexpr int kMaxClusterRows = 200;
constexpr int kMaxMarks = 50000;

struct Pass {
    QString base;   // absolute path without suffix, e.g. /d/20240715_1432_Demo_1
    bool haveRun = false;
    firepoints::RunRecord run;
    QString runError;
    bool haveRecord = false;
    QJsonObject record;
    QStringList products;
};

QString esc(const QString &s) { return s.toHtmlEscaped(); }

QString when(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC")
                       : QStringLiteral("&ndash;");
}

QString whenMs(qint64 ms)
{
    return ms ? when(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)) : QStringLiteral("&ndash;");
}

// The mosaic's place: world file (pixel centres) and its grid's meridian and datum.
struct MosaicPlace {
    bool valid = false;
    double a = 1, b = 0, c = 0, d = 0, e = -1, f = 0;
    int meridian = 0;
    int datum = 3;
    QSize size;
};

MosaicPlace readPlace(const QString &jpg)
{
    MosaicPlace p;
    QFile world(georef::WorldFilePath(jpg));
    QFile prj(QFileInfo(jpg).absoluteDir().filePath(QFileInfo(jpg).completeBaseName() + QStringLiteral(".prj")));
    p.size = QImageReader(jpg).size();
    if (!p.size.isValid() || !world.open(QIODevice::ReadOnly) || !prj.open(QIODevice::ReadOnly))
        return p;
    const QList<QByteArray> w = world.readAll().simplified().split(' ');
    const QString wkt = QString::fromLatin1(prj.readAll());
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Central_Meridian\",([-0-9.eE+]+)")).match(wkt);
    if (w.size() < 6 || !m.hasMatch())
        return p;
    p.a = w[0].toDouble();
    p.d = w[1].toDouble();
    p.b = w[2].toDouble();
    p.e = w[3].toDouble();
    p.c = w[4].toDouble();
    p.f = w[5].toDouble();
    p.meridian = int(std::lround(m.captured(1).toDouble()));
    p.datum = wkt.contains(QLatin1String("1927")) ? 1 : 3;
    const double det = p.a * p.e - p.b * p.d;
    p.valid = std::fabs(det) > 1e-12;
    return p;
}

// The fire points as rings over the mosaic (one per picture pixel).
QString overlay(const MosaicPlace &place, const std::vector<firepoints::RunRecord> &runs, int *marked)
{
    CUtmConverter converter;
    converter.SetCentralMeridian(place.meridian);
    const double det = place.a * place.e - place.b * place.d;
    const double radius = std::max(4.0, std::max(place.size.width(), place.size.height()) / 250.0);
    QSet<qint64> seen;
    QString circles;
    for (const firepoints::RunRecord &run : runs)
        for (const firepoints::FirePixel &p : run.pixels) {
            double n = 0, e = 0;
            std::int32_t zone = 0;
            converter.LatLonToUtm(p.lat, p.lon, &n, &e, &zone, place.datum);
            const double x = e - place.c, y = n - place.f;
            const double col = (place.e * x - place.b * y) / det, row = (place.a * y - place.d * x) / det;
            if (!(col > -0.5 && row > -0.5 && col < place.size.width() - 0.5 && row < place.size.height() - 0.5))
                continue;
            const qint64 key = qint64(std::lround(row)) * 100000 + std::lround(col);
            if (seen.contains(key) || seen.size() >= kMaxMarks)
                continue;
            seen.insert(key);
            circles += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"%3\"/>")
                           .arg(std::lround(col) + 0.5)
                           .arg(std::lround(row) + 0.5)
                           .arg(radius, 0, 'f', 1);
        }
    *marked = seen.size();
    return QStringLiteral("<svg viewBox=\"0 0 %1 %2\" preserveAspectRatio=\"none\"><g fill=\"none\" "
                          "stroke=\"#ffd400\" stroke-width=\"%3\">%4</g></svg>")
        .arg(place.size.width())
        .arg(place.size.height())
        .arg(radius / 3.0, 0, 'f', 1)
        .arg(circles);
}

QString productsOf(const QString &base)
{
    const QFileInfo info(base);
    const QDir dir = info.absoluteDir();
    QStringList found;
    for (const char *kind : {"ortho", "color", "fire"}) {
        const QString tif = info.fileName() + QLatin1Char('_') + QLatin1String(kind) + QStringLiteral(".tif");
        const QString jpg = QStringLiteral("jpeg/") + info.fileName() + QLatin1Char('_') + QLatin1String(kind)
                            + QStringLiteral(".jpg");
        if (dir.exists(tif))
            found << QStringLiteral("<a href=\"%1\">%2</a>").arg(esc(tif), QLatin1String(kind))
                         + (dir.exists(jpg) ? QStringLiteral(" (<a href=\"%1\">jpg</a>)").arg(esc(jpg)) : QString());
    }
    return found.join(QStringLiteral(", "));
}

QString css()
{
    return QStringLiteral(
        "body{font-family:'Liberation Sans',Arial,sans-serif;margin:24px;color:#222;background:#fafafa}"
        "h1{margin:0 0 4px}h2{margin-top:28px;border-bottom:2px solid #c33;padding-bottom:4px}"
        ".facts{color:#555;margin:0 0 12px}"
        ".map{position:relative;max-width:1300px;border:1px solid #999}"
        ".map img{display:block;width:100%;height:auto}"
        ".map svg{position:absolute;left:0;top:0;width:100%;height:100%}"
        "table{border-collapse:collapse;margin:8px 0;font-size:14px}"
        "th,td{border:1px solid #bbb;padding:3px 8px;text-align:left}th{background:#eee}"
        "td.n{text-align:right}.ok{color:#060}.bad{color:#b00;font-weight:bold}"
        "details{margin:6px 0}summary{cursor:pointer}ul.steps{margin:4px 0 8px}"
        ".files a{margin-right:12px}");
}

int run(const Invocation &in)
{
    const QString dirArg = in.positional(0);
    const QFileInfo dirInfo(dirArg);
    if (!dirInfo.isDir())
        return in.error(QStringLiteral("%1: the folder does not exist").arg(QDir::toNativeSeparators(dirArg)));
    const QDir dir(dirInfo.absoluteFilePath());

    // Every run of the folder: logs, processing records, ortho images and
    // fire pixel records, by base name.
    QMap<QString, QMap<QString, Pass>> missions;   // mission -> base -> pass
    auto baseOf = [](const QString &name, const QString &suffix) { return name.left(name.size() - suffix.size()); };
    const struct {
        const char *pattern, *suffix;
    } kinds[] = {{"*.plf", ".plf"},
                 {"*_processing.json", "_processing.json"},
                 {"*_ortho.tif", "_ortho.tif"},
                 {"*_firepixels.txt", "_firepixels.txt"}};
    for (const auto &k : kinds)
        for (const QString &name : dir.entryList({QLatin1String(k.pattern)}, QDir::Files, QDir::Name)) {
            const QString base = baseOf(name, QLatin1String(k.suffix));
            if (!base.contains(QLatin1Char('_')))
                continue;
            // The untouched copy desmoking keeps ("<name>orig.plf") is no pass.
            if (base.endsWith(QLatin1String("orig")) && dir.exists(base.chopped(4) + QStringLiteral(".plf")))
                continue;
            Pass &p = missions[CMosaic::MissionBaseName(base + QStringLiteral(".plf"))][base];
            p.base = dir.filePath(base);
        }
    if (missions.isEmpty())
        return in.error(QStringLiteral("%1: no flight logs or products to report on").arg(QDir::toNativeSeparators(dir.path())));

    QString html;
    const QString title = missions.size() == 1 ? missions.firstKey() : dir.dirName();
    html += QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Mission report %1</title>"
                           "<style>%2</style></head><body>\n")
                .arg(esc(title), css());
    html += QStringLiteral("<h1>Mission report: %1</h1><p class=\"facts\">%2 &middot; made %3</p>\n")
                .arg(esc(title), esc(QDir::toNativeSeparators(dir.path())), when(QDateTime::currentDateTimeUtc()));

    for (auto mi = missions.begin(); mi != missions.end(); ++mi) {
        const QString mission = mi.key();
        std::vector<firepoints::RunRecord> runs;
        int failed = 0, fires = 0;
        for (Pass &p : mi.value()) {
            p.haveRun = firepoints::ReadRun(firepoints::RunFileName(p.base), &p.run, &p.runError);
            QFile rec(LogOutcome::RecordPath(p.base + QStringLiteral(".plf")));
            if (rec.open(QIODevice::ReadOnly)) {
                const QJsonDocument doc = QJsonDocument::fromJson(rec.readAll());
                p.haveRecord = doc.isObject();
                p.record = doc.object();
            }
            if (p.haveRecord && !p.record.value(QStringLiteral("succeeded")).toBool())
                ++failed;
            if (p.haveRun) {
                runs.push_back(p.run);
                fires += int(p.run.pixels.size());
            }
        }
        const std::vector<firepoints::Cluster> clusters = firepoints::FindClusters(runs);

        html += QStringLiteral("<h2>%1</h2><p class=\"facts\">%2 passes, %3 fire pixels in %4 clusters%5</p>\n")
                    .arg(esc(mission))
                    .arg(mi.value().size())
                    .arg(fires)
                    .arg(clusters.size())
                    .arg(failed ? QStringLiteral(", <span class=\"bad\">%1 failed</span>").arg(failed) : QString());

        // The mosaic with the fire points.
        const QString jpg = dir.filePath(mission + QStringLiteral("_mosaic.jpg"));
        QFile picture(jpg);
        if (picture.open(QIODevice::ReadOnly)) {
            const QByteArray data = picture.readAll();
            const MosaicPlace place = readPlace(jpg);
            int marked = 0;
            const QString svg = place.valid ? overlay(place, runs, &marked) : QString();
            html += QStringLiteral("<div class=\"map\"><img alt=\"mosaic of %1\" src=\"data:image/jpeg;base64,%2\">%3</div>\n")
                        .arg(esc(mission), QString::fromLatin1(data.toBase64()), svg);
            html += place.valid ? QStringLiteral("<p class=\"facts\">Yellow rings: fire points (%1 picture pixels "
                                                 "marked). Times: the log's start (from its name, to the minute) "
                                                 "plus its scans.</p>\n")
                                      .arg(marked)
                                : QStringLiteral("<p class=\"bad\">The mosaic has no world file or coordinate "
                                                 "system: fire points not drawn.</p>\n");
        } else {
            html += QStringLiteral("<p class=\"bad\">No mosaic (%1) in the folder.</p>\n")
                        .arg(esc(QFileInfo(jpg).fileName()));
        }
        QStringList files;
        for (const QString &base : {firepoints::PointsBase(dir.path(), mission), firepoints::ClustersBase(dir.path(), mission),
                                    dir.filePath(mission + QStringLiteral("_RawHeatData"))})
            for (const char *ext : {".geojson", ".kml", ".csv", ".shp"})
                if (QFileInfo::exists(base + QLatin1String(ext))) {
                    const QString name = QFileInfo(base).fileName() + QLatin1String(ext);
                    files << QStringLiteral("<a href=\"%1\">%1</a>").arg(esc(name));
                }
        if (!files.isEmpty())
            html += QStringLiteral("<p class=\"files\">Fire point files: %1</p>\n").arg(files.join(QLatin1Char(' ')));

        // Passes.
        html += QStringLiteral("<h3>Passes</h3><table><tr><th>Pass</th><th>Log</th><th>Start</th><th>End</th>"
                               "<th>Heading (&deg;)</th><th>Lines</th><th>Fire pixels</th><th>Products</th>"
                               "<th>Processing</th></tr>\n");
        for (const Pass &p : mi.value()) {
            const QString name = QFileInfo(p.base).fileName();
            const QString pass = name.mid(name.lastIndexOf(QLatin1Char('_')) + 1);
            QString status = QStringLiteral("&ndash;");
            if (p.haveRecord)
                status = p.record.value(QStringLiteral("succeeded")).toBool()
                             ? QStringLiteral("<span class=\"ok\">products written</span>")
                             : QStringLiteral("<span class=\"bad\">failed</span>");
            html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td class=\"n\">%5</td>"
                                   "<td class=\"n\">%6</td><td class=\"n\">%7</td><td>%8</td><td>%9</td></tr>\n")
                        .arg(esc(pass), esc(name + QStringLiteral(".plf")),
                             p.haveRun ? when(p.run.start) : QStringLiteral("&ndash;"),
                             p.haveRun ? when(p.run.end) : QStringLiteral("&ndash;"),
                             p.haveRun ? QString::number(p.run.track) : QStringLiteral("&ndash;"),
                             p.haveRun ? QString::number(p.run.lines) : QStringLiteral("&ndash;"),
                             p.haveRun ? QString::number(p.run.pixels.size()) : QStringLiteral("&ndash;"),
                             productsOf(p.base), status);
        }
        html += QStringLiteral("</table>\n");

        // Fire clusters.
        html += QStringLiteral("<h3>Fire clusters</h3>");
        if (clusters.empty()) {
            html += QStringLiteral("<p>No fire pixels recorded.</p>\n");
        } else {
            html += QStringLiteral("<table><tr><th>#</th><th>Latitude</th><th>Longitude</th><th>Pixels</th>"
                                   "<th>Area (m&sup2;)</th><th>First seen</th><th>First pass</th><th>Passes</th></tr>\n");
            for (int i = 0; i < int(clusters.size()) && i < kMaxClusterRows; ++i) {
                const firepoints::Cluster &c = clusters[size_t(i)];
                html += QStringLiteral("<tr><td class=\"n\">%1</td><td class=\"n\">%2</td><td class=\"n\">%3</td>"
                                       "<td class=\"n\">%4</td><td class=\"n\">%5</td><td>%6</td><td>%7</td>"
                                       "<td class=\"n\">%8</td></tr>\n")
                            .arg(i + 1)
                            .arg(c.wgsLat, 0, 'f', 5)
                            .arg(c.wgsLon, 0, 'f', 5)
                            .arg(c.pixels)
                            .arg(c.areaM2, 0, 'f', 0)
                            .arg(whenMs(c.firstSeenMs), esc(c.firstPass))
                            .arg(c.passes);
            }
            html += QStringLiteral("</table><p class=\"facts\">WGS 84; largest first%1.</p>\n")
                        .arg(clusters.size() > size_t(kMaxClusterRows)
                                 ? QStringLiteral(", the first %1 of %2").arg(kMaxClusterRows).arg(clusters.size())
                                 : QString());
        }

        // What the processing of each log made.
        html += QStringLiteral("<h3>Processing log</h3>\n");
        for (const Pass &p : mi.value()) {
            const QString name = QFileInfo(p.base).fileName();
            if (!p.haveRecord) {
                html += QStringLiteral("<details><summary>%1: no processing record</summary><p>%2</p></details>\n")
                            .arg(esc(name),
                                 p.haveRun ? QStringLiteral("Products made without the processing chain "
                                                            "(cindrel orthorectify).")
                                           : QStringLiteral("The log has not been processed."));
                continue;
            }
            const bool ok = p.record.value(QStringLiteral("succeeded")).toBool();
            html += QStringLiteral("<details open><summary class=\"%1\">%2</summary><ul class=\"steps\">")
                        .arg(ok ? QStringLiteral("ok") : QStringLiteral("bad"),
                             esc(p.record.value(QStringLiteral("summary")).toString()));
            for (const QJsonValue &v : p.record.value(QStringLiteral("steps")).toArray()) {
                const QJsonObject s = v.toObject();
                html += QStringLiteral("<li class=\"%1\">%2: %3</li>")
                            .arg(s.value(QStringLiteral("ok")).toBool() ? QStringLiteral("ok") : QStringLiteral("bad"),
                                 esc(s.value(QStringLiteral("step")).toString()),
                                 esc(s.value(QStringLiteral("result")).toString()));
            }
            QStringList made;
            for (const QJsonValue &v : p.record.value(QStringLiteral("products")).toArray())
                made << esc(v.toString());
            html += QStringLiteral("</ul><p class=\"facts\">Processed %1. %2</p></details>\n")
                        .arg(when(QFileInfo(LogOutcome::RecordPath(p.base + QStringLiteral(".plf"))).lastModified()),
                             made.isEmpty() ? QStringLiteral("No files made.")
                                            : QStringLiteral("Made: %1.").arg(made.join(QStringLiteral(", "))));
        }
    }
    html += QStringLiteral("</body></html>\n");

    const QString out = in.value(QStringLiteral("out"),
                                 dir.filePath((missions.size() == 1 ? missions.firstKey() + QLatin1Char('_') : QString())
                                              + QStringLiteral("report.html")));
    QSaveFile file(out);
    const QByteArray bytes = html.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return in.error(QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(out)));
    in.out() << QDir::toNativeSeparators(QFileInfo(out).absoluteFilePath()) << "\n";
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("report"), QStringLiteral("Write the mission report of a processed log folder"),
     QStringLiteral("DIR [--out FILE]"),
     QStringLiteral("Writes one self-contained HTML page (MISSION_report.html in DIR, report.html when the\n"
                    "folder holds several missions) with the mission mosaic and its fire points drawn on it,\n"
                    "a table of the passes (time, heading, lines, fire pixels, products), a table of the\n"
                    "fire clusters (position, area, first seen) and the processing log of each pass (what\n"
                    "was made, what failed and why). Reads the products, the fire pixel records\n"
                    "(BASE_firepixels.txt) and the processing records (BASE_processing.json) of DIR."),
     {{QStringLiteral("out"), QStringLiteral("FILE"), QStringLiteral("where to write the page")}},
     1, 1, run});
} // namespace
