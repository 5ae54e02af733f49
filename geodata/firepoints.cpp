#include "geodata/firepoints.h"

#include "geodata/georefsidecar.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace firepoints {

namespace {

constexpr const char *kMagic = "cindrel fire pixels 1";
constexpr double kDeg = 0.017453292519943295;

std::string oneLine(const QString &s)
{
    QString t = s;
    t.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return t.toStdString();
}

QString isoUtc(const QDateTime &t) { return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString(); }

// A table of points: WGS 84 position and text cells, numeric columns
// written as numbers where the format has types.
struct Table {
    std::vector<const char *> names;
    std::vector<bool> numeric;
    std::vector<double> lon, lat;
    std::vector<std::string> cells;   // row-major, names.size() per row
};

std::string jsonString(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + '"';
}

std::string xmlText(const std::string &s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string csvCell(const std::string &s)
{
    if (s.find_first_of(",\"\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

bool save(const QString &path, const std::string &text, QString *error)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.data(), qint64(text.size())) != qint64(text.size())
        || !f.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

std::string number(double v, int decimals);

bool writeTable(const QString &base, const Table &t, const char *title, QString *error)
{
    const size_t cols = t.names.size();
    const size_t rows = t.lon.size();

    std::string json;
    json.reserve(rows * 320 + 256);
    json += "{\"type\":\"FeatureCollection\",\"name\":";
    json += jsonString(title);
    json += ",\"features\":[";
    std::string kml;
    kml.reserve(rows * 600 + 1024);
    kml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n";
    kml += "<name>" + xmlText(title) + "</name>\n<Schema name=\"fire\" id=\"fire\">\n";
    for (size_t c = 0; c < cols; ++c) {
        kml += "<SimpleField name=\"";
        kml += t.names[c];
        kml += t.numeric[c] ? "\" type=\"double\"/>\n" : "\" type=\"string\"/>\n";
    }
    kml += "</Schema>\n<Style id=\"fire\"><IconStyle><color>ff0000ff</color><scale>0.6</scale></IconStyle></Style>\n";
    std::string csv;
    csv.reserve(rows * 120 + 256);
    for (size_t c = 0; c < cols; ++c) {
        csv += c ? "," : "";
        csv += t.names[c];
    }
    csv += '\n';

    for (size_t r = 0; r < rows; ++r) {
        const std::string *row = &t.cells[r * cols];
        const std::string coord = number(t.lon[r], 7) + ',' + number(t.lat[r], 7);
        json += r ? ",\n" : "\n";
        json += "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[";
        json += coord;
        json += "]},\"properties\":{";
        kml += "<Placemark><styleUrl>#fire</styleUrl><ExtendedData><SchemaData schemaUrl=\"#fire\">";
        for (size_t c = 0; c < cols; ++c) {
            json += c ? ",\"" : "\"";
            json += t.names[c];
            json += "\":";
            if (row[c].empty())
                json += "null";
            else
                json += t.numeric[c] ? row[c] : jsonString(row[c]);
            if (!row[c].empty()) {
                kml += "<SimpleData name=\"";
                kml += t.names[c];
                kml += "\">";
                kml += xmlText(row[c]);
                kml += "</SimpleData>";
            }
            csv += c ? "," : "";
            csv += csvCell(row[c]);
        }
        csv += '\n';
        json += "}}";
        kml += "</SchemaData></ExtendedData><Point><coordinates>";
        kml += coord;
        kml += "</coordinates></Point></Placemark>\n";
    }
    json += "\n]}\n";
    kml += "</Document>\n</kml>\n";
    return save(base + QStringLiteral(".geojson"), json, error) && save(base + QStringLiteral(".kml"), kml, error)
           && save(base + QStringLiteral(".csv"), csv, error)
           && georef::WriteShapefilePrj(base, georef::GeographicWkt(georef::kWgs84));
}

// Fixed-point text of a value, without printf (hundreds of thousands of
// points are written at a time).
std::string number(double v, int decimals)
{
    static const double scale[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    if (!std::isfinite(v) || decimals < 0 || decimals > 8 || std::fabs(v) * scale[decimals] > 9e17) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.*f", std::clamp(decimals, 0, 8), v);
        return buf;
    }
    long long n = std::llround(std::fabs(v) * scale[decimals]);
    char buf[32];
    int i = int(sizeof buf);
    for (int d = 0; d < decimals; ++d) {
        buf[--i] = char('0' + n % 10);
        n /= 10;
    }
    if (decimals > 0)
        buf[--i] = '.';
    do {
        buf[--i] = char('0' + n % 10);
        n /= 10;
    } while (n > 0);
    std::string out;
    if (v < 0 && std::llround(std::fabs(v) * scale[decimals]) != 0)
        out += '-';
    out.append(buf + i, size_t(int(sizeof buf) - i));
    return out;
}

struct UnionFind {
    std::vector<int> parent;
    explicit UnionFind(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    int find(int i)
    {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    }
    void join(int a, int b)
    {
        a = find(a);
        b = find(b);
        if (a != b)
            parent[std::max(a, b)] = std::min(a, b);
    }
};

// The points of a line share its time: the text last made is kept.
QString utcText(qint64 timeMs, const QString &format, qint64 &last, QString &text)
{
    if (timeMs != last) {
        last = timeMs;
        text = timeMs ? QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC).toString(format) : QString();
    }
    return text;
}
} // namespace

QString AcquisitionDate(qint64 timeMs)
{
    thread_local qint64 last = 0;
    thread_local QString text;
    return utcText(timeMs, QStringLiteral("yyyy-MM-dd"), last, text);
}

QString AcquisitionTime(qint64 timeMs)
{
    thread_local qint64 last = 0;
    thread_local QString text;
    return utcText(timeMs, QStringLiteral("HH:mm:ss"), last, text);
}

QString RunFileName(const QString &runBasePath) { return runBasePath + QStringLiteral("_firepixels.txt"); }

bool WriteRun(const QString &path, const RunRecord &run, QString *error)
{
    std::string text;
    text.reserve(run.pixels.size() * 96 + 512);
    text += kMagic;
    text += '\n';
    auto kv = [&text](const char *key, const std::string &value) {
        text += key;
        text += '=';
        text += value;
        text += '\n';
    };
    kv("log", oneLine(run.log));
    kv("pass", oneLine(run.pass));
    kv("start", isoUtc(run.start).toStdString());
    kv("end", isoUtc(run.end).toStdString());
    kv("lines", std::to_string(run.lines));
    kv("track", std::to_string(run.track));
    kv("cell", number(run.cellM, 3));
    kv("datum", std::to_string(run.datum));
    kv("meridian", std::to_string(run.meridian));
    kv("platform", oneLine(run.platform));
    kv("version", oneLine(run.version));
    kv("pixels", std::to_string(run.pixels.size()));
    char buf[256];
    for (const FirePixel &p : run.pixels) {
        std::snprintf(buf, sizeof buf, "%.8f %.8f %.8f %.8f %lld %lld %d %d %d\n", p.lat, p.lon, p.wgsLat, p.wgsLon,
                      static_cast<long long>(p.timeMs), static_cast<long long>(p.line), p.sample, p.a, p.b);
        text += buf;
    }
    return save(path, text, error);
}

bool ReadRun(const QString &path, RunRecord *run, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), why);
        return false;
    };
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot be read"));
    const QByteArray all = f.readAll();
    *run = RunRecord();
    const char *p = all.constData();
    const char *end = p + all.size();
    auto nextLine = [&](const char **lineEnd) {
        const char *e = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        *lineEnd = e ? e : end;
    };
    const char *e = nullptr;
    nextLine(&e);
    if (std::string(p, e) != kMagic)
        return fail(QStringLiteral("not a fire pixel record"));
    p = e < end ? e + 1 : end;
    long long expected = -1;
    while (p < end && expected < 0) {
        nextLine(&e);
        const std::string line(p, e);
        p = e < end ? e + 1 : end;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return fail(QStringLiteral("damaged header"));
        const std::string key = line.substr(0, eq);
        const QString value = QString::fromStdString(line.substr(eq + 1));
        if (key == "log") run->log = value;
        else if (key == "pass") run->pass = value;
        else if (key == "start") run->start = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (key == "end") run->end = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (key == "lines") run->lines = value.toInt();
        else if (key == "track") run->track = value.toInt();
        else if (key == "cell") run->cellM = value.toDouble();
        else if (key == "datum") run->datum = value.toInt();
        else if (key == "meridian") run->meridian = value.toInt();
        else if (key == "platform") run->platform = value;
        else if (key == "version") run->version = value;
        else if (key == "pixels") expected = value.toLongLong();
    }
    if (expected < 0 || expected > 100000000)
        return fail(QStringLiteral("damaged header"));
    run->pixels.reserve(size_t(expected));
    while (p < end) {
        nextLine(&e);
        if (e == p) {
            p = e + 1;
            continue;
        }
        const std::string line(p, e);
        p = e < end ? e + 1 : end;
        FirePixel px;
        double v[4];
        long long n[5];
        const char *q = line.c_str();
        bool ok = true;
        for (double &d : v) {
            char *after = nullptr;
            d = std::strtod(q, &after);
            ok = ok && after != q && std::isfinite(d);
            q = after;
        }
        for (long long &k : n) {
            char *after = nullptr;
            k = std::strtoll(q, &after, 10);
            ok = ok && after != q;
            q = after;
        }
        if (!ok || std::llabs(n[2]) > 100000 || std::llabs(n[3]) > INT_MAX || std::llabs(n[4]) > INT_MAX)
            return fail(QStringLiteral("damaged point %1").arg(run->pixels.size() + 1));
        px.lat = v[0];
        px.lon = v[1];
        px.wgsLat = v[2];
        px.wgsLon = v[3];
        px.timeMs = n[0];
        px.line = n[1];
        px.sample = int(n[2]);
        px.a = int(n[3]);
        px.b = int(n[4]);
        run->pixels.push_back(px);
    }
    if (qint64(run->pixels.size()) != expected)
        return fail(QStringLiteral("%1 of %2 points").arg(run->pixels.size()).arg(expected));
    return true;
}

std::vector<Cluster> FindClusters(const std::vector<RunRecord> &runs)
{
    struct Ref {
        int run;
        const FirePixel *px;
        double x, y;   // local metres
    };
    std::vector<Ref> refs;
    double sumLat = 0;
    double maxCell = 1.0;
    for (size_t r = 0; r < runs.size(); ++r) {
        maxCell = std::max(maxCell, runs[r].cellM);
        for (const FirePixel &p : runs[r].pixels) {
            refs.push_back({int(r), &p, 0, 0});
            sumLat += p.wgsLat;
        }
    }
    std::vector<Cluster> out;
    if (refs.empty())
        return out;
    const double lat0 = sumLat / double(refs.size());
    const double mx = 111320.0 * std::cos(lat0 * kDeg), my = 110574.0;
    for (Ref &r : refs) {
        r.x = r.px->wgsLon * mx;
        r.y = r.px->wgsLat * my;
    }
    auto cellOf = [&](int run) { return std::max(runs[size_t(run)].cellM, 0.1); };
    // Buckets as wide as the longest link: neighbours are in the 3 x 3 round.
    const double bucket = 1.5 * maxCell;
    // Shifted as unsigned: bucket numbers west of Greenwich are negative.
    auto key = [](std::int64_t bx, std::int64_t by) {
        return std::int64_t((std::uint64_t(bx) << 32) ^ (std::uint64_t(by) & 0xffffffffu));
    };
    std::unordered_map<std::int64_t, std::vector<int>> buckets;
    buckets.reserve(refs.size());
    for (size_t i = 0; i < refs.size(); ++i)
        buckets[key(std::int64_t(std::floor(refs[i].x / bucket)), std::int64_t(std::floor(refs[i].y / bucket)))]
            .push_back(int(i));
    UnionFind uf(refs.size());
    for (size_t i = 0; i < refs.size(); ++i) {
        const std::int64_t bx = std::int64_t(std::floor(refs[i].x / bucket));
        const std::int64_t by = std::int64_t(std::floor(refs[i].y / bucket));
        for (std::int64_t dx = -1; dx <= 1; ++dx)
            for (std::int64_t dy = -1; dy <= 1; ++dy) {
                const auto it = buckets.find(key(bx + dx, by + dy));
                if (it == buckets.end())
                    continue;
                for (int j : it->second) {
                    if (j <= int(i) || uf.find(j) == uf.find(int(i)))
                        continue;
                    const double link = 1.5 * std::max(cellOf(refs[i].run), cellOf(refs[size_t(j)].run));
                    if (std::hypot(refs[i].x - refs[size_t(j)].x, refs[i].y - refs[size_t(j)].y) <= link)
                        uf.join(int(i), j);
                }
            }
    }
    std::unordered_map<int, size_t> index;
    std::vector<std::vector<int>> members;
    for (size_t i = 0; i < refs.size(); ++i) {
        const int root = uf.find(int(i));
        auto it = index.find(root);
        if (it == index.end()) {
            it = index.emplace(root, members.size()).first;
            members.emplace_back();
        }
        members[it->second].push_back(int(i));
    }
    for (const std::vector<int> &m : members) {
        Cluster c;
        double smallest = 1e9;
        std::vector<bool> seen(runs.size(), false);
        for (int i : m) {
            const Ref &r = refs[size_t(i)];
            c.wgsLat += r.px->wgsLat;
            c.wgsLon += r.px->wgsLon;
            c.lat += r.px->lat;
            c.lon += r.px->lon;
            smallest = std::min(smallest, cellOf(r.run));
            if (!seen[size_t(r.run)]) {
                seen[size_t(r.run)] = true;
                ++c.passes;
            }
            const qint64 t = r.px->timeMs;
            if (t && (!c.firstSeenMs || t < c.firstSeenMs)) {
                c.firstSeenMs = t;
                c.firstPass = runs[size_t(r.run)].pass;
            }
        }
        if (c.firstPass.isEmpty())
            c.firstPass = runs[size_t(refs[size_t(m.front())].run)].pass;
        c.pixels = int(m.size());
        c.wgsLat /= c.pixels;
        c.wgsLon /= c.pixels;
        c.lat /= c.pixels;
        c.lon /= c.pixels;
        // The ground the cluster covers: its points on a lattice of its
        // finest cell, each lattice cell counted once (overlapping samples
        // and passes do not add area).
        std::unordered_set<std::int64_t> cells;
        for (int i : m)
            cells.insert(key(std::llround(refs[size_t(i)].x / smallest), std::llround(refs[size_t(i)].y / smallest)));
        c.areaM2 = double(cells.size()) * smallest * smallest;
        out.push_back(c);
    }
    // Largest first; equal ones in the order first seen.
    std::stable_sort(out.begin(), out.end(), [](const Cluster &a, const Cluster &b) {
        if (a.pixels != b.pixels)
            return a.pixels > b.pixels;
        return a.firstSeenMs < b.firstSeenMs;
    });
    return out;
}

QString PointsBase(const QString &folder, const QString &mission)
{
    return folder + QLatin1Char('/') + mission + QStringLiteral("_FirePoints");
}

QString ClustersBase(const QString &folder, const QString &mission)
{
    return folder + QLatin1Char('/') + mission + QStringLiteral("_FireClusters");
}

bool WritePointFiles(const QString &base, const std::vector<RunRecord> &runs, QString *error)
{
    Table t;
    t.names = {"latitude", "longitude", "acq_date", "acq_time", "pass", "line", "sample",
               "chan_a",   "chan_b",    "cell_m",   "platform", "version"};
    t.numeric = {true, true, false, false, false, true, true, true, true, true, false, false};
    size_t n = 0;
    for (const RunRecord &r : runs)
        n += r.pixels.size();
    t.lon.reserve(n);
    t.lat.reserve(n);
    t.cells.reserve(n * t.names.size());
    for (const RunRecord &r : runs) {
        const std::string pass = r.pass.toStdString(), platform = r.platform.toStdString(),
                          version = r.version.toStdString(), cell = r.cellM > 0 ? number(r.cellM, 2) : std::string();
        for (const FirePixel &p : r.pixels) {
            t.lon.push_back(p.wgsLon);
            t.lat.push_back(p.wgsLat);
            t.cells.push_back(number(p.wgsLat, 7));
            t.cells.push_back(number(p.wgsLon, 7));
            t.cells.push_back(AcquisitionDate(p.timeMs).toStdString());
            t.cells.push_back(AcquisitionTime(p.timeMs).toStdString());
            t.cells.push_back(pass);
            const bool known = r.fieldsKnown;
            t.cells.push_back(known && p.line >= 0 ? std::to_string(p.line) : std::string());
            t.cells.push_back(known && p.sample >= 0 ? std::to_string(p.sample) : std::string());
            t.cells.push_back(known ? std::to_string(p.a) : std::string());
            t.cells.push_back(known ? std::to_string(p.b) : std::string());
            t.cells.push_back(cell);
            t.cells.push_back(platform);
            t.cells.push_back(version);
        }
    }
    return writeTable(base, t, "fire points", error);
}

bool WriteClusterFiles(const QString &base, const std::vector<Cluster> &clusters, QString *error)
{
    Table t;
    t.names = {"latitude", "longitude", "pixels", "area_m2", "first_date", "first_time", "first_pass", "passes"};
    t.numeric = {true, true, true, true, false, false, false, true};
    for (const Cluster &c : clusters) {
        t.lon.push_back(c.wgsLon);
        t.lat.push_back(c.wgsLat);
        t.cells.push_back(number(c.wgsLat, 7));
        t.cells.push_back(number(c.wgsLon, 7));
        t.cells.push_back(std::to_string(c.pixels));
        t.cells.push_back(number(c.areaM2, 1));
        t.cells.push_back(AcquisitionDate(c.firstSeenMs).toStdString());
        t.cells.push_back(AcquisitionTime(c.firstSeenMs).toStdString());
        t.cells.push_back(c.firstPass.toStdString());
        t.cells.push_back(std::to_string(c.passes));
    }
    return writeTable(base, t, "fire clusters", error);
}

void RemoveFiles(const QString &base)
{
    for (const char *ext : {".geojson", ".kml", ".csv", ".prj"})
        QFile::remove(base + QLatin1String(ext));
}

} // namespace firepoints
