#include "stripchart/cpass.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(CPassTest, CornersFollowHeadingAndHalfWidth)
{
    // Heading east: left of the track is north, right is south.
    CPass p;
    p.SetPassStart(1000.0, 2000.0, 5, 90.0f, 100.0f);
    p.SetPassEnd(3000.0, 2000.0, 9, 90.0f, 100.0f);
    const auto c = p.GetPassCorners();
    // start-left, end-left, end-right, start-right
    EXPECT_NEAR(c[0].x, 1000.0, 1e-9);
    EXPECT_NEAR(c[0].y, 2100.0, 1e-9);
    EXPECT_NEAR(c[1].x, 3000.0, 1e-9);
    EXPECT_NEAR(c[1].y, 2100.0, 1e-9);
    EXPECT_NEAR(c[2].x, 3000.0, 1e-9);
    EXPECT_NEAR(c[2].y, 1900.0, 1e-9);
    EXPECT_NEAR(c[3].x, 1000.0, 1e-9);
    EXPECT_NEAR(c[3].y, 1900.0, 1e-9);
    EXPECT_EQ(p.startLine, 5);
    EXPECT_EQ(p.endLine, 9);
}

TEST(CPassTest, EndKeepsStartHeadingAndRoundsHeading)
{
    CPass p;
    p.SetPassStart(0.0, 0.0, 0, 44.6f, 50.0f);
    p.SetPassEnd(10.0, 10.0, 1, 200.0f, 10.0f);
    EXPECT_FLOAT_EQ(p.heading, 44.6f);
    EXPECT_FLOAT_EQ(p.halfWidth, 50.0f);
    EXPECT_EQ(p.GetPassHeading(), 45);
    // The end corners use the heading given at the end: 200 degrees, 10 m.
    const double dx = std::sin((200.0 + 270.0) * M_PI / 180.0) * 10.0;
    const double dy = std::cos((200.0 + 270.0) * M_PI / 180.0) * 10.0;
    EXPECT_NEAR(p.endLeft.x, 10.0 + dx, 1e-6);
    EXPECT_NEAR(p.endLeft.y, 10.0 + dy, 1e-6);
    EXPECT_NEAR(p.endRight.x, 10.0 - dx, 1e-6);
    EXPECT_NEAR(p.endRight.y, 10.0 - dy, 1e-6);
}

TEST(CExtentsBoxTest, EmptyGrowAndEverGrownMark)
{
    CExtentsBox b;
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_FALSE(b.EverGrown());
    b.Grow(5.0, -3.0);
    b.Grow(-1.0, 7.0);
    EXPECT_DOUBLE_EQ(b.minX, -1.0);
    EXPECT_DOUBLE_EQ(b.maxX, 5.0);
    EXPECT_DOUBLE_EQ(b.minY, -3.0);
    EXPECT_DOUBLE_EQ(b.maxY, 7.0);
    b.Empty();
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_FALSE(b.HasGrown());
    EXPECT_TRUE(b.EverGrown());   // emptying for a new mission keeps the mark
    EXPECT_DOUBLE_EQ(b.minX, 9.99e99);
    EXPECT_DOUBLE_EQ(b.maxX, -9.99e99);
}

TEST(CPassRecordsTest, RecordedEdgesOnlyGrowBoxB)
{
    CPassRecords r;
    r.ReportSwathEdges(0, 0, 10, 10, false);
    EXPECT_TRUE(r.boxA.HasGrown());
    EXPECT_FALSE(r.boxB.HasGrown());
    EXPECT_TRUE(r.boxB.IsEmpty());
    r.ReportSwathEdges(20, -5, 30, 5, true);
    EXPECT_DOUBLE_EQ(r.boxA.minX, 0);
    EXPECT_DOUBLE_EQ(r.boxA.maxX, 30);
    EXPECT_DOUBLE_EQ(r.boxA.minY, -5);
    EXPECT_DOUBLE_EQ(r.boxB.minX, 20);
    EXPECT_DOUBLE_EQ(r.boxB.maxY, 5);
}

TEST(CPassRecordsTest, PassListGrowsAndCurrentPassMoves)
{
    CPassRecords r;
    EXPECT_EQ(r.GetPassHeading(0), 0);
    r.StartPass(3, 100, 200, 10, 179.5f, 40.0f, QDateTime());
    EXPECT_EQ(r.Passes().size(), 4u);
    EXPECT_EQ(r.GetPassHeading(0), 180);
    EXPECT_EQ(r.GetPassHeading(3), 180);
    EXPECT_EQ(r.GetPassHeading(1), 0);   // never started
    r.UpdatePass(100, 0, 10, 180.0f, 40.0f);
    ASSERT_NE(r.CurrentPass(), nullptr);
    EXPECT_DOUBLE_EQ(r.CurrentPass()->endY, 0);
}

} // namespace
