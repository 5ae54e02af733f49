#include "display/scalectrl.h"

#include <QFont>
#include <QFontMetrics>
#include <QStringList>

#include <algorithm>
#include <QPainter>
#include <QPen>

#include <cmath>

ScaleCtrl::ScaleCtrl() : picture_(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied)
{
    picture_.fill(background_);
}

void ScaleCtrl::append(Plot &p, const std::int32_t *values, int count, std::int32_t threshold)
{
    p.threshold = threshold;
    for (int i = 0; i < count; ++i) {
        p.writeIndex = (p.writeIndex + 1) % kHistory;
        p.values[p.writeIndex] = values[i];
        if (p.filled < kHistory)
            ++p.filled;
    }
}

void ScaleCtrl::AddFireValues(const std::int32_t *values, int count, std::int32_t threshold)
{
    append(fire_, values, count, threshold);
}

void ScaleCtrl::AddBMaxValues(const std::int32_t *values, int count, std::int32_t threshold)
{
    append(bmax_, values, count, threshold);
}

void ScaleCtrl::recompute(Plot &p)
{
    // A stored zoom that is not on the 1-2-5 sequence, or an exponent out of
    // reach, would give a zero or overflowing range; keep it drawable.
    if (p.mantissa != 1 && p.mantissa != 2 && p.mantissa != 5)
        p.mantissa = 1;
    if (p.exponent < 0)
        p.exponent = 0;
    if (p.exponent > kMaxExponent)
        p.exponent = kMaxExponent;
    if (p.exponent == kMaxExponent && p.mantissa > 1)
        p.mantissa = 1;
    p.range = int(std::pow(10.0, p.exponent)) * p.mantissa;
}

void ScaleCtrl::zoomIn(Plot &p)
{
    if (p.mantissa == 5) {
        p.mantissa = 2;
    } else if (p.mantissa == 2) {
        p.mantissa = 1;
    } else if (p.exponent - 1 < 0) {
        p.mantissa = 1;
        p.exponent = 0;
    } else {
        p.exponent -= 1;
        p.mantissa = 5;
    }
    recompute(p);
}

void ScaleCtrl::zoomOut(Plot &p)
{
    if (p.exponent >= kMaxExponent) {   // 1 x 10^9 is the widest range
        recompute(p);
        return;
    }
    if (p.mantissa == 1) {
        p.mantissa = 2;
    } else if (p.mantissa == 2) {
        p.mantissa = 5;
    } else {
        p.exponent += 1;
        p.mantissa = 1;
    }
    recompute(p);
}

void ScaleCtrl::FireZoomIn() { zoomIn(fire_); }
void ScaleCtrl::FireZoomOut() { zoomOut(fire_); }
void ScaleCtrl::BMaxZoomIn() { zoomIn(bmax_); }
void ScaleCtrl::BMaxZoomOut() { zoomOut(bmax_); }

void ScaleCtrl::SetFireMantissa(int m) { fire_.mantissa = m; recompute(fire_); }
void ScaleCtrl::SetFireExponent(int e) { fire_.exponent = e; recompute(fire_); }
void ScaleCtrl::SetBMaxMantissa(int m) { bmax_.mantissa = m; recompute(bmax_); }
void ScaleCtrl::SetBMaxExponent(int e) { bmax_.exponent = e; recompute(bmax_); }

void ScaleCtrl::drawLabels(QPainter &painter, const Plot &p, int labelTop, int labelMid, int labelBottom,
                           int labelAdd)
{
    const qint64 top = qint64(p.threshold) + p.range;
    const qint64 bottom = qint64(p.threshold) - p.range;
    const QFontMetrics fm = painter.fontMetrics();
    auto rightAligned = [&](qint64 v, int baseline) {
        const QString t = QString::number(v + labelAdd);
        painter.drawText(73 - fm.horizontalAdvance(t), baseline, t);
    };
    rightAligned(top, labelTop);
    rightAligned(p.threshold, labelMid);
    rightAligned(bottom, labelBottom);
}

void ScaleCtrl::drawBars(const Plot &p, int barBase, int barTopBase, int barCeiling)
{
    if (p.writeIndex == -1)
        return;
    // Written straight into the picture: one white column per slot, both
    // ends included, exactly what a one-pixel line from the base up gives.
    const qint64 bottom = qint64(p.threshold) - p.range;
    const float step = float(p.range) / 25.0f;
    const QRgb white = data_.rgba();
    for (int i = 0; i < p.filled; ++i) {
        const int x = 77 + i;
        float hf = float(qint64(p.values[i]) - bottom) / step + 0.5f;
        if (hf > 100000.0f)
            hf = 100000.0f;
        const int h = int(hf);
        if (h <= 0)
            continue;
        int top = barTopBase - h;
        if (top < barCeiling)
            top = barCeiling;
        for (int y = top; y <= barBase; ++y)
            reinterpret_cast<QRgb *>(picture_.scanLine(y))[x] = white;
    }
}

QImage ScaleCtrl::BuildScaleImage(int offsetValue, int centrePos, int minPos, int maxPos)
{
    picture_.fill(background_);
    // The bars lie clear of the bracket and the texts drawn before them in
    // the sequence, so they can go first; the frames are drawn over them.
    drawBars(fire_, 55, 55, 5);
    drawBars(bmax_, 120, 115, 70);
    QPainter painter(&picture_);
    painter.setPen(QPen(data_, 1));

    // Bracket over the display range covered by the line's channel B values.
    const int d = 226 - centrePos;
    const int xMin = minPos + d;
    const int xMax = maxPos + d;
    painter.drawLine(xMin, 155, xMin, 137);
    painter.drawLine(xMin, 137, xMax, 137);
    painter.drawLine(xMax, 137, xMax, 155);

    QFont font(QStringLiteral("arial"));
    font.setPixelSize(14);
    painter.setFont(font);
    const QFontMetrics fm = painter.fontMetrics();
    const int avg = fm.averageCharWidth();
    auto centredAt = [&](int x, int baseline, const QString &t) {
        painter.drawText(x - (avg * t.length()) / 2 - 3, baseline, t);
    };

    QString centreText;
    if (std::abs(centrePos - minPos) < 192)
        centreText = QStringLiteral("%1").arg(offsetValue);
    else if (minPos >= centrePos)
        centreText = QStringLiteral("%1 >>").arg(offsetValue);
    else
        centreText = QStringLiteral("<< %1").arg(offsetValue);
    // The centre value goes on after the frame (below), on a patch of
    // background, so the scale's base line does not strike through it.
    // The bracket ends' values are centred on them unless they would run
    // into each other; then they are pushed apart around their middle.
    const QString minText = QStringLiteral("%1").arg(minPos - centrePos + 128);
    const QString maxText = QStringLiteral("%1").arg(maxPos - centrePos + 128);
    int minX = xMin - (avg * minText.length()) / 2 - 3;
    int maxX = xMax - (avg * maxText.length()) / 2 - 3;
    const int minW = fm.horizontalAdvance(minText);
    const int maxW = fm.horizontalAdvance(maxText);
    constexpr int kGap = 6;
    if (minX + minW + kGap > maxX) {
        const int mid = (minX + minW + maxX) / 2;
        minX = mid - kGap / 2 - minW;
        maxX = mid + kGap / 2;
    }
    painter.drawText(minX, 167, minText);
    painter.drawText(maxX, 167, maxText);

    drawLabels(painter, fire_, 17, 36, 55, 0);
    drawLabels(painter, bmax_, 82, 101, 120, 32768);

    // Frame: scale base line with its ticks, texts, then the two plot boxes.
    painter.setPen(QPen(frame_, 2));
    painter.drawLine(100, 131, 352, 131);
    painter.drawLine(100, 141, 100, 131);
    painter.drawLine(352, 131, 352, 141);
    painter.drawLine(226, 131, 226, 113);

    painter.setPen(QPen(frame_, 1));
    auto scaleText = [&](int x, const QString &t) {
        painter.drawText(x - fm.horizontalAdvance(t) / 2 - 1, 157, t);
    };
    scaleText(100, QStringLiteral("0"));
    scaleText(226, QStringLiteral("127"));
    scaleText(352, QStringLiteral("255"));
    // The side texts keep to the picture: a smaller size when needed.
    {
        QFont side = font;
        const QStringList texts = {QStringLiteral("Channel B:"), QStringLiteral("Fire Threshold:"),
                                   QStringLiteral("BMax Threshold:")};
        const int room = picture_.width() - 378 - 1;
        while (side.pixelSize() > 8) {
            const QFontMetrics sm(side);
            int widest = 0;
            for (const QString &t : texts)
                widest = std::max(widest, sm.horizontalAdvance(t));
            if (widest <= room)
                break;
            side.setPixelSize(side.pixelSize() - 1);
        }
        painter.setFont(side);
        painter.drawText(378, 156, texts.at(0));
        painter.drawText(378, 17, texts.at(1));
        painter.drawText(378, 82, texts.at(2));
        painter.setFont(font);
    }

    painter.setPen(QPen(frame_, 2));
    // BMax box: top, right, bottom, left, middle.
    painter.drawLine(76, 70, 376, 70);
    painter.drawLine(376, 70, 376, 120);
    painter.drawLine(376, 120, 76, 120);
    painter.drawLine(76, 120, 76, 70);
    painter.drawLine(76, 95, 376, 95);
    // Fire box: top, right, bottom, left, middle.
    painter.drawLine(76, 5, 376, 5);
    painter.drawLine(376, 5, 376, 55);
    painter.drawLine(376, 55, 76, 55);
    painter.drawLine(76, 55, 76, 5);
    painter.drawLine(76, 30, 376, 30);

    {
        const int x = 226 - (avg * centreText.length()) / 2 - 3;
        const QRect r(x - 2, 135 - fm.ascent(), fm.horizontalAdvance(centreText) + 4, fm.ascent() + 2);
        painter.fillRect(r, background_);
        painter.setPen(QPen(data_, 1));
        painter.drawText(x, 135, centreText);
    }
    painter.end();
    return picture_.copy();
}
