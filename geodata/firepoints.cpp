#include "geodata/firepoints.h"

#include "geodata/georefsidecar.h"
#include "platform/wholefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <string_view>
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

// A table of points, written row by row straight into the three files:
// WGS 84 position and text cells, numeric columns written as numbers where
// the format has types. A row's cells point into texts that stay put
// while the row is written (the run's own texts, or a row's scratch).
struct Columns {
    std::vector<const char *> names;
    std::vector<bool> numeric;
};
struct Row {
    double lon = 0, lat = 0;
    std::string_view cells[16];
    char scratch[512];
    std::size_t used = 0;

    std::string_view keep(const std::string &text)
    {
        if (used + text.size() > sizeof scratch)
            return {};
        std::memcpy(scratch + used, text.data(), text.size());
        const std::string_view v(scratch + used, text.size());
        used += text.size();
        return v;
    }
    template <class T> std::string_view integer(T value)
    {
        const auto r = std::to_chars(scratch + used, scratch + sizeof scratch, value);
        const std::string_view v(scratch + used, std::size_t(r.ptr - (scratch + used)));
        used = std::size_t(r.ptr - scratch);
        return v;
    }
};

void appendJsonString(std::string &out, std::string_view s)
{
    out += '"';
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
    out += '"';
}

void appendXml(std::string &out, std::string_view s)
{
    if (s.find_first_of("&<>\"") == std::string_view::npos) {
        out += s;
        return;
    }
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
}

void appendCsv(std::string &out, std::string_view s)
{
    if (s.find_first_of(",\"\n") == std::string_view::npos) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

std::string number(double v, int decimals);

// fill(r, row) sets the position and cells of row r.
template <class Fill>
bool writeTable(const QString &base, const Columns &t, std::size_t rows, const Fill &fill, const char *title,
                QString *error)
{
    const size_t cols = t.names.size();
    cindrel::WholeFileWriter jsonFile(base + QStringLiteral(".geojson")), kmlFile(base + QStringLiteral(".kml")),
        csvFile(base + QStringLiteral(".csv"));
    std::string &json = jsonFile.Text(), &kml = kmlFile.Text(), &csv = csvFile.Text();
    json += "{\"type\":\"FeatureCollection\",\"name\":";
    appendJsonString(json, title);
    json += ",\"features\":[";
    kml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n";
    kml += "<name>";
    appendXml(kml, title);
    kml += "</name>\n<Schema name=\"fire\" id=\"fire\">\n";
    for (size_t c = 0; c < cols; ++c) {
        kml += "<SimpleField name=\"";
        kml += t.names[c];
        kml += t.numeric[c] ? "\" type=\"double\"/>\n" : "\" type=\"string\"/>\n";
    }
    kml += "</Schema>\n<Style id=\"fire\"><IconStyle><color>ff0000ff</color><scale>0.6</scale></IconStyle></Style>\n";
    for (size_t c = 0; c < cols; ++c) {
        csv += c ? "," : "";
        csv += t.names[c];
    }
    csv += '\n';

    Row row;
    for (size_t r = 0; r < rows; ++r) {
        row.used = 0;
        fill(r, row);
        const std::string lon = number(row.lon, 7), lat = number(row.lat, 7);
        json += r ? ",\n" : "\n";
        json += "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[";
        json += lon;
        json += ',';
        json += lat;
        json += "]},\"properties\":{";
        kml += "<Placemark><styleUrl>#fire</styleUrl><ExtendedData><SchemaData schemaUrl=\"#fire\">";
        for (size_t c = 0; c < cols; ++c) {
            const std::string_view cell = row.cells[c];
            json += c ? ",\"" : "\"";
            json += t.names[c];
            json += "\":";
            if (cell.empty())
                json += "null";
            else if (t.numeric[c])
                json += cell;
            else
                appendJsonString(json, cell);
            if (!cell.empty()) {
                kml += "<SimpleData name=\"";
                kml += t.names[c];
                kml += "\">";
                appendXml(kml, cell);
                kml += "</SimpleData>";
            }
            csv += c ? "," : "";
            appendCsv(csv, cell);
        }
        csv += '\n';
        json += "}}";
        kml += "</SchemaData></ExtendedData><Point><coordinates>";
        kml += lon;
        kml += ',';
        kml += lat;
        kml += "</coordinates></Point></Placemark>\n";
        jsonFile.Drain();
        kmlFile.Drain();
        csvFile.Drain();
    }
    json += "\n]}\n";
    kml += "</Document>\n</kml>\n";
    const std::pair<cindrel::WholeFileWriter *, const char *> files[] = {
        {&jsonFile, ".geojson"}, {&kmlFile, ".kml"}, {&csvFile, ".csv"}};
    for (const auto &f : files)
        if (!f.first->Commit()) {
            if (error)
                *error = QStringLiteral("cannot write %1").arg(base + QLatin1String(f.second));
            return false;
        }
    return georef::WriteShapefilePrj(base, georef::GeographicWkt(georef::kWgs84));
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

} // namespace

void AcquisitionText::Set(qint64 timeMs)
{
    if (timeMs == timeMs_ && (timeMs == 0 || date_[0]))
        return;
    timeMs_ = timeMs;
    date_[0] = time_[0] = '\0';
    if (timeMs == 0)
        return;
    // Days since 1970 to the civil date (proleptic Gregorian), as the
    // calendar's own conversion gives for the years of flight logs.
    const qint64 days = timeMs / 86400000, msOfDay = timeMs % 86400000;
    const qint64 z = days + 719468, era = z / 146097, doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const int day = int(doy - (153 * mp + 2) / 5 + 1), month = int(mp < 10 ? mp + 3 : mp - 9);
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    if (timeMs < 0 || year > 9999) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC);
        qstrncpy(date_, t.toString(QStringLiteral("yyyy-MM-dd")).toLatin1().constData(), sizeof date_);
        qstrncpy(time_, t.toString(QStringLiteral("HH:mm:ss")).toLatin1().constData(), sizeof time_);
        return;
    }
    const int seconds = int(msOfDay / 1000);
    std::snprintf(date_, sizeof date_, "%04d-%02d-%02d", int(year), month, day);
    std::snprintf(time_, sizeof time_, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
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
        FirePixel px;
        double v[4];
        long long n[5];
        // Fields separated by blanks, read in place.
        const char *q = p;
        bool ok = true;
        auto skip = [&]() {
            while (q < e && (*q == ' ' || *q == '\t' || *q == '\r'))
                ++q;
        };
        for (double &d : v) {
            skip();
            const auto r = std::from_chars(q, e, d);
            ok = ok && r.ec == std::errc() && std::isfinite(d);
            q = r.ec == std::errc() ? r.ptr : e;
        }
        for (long long &k : n) {
            skip();
            const auto r = std::from_chars(q, e, k);
            ok = ok && r.ec == std::errc();
            q = r.ec == std::errc() ? r.ptr : e;
        }
        p = e < end ? e + 1 : end;
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
    Columns t;
    t.names = {"latitude", "longitude", "acq_date", "acq_time", "pass", "line", "sample",
               "chan_a",   "chan_b",    "cell_m",   "platform", "version"};
    t.numeric = {true, true, false, false, false, true, true, true, true, true, false, false};
    // Rows in run order; the texts of a run made once.
    struct RunTexts {
        std::string pass, platform, version, cell;
        std::size_t end;   // rows up to this one belong to the run
    };
    std::vector<RunTexts> texts;
    std::size_t n = 0;
    for (const RunRecord &r : runs) {
        n += r.pixels.size();
        texts.push_back({r.pass.toStdString(), r.platform.toStdString(), r.version.toStdString(),
                         r.cellM > 0 ? number(r.cellM, 2) : std::string(), n});
    }
    std::size_t run = 0, first = 0;
    AcquisitionText when;
    const auto fill = [&](std::size_t i, Row &row) {
        while (i >= texts[run].end)
            first = texts[run++].end;
        const RunRecord &r = runs[run];
        const RunTexts &rt = texts[run];
        const FirePixel &p = r.pixels[i - first];
        row.lon = p.wgsLon;
        row.lat = p.wgsLat;
        when.Set(p.timeMs);
        std::string_view *cell = row.cells;
        cell[0] = row.keep(number(p.wgsLat, 7));
        cell[1] = row.keep(number(p.wgsLon, 7));
        cell[2] = when.Date();
        cell[3] = when.Time();
        cell[4] = rt.pass;
        const bool known = r.fieldsKnown;
        cell[5] = known && p.line >= 0 ? row.integer(p.line) : std::string_view();
        cell[6] = known && p.sample >= 0 ? row.integer(p.sample) : std::string_view();
        cell[7] = known ? row.integer(p.a) : std::string_view();
        cell[8] = known ? row.integer(p.b) : std::string_view();
        cell[9] = rt.cell;
        cell[10] = rt.platform;
        cell[11] = rt.version;
    };
    return writeTable(base, t, n, fill, "fire points", error);
}

bool WriteClusterFiles(const QString &base, const std::vector<Cluster> &clusters, QString *error)
{
    Columns t;
    t.names = {"latitude", "longitude", "pixels", "area_m2", "first_date", "first_time", "first_pass", "passes"};
    t.numeric = {true, true, true, true, false, false, false, true};
    std::string pass;
    AcquisitionText when;
    const auto fill = [&](std::size_t i, Row &row) {
        const Cluster &c = clusters[i];
        row.lon = c.wgsLon;
        row.lat = c.wgsLat;
        when.Set(c.firstSeenMs);
        pass = c.firstPass.toStdString();
        std::string_view *cell = row.cells;
        cell[0] = row.keep(number(c.wgsLat, 7));
        cell[1] = row.keep(number(c.wgsLon, 7));
        cell[2] = row.integer(c.pixels);
        cell[3] = row.keep(number(c.areaM2, 1));
        cell[4] = when.Date();
        cell[5] = when.Time();
        cell[6] = pass;
        cell[7] = row.integer(c.passes);
    };
    return writeTable(base, t, clusters.size(), fill, "fire clusters", error);
}

void RemoveFiles(const QString &base)
{
    for (const char *ext : {".geojson", ".kml", ".csv", ".prj"})
        QFile::remove(base + QLatin1String(ext));
}

} // namespace firepoints
