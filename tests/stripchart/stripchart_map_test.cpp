// Map mode: lines projected onto flat ground in a grid laid along the run
// heading; the swath reports; the slow-speed fallback.
#include "stripchart/cstripchartimagery.h"
#include "stripchart/standalonepassservices.h"
#include "datasource/cutmconverter.h"
#include "geodata/cbil.h"
#include "stripfixtures.h"
#include "common/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

using stripfix::countValue;

namespace {

constexpr double kDeg = M_PI / 180.0;

// A straight, level pass in projected metres from a start point.
struct Pass {
    Pass(const QString &name, double headingDeg, double altitude = 1000.0)
        : heading(headingDeg), alt(altitude)
    {
        svc.pathPrefix = testsupport::workDir() + QLatin1Char('/') + name;
        svc.converter.LatLonToUtm(45.0, -120.5, &n0, &e0, &zone, 2);
        chart = std::make_unique<CStripChartImagery>(&svc);
        chart->SetFileOutput(false);
    }
    // Ground point `forward` metres along the track and `right` metres to
    // its right.
    void ground(double forward, double right, double *e, double *n) const
    {
        const double h = heading * kDeg;
        *e = e0 + forward * std::sin(h) + right * std::cos(h);
        *n = n0 + forward * std::cos(h) - right * std::sin(h);
    }
    ScanLineRec line(double forward, std::uint32_t index, double speed = 60.0)
    {
        double e, n, lat, lon;
        ground(forward, 0.0, &e, &n);
        svc.converter.UtmToLatLon(n, e, zone, &lat, &lon, 2);
        return stripfix::makeLine(lat, lon, alt, speed, heading, index);
    }

    double heading;
    double alt;
    double e0 = 0, n0 = 0;
    std::int32_t zone = 0;
    stripfix::FakeSource source;
    StandalonePassServices svc{&source};
    std::unique_ptr<CStripChartImagery> chart;
};

class StripMapFireTest : public ::testing::TestWithParam<double> {};

TEST_P(StripMapFireTest, FireLandsOnItsGroundCell)
{
    Pass pass(QStringLiteral("mapfire"), GetParam());
    pass.svc.mapMode = true;
    pass.chart->SetMapMode(true);
    pass.chart->SetFireDilation(false);
    // Fire 150 m ahead of the start and 300 m right of the track: seen by
    // the line over it at atan(300 / 1000) right of nadir. (A single pixel
    // may fall between two grid columns: the grid is coarser than the scan.)
    const int fireLine = 150;
    const int firePixel = int(std::floor((std::atan(0.3) / kDeg + 60.0) * 14.0));
    for (int k = 0; k < 260; ++k) {
        ScanLineRec l = pass.line(double(k), std::uint32_t(k));
        if (k == fireLine) {
            // A small fire: three pixels, wider than the 2.2 m cell.
            l.pix[firePixel - 1] = l.pix[firePixel] = l.pix[firePixel + 1] = 255;
        }
        pass.chart->AddLine(l, false);
    }
    ASSERT_TRUE(pass.chart->IsMapMode());
    const CBil *g = pass.chart->Grid();
    double fe, fn, col, row;
    pass.ground(150.0, 300.0, &fe, &fn);
    g->GeoToPixel(fe, fn, &col, &row);
    int fires = 0, near = 0;
    for (int r = 0; r < 1600; ++r) {
        const std::uint8_t *cells = g->RowData(r);
        for (int c = 0; c < 1600; ++c) {
            if (cells[c] != 255)
                continue;
            ++fires;
            if (std::fabs(c + 0.5 - col) <= 1.5 && std::fabs(r + 0.5 - row) <= 1.5)
                ++near;
        }
    }
    EXPECT_GE(fires, 1);
    EXPECT_EQ(near, fires) << "fire expected at cell " << col << ", " << row;
}

INSTANTIATE_TEST_SUITE_P(Headings, StripMapFireTest, ::testing::Values(0.0, 30.0, 250.0));

TEST(StripMapTest, SwathRunsFromFirstPixelOnTheLeftToLastOnTheRight)
{
    Pass pass(QStringLiteral("mapramp"), 90.0);
    pass.svc.mapMode = true;
    pass.chart->SetMapMode(true);
    for (int k = 0; k < 50; ++k) {
        ScanLineRec l = pass.line(double(k), std::uint32_t(k));
        for (int i = 0; i < SAMPLES_PER_LINE; ++i)
            l.pix[i] = std::uint8_t(std::max(101, i * 250 / SAMPLES_PER_LINE));
        pass.chart->AddLine(l, false);
    }
    const CBil *g = pass.chart->Grid();
    double e, n, col, row;
    pass.ground(25.0, 0.0, &e, &n);
    g->GeoToPixel(e, n, &col, &row);
    const std::uint8_t *cells = g->RowData(int(row));
    // The whole width is covered (the swath is as wide as the grid), and
    // values grow from left to right.
    EXPECT_EQ(countValue(cells, 2, 1598, 100), 0);
    EXPECT_EQ(cells[2], 101);
    EXPECT_GE(cells[1597], 247);
    EXPECT_NEAR(cells[int(col)], 125, 2);
    for (int c = 3; c < 1598; ++c)
        ASSERT_GE(cells[c], cells[c - 1]) << c;
}

TEST(StripMapTest, SlowRunLeavesMapModeAtTheFirstLine)
{
    Pass pass(QStringLiteral("slow"), 0.0);
    pass.svc.mapMode = true;
    pass.chart->SetMapMode(true);
    ScanLineRec l = pass.line(0.0, 0, 9.99);
    pass.chart->AddLine(l, false);
    EXPECT_FALSE(pass.chart->IsMapMode());
    EXPECT_FALSE(pass.svc.mapMode);
    // Plain from then on: each line one row.
    const int before = pass.chart->WriteRow();
    l = pass.line(0.0, 1, 60.0);
    pass.chart->AddLine(l, false);
    EXPECT_EQ(pass.chart->WriteRow(), before - 1);
    EXPECT_FALSE(pass.chart->IsMapMode());
}

TEST(StripMapTest, SwathEdgesAreReportedInMapAxes)
{
    // Heading east, level, no crab: the swath reaches W = tan 60 x H north
    // and south of the aircraft, not east and west.
    Pass pass(QStringLiteral("edges"), 90.0);
    ScanLineRec l = pass.line(0.0, 0);
    pass.chart->AddLine(l, true);
    const double w = std::tan(60.0 * kDeg) * 1000.0;
    const CExtentsBox &a = pass.svc.records.boxA;
    EXPECT_NEAR(a.maxX - a.minX, 0.0, 0.5);
    EXPECT_NEAR(a.maxY - a.minY, 2.0 * w, 0.5);
    EXPECT_NEAR(a.minY, pass.n0 - w, 0.5);
    EXPECT_TRUE(pass.svc.records.boxB.HasGrown());

    // Not recorded: only box A grows.
    Pass quiet(QStringLiteral("edges2"), 0.0);
    l = quiet.line(0.0, 0);
    quiet.chart->AddLine(l, false);
    EXPECT_NEAR(quiet.svc.records.boxA.maxX - quiet.svc.records.boxA.minX, 2.0 * w, 0.5);
    EXPECT_FALSE(quiet.svc.records.boxB.HasGrown());
}

TEST(StripMapTest, PassIsRegisteredAndFollowed)
{
    Pass pass(QStringLiteral("passrec"), 45.0);
    pass.svc.recordArmed = true;
    pass.svc.groundElevation = 200.0;
    for (int k = 0; k < 10; ++k) {
        ScanLineRec l = pass.line(k * 10.0, std::uint32_t(k + 7));
        pass.chart->AddLine(l, true);
    }
    EXPECT_EQ(pass.chart->RunNumber(), 1);
    EXPECT_EQ(pass.svc.logOpenCalls, 1);
    ASSERT_EQ(pass.svc.loggedLines.size(), 1);   // the first line only
    EXPECT_EQ(pass.svc.loggedLines.first(), 7u);
    EXPECT_FLOAT_EQ(pass.svc.runHeading, 45.0f);
    const CPass *p = pass.svc.records.CurrentPass();
    ASSERT_NE(p, nullptr);
    // Height above ground 800 m: half swath tan 60 x 800.
    EXPECT_NEAR(p->halfWidth, std::tan(60.0 * kDeg) * 800.0, 0.01);
    EXPECT_NEAR(pass.chart->CellSize(), 2.0 * std::tan(60.0 * kDeg) * 800.0 / 1600.0, 1e-9);
    double e, n;
    pass.ground(90.0, 0.0, &e, &n);
    EXPECT_NEAR(p->endX, e, 0.05);
    EXPECT_NEAR(p->endY, n, 0.05);
    pass.chart->FinishRun();
    EXPECT_EQ(pass.svc.endPassCalls, 1);
}

TEST(StripMapTest, RefusedRunStaysInert)
{
    Pass pass(QStringLiteral("refused"), 0.0);
    pass.svc.dataSource = nullptr;   // StartPass refuses without a source
    pass.chart->SetFileOutput(true);
    for (int k = 0; k < 200; ++k) {
        ScanLineRec l = pass.line(double(k), std::uint32_t(k));
        pass.chart->AddLine(l, true);
    }
    EXPECT_TRUE(pass.chart->IsDetached());
    EXPECT_LT(pass.chart->RunNumber(), 0);
    EXPECT_EQ(pass.chart->RowsWritten(), 0);
    EXPECT_TRUE(pass.svc.records.boxA.IsEmpty());
    pass.chart->FinishRun();
    EXPECT_EQ(pass.svc.endPassCalls, 0);
}

} // namespace

namespace {

TEST(StripMapTest, SwathSeenOnlyRightOfNadirKeepsItsRightHandPixels)
{
    // The aircraft slides west of the grid (its course turns 45 degrees
    // left while the grid stays on the first heading) until only the right
    // part of its swath is on the grid: the visible cells must show the
    // scan's right half.
    Pass pass(QStringLiteral("drift"), 0.0);
    pass.svc.mapMode = true;
    pass.chart->SetMapMode(true);
    const double w = std::tan(60.0 * kDeg) * 1000.0;
    ScanLineRec l;
    double e = 0, n = 0;
    for (int k = 0;; ++k) {
        const double d = 3.0 * k;
        e = pass.e0 - d * std::sin(45.0 * kDeg);
        n = pass.n0 + d * std::cos(45.0 * kDeg);
        double lat, lon;
        pass.svc.converter.UtmToLatLon(n, e, pass.zone, &lat, &lon, 2);
        l = stripfix::makeLine(lat, lon, 1000.0, 60.0, 0.0, std::uint32_t(k));
        for (int i = 0; i < SAMPLES_PER_LINE; ++i)
            l.pix[i] = std::uint8_t(std::max(101, i * 250 / SAMPLES_PER_LINE));
        pass.chart->AddLine(l, false);
        if (pass.e0 - e > w + 200.0)   // nadir 200 m west of the grid's left edge
            break;
        ASSERT_LT(k, 5000);
    }
    double col, row;
    pass.chart->Grid()->GeoToPixel(e, n, &col, &row);
    ASSERT_LT(col, -50.0);
    const std::uint8_t *cells = pass.chart->Grid()->RowData(int(row));
    // Column 0 lies atan((0 - col) x cell / H) right of nadir.
    const double angle = std::atan(-col * pass.chart->CellSize() / 1000.0) / kDeg;
    const int pixel = int((angle + 60.0) * 14.0);
    EXPECT_GT(pixel, 840);
    EXPECT_NEAR(cells[0], std::max(101, pixel * 250 / SAMPLES_PER_LINE), 2);
}

TEST(StripMapTest, AircraftBelowTheGivenGroundStillGivesAGrid)
{
    Pass pass(QStringLiteral("low"), 0.0, 50.0);
    pass.svc.groundElevation = 400.0;   // a wrong mission elevation
    pass.svc.mapMode = true;
    pass.chart->SetMapMode(true);
    for (int k = 0; k < 300; ++k) {
        ScanLineRec l = pass.line(double(k), std::uint32_t(k));
        pass.chart->AddLine(l, false);
    }
    EXPECT_GT(pass.chart->CellSize(), 0.0);
    EXPECT_TRUE(std::isfinite(pass.chart->CellSize()));
    pass.chart->FinishRun();
    EXPECT_GE(pass.chart->EmitRow(), 0);
}

} // namespace
