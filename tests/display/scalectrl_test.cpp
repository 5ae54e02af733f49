// The thresholds panel's picture: zoom sequence, bar plots and the channel B
// scale, checked on the rendered pixels.
#include "display/scalectrl.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QPainter>

#include <vector>

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kCyan = 0xFF00FFFF;

QRgb px(const QImage &img, int x, int y) { return img.pixel(x, y); }

// Runs of the plot column x between y0 and y1 (inclusive) that are all c.
bool columnIs(const QImage &img, int x, int y0, int y1, QRgb c)
{
    for (int y = y0; y <= y1; ++y)
        if (px(img, x, y) != c)
            return false;
    return true;
}

// Ten values that draw nothing, so the checked bars sit clear of the box.
std::vector<std::int32_t> padded(std::vector<std::int32_t> tail, std::int32_t pad)
{
    std::vector<std::int32_t> v(10, pad);
    v.insert(v.end(), tail.begin(), tail.end());
    return v;
}

} // namespace

TEST(ScaleCtrlZoom, StepsAlongOneTwoFiveWithinLimits)
{
    ScaleCtrl s;
    EXPECT_EQ(s.GetFireRange(), 20);
    EXPECT_EQ(s.GetBMaxRange(), 20);

    // Down the sequence to the smallest range, which then stays.
    const int downs[] = {10, 5, 2, 1, 1, 1};
    for (int expected : downs) {
        s.FireZoomIn();
        EXPECT_EQ(s.GetFireRange(), expected);
    }
    EXPECT_EQ(s.GetFireMantissa(), 1);
    EXPECT_EQ(s.GetFireExponent(), 0);

    // 5 x 10^2 zooms out to 1 x 10^3.
    s.SetBMaxMantissa(5);
    s.SetBMaxExponent(2);
    EXPECT_EQ(s.GetBMaxRange(), 500);
    s.BMaxZoomOut();
    EXPECT_EQ(s.GetBMaxMantissa(), 1);
    EXPECT_EQ(s.GetBMaxExponent(), 3);
    EXPECT_EQ(s.GetBMaxRange(), 1000);
    s.BMaxZoomOut();
    EXPECT_EQ(s.GetBMaxRange(), 2000);
    s.BMaxZoomIn();
    s.BMaxZoomIn();
    EXPECT_EQ(s.GetBMaxRange(), 500);
    // The Fire plot was not touched by the BMax zoom.
    EXPECT_EQ(s.GetFireRange(), 1);

    // Zooming out stops at 1 x 10^9 instead of overflowing.
    for (int i = 0; i < 40; ++i)
        s.FireZoomOut();
    EXPECT_EQ(s.GetFireRange(), 1000000000);

    // A stored zoom off the sequence still gives a usable range.
    s.SetFireMantissa(0);
    EXPECT_GT(s.GetFireRange(), 0);
    s.SetFireExponent(-3);
    EXPECT_GT(s.GetFireRange(), 0);
}

TEST(ScaleCtrlPicture, EmptyPlotsShowOnlyLabelsAndFrames)
{
    ScaleCtrl s;
    const QImage img = s.BuildScaleImage(100, 127, 100, 150);
    ASSERT_EQ(img.size(), QSize(480, 170));
    ASSERT_EQ(img.format(), QImage::Format_ARGB32_Premultiplied);
    int whiteInPlots = 0;
    for (int x = 78; x <= 374; ++x) {
        for (int y = 7; y <= 53; ++y)
            whiteInPlots += px(img, x, y) == kWhite;
        for (int y = 72; y <= 118; ++y)
            whiteInPlots += px(img, x, y) == kWhite;
    }
    EXPECT_EQ(whiteInPlots, 0);
    // The labels are there: white pixels left of the boxes in both plots.
    int fireLabels = 0, bmaxLabels = 0;
    for (int x = 0; x < 74; ++x) {
        for (int y = 0; y < 60; ++y)
            fireLabels += px(img, x, y) == kWhite;
        for (int y = 64; y < 124; ++y)
            bmaxLabels += px(img, x, y) == kWhite;
    }
    EXPECT_GT(fireLabels, 0);
    EXPECT_GT(bmaxLabels, 0);
    // Frames in cyan, background black.
    EXPECT_EQ(px(img, 200, 5), kCyan);
    EXPECT_EQ(px(img, 200, 70), kCyan);
    EXPECT_EQ(px(img, 200, 131), kCyan);
    EXPECT_EQ(px(img, 226, 120), kCyan);   // centre tick of the scale
    EXPECT_EQ(px(img, 200, 20), kBlack);
}

TEST(ScaleCtrlPicture, FireBarsFollowThresholdAndRange)
{
    ScaleCtrl s;   // range 20
    const auto v = padded({100, 80, 130, 81}, 0);
    s.AddFireValues(v.data(), int(v.size()), 100);
    const QImage img = s.BuildScaleImage(100, 127, 100, 150);

    // 100: from y 55 up to y 30 (the frame's middle line is drawn over it).
    EXPECT_TRUE(columnIs(img, 87, 33, 52, kWhite));
    EXPECT_TRUE(columnIs(img, 87, 8, 27, kBlack));
    EXPECT_EQ(px(img, 87, 30), kCyan);
    // 80 (the bottom of the range): nothing.
    EXPECT_TRUE(columnIs(img, 88, 7, 27, kBlack));
    EXPECT_TRUE(columnIs(img, 88, 33, 53, kBlack));
    // 130: clipped at the top of the box.
    EXPECT_TRUE(columnIs(img, 89, 7, 27, kWhite));
    EXPECT_TRUE(columnIs(img, 89, 0, 3, kBlack));
    // 81: h = 1/0.8 + 0.5 = 1, a bar hidden by the bottom frame line.
    EXPECT_TRUE(columnIs(img, 90, 7, 27, kBlack));
    EXPECT_TRUE(columnIs(img, 90, 33, 52, kBlack));
    // Slots never written draw nothing even when 0 would be in range.
    ScaleCtrl low;
    const std::int32_t one[] = {5};
    low.AddFireValues(one, 1, 0);
    const QImage lowImg = low.BuildScaleImage(100, 127, 100, 150);
    EXPECT_TRUE(columnIs(lowImg, 77 + 1, 33, 52, kBlack));
    EXPECT_TRUE(columnIs(lowImg, 77 + 0, 33, 52, kWhite));
}

TEST(ScaleCtrlPicture, BMaxBarsAndRingOrder)
{
    ScaleCtrl s;
    const auto v = padded({500, 480}, -1000);
    s.AddBMaxValues(v.data(), int(v.size()), 500);
    QImage img = s.BuildScaleImage(100, 127, 100, 150);
    // A value equal to the threshold: from y 120 up to y 90.
    EXPECT_TRUE(columnIs(img, 87, 97, 117, kWhite));
    EXPECT_TRUE(columnIs(img, 87, 90, 93, kWhite));
    EXPECT_TRUE(columnIs(img, 87, 72, 88, kBlack));
    // The bottom of the range draws nothing.
    EXPECT_TRUE(columnIs(img, 88, 72, 93, kBlack));
    EXPECT_TRUE(columnIs(img, 88, 97, 117, kBlack));

    // The ring wraps: 300 more values overwrite every slot in order.
    std::vector<std::int32_t> more(300, -1000);
    more[299] = 520;   // slot (12 + 299) % 300 = 11
    s.AddBMaxValues(more.data(), 300, 500);
    img = s.BuildScaleImage(100, 127, 100, 150);
    EXPECT_TRUE(columnIs(img, 87, 72, 93, kBlack));    // old bar gone
    EXPECT_TRUE(columnIs(img, 87, 97, 117, kBlack));
    EXPECT_TRUE(columnIs(img, 88, 72, 93, kWhite));    // 520: up to the box top
}

TEST(ScaleCtrlPicture, BracketAndCentreTextSide)
{
    QFont font(QStringLiteral("arial"));
    font.setPixelSize(14);

    // The white pixels of the centre text region, without the bracket.
    auto textPixels = [](const QImage &img) {
        QVector<QPoint> pts;
        for (int y = 112; y <= 136; ++y)
            for (int x = 130; x <= 330; ++x)
                if (x < 225 || x > 227)
                    if (img.pixel(x, y) == kWhite)
                        pts << QPoint(x, y);
        return pts;
    };
    auto reference = [&](const QString &text) {
        QImage ref(480, 170, QImage::Format_ARGB32_Premultiplied);
        ref.fill(Qt::black);
        QPainter p(&ref);
        p.setFont(font);
        p.setPen(Qt::white);
        const int avg = p.fontMetrics().averageCharWidth();
        p.drawText(226 - (avg * text.length()) / 2 - 3, 135, text);
        p.end();
        return ref;
    };

    ScaleCtrl s;
    // Minimum 192 or more left of the centre: "<< %1".
    QImage img = s.BuildScaleImage(-3, 127, 127 - 192, 150);
    EXPECT_EQ(textPixels(img), textPixels(reference(QStringLiteral("<< -3"))));
    // Minimum at or right of the centre and far away: "%1 >>".
    img = s.BuildScaleImage(-3, 127, 127 + 200, 127 + 220);
    EXPECT_EQ(textPixels(img), textPixels(reference(QStringLiteral("-3 >>"))));
    // Close to the centre: just the value.
    img = s.BuildScaleImage(-3, 127, 127 - 191, 150);
    EXPECT_EQ(textPixels(img), textPixels(reference(QStringLiteral("-3"))));

    // Bracket: with centre 127 the positions move by 99 (226 - 127).
    img = s.BuildScaleImage(0, 127, 50, 200);
    EXPECT_EQ(px(img, 149, 145), kWhite);   // left leg
    EXPECT_EQ(px(img, 299, 145), kWhite);   // right leg
    EXPECT_EQ(px(img, 200, 137), kWhite);   // top bar
    EXPECT_EQ(px(img, 200, 145), kBlack);
}
