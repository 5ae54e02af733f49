// The coordinate converter against PROJ's exact transverse Mercator (cs2cs)
// on a grid over the service area, for the three ellipsoids, in the UTM
// zones the converter picks and on fixed central meridians. The errors are
// printed by distance from the central meridian.
#include "datasource/cutmconverter.h"

#include "tests/common/testsupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Ellipsoid {
    int code;
    const char *a;
    const char *rf;
};
const Ellipsoid kEllipsoids[] = {{1, "6378206.4", "294.9786982"},
                                 {2, "6378137.0", "298.257223563"},
                                 {3, "6378137.0", "298.257222101"}};

struct Point {
    double lat, lon;
    // ours
    double n = 0, e = 0;
    std::int32_t zone = 0;
    double invLat = 0, invLon = 0;   // our inverse of (n, e)
    double meridianWest = 0;         // central meridian used, degrees west
    // PROJ
    double projE = 0, projN = 0, projLat = 0, projLon = 0;
};

QStringList ellArgs(const Ellipsoid &el)
{
    return {QStringLiteral("+a=%1").arg(el.a), QStringLiteral("+rf=%1").arg(el.rf), QStringLiteral("+no_defs")};
}

QStringList tmercArgs(const Ellipsoid &el, double meridianWest)
{
    QStringList a{QStringLiteral("+proj=tmerc"), QStringLiteral("+lat_0=0"),
                  QStringLiteral("+lon_0=%1").arg(-meridianWest, 0, 'f', 6), QStringLiteral("+k_0=0.9996"),
                  QStringLiteral("+x_0=500000"), QStringLiteral("+y_0=0"), QStringLiteral("+units=m")};
    return a + ellArgs(el);
}

// Runs cs2cs on lines of two numbers; returns the first two numbers of each
// output line.
std::vector<std::pair<double, double>> runCs2cs(const QStringList &from, const QStringList &to,
                                                const std::vector<std::pair<double, double>> &in,
                                                const char *format)
{
    const QString inputName = testsupport::workDir() + QStringLiteral("/cs2cs_in.txt");
    {
        QFile f(inputName);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QTextStream ts(&f);
        ts.setRealNumberPrecision(15);
        for (const auto &p : in)
            ts << p.first << ' ' << p.second << '\n';
    }
    QStringList args{QStringLiteral("-f"), QString::fromLatin1(format)};
    args << from << QStringLiteral("+to") << to << inputName;
    const testsupport::ProcessResult r = testsupport::run(QStringLiteral("cs2cs"), args, 60000);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    std::vector<std::pair<double, double>> out;
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList parts = line.simplified().split(QLatin1Char(' '));
        if (parts.size() < 2)
            continue;
        out.emplace_back(parts[0].toDouble(), parts[1].toDouble());
    }
    EXPECT_EQ(out.size(), in.size());
    return out;
}

struct Bin {
    double fwd = 0, inv = 0, trip = 0;
    int count = 0;
};

// Metres of a latitude/longitude difference at a latitude.
double groundDistance(double lat, double dLat, double dLon)
{
    const double m = 111320.0;
    return std::hypot(dLat * m, dLon * m * std::cos(lat * kPi / 180.0));
}

void compareWithProj(const Ellipsoid &el, std::vector<Point> &points, int fixedMeridian, std::map<int, Bin> &bins)
{
    CUtmConverter conv;
    if (fixedMeridian != 0)
        conv.SetCentralMeridian(fixedMeridian);
    std::map<double, std::vector<Point *>> byMeridian;
    for (Point &p : points) {
        conv.LatLonToUtm(p.lat, p.lon, &p.n, &p.e, &p.zone, el.code);
        conv.UtmToLatLon(p.n, p.e, p.zone, &p.invLat, &p.invLon, el.code);
        p.meridianWest = fixedMeridian != 0 ? -fixedMeridian : CUtmConverter::ZoneCentralMeridianWest(p.zone);
        byMeridian[p.meridianWest].push_back(&p);
    }
    const QStringList geo = QStringList{QStringLiteral("+proj=longlat")} + ellArgs(el);
    for (auto &group : byMeridian) {
        std::vector<std::pair<double, double>> lonLat, en;
        for (const Point *p : group.second) {
            lonLat.emplace_back(p->lon, p->lat);
            en.emplace_back(p->e, p->n);
        }
        const auto fwd = runCs2cs(geo, tmercArgs(el, group.first), lonLat, "%.6f");
        const auto inv = runCs2cs(tmercArgs(el, group.first), geo, en, "%.12f");
        ASSERT_EQ(fwd.size(), group.second.size());
        ASSERT_EQ(inv.size(), group.second.size());
        for (std::size_t i = 0; i < group.second.size(); ++i) {
            Point &p = *group.second[i];
            p.projE = fwd[i].first;
            p.projN = fwd[i].second;
            p.projLon = inv[i].first;
            p.projLat = inv[i].second;
        }
    }
    for (const Point &p : points) {
        const double dist = std::fabs(-p.lon - p.meridianWest);
        const double fwdErr = std::hypot(p.e - p.projE, p.n - p.projN) * 1000.0;
        const double invErr = groundDistance(p.lat, p.invLat - p.projLat, p.invLon - p.projLon) * 1000.0;
        const double tripErr = groundDistance(p.lat, p.invLat - p.lat, p.invLon - p.lon) * 1000.0;
        Bin &b = bins[int(dist)];
        b.fwd = std::max(b.fwd, fwdErr);
        b.inv = std::max(b.inv, invErr);
        b.trip = std::max(b.trip, tripErr);
        ++b.count;
        const std::string where = "datum " + std::to_string(el.code) + " lat " + std::to_string(p.lat) + " lon "
                                  + std::to_string(p.lon) + " meridian " + std::to_string(-p.meridianWest);
        if (dist <= 6.0) {
            EXPECT_LT(fwdErr, 1.0) << "forward, mm, " << where;
        }
        if (dist <= 5.0) {
            EXPECT_LT(tripErr, 1.0) << "round trip, mm, " << where;
            EXPECT_LT(invErr, 1.0) << "inverse, mm, " << where;
        }
    }
}

void printBins(const char *title, const std::map<int, Bin> &bins)
{
    std::printf("%s\n  degrees from meridian | points | forward mm | inverse mm | round trip mm\n", title);
    for (const auto &b : bins)
        std::printf("  %d..%d | %6d | %9.4f | %9.4f | %9.4f\n", b.first, b.first + 1, b.second.count, b.second.fwd,
                    b.second.inv, b.second.trip);
}

} // namespace

TEST(UtmConverterAgainstProj, ZonesOverTheServiceArea)
{
    if (!testsupport::haveTool(QStringLiteral("cs2cs")))
        GTEST_SKIP() << "cs2cs (proj-bin) not installed";
    std::map<int, Bin> bins;
    for (const Ellipsoid &el : kEllipsoids) {
        std::vector<Point> points;
        for (double lat = 24.0; lat <= 71.5; lat += 1.9)
            for (double lon = -170.0; lon <= -66.0; lon += 0.83)
                points.push_back({lat, lon});
        // The grid's fixed point and both sides of zone 10 within the edge bands.
        points.push_back({45.0, -123.0});
        points.push_back({45.0, -120.05});
        points.push_back({45.0, -125.95});
        compareWithProj(el, points, 0, bins);
    }
    printBins("UTM zones, all three ellipsoids", bins);
    // Every point of a zone lies within about 3.1 degrees of its meridian.
    EXPECT_LE(bins.rbegin()->first, 3);
}

TEST(UtmConverterAgainstProj, FixedCentralMeridians)
{
    if (!testsupport::haveTool(QStringLiteral("cs2cs")))
        GTEST_SKIP() << "cs2cs (proj-bin) not installed";
    std::map<int, Bin> bins;
    for (const Ellipsoid &el : kEllipsoids) {
        for (int meridian : {-150, -123, -97, -75}) {
            std::vector<Point> points;
            for (double lat = 24.0; lat <= 71.5; lat += 1.9)
                for (double off = -7.5; off <= 7.5; off += 0.5)
                    points.push_back({lat, meridian + off});
            if (meridian == -123)
                points.push_back({45.0, -120.05});   // stays on the fixed meridian
            compareWithProj(el, points, meridian, bins);
        }
    }
    printBins("Fixed central meridians, all three ellipsoids", bins);
    EXPECT_EQ(bins.rbegin()->first, 7);
}
