// Geometry of the simulated scanner: ellipsoid conversions, where samples
// land on flat and tilted flights, and fires seen by the samples that look at them.
#include "sim/geodesy.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace sim;

namespace {
constexpr double kDeg = M_PI / 180.0;

SceneParams flatParams()
{
    SceneParams p;
    p.regionDeg = 0.1;
    p.relief = 0.0;
    p.baseElevation = 500.0;
    p.fireCount = 0;
    p.smokeCount = 0;
    return p;
}

// East and north offsets (metres) of a ground point from a point at the same
// height, on the tangent plane there.
void offsetEN(double lat0, double lon0, double lat, double lon, double height, double &e, double &n)
{
    const EnuFrame f(lat0, lon0, height);
    const Ecef p = geodeticToEcef(lat, lon, height);
    double u;
    f.toEnu(p, e, n, u);
}
} // namespace

TEST(Geodesy, RoundTripsAndFrameAreExact)
{
    Rng rng(7);
    for (int k = 0; k < 2000; ++k) {
        const double lat = rng.uniform(-89.0, 89.0), lon = rng.uniform(-180.0, 180.0), h = rng.uniform(-500.0, 12000.0);
        const Geodetic g = ecefToGeodetic(geodeticToEcef(lat, lon, h));
        ASSERT_NEAR(g.latDeg, lat, 1e-10);
        ASSERT_NEAR(g.lonDeg, lon, 1e-10);
        ASSERT_NEAR(g.height, h, 1e-4);
    }
    // Known point: the equator at the prime meridian lies on the semi-major axis.
    const Ecef e = geodeticToEcef(0.0, 0.0, 0.0);
    EXPECT_NEAR(e.x, 6378137.0, 1e-6);
    // The pole lies on the semi-minor axis.
    EXPECT_NEAR(geodeticToEcef(90.0, 0.0, 0.0).z, 6356752.314245, 1e-5);

    const EnuFrame f(44.5, -121.5, 1000.0);
    const double dot = f.east[0] * f.north[0] + f.east[1] * f.north[1] + f.east[2] * f.north[2];
    EXPECT_NEAR(dot, 0.0, 1e-15);
    // One kilometre north along the frame, 1000 m up, is an arc of
    // 1000 M / (M + 1000) on the ellipsoid.
    const Geodetic n = ecefToGeodetic(f.toEcef(0.0, 1000.0, 0.0));
    const double m = meridionalRadius(44.5);
    EXPECT_NEAR((n.latDeg - 44.5) * kDeg * m, 1000.0 * m / (m + 1000.0), 0.01);
    EXPECT_GT(n.height, 1000.0);   // the tangent plane rises above the ellipsoid
}

TEST(RayTracing, FlatGroundLevelFlightFollowsPlaneGeometry)
{
    const Scene scene(flatParams());
    LookState s;
    s.lat = 44.5;
    s.lon = -121.5;
    s.altitude = 500.0 + 1500.0;
    const double H = 1500.0;
    for (double heading : {0.0, 90.0, 217.0}) {
        s.headingDeg = heading;
        RayTracer tracer(scene, s);
        for (int pix : {0, 300, 839, 840, 1000, 1679}) {
            const double theta = scanAngleOfPix(pix);
            const GroundPoint gp = tracer.trace(theta);
            EXPECT_NEAR(gp.height, 500.0, 1e-9);
            double e, n;
            offsetEN(s.lat, s.lon, gp.lat, gp.lon, gp.height, e, n);
            // Across the heading: positive angles to the left.
            const double leftE = -std::cos(heading * kDeg), leftN = std::sin(heading * kDeg);
            const double across = e * leftE + n * leftN;
            const double along = e * std::sin(heading * kDeg) + n * std::cos(heading * kDeg);
            const double flat = H * std::tan(theta * kDeg);
            EXPECT_NEAR(along, 0.0, 0.01) << "pix " << pix;
            // The ellipsoid falls away from the tangent plane: the edge rays
            // reach about a metre farther than on a plane, the inner ones
            // agree to a few millimetres.
            if (std::fabs(theta) < 15.0)
                EXPECT_NEAR(across, flat, 0.005) << "pix " << pix;
            else {
                EXPECT_GT(std::fabs(across), std::fabs(flat)) << "pix " << pix;
                EXPECT_LT(std::fabs(across) - std::fabs(flat), 2.0) << "pix " << pix;
                EXPECT_EQ(across > 0, flat > 0);
            }
        }
    }
    // The first pixel looks 59.96 degrees left of a northbound aircraft: west.
    s.headingDeg = 0.0;
    const GroundPoint g0 = RayTracer(scene, s).trace(scanAngleOfPix(0));
    EXPECT_LT(g0.lon, s.lon);
    EXPECT_NEAR(scanAngleOfPix(0), 59.9643, 1e-4);
    EXPECT_NEAR(scanAngleOfPix(1679), -59.9643, 1e-4);
}

TEST(RayTracing, TiltedAircraftFollowsTheRotatedRay)
{
    const Scene scene(flatParams());
    LookState s;
    s.lat = 44.5;
    s.lon = -121.5;
    s.altitude = 2000.0;
    const double H = 1500.0;
    struct Case {
        double roll, pitch, heading;
    };
    for (const Case c : {Case{4.0, 0.0, 0.0}, Case{0.0, 3.0, 0.0}, Case{-6.0, 2.5, 30.0}, Case{3.0, -4.0, 300.0}}) {
        s.rollDeg = c.roll;
        s.pitchDeg = c.pitch;
        s.headingDeg = c.heading;
        const GroundPoint gp = RayTracer(scene, s).trace(0.0);
        double e, n;
        offsetEN(s.lat, s.lon, gp.lat, gp.lon, gp.height, e, n);
        const double h = c.heading * kDeg;
        const double along = e * std::sin(h) + n * std::cos(h);
        const double left = -e * std::cos(h) + n * std::sin(h);
        // Nadir look rolled left by the roll, then tilted forward by the pitch.
        EXPECT_NEAR(along, H * std::tan(c.pitch * kDeg), 0.01);
        EXPECT_NEAR(left, H * std::tan(c.roll * kDeg) / std::cos(c.pitch * kDeg), 0.01);
    }
    // A sample looking 20 degrees left from an aircraft rolled 20 degrees
    // right looks straight down.
    s.rollDeg = -20.0;
    s.pitchDeg = 0.0;
    s.headingDeg = 45.0;
    const GroundPoint gp = RayTracer(scene, s).trace(20.0);
    EXPECT_LT(localDistance(s.lat, s.lon, gp.lat, gp.lon), 0.01);
}

TEST(RayTracing, RaysMeetRelief)
{
    SceneParams p = flatParams();
    p.relief = 900.0;
    const Scene scene(p);
    LookState s;
    s.lat = 44.51;
    s.lon = -121.49;
    s.altitude = scene.elevation(s.lat, s.lon) + 1200.0;
    s.headingDeg = 75.0;
    s.rollDeg = 2.0;
    const RayTracer tracer(scene, s);
    double prevAcross = -1e9;
    for (int pix = 1679; pix >= 0; pix -= 7) {
        const GroundPoint gp = tracer.trace(scanAngleOfPix(pix));
        // On the terrain, and on the ray: the point seen from the aircraft
        // lies in the direction of the look.
        EXPECT_NEAR(gp.height, scene.elevation(gp.lat, gp.lon), 1e-6);
        const EnuFrame f(s.lat, s.lon, s.altitude);
        double e, n, u, le, ln, lu;
        f.toEnu(geodeticToEcef(gp.lat, gp.lon, gp.height), e, n, u);
        tracer.lookEnu(scanAngleOfPix(pix), le, ln, lu);
        const double len = std::sqrt(e * e + n * n + u * u);
        EXPECT_NEAR(e / len, le, 2e-5);
        EXPECT_NEAR(n / len, ln, 2e-5);
        EXPECT_NEAR(len, gp.range, 0.05);
        // Samples sweep from right to left monotonically.
        const double across = -e * std::cos(75 * kDeg) + n * std::sin(75 * kDeg);
        EXPECT_GT(across, prevAcross);
        prevAcross = across;
    }
}

TEST(RayTracing, FireShowsExactlyInSamplesThatSeeIt)
{
    Scene scene(flatParams());
    PassParams pass;
    pass.startLat = 44.49;
    pass.startLon = -121.5;
    pass.headingDeg = 10.0;
    pass.lineCount = 60;
    pass.agl = 800.0;
    LineGenerator probe(scene, pass);
    // Place the fire 150 m left of the track, under line 30.
    double lat, lon;
    probe.nominalPosition(probe.timeOfLine(30), lat, lon);
    const double trk = probe.trackDeg() * kDeg;
    Fire f;
    f.id = 1;
    f.radiusM = 6.0;
    f.intensity = 0.6;
    f.lat = lat + 150.0 * std::sin(trk) / (meridionalRadius(lat) * kDeg);
    f.lon = lon - 150.0 * std::cos(trk) / (primeVerticalRadius(lat) * std::cos(lat * kDeg) * kDeg);
    scene.addFire(f);

    LineGenerator gen(scene, pass);
    auto rec = std::make_unique<ScanLineRec>();
    int inside = 0;
    while (gen.next(*rec)) {
        for (int s = 0; s < SAMPLES_PER_LINE; ++s) {
            const GroundPoint &gp = gen.groundPoints()[size_t(s)];
            const double d = localDistance(f.lat, f.lon, gp.lat, gp.lon);
            if (std::fabs(d - f.radiusM) < 0.05)
                continue;   // too close to the rim to judge
            // A sample is hot when its footprint (about 1 m here) covers part
            // of the fire (taken as the square of the same area): every
            // sample looking well inside it, and those whose footprint
            // reaches over the rim.
            const bool hot = rec->chanA[s] > 2500 + 5000;
            const bool listed = std::find(gen.fireHits().begin(), gen.fireHits().end(), std::make_pair(s, 1))
                                != gen.fireHits().end();
            if (d < f.radiusM - 1.0)
                ASSERT_TRUE(hot) << "sample " << s << " d " << d;
            if (hot)
                ASSERT_LT(d, 1.3 * f.radiusM + 1.5) << "line " << gen.linesDelivered() << " sample " << s;
            ASSERT_EQ(listed, d < f.radiusM) << "sample " << s << " d " << d;
            inside += d < f.radiusM;
        }
    }
    // A 6 m fire under ~1 m samples: dozens of hot samples, all left of the track.
    EXPECT_GT(inside, 20);
}

TEST(SceneTerrain, FarCellsAgreeWithTheTilesAndInterpolateBetweenCentres)
{
    SceneParams p;
    p.regionDeg = 3.0;
    p.relief = 800.0;
    const Scene scene(p);
    EXPECT_EQ(scene.tiles().size(), 9u);   // 43..46 N, 123..120 W
    // 1.3 degrees from the centre: beyond the cells held in memory.
    const long gx = long(std::floor(-120.2 * 3600)), gyTop = long(std::floor(45.8 * 3600));
    std::vector<std::int16_t> cells(4 * 4);
    scene.fillCells(gx, gyTop, 4, 4, cells.data());
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            ASSERT_EQ(scene.cell(gx + c, gyTop - r), cells[size_t(r) * 4 + c]);
    // Bilinear between cell centres: a quarter of the way east and halfway north.
    const double lon = (gx + 1 + 0.25) / 3600.0, lat = (gyTop - 2 + 0.5) / 3600.0;
    const double s00 = cells[2 * 4 + 1], s10 = cells[2 * 4 + 2], s01 = cells[1 * 4 + 1], s11 = cells[1 * 4 + 2];
    const double expect = 0.5 * (s00 + 0.25 * (s10 - s00)) + 0.5 * (s01 + 0.25 * (s11 - s01));
    EXPECT_NEAR(scene.elevation(lat, lon), expect, 1e-9);
    // The same near the centre, inside the held cells.
    EXPECT_NEAR(scene.elevation(44.5, -121.5), scene.cell(-121 * 3600 - 1800, 44 * 3600 + 1800), 1e-9);
    EXPECT_NEAR(scene.elevation(44.5 + 0.5 / 3600, -121.5),
                0.5 * (scene.cell(-121 * 3600 - 1800, 44 * 3600 + 1800) + scene.cell(-121 * 3600 - 1800, 44 * 3600 + 1801)),
                1e-9);
}
