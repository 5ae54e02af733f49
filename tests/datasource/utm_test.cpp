// Coordinate converter: the grid's fixed points, zone choice and zone-edge
// moves, the fixed central meridian, the area check, convergence and scale.
#include "datasource/cutmconverter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Projected {
    double n = 0, e = 0;
    std::int32_t zone = 0;
    bool inArea = false;
};

Projected forward(CUtmConverter &c, double lat, double lon, int datum)
{
    Projected p;
    p.inArea = c.LatLonToUtm(lat, lon, &p.n, &p.e, &p.zone, datum);
    return p;
}

} // namespace

TEST(UtmConverter, CentralMeridianPointOfZone10)
{
    CUtmConverter c;
    const Projected p = forward(c, 45.0, -123.0, 2);
    EXPECT_TRUE(p.inArea);
    EXPECT_EQ(p.zone, 10);
    EXPECT_EQ(p.e, 500000.0);
    EXPECT_NEAR(p.n, 4982950.4, 0.1);
    EXPECT_EQ(c.GetConvergence(), 0.0);
    EXPECT_DOUBLE_EQ(c.GetScaleFactor(), 0.9996);
    EXPECT_EQ(c.GetZone(), 10);
    EXPECT_DOUBLE_EQ(c.GetNorthing(), p.n);
}

TEST(UtmConverter, ZoneNumbersFollowTheSixDegreeGrid)
{
    // Away from the 5 arcminute edge bands the zone is the standard one.
    CUtmConverter c;
    for (double lon = -179.9; lon < 179.9; lon += 0.37) {
        const double standard = std::floor((lon + 180.0) / 6.0) + 1.0;
        const double edgeWest = -180.0 + (standard - 1.0) * 6.0;
        const double distEdge = std::min(lon - edgeWest, edgeWest + 6.0 - lon);
        if (distEdge <= 0.0834)
            continue;
        const Projected p = forward(c, 50.0, lon, 2);
        ASSERT_EQ(p.zone, int(standard)) << "lon " << lon;
        // Within a zone the easting stays within the zone's half width.
        ASSERT_LT(std::fabs(p.e - 500000.0), 3.2 * 111320.0 * std::cos(50.0 * kPi / 180.0)) << lon;
    }
}

TEST(UtmConverter, PointsNearAZoneEdgeMoveToTheNeighbourZone)
{
    CUtmConverter c;
    CUtmConverter ref;

    // Within 5 arcminutes of zone 10's eastern edge (120 W): zone 11.
    const Projected east = forward(c, 45.0, -120.05, 2);
    EXPECT_EQ(east.zone, 11);
    ref.SetCentralMeridian(-117);
    const Projected onZone11 = forward(ref, 45.0, -120.05, 2);
    EXPECT_DOUBLE_EQ(east.e, onZone11.e);
    EXPECT_DOUBLE_EQ(east.n, onZone11.n);
    EXPECT_LT(east.e, 500000.0 - 200000.0);

    // Within 5 arcminutes of zone 10's western edge (126 W): zone 9.
    const Projected west = forward(c, 45.0, -125.95, 2);
    EXPECT_EQ(west.zone, 9);
    ref.SetCentralMeridian(-129);
    const Projected onZone9 = forward(ref, 45.0, -125.95, 2);
    EXPECT_DOUBLE_EQ(west.e, onZone9.e);
    EXPECT_GT(west.e, 700000.0);

    // Just outside the band the point stays in its own zone.
    EXPECT_EQ(forward(c, 45.0, -120.1, 2).zone, 10);
    EXPECT_EQ(forward(c, 45.0, -125.9, 2).zone, 10);

    // The inverse keeps the zone it is given and returns the point.
    double lat = 0, lon = 0;
    c.UtmToLatLon(east.n, east.e, east.zone, &lat, &lon, 2);
    EXPECT_NEAR(lat, 45.0, 1e-9);
    EXPECT_NEAR(lon, -120.05, 1e-9);
}

TEST(UtmConverter, FixedCentralMeridian)
{
    CUtmConverter c;
    EXPECT_EQ(c.GetCentralMeridian(), 0);
    c.SetCentralMeridian(-123);
    EXPECT_EQ(c.GetCentralMeridian(), -123);

    // Stays on 123 W although the point lies at zone 10's eastern edge.
    const Projected p = forward(c, 45.0, -120.05, 2);
    EXPECT_EQ(p.zone, 10);
    EXPECT_NEAR(p.e, 732505.0, 1.0);

    // Zone 0 is allowed with a fixed meridian, and reports success.
    double lat = 0, lon = 0;
    EXPECT_TRUE(c.UtmToLatLon(p.n, p.e, 0, &lat, &lon, 2));
    EXPECT_NEAR(lat, 45.0, 1e-9);
    EXPECT_NEAR(lon, -120.05, 1e-9);

    // A positive argument is taken as degrees west; 0 removes the meridian.
    c.SetCentralMeridian(100);
    EXPECT_EQ(c.GetCentralMeridian(), -100);
    EXPECT_NEAR(forward(c, 40.0, -100.0, 2).e, 500000.0, 1e-6);
    c.SetCentralMeridian(0);
    EXPECT_EQ(c.GetCentralMeridian(), 0);
    const Projected zoned = forward(c, 40.0, -100.0, 2);
    EXPECT_EQ(zoned.zone, 14);
    c.SetCentralMeridian(-99);   // the meridian of zone 14
    EXPECT_DOUBLE_EQ(forward(c, 40.0, -100.0, 2).e, zoned.e);
    EXPECT_LT(zoned.e, 500000.0);
}

TEST(UtmConverter, ServiceAreaAndReturnValues)
{
    EXPECT_TRUE(CUtmConverter::IsInServiceArea(0, 0));
    EXPECT_FALSE(CUtmConverter::IsInServiceArea(23.9, -100));
    EXPECT_FALSE(CUtmConverter::IsInServiceArea(45, -65.9));
    EXPECT_TRUE(CUtmConverter::IsInServiceArea(24.0, -170.0));
    EXPECT_TRUE(CUtmConverter::IsInServiceArea(71.5, -66.0));
    EXPECT_FALSE(CUtmConverter::IsInServiceArea(71.6, -100));
    EXPECT_FALSE(CUtmConverter::IsInServiceArea(45, 100));

    CUtmConverter c;
    double n = 0, e = 0, lat = 0, lon = 0;
    std::int32_t zone = 0;
    EXPECT_FALSE(c.LatLonToUtm(45.0, 10.0, &n, &e, &zone, 2));   // outside, still converted
    EXPECT_EQ(zone, 32);
    EXPECT_FALSE(c.UtmToLatLon(n, e, zone, &lat, &lon, 2));
    EXPECT_NEAR(lon, 10.0, 1e-8);   // an eastern zone gives back an eastern longitude
    EXPECT_NEAR(lat, 45.0, 1e-8);
    EXPECT_TRUE(c.UtmToLatLon(0.0, 0.0, 10, &lat, &lon, 2));
    EXPECT_TRUE(c.LatLonToUtm(60.0, -150.0, &n, &e, &zone, 1));
    EXPECT_TRUE(c.UtmToLatLon(n, e, zone, &lat, &lon, 1));
    EXPECT_FALSE(c.LatLonToUtm(std::nan(""), -100.0, &n, &e, &zone, 2));
    EXPECT_EQ(zone, 0);
}

TEST(UtmConverter, EllipsoidCodes)
{
    CUtmConverter c;
    const Projected clarke = forward(c, 45.0, -121.0, 1);
    const Projected wgs = forward(c, 45.0, -121.0, 2);
    const Projected grs = forward(c, 45.0, -121.0, 3);
    // Clarke 1866 and WGS 84 differ by tens of metres; WGS 84 and GRS 80
    // by well under a millimetre here.
    EXPECT_GT(std::fabs(clarke.n - wgs.n), 10.0);
    EXPECT_LT(std::fabs(wgs.n - grs.n), 1e-3);
    EXPECT_NE(wgs.n, grs.n);
    // An unknown code keeps the previous ellipsoid.
    forward(c, 10.0, -100.0, 1);
    const Projected kept = forward(c, 45.0, -121.0, 7);
    EXPECT_DOUBLE_EQ(kept.n, clarke.n);
    EXPECT_EQ(c.GetDatum(), 1);
}

TEST(UtmConverter, ConvergenceAndScaleMatchTheGridGeometry)
{
    // Convergence and point scale are checked against the geometry of the
    // forward mapping itself: the direction and length of the image of a
    // short step north along the meridian.
    CUtmConverter c;
    const double a = 6378137.0, f = 1.0 / 298.257223563, e2 = 2 * f - f * f;
    for (double lat : {30.0, 45.0, 65.0}) {
        for (double dl : {-2.5, -1.0, 0.7, 2.9}) {
            const double lon = -123.0 + dl;
            Projected p0 = forward(c, lat, lon, 2);
            const double gamma = c.GetConvergence();
            const double k = c.GetScaleFactor();
            const double h = 1e-5;   // degrees
            Projected p1 = forward(c, lat + h, lon, 2);
            Projected pm = forward(c, lat - h, lon, 2);
            ASSERT_EQ(p0.zone, 10);
            const double dE = p1.e - pm.e, dN = p1.n - pm.n;
            const double s = std::sin(lat * kPi / 180.0);
            const double rho = a * (1 - e2) / std::pow(1 - e2 * s * s, 1.5);
            const double ground = rho * 2 * h * kPi / 180.0;
            EXPECT_NEAR(std::sqrt(dE * dE + dN * dN) / ground, k, 2e-6) << lat << " " << dl;
            // Grid north lies east of true north for points east of the meridian.
            EXPECT_NEAR(gamma, -std::atan2(dE, dN), 2e-6) << lat << " " << dl;
            EXPECT_EQ(gamma > 0, dl > 0);
        }
    }
}

TEST(UtmConverter, ConvergenceStatisticsAndInstances)
{
    CUtmConverter c;
    double mean = -1, sd = -1;
    c.GetConvergenceStats(&mean, &sd);
    EXPECT_EQ(mean, 0.0);   // no conversion yet: no NaN
    EXPECT_EQ(sd, 0.0);

    forward(c, 45.0, -123.0, 2);   // gamma 0
    forward(c, 45.0, -121.0, 2);
    const double g = c.GetConvergence();
    c.GetConvergenceStats(&mean, &sd);
    EXPECT_NEAR(mean, g / 2, 1e-15);
    EXPECT_NEAR(sd, std::fabs(g) / 2, 1e-12);

    // The inverse adds its convergence too, the same value at the same point.
    double lat = 0, lon = 0;
    c.UtmToLatLon(c.GetNorthing(), c.GetEasting(), 10, &lat, &lon, 2);
    EXPECT_NEAR(c.GetConvergence(), g, 1e-9);
    c.GetConvergenceStats(&mean, &sd);
    EXPECT_NEAR(mean, 2 * g / 3, 1e-9);

    CUtmConverter second;
    CUtmConverter third;
    EXPECT_EQ(second.GetInstanceNumber(), c.GetInstanceNumber() + 1);
    EXPECT_EQ(third.GetInstanceNumber(), c.GetInstanceNumber() + 2);
}

// The position-only inverse of the rectifier's inner loop agrees with the
// full inverse far below a millimetre on every ellipsoid, with a fixed
// meridian and on zones east and west of 180, also near a reference
// northing, and changes no state.
TEST(UtmConverter, GridToLatLonAgreesWithTheFullInverse)
{
    struct Case {
        int datum, meridian, zone;
        double northing, easting;
    } const cases[] = {
        {3, -121, 0, 4930000.0, 500000.0},  {3, -121, 0, 4930000.0, 462000.0}, {3, -121, 0, 5100000.0, 541000.0},
        {1, -150, 0, 6800000.0, 430000.0},  {1, -150, 0, 7900000.0, 610000.0}, {2, 0, 10, 3000000.0, 250000.0},
        {2, 0, 10, 4000000.0, 700000.0},     {3, 0, 60, 5500000.0, 480000.0},   {3, 0, 31, 100000.0, 520000.0},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message() << "datum " << k.datum << " meridian " << k.meridian << " zone " << k.zone
                                        << " N " << k.northing << " E " << k.easting);
        CUtmConverter full, lean;
        full.SetCentralMeridian(k.meridian);
        lean.SetCentralMeridian(k.meridian);
        double lat = 0, lon = 0, leanLat = 0, leanLon = 0;
        full.UtmToLatLon(k.northing, k.easting, k.zone, &lat, &lon, k.datum);
        lean.UtmToLatLon(1.0, 500000.0, k.zone, &leanLat, &leanLon, k.datum);   // selects the ellipsoid
        double meanBefore = 0, sdBefore = 0, mean = 0, sd = 0;
        lean.GetConvergenceStats(&meanBefore, &sdBefore);
        const double northingBefore = lean.GetNorthing();
        lean.GridToLatLon(k.northing, k.easting, k.zone, &leanLat, &leanLon);
        EXPECT_NEAR(leanLat, lat, 1e-12);
        EXPECT_NEAR(leanLon, lon, 1e-12);
        // Near a reference northing (by the angle sum) and beyond its reach.
        for (const double offset : {0.0, 4000.0, -12000.0, 60000.0}) {
            double refLat = 0, refLon = 0;
            lean.GridToLatLon(k.northing, k.easting, k.zone, lean.ReferenceAt(k.northing + offset), &refLat, &refLon);
            EXPECT_NEAR(refLat, leanLat, 1e-13) << "reference offset " << offset;
            EXPECT_NEAR(refLon, leanLon, 1e-13) << "reference offset " << offset;
        }
        lean.GetConvergenceStats(&mean, &sd);
        EXPECT_EQ(mean, meanBefore);
        EXPECT_EQ(lean.GetNorthing(), northingBefore);
    }
}
