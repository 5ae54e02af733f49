// Segment clipping against the window 0..10 (x) by 0..10 (y), as a table
// run through both precisions, plus the independence of the two windows.
#include "geodata/clineclipper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Case {
    const char *name;
    double x1, y1, x2, y2;
    bool accepted;
    double ex1, ey1, ex2, ey2;   // expected ends when accepted
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

const Case kCases[] = {
    {"inside", 2, 3, 8, 7, true, 2, 3, 8, 7},
    {"on the edges", 0, 0, 10, 10, true, 0, 0, 10, 10},
    {"wholly left", -5, 2, -1, 8, false, kNaN, kNaN, kNaN, kNaN},
    {"wholly right", 11, 2, 15, 8, false, kNaN, kNaN, kNaN, kNaN},
    {"wholly below", 2, -3, 8, -1, false, kNaN, kNaN, kNaN, kNaN},
    {"wholly above", 2, 11, 8, 13, false, kNaN, kNaN, kNaN, kNaN},
    {"left to inside", -5, 5, 5, 5, true, 0, 5, 5, 5},
    {"inside to right", 5, 5, 15, 5, true, 5, 5, 10, 5},
    {"right to inside", 15, 5, 5, 5, true, 10, 5, 5, 5},
    {"below to inside", 5, -5, 5, 5, true, 5, 0, 5, 5},
    {"inside to above", 5, 5, 5, 15, true, 5, 5, 5, 10},
    {"above to below (vertical through)", 4, 20, 4, -20, true, 4, 10, 4, 0},
    {"horizontal along the top edge through", -5, 10, 15, 10, true, 0, 10, 10, 10},
    {"horizontal through the middle leftwards", 15, 3, -5, 3, true, 10, 3, 0, 3},
    {"diagonal through two corners", -5, -5, 15, 15, true, 0, 0, 10, 10},
    {"left to above, crossing", -2, 6, 4, 12, true, 0, 8, 2, 10},
    {"below-left to inside via bottom edge", -2, -6, 2, 2, true, 1, 0, 2, 2},
    {"left and above, missing the corner", -5, 8, 3, 16, false, kNaN, kNaN, kNaN, kNaN},
    {"below and right, missing the corner", 6, -8, 14, 2, false, kNaN, kNaN, kNaN, kNaN},
    {"touching only the corner (L, T)", -2, 8, 2, 12, true, 0, 10, 0, 10},
    {"vertical left of the window", -1, -5, -1, 15, false, kNaN, kNaN, kNaN, kNaN},
    {"horizontal above the window", -5, 12, 15, 12, false, kNaN, kNaN, kNaN, kNaN},
    {"vertical on the right edge", 10, -5, 10, 15, true, 10, 0, 10, 10},
    {"left to above-right, leaving at the corner (R, T)", -10, 0, 20, 15, true, 0, 5, 10, 10},
    {"left to above, leaving through the top", -10, 0, 10, 15, true, 0, 7.5, 10.0 / 3.0, 10},
};

template <typename T>
void runTable()
{
    CLineClipper clip;
    clip.SetClipWindow(T(0), T(10), T(10), T(0));
    for (const Case &c : kCases) {
        T x1 = T(c.x1), y1 = T(c.y1), x2 = T(c.x2), y2 = T(c.y2);
        const bool got = clip.ClipSegment(x1, y1, x2, y2);
        EXPECT_EQ(got, c.accepted) << c.name;
        if (got && c.accepted) {
            const T tol = T(1e-5);
            EXPECT_NEAR(x1, T(c.ex1), tol) << c.name;
            EXPECT_NEAR(y1, T(c.ey1), tol) << c.name;
            EXPECT_NEAR(x2, T(c.ex2), tol) << c.name;
            EXPECT_NEAR(y2, T(c.ey2), tol) << c.name;
            EXPECT_TRUE(std::isfinite(x1) && std::isfinite(y1) && std::isfinite(x2) && std::isfinite(y2)) << c.name;
        }
        if (!c.accepted && (c.x1 < 0 && c.x2 < 0)) {
            // Early rejection leaves the points as they were.
            EXPECT_EQ(x1, T(c.x1)) << c.name;
            EXPECT_EQ(y2, T(c.y2)) << c.name;
        }
    }
}

} // namespace

TEST(LineClipper, TableInDoublePrecision) { runTable<double>(); }

TEST(LineClipper, TableInSinglePrecision) { runTable<float>(); }

TEST(LineClipper, WindowsOfTheTwoPrecisionsAreIndependent)
{
    CLineClipper clip;
    // Fresh windows are all zero: only the origin is inside.
    float fx1 = -1, fy1 = 0, fx2 = 1, fy2 = 0;
    EXPECT_TRUE(clip.ClipSegment(fx1, fy1, fx2, fy2));
    EXPECT_EQ(fx1, 0.0f);
    EXPECT_EQ(fx2, 0.0f);

    clip.SetClipWindow(0.0, 100.0, 100.0, 0.0);
    fx1 = 50, fy1 = 50, fx2 = 60, fy2 = 60;
    EXPECT_FALSE(clip.ClipSegment(fx1, fy1, fx2, fy2)) << "float window changed by the double setter";
    double dx1 = 50, dy1 = 50, dx2 = 60, dy2 = 60;
    EXPECT_TRUE(clip.ClipSegment(dx1, dy1, dx2, dy2));

    clip.SetClipWindow(-1.0f, 1.0f, 1.0f, -1.0f);
    dx1 = 50, dy1 = 50, dx2 = 60, dy2 = 60;
    EXPECT_TRUE(clip.ClipSegment(dx1, dy1, dx2, dy2)) << "double window changed by the float setter";
    double l, t, r, b;
    clip.GetClipWindow(&l, &t, &r, &b);
    EXPECT_EQ(t, 100.0);
    float fl, ft, fr, fb;
    clip.GetClipWindow(&fl, &ft, &fr, &fb);
    EXPECT_EQ(ft, 1.0f);
}
