#include "stripchart/stripchartannotations.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>

using namespace stripchart;

namespace {

int countValue(const Row &row, std::uint8_t v)
{
    return int(std::count(row.begin(), row.end(), v));
}

// Leftmost / rightmost column holding a text pixel, -1 when none.
int firstInk(const QImage &img, bool fromLeft)
{
    int best = -1;
    for (int y = 0; y < img.height(); ++y) {
        const uchar *s = img.constScanLine(y);
        for (int x = 0; x < img.width(); ++x) {
            if (s[x] == 0)
                continue;
            if (best < 0 || (fromLeft ? x < best : x > best))
                best = x;
        }
    }
    return best;
}

bool onlyBlackAndWhite(const QImage &img)
{
    for (int y = 0; y < img.height(); ++y) {
        const uchar *s = img.constScanLine(y);
        for (int x = 0; x < img.width(); ++x)
            if (s[x] != 0 && s[x] != kBlack)
                return false;
    }
    return true;
}

TEST(StripBarsTest, TicksLieNextToTheSolidRow)
{
    const int frameCols[] = {0, 26, 33, 1633, 1640, 1666, 1673, 1727};
    const int tickCols[] = {13, 433, 833, 1233, 1653};
    for (bool start : {true, false}) {
        SCOPED_TRACE(start ? "start bar" : "end bar");
        const auto rows = barRows(start);
        ASSERT_EQ(rows.size(), 59u);
        for (const auto &r : rows)
            ASSERT_EQ(r.size(), 1728u);
        const int solid = start ? 14 : 44;
        EXPECT_EQ(countValue(rows[solid], 254), 1728);
        for (int i = 0; i < 14; ++i) {
            EXPECT_EQ(countValue(rows[i], 254), 0) << i;
            EXPECT_EQ(countValue(rows[58 - i], 254), 0) << 58 - i;
        }
        // The 15 frame rows beside the solid row carry the quarter ticks.
        const int tickFirst = start ? 15 : 29;
        for (int i = 0; i < 30; ++i) {
            const int r = (start ? 15 : 14) + i;
            const bool ticked = r >= tickFirst && r < tickFirst + 15;
            for (int c : frameCols)
                EXPECT_EQ(rows[r][c], 254) << r << ":" << c;
            for (int c : tickCols)
                EXPECT_EQ(rows[r][c], ticked ? 254 : 0) << r << ":" << c;
            EXPECT_EQ(countValue(rows[r], 254), ticked ? 13 : 8) << r;
        }
    }
}

TEST(StripAnnotationTest, RunTextStartsMidwayAndFooterEndsAtTheRightEdge)
{
    const QImage run = renderRunText(QStringLiteral("START RUN 3  --  x_3  IR TECH: Kim  HEADING: 271  (UTC)"));
    ASSERT_EQ(run.width(), 1728);
    ASSERT_EQ(run.height(), 60);
    EXPECT_TRUE(onlyBlackAndWhite(run));
    const int left = firstInk(run, true);
    EXPECT_GE(left, 864);
    EXPECT_LE(left, 870);

    const QImage footer = renderFooter(QStringLiteral("N123AB - 1.0 Hey!! "));
    const int right = firstInk(footer, false);
    EXPECT_LE(right, 1727);
    EXPECT_GE(right, 1700);   // the trailing blank leaves a small gap
    EXPECT_GT(firstInk(footer, true), 1500);

    EXPECT_EQ(firstInk(renderRunText(QString()), true), -1);

    // Long names: the text moves left so its end (heading and time zone)
    // stays on the image; one wider than the image loses its middle (the
    // right end is then still the heading's ink at the image's edge).
    const QString tail = QStringLiteral("HEADING: 271  (PDT)");
    for (const int repeat : {4, 40}) {
        const QString text = QStringLiteral("START RUN 12  --  ") +
                             QStringLiteral("Cascade Complex Night IR ").repeated(repeat) +
                             QStringLiteral(" IR TECH: Alexandra Montgomery-Whitfield  ") + tail;
        const QImage img = renderRunText(text);
        EXPECT_LT(firstInk(img, true), 864) << repeat;
        EXPECT_GE(firstInk(img, true), 0) << repeat;
        EXPECT_LE(firstInk(img, false), 1727) << repeat;
        EXPECT_GE(firstInk(img, false), 1700) << repeat;
    }
}

TEST(StripLabelTest, ThreeLinesFitTheCopiedColumns)
{
    const QImage img = renderLabel({QStringLiteral("N 45° 30' 12\""), QStringLiteral("W 120° 05' 00\""),
                                    QStringLiteral("Line 1234")});
    ASSERT_EQ(img.width(), 64);
    ASSERT_EQ(img.height(), 160);
    EXPECT_TRUE(onlyBlackAndWhite(img));
    // Nothing outside the 55 columns that reach the strip, and nothing in
    // the last of them, which becomes the row's recording mark.
    EXPECT_LE(firstInk(img, false), 53);
    EXPECT_GE(firstInk(img, true), 0);
    // Three separate lines: at least two blank columns split the ink.
    int runs = 0;
    bool inInk = false;
    for (int x = 0; x < 64; ++x) {
        bool ink = false;
        for (int y = 0; y < 160 && !ink; ++y)
            ink = img.constScanLine(y)[x] != 0;
        if (ink && !inInk)
            ++runs;
        inInk = ink;
    }
    EXPECT_EQ(runs, 3);
    // Text reads along the strip: it is taller than it is wide.
    int top = 160, bottom = -1;
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 64; ++x)
            if (img.constScanLine(y)[x]) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    EXPECT_GT(bottom - top, 80);
}

TEST(StripTextsTest, PositionsInDegreesMinutesSeconds)
{
    EXPECT_EQ(formatLatitude(45.5), QStringLiteral("N 45° 30' 00\""));
    EXPECT_EQ(formatLongitude(-120.0875), QStringLiteral("W 120° 05' 15\""));
    EXPECT_EQ(formatLatitude(-0.25), QStringLiteral("S 0° 15' 00\""));
    EXPECT_EQ(formatLongitude(10.0), QStringLiteral("E 10° 00' 00\""));
    // Clamped to the valid range.
    EXPECT_EQ(formatLatitude(123.0), QStringLiteral("N 90° 00' 00\""));
    EXPECT_EQ(formatLongitude(-200.0), QStringLiteral("W 180° 00' 00\""));
    // Seconds that round up to 60 carry into the minutes (and degrees).
    EXPECT_EQ(formatLatitude(45.0 + 59.0 / 60.0 + 59.8 / 3600.0), QStringLiteral("N 46° 00' 00\""));
    EXPECT_EQ(formatLatitude(45.0 + 12.0 / 60.0 + 59.6 / 3600.0), QStringLiteral("N 45° 13' 00\""));
}

TEST(StripTextsTest, TimeZoneInitials)
{
    EXPECT_EQ(timeZoneInitials(QStringLiteral("15-July-2024 pm 02:32:00 (Pacific Daylight Time)")),
              QStringLiteral("PDT"));
    EXPECT_EQ(timeZoneInitials(QStringLiteral("15-July-2024 pm 02:32:00 (Coordinated Universal Time)")),
              QStringLiteral("CUT"));
    EXPECT_EQ(timeZoneInitials(QStringLiteral("15-July-2024 pm 02:32:00 (Alaska Time)")), QStringLiteral("AT"));
    // A name that is already an abbreviation stays whole.
    EXPECT_EQ(timeZoneInitials(QStringLiteral("15-July-2024 pm 02:32:00 (PDT)")), QStringLiteral("PDT"));
    EXPECT_EQ(timeZoneInitials(QStringLiteral("no zone")), QString());
    EXPECT_EQ(timeZoneInitials(QDateTime(QDate(2024, 7, 15), QTime(14, 32), Qt::UTC)), QStringLiteral("UTC"));
}

TEST(StripLogoTest, LogosAreCentredInvertedAndNeverWhiteOnWhite)
{
    QImage a(100, 20, QImage::Format_Grayscale8);
    a.fill(0);   // black logo: ends black (254) after the 0 -> 1 raise
    QImage b(200, 40, QImage::Format_Grayscale8);
    b.fill(255); // white logo: ends white (0)
    b.setPixel(5, 0, qRgb(200, 200, 200));
    const auto rows = logoRows(a, b);
    ASSERT_EQ(rows.size(), 40u);
    const int g = (1728 - 100 - 200) / 3;
    // Written from the logos' last row to their first.
    const auto &first = rows.front();   // logo row 39: only logo b
    EXPECT_EQ(countValue(first, 254), 0);
    const auto &last = rows.back();     // logo row 0: both
    for (int x = 0; x < 1728; ++x) {
        const int expect = (x >= g && x < g + 100) ? 254 : (x == 100 + 2 * g + 5 ? 55 : 0);
        ASSERT_EQ(last[x], expect) << x;
    }
    EXPECT_TRUE(logoRows(a, QImage()).empty());
}

} // namespace
