#include "geodata/cbil.h"
#include "geodata/cnadcon.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cmath>
#include <cstring>
#include <functional>

namespace {

// Writes a NADCON-style float grid (nodes every 0.25 degree from 62 N,
// 152 W; 9 columns, 5 rows) in the working directory; sample(lon, lat) in
// arc-seconds.
void writeGrid(const char *name, const std::function<double(double, double)> &sample)
{
    CBil g;
    g.SetDimensions(9, 5, 1, Float32);
    g.SetGeoReference(0.25, 0.25, 0, 0, -152.0, 62.0, 0, 0.0, 1);
    g.SetByteOrder(1);
    ASSERT_TRUE(g.Allocate());
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 9; ++c) {
            const float v = float(sample(-152.0 + 0.25 * c, 62.0 - 0.25 * r));
            std::memcpy(g.MutableData() + (r * 9 + c) * 4, &v, 4);
        }
    ASSERT_TRUE(g.Write(QDir::currentPath() + QLatin1Char('/') + QLatin1String(name)));
}

void removeGrids()
{
    for (const char *n : {"AlaskaLatShift", "AlaskaLonShift"})
        for (const char *e : {".hdr", ".blw", ".bil"})
            QFile::remove(QLatin1String(n) + QLatin1String(e));
}

struct Nadcon : ::testing::Test {
    void TearDown() override { removeGrids(); }
};

} // namespace

TEST_F(Nadcon, MissingGridsLeaveThePositionExactly)
{
    removeGrids();
    CNadcon n;
    EXPECT_FALSE(n.HasGrids());
    double lat = 0, lon = 0;
    EXPECT_TRUE(n.ShiftToGridDatum(61.123456789, -150.987654321, &lat, &lon));
    EXPECT_EQ(lat, 61.123456789);
    EXPECT_EQ(lon, -150.987654321);

    // One grid alone is no better than none.
    writeGrid("AlaskaLatShift", [](double, double) { return 3.0; });
    CNadcon half;
    EXPECT_FALSE(half.HasGrids());
    half.ShiftToGridDatum(61.0, -150.0, &lat, &lon);
    EXPECT_EQ(lat, 61.0);
    EXPECT_EQ(lon, -150.0);
}

TEST_F(Nadcon, ConstantShiftsAreUndoneInTwoPasses)
{
    writeGrid("AlaskaLatShift", [](double, double) { return 1.8; });    // 0.0005 degree north
    writeGrid("AlaskaLonShift", [](double, double) { return -7.2; });   // 0.002 degree east
    CNadcon n;
    ASSERT_TRUE(n.HasGrids());
    double lat = 0, lon = 0;
    EXPECT_TRUE(n.ShiftToGridDatum(61.3, -150.7, &lat, &lon));
    // The grids hold single-precision arc-seconds.
    EXPECT_NEAR(lat, 61.3 - 1.8 / 3600, 1e-10);
    EXPECT_NEAR(lon, -150.7 + -7.2 / 3600, 1e-10);
    EXPECT_EQ(n.LastPassCount(), 2);
}

TEST_F(Nadcon, GridNodesSitOnWholeMultiplesWithoutHalfCell)
{
    // Latitude shift = 3600 * (distance east of 152 W): the result shows
    // exactly where each node lies.
    writeGrid("AlaskaLatShift", [](double lon, double) { return (lon + 152.0) * 36.0; });
    writeGrid("AlaskaLonShift", [](double, double) { return 0.0; });
    CNadcon n;
    double lat = 0, lon = 0;
    n.ShiftToGridDatum(61.5, -151.0, &lat, &lon);   // a node: shift 36 arc-seconds
    EXPECT_NEAR(lat, 61.5 - 36.0 / 3600, 1e-9);
    EXPECT_NEAR(lon, -151.0, 1e-12);
}

TEST_F(Nadcon, EdgeCellsShiftAndOutsideComesBackUnchanged)
{
    // 0.2 degree west everywhere (720 arc-seconds), 5 arc-seconds north.
    writeGrid("AlaskaLatShift", [](double, double) { return 5.0; });
    writeGrid("AlaskaLonShift", [](double, double) { return 720.0; });
    CNadcon n;
    const double dLat = -5.0 / 3600, dLon = 0.2;
    struct Case {
        double lat, lon;
        bool shifted;
    } cases[] = {
        {45.0, -120.0, false},     // far outside
        {61.1, -149.8, false},     // east of the last column's cells
        {61.1, -150.0, true},      // on the last column's nodes
        {61.1, -150.1, true},      // the estimate steps off the grid's east edge
        {61.02, -151.0, true},     // in the last row's outer half cell
    };
    for (const Case &c : cases) {
        double lat = 0, lon = 0;
        EXPECT_TRUE(n.ShiftToGridDatum(c.lat, c.lon, &lat, &lon));
        EXPECT_NEAR(lat, c.shifted ? c.lat + dLat : c.lat, 1e-9) << c.lat << " " << c.lon;
        EXPECT_NEAR(lon, c.shifted ? c.lon + dLon : c.lon, 1e-9) << c.lat << " " << c.lon;
    }
}

TEST_F(Nadcon, DivergingShiftsStopAfterTenPasses)
{
    // A steep latitude shift (slope -2 per degree) makes the iteration
    // move away from the answer; it must still stop.
    writeGrid("AlaskaLatShift", [](double, double lat) { return -2.0 * (lat - 61.0) * 3600.0; });
    writeGrid("AlaskaLonShift", [](double, double) { return 0.0; });
    CNadcon n;
    double lat = 0, lon = 0;
    EXPECT_TRUE(n.ShiftToGridDatum(61.00001, -151.0, &lat, &lon));
    EXPECT_EQ(n.LastPassCount(), 10);
    EXPECT_TRUE(std::isfinite(lat));
    EXPECT_GT(std::fabs(lat - 61.00001), 1e-3);
}
