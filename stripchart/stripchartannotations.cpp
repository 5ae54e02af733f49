#include "stripchart/stripchartannotations.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace stripchart {

namespace {

const QColor kTextColour(kBlack, kBlack, kBlack);

QImage blankAnnotation()
{
    QImage img(kRowBytes, kAnnotationRows, QImage::Format_Grayscale8);
    img.fill(0);
    return img;
}

void drawAt(QImage &img, int x, int baseline, const QString &text)
{
    QPainter p(&img);
    p.setFont(annotationFont());
    p.setPen(kTextColour);
    p.drawText(x, baseline, text);
}

// Degrees, minutes and rounded seconds; 60 seconds carry into the minutes.
void splitDms(double v, int *d, int *m, int *s)
{
    v = std::fabs(v);
    int deg = static_cast<int>(v);
    const double minutes = (v - deg) * 60.0;
    int min = static_cast<int>(minutes);
    int sec = static_cast<int>((minutes - min) * 60.0 + 0.5);
    if (sec >= 60) {
        sec -= 60;
        ++min;
    }
    if (min >= 60) {
        min -= 60;
        ++deg;
    }
    *d = deg;
    *m = min;
    *s = sec;
}

QString formatDms(QChar hemisphere, double v)
{
    int d, m, s;
    splitDms(v, &d, &m, &s);
    return QStringLiteral("%1 %2%3 %4' %5\"")
        .arg(hemisphere)
        .arg(d)
        .arg(QChar(0x00B0))
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'));
}

} // namespace

QFont annotationFont()
{
    QFont f(QStringLiteral("arial"));
    f.setWeight(75);
    f.setPixelSize(18);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

QImage renderRunText(const QString &text)
{
    QImage img = blankAnnotation();
    const QFontMetrics fm(annotationFont());
    // Long names must not push the heading and time zone at the end off the
    // image: a text too long to start at the middle starts further left,
    // and one wider than the image loses characters in its middle.
    constexpr int kMiddle = 864;
    constexpr int kMargin = 4;
    QString shown = text;
    if (fm.horizontalAdvance(shown) > kRowBytes - 2 * kMargin)
        shown = fm.elidedText(text, Qt::ElideMiddle, kRowBytes - 2 * kMargin);
    const int x = std::min(kMiddle, kRowBytes - kMargin - fm.horizontalAdvance(shown));
    drawAt(img, std::max(kMargin, x), 58 - fm.height(), shown);
    return img;
}

QImage renderScaleText(const QString &text)
{
    // Placed like the run texts so that the whole line is inside the image.
    return renderRunText(text);
}

QImage renderFooter(const QString &text)
{
    QImage img = blankAnnotation();
    const QFontMetrics fm(annotationFont());
    drawAt(img, 1727 - fm.horizontalAdvance(text), 59 - fm.height(), text);
    return img;
}

QImage renderLabel(const QStringList &lines)
{
    QImage img(kLabelWidth, kLabelHeight, QImage::Format_Grayscale8);
    img.fill(0);
    const QFont font = annotationFont();
    const QFontMetrics fm(font);
    const int cap = fm.capHeight();
    const int advance = cap + fm.descent() + 2;
    QPainter p(&img);
    p.setFont(font);
    p.setPen(kTextColour);
    // Rotated a quarter turn clockwise: the glyph tops point to larger x, so
    // the first line is the one furthest right. The last copied column
    // (the row's recording mark) stays clear.
    for (int k = 0; k < lines.size() && k < 3; ++k) {
        const int baseline = (kLabelBytes - 2) - cap - k * advance;
        p.save();
        p.translate(baseline, 2);
        p.rotate(90.0);
        p.drawText(0, 0, lines.at(k));
        p.restore();
    }
    return img;
}

std::vector<Row> barRows(bool startBar)
{
    static const int frameCols[] = {0, 26, 33, 1633, 1640, 1666, 1673, 1727};
    static const int tickCols[] = {13, 433, 833, 1233, 1653};
    Row frame(kRowBytes, 0);
    for (int c : frameCols)
        frame[static_cast<std::size_t>(c)] = kBlack;
    Row ticked = frame;
    for (int c : tickCols)
        ticked[static_cast<std::size_t>(c)] = kBlack;
    const Row blank(kRowBytes, 0);
    const Row solid(kRowBytes, kBlack);

    std::vector<Row> rows;
    rows.reserve(kBarRows);
    for (int i = 0; i < 14; ++i)
        rows.push_back(blank);
    if (startBar)
        rows.push_back(solid);
    for (int i = 0; i < 15; ++i)
        rows.push_back(startBar ? ticked : frame);
    for (int i = 0; i < 15; ++i)
        rows.push_back(startBar ? frame : ticked);
    if (!startBar)
        rows.push_back(solid);
    for (int i = 0; i < 14; ++i)
        rows.push_back(blank);
    return rows;
}

std::vector<Row> logoRows(const QImage &logo1In, const QImage &logo2In)
{
    std::vector<Row> rows;
    if (logo1In.isNull() || logo2In.isNull())
        return rows;
    const QImage logo1 = logo1In.convertToFormat(QImage::Format_Grayscale8);
    const QImage logo2 = logo2In.convertToFormat(QImage::Format_Grayscale8);
    const int w1 = logo1.width(), w2 = logo2.width();
    const int h1 = logo1.height(), h2 = logo2.height();
    const int gap = std::max(0, (kRowBytes - w1 - w2) / 3);
    const int x1 = gap;
    const int x2 = w1 + 2 * gap;

    auto place = [](Row &row, const uchar *src, int width, int x) {
        if (x >= kRowBytes)
            return;
        const int n = std::min(width, kRowBytes - x);
        if (n > 0)
            std::memcpy(row.data() + x, src, static_cast<std::size_t>(n));
    };

    const int h = std::max(h1, h2);
    rows.reserve(static_cast<std::size_t>(h));
    for (int r = h - 1; r >= 0; --r) {
        Row row(kRowBytes, 255);
        if (r < h1)
            place(row, logo1.constScanLine(r), w1, x1);
        if (r < h2)
            place(row, logo2.constScanLine(r), w2, x2);
        for (auto &v : row) {
            if (v == 0)
                v = 1;
            v = static_cast<std::uint8_t>(255 - v);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

QString formatLatitude(double degrees)
{
    degrees = std::clamp(degrees, -90.0, 90.0);
    return formatDms(degrees < 0 ? QLatin1Char('S') : QLatin1Char('N'), degrees);
}

QString formatLongitude(double degrees)
{
    degrees = std::clamp(degrees, -180.0, 180.0);
    return formatDms(degrees < 0 ? QLatin1Char('W') : QLatin1Char('E'), degrees);
}

QString timeZoneInitials(const QString &formatted)
{
    const int open = formatted.indexOf(QLatin1Char('('));
    if (open < 0)
        return QString();
    QString name = formatted.mid(open + 1);
    const int close = name.indexOf(QLatin1Char(')'));
    if (close >= 0)
        name = name.left(close);
    name = name.trimmed();
    // A zone name that is one word is already an abbreviation ("UTC",
    // "PDT"); a name of several words gives the initials of its first three.
    const QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() <= 1)
        return name;
    QString initials;
    for (int i = 0; i < words.size() && i < 3; ++i)
        initials += words.at(i).at(0);
    return initials;
}

QString timeZoneInitials(const QDateTime &time)
{
    return timeZoneInitials(time.toString(QStringLiteral("dd-MMMM-yyyy ap hh:mm:ss (t)")));
}

} // namespace stripchart
