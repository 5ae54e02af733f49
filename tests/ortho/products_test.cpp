// Value tables, row conversion and the splat footprint.
#include "ortho/crectifiedstripchart.h"
#include "ortho/orthoproducts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace ortho;

TEST(OrthoTables, FewerThanTwoNonFireSamplesGiveAllZeroTables)
{
    COrthoChannelStats stats;
    stats.AddSample(100, 200, false);
    stats.AddSample(5000, 30000, true);   // fire samples widen the range only
    COrthoTables t;
    t.Build(stats, 3.0);
    for (int v : {100, 200, 5000, 30000, 0})
        EXPECT_EQ(t.A(v) | t.B(v) | t.C(v), 0) << v;
}

TEST(OrthoTables, StretchRampsAndLimits)
{
    COrthoChannelStats stats;
    // B: 1000 non-fire samples spread evenly over 3000..3999, one fire at 20000.
    for (int k = 0; k < 1000; ++k)
        stats.AddSample(2000 + k, 3000 + k, false);
    stats.AddSample(20000, 20000, true);
    stats.AddSample(-5000, -5000, true);
    EXPECT_EQ(stats.CountB(), 1000u);
    EXPECT_NEAR(stats.MeanB(), 3499.5, 1e-9);
    EXPECT_NEAR(stats.SigmaB(), 288.8194, 1e-3);
    COrthoTables t;
    t.Build(stats, 1.0);
    EXPECT_EQ(t.LoB(), 3210);
    EXPECT_EQ(t.HiB(), 3788);
    EXPECT_EQ(t.B(3209), 1);
    EXPECT_EQ(t.B(3210), 1);      // the ramp starts at 1.0
    EXPECT_EQ(t.B(3788), 253);    // and ends below 254
    EXPECT_EQ(t.B(3789), 254);
    EXPECT_EQ(t.B(20000), 254);   // the run's largest value is in the table
    EXPECT_EQ(t.B(20001), 0);     // beyond the run's range: 0
    EXPECT_EQ(t.B(-5001), 0);
    // monotone ramp
    for (int v = 3210; v < 3788; ++v)
        EXPECT_LE(t.B(v), t.B(v + 1));
    // A: lo maps to 10, the mean to about 136
    const int loA = t.LoA();
    EXPECT_EQ(t.A(loA), 10);
    EXPECT_NEAR(t.A(int(stats.MeanA())), 136, 1);
    EXPECT_EQ(t.A(-5000), 1);
    EXPECT_EQ(t.A(20000), 254);
    // C: fixed breakpoints
    EXPECT_EQ(t.C(-5000), 1);
    EXPECT_EQ(TableCValue(-3501), 1);
    EXPECT_EQ(TableCValue(-3500), 1);
    EXPECT_EQ(TableCValue(-500), 210);
    EXPECT_EQ(TableCValue(-499), 254);
    EXPECT_EQ(t.C(3500), 254);
}

TEST(OrthoTables, FlatChannelsStayFinite)
{
    COrthoChannelStats stats;
    for (int k = 0; k < 10; ++k)
        stats.AddSample(777, 3000, false);
    COrthoTables t;
    t.Build(stats, 3.0);
    EXPECT_EQ(t.B(3000), 1);
    EXPECT_GE(t.A(777), 1);
    EXPECT_LE(t.A(777), 254);
}

TEST(OrthoRows, EmptyCellsFireAndTicks)
{
    COrthoChannelStats stats;
    for (int k = 0; k < 100; ++k)
        stats.AddSample(k * 10, k * 10, false);
    COrthoTables t;
    t.Build(stats, 3.0);
    std::vector<OrthoCell> cells(kGridColumns, OrthoCell{0, 0, 0, 0, 0});
    // cell 10: weighted mean 500.4 -> 500; cell 500: fire; cell 1599: fire only by a weak sample
    cells[10] = OrthoCell{500.4 * 2, 500.4 * 2, 2.0, 3, 0};
    cells[500] = OrthoCell{900, 900, 1.0, 1, 1};
    cells[1599] = OrthoCell{100, 100, 1.0, 1, 0};
    std::vector<std::uint8_t> pal(kPaletteRowBytes, 7), rgb(kRgbRowBytes, 7);
    EXPECT_TRUE(ConvertRow(cells.data(), t, pal.data(), rgb.data()));
    EXPECT_EQ(pal[kDataColumn + 0], kEmptyCell);
    EXPECT_EQ(rgb[3 * kDataColumn], kEmptyCell);
    EXPECT_EQ(pal[kDataColumn + 10], t.B(500));
    EXPECT_EQ(rgb[3 * (kDataColumn + 10)], t.A(500));
    EXPECT_EQ(rgb[3 * (kDataColumn + 10) + 1], t.B(500));
    EXPECT_EQ(rgb[3 * (kDataColumn + 10) + 2], t.C(500));
    EXPECT_EQ(pal[kDataColumn + 500], kFire);
    EXPECT_EQ(rgb[3 * (kDataColumn + 500) + 1], t.B(900));   // colour image keeps the value
    // Fire in the second quarter only: ticks 13..25 black, the others clear.
    for (int c = 0; c < 13; ++c)
        EXPECT_EQ(pal[c], 0);
    for (int c = 13; c < 26; ++c)
        EXPECT_EQ(pal[c], kTick);
    for (int c = 1640; c < 1666; ++c)
        EXPECT_EQ(pal[c], 0);
    EXPECT_EQ(pal[1727], 0);
    // Colour margins: black under ticks, white elsewhere.
    EXPECT_EQ(rgb[3 * 13], 0);
    EXPECT_EQ(rgb[3 * 0], 255);
    EXPECT_EQ(rgb[3 * 1727 + 2], 255);
}

TEST(OrthoSplat, FootprintWeights)
{
    CRectifiedStripChart rect(nullptr);
    ASSERT_TRUE(rect.AllocateGrid());
    // Near nadir the footprint is a quarter cell: a sample on a cell centre
    // reaches only that cell, with weight 1.
    EXPECT_TRUE(rect.Splat(100.0, 200.0, 840, 1000, 2000, true));
    EXPECT_EQ(rect.Cell(100, 200).count, 1u);
    EXPECT_DOUBLE_EQ(rect.Cell(100, 200).weight, 1.0);
    EXPECT_DOUBLE_EQ(rect.Cell(100, 200).sumB, 2000.0);
    EXPECT_EQ(rect.Cell(100, 200).fire, 1);
    EXPECT_EQ(rect.Cell(101, 200).count + rect.Cell(100, 201).count + rect.Cell(99, 199).count, 0u);
    // Between two rows at nadir: both cells take the sample; only the one
    // with weight above 0.5 carries its fire mark.
    rect.Splat(300.0, 50.55, 840, 10, 10, true);
    EXPECT_NEAR(rect.Cell(300, 50).weight, 0.45, 1e-6);
    EXPECT_NEAR(rect.Cell(300, 51).weight, 0.55, 1e-6);
    EXPECT_EQ(rect.Cell(300, 50).fire, 0);
    EXPECT_EQ(rect.Cell(300, 51).fire, 1);
    // At the swath's edge the footprint spreads across the track (columns)
    // more than along it (rows).
    rect.Splat(800.0, 800.0, 0, 10, 10, false);
    EXPECT_NEAR(rect.Cell(801, 800).weight, 0.749, 1e-3);
    EXPECT_NEAR(rect.Cell(800, 801).weight, 0.499, 1e-3);
    // Outside the grid nothing is placed; a far-off position does not wrap.
    EXPECT_FALSE(rect.Splat(-5.0, 10.0, 840, 1, 1, false));
    EXPECT_FALSE(rect.Splat(10.0, 1e12, 840, 1, 1, false));
    EXPECT_FALSE(rect.Splat(std::nan(""), 10.0, 840, 1, 1, false));
    EXPECT_TRUE(rect.Splat(1599.2, 1599.2, 840, 1, 1, false));
}

TEST(OrthoGeometry, ScanAnglesTracksAndAlaska)
{
    EXPECT_NEAR(CRectifiedStripChart::ScanAngle(0, 60, 60), 59.964, 1e-3);
    EXPECT_NEAR(CRectifiedStripChart::ScanAngle(1679, 60, 60), -59.964, 1e-3);
    EXPECT_NEAR(CRectifiedStripChart::ScanAngle(840, 60, 60), -0.0357, 1e-4);
    // Separate corrections for the two halves of the scan.
    EXPECT_NEAR(CRectifiedStripChart::ScanAngle(0, 50, 60), 49.97, 1e-2);
    EXPECT_NEAR(CRectifiedStripChart::ScanAngle(1679, 50, 70), -69.958, 1e-3);
    // Tracks 359 and 1 gathered near a reference of 359 average to 0, not 180.
    EXPECT_EQ(CRectifiedStripChart::MeanTrackOf(359.0 + 361.0, 2), 360);
    EXPECT_EQ(CRectifiedStripChart::MeanTrackOf(1.0 + -1.0, 2), 0);
    EXPECT_EQ(CRectifiedStripChart::MeanTrackOf(-3.0, 1), 357);
    EXPECT_EQ(CRectifiedStripChart::MeanTrackOf(90.4 + 90.6, 2), 91);
    EXPECT_TRUE(CRectifiedStripChart::InAlaska(51.0, -129.75));
    EXPECT_FALSE(CRectifiedStripChart::InAlaska(50.999, -129.75));
    EXPECT_FALSE(CRectifiedStripChart::InAlaska(51.0, -129.74));
}
