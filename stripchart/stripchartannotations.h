#pragma once
// The fixed pieces of a strip chart image: row layout helpers, the start and
// end bars, the annotation and label images, the logo rows and the texts
// that go into them. Every image here is 8-bit grey in the strip chart's
// values: 0 white background, 254 black text and lines.
#include <QDateTime>
#include <QFont>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace stripchart {

constexpr int kRowBytes = 1728;
constexpr int kAnnotationRows = 60;
constexpr int kBarRows = 59;
constexpr int kLabelWidth = 64;
constexpr int kLabelHeight = 160;
constexpr int kLabelBytes = 55;          // label columns copied into each row
constexpr int kLabelColumn = 1673;       // image column of label byte 0
constexpr std::uint8_t kBlack = 254;
constexpr std::uint8_t kFire = 255;

using Row = std::vector<std::uint8_t>;

// The texts' font: Arial bold (weight 75), pixel size 18, no antialiasing so
// that every text pixel is exactly 0 or 254.
QFont annotationFont();

// 1728 x 60 annotation images.
// START RUN / END RUN: text starting at x = 864, baseline 58 - text height.
QImage renderRunText(const QString &text);
// Scale line: same placement as the run texts.
QImage renderScaleText(const QString &text);
// Footer: right-aligned, baseline at x = 1727 - width, y = 59 - text height.
QImage renderFooter(const QString &text);

// 64 x 160 label image: up to three lines side by side across the width,
// rotated so that they read along the strip (top to bottom), all within the
// 55 columns that reach the image.
QImage renderLabel(const QStringList &lines);

// The 59 rows of the start or end bar in the order they are written.
std::vector<Row> barRows(bool startBar);

// Logo rows in the order they are written (top row of the logos last).
// Empty when either logo is null.
std::vector<Row> logoRows(const QImage &logo1, const QImage &logo2);

// "N 45° 30' 12\"" and "W 120° 05' 00\"" (clamped to +-90 / +-180).
QString formatLatitude(double degrees);
QString formatLongitude(double degrees);

// Initials of the time zone name of a time formatted with
// "dd-MMMM-yyyy ap hh:mm:ss (t)".
QString timeZoneInitials(const QString &formattedTime);
QString timeZoneInitials(const QDateTime &time);

} // namespace stripchart
