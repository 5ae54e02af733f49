#include "display/waterfall.h"

#include "datasource/cdatasource.h"
#include "display/displayowner.h"
#include "display/wflabel.h"
#include "stripchart/cstripchartimagery.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QTransform>

#include <cmath>
#include <cstring>

namespace {

constexpr double kDegToRad = 0.017453277777777776;

// Whole-degree modulo that stays non-negative.
int positiveMod(int v, int m)
{
    const int r = v % m;
    return r < 0 ? r + m : r;
}

} // namespace

WaterFall::WaterFall(DisplayOwner *owner, QWidget *parent)
    : QWidget(parent), owner_(owner), pixels_(new std::uint32_t[std::size_t(kWidth) * kHeight]),
      picture_(reinterpret_cast<uchar *>(pixels_.get()), kWidth, kHeight, kWidth * 4,
               QImage::Format_ARGB32_Premultiplied),
      overlay_(kOverlayWidth, kOverlayHeight, QImage::Format_ARGB32_Premultiplied)
{
    std::uint32_t *p = pixels_.get();
    std::fill(p, p + std::size_t(kWidth) * kHeight, kRed);
    overlay_.fill(0);
    for (int v = 0; v < 256; ++v) {
        if (v > 253) {
            lut_[v] = kRed;
        } else {
            const std::uint32_t g = std::uint32_t(253 - v);
            lut_[v] = 0xFF000000u | (g << 16) | (g << 8) | g;
        }
    }
    line_.clear();
    lower();
}

WaterFall::~WaterFall() = default;

wfLabel *WaterFall::createViewLabel(QWidget *parent) const
{
    return new wfLabel(parent, &picture_, &displayRow_, 0, 0, wfLabel::Window, parent);
}

wfLabel *WaterFall::createOverlayLabel(QWidget *parent) const
{
    QRect avail;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        avail = screen->availableGeometry();
    return new wfLabel(parent, &overlay_, nullptr, avail.width() / 7, avail.height() / 6, wfLabel::Scaled, parent);
}

void WaterFall::paintLine(const ScanLineRec &line)
{
    if (writeRow_ == 0)
        writeRow_ = kRingRows;
    const int row = writeRow_;
    std::uint32_t *dst = pixels_.get() + std::size_t(row) * kWidth;
    for (int j = 0; j < kWidth; ++j)
        dst[j] = lut_[line.pix[j]];
    if (row < kViewRows)
        std::memcpy(pixels_.get() + std::size_t(row + kRingRows) * kWidth, dst, std::size_t(kWidth) * 4);
    displayRow_ = row;
    writeRow_ = row - 1;
}

void WaterFall::endStripChart()
{
    strip_->FinishRun();
    delete strip_;
    strip_ = nullptr;
    stripActive_ = false;
    if (recording_ && owner_->ManipulateLogFile(2, false))
        recording_ = false;
}

void WaterFall::processData()
{
    CDataSource *src = owner_->displaySource();
    if (!src)
        return;

    // Run change: the first change starts a strip chart, the next ends it.
    if (runFlag_ != owner_->isRunRequested()) {
        runFlag_ = !runFlag_;
        if (stripActive_) {
            endStripChart();
        } else {
            strip_ = new CStripChartImagery(owner_->passServices(), owner_->stripChartParent());
            mapMode_ = owner_->isMapMode();
            strip_->SetMapMode(mapMode_);
            strip_->SetFileOutput(true);
            stripActive_ = true;
        }
    }

    // Record change: follow the owner's log state.
    if (recording_ != owner_->isLogOpen()) {
        if (recording_) {
            if (owner_->ManipulateLogFile(2, false))
                recording_ = false;
        } else if (stripActive_) {
            if (owner_->isRecordArmed())
                recording_ = true;   // the strip chart has opened the log
            else if (owner_->ManipulateLogFile(1, false))
                recording_ = true;
        }
    }

    altitude_ = src->GetAltitude();
    pitch_ = src->GetPitch();
    roll_ = src->GetRoll();
    speed_ = src->GetSpeed();
    heading_ = src->GetHeading();
    src->GetPosition(&latitude_, &longitude_);

    std::uint32_t n = src->GetNumNewImageLines();
    if (n == 0)
        return;
    if (n > std::uint32_t(kHeight))   // the ring holds no older line
        n = kHeight;
    for (int k = int(n) - 1; k >= 0; --k) {
        line_.clear();
        src->GetPriorImageLine(std::uint32_t(k), &line_);
        line_.pendingLines = std::uint32_t(k);
        if (recording_)
            owner_->WriteLogLine(line_);
        if (stripActive_) {
            strip_->AddLine(line_, recording_);
            // The builder opened the run's log with this line and wrote it:
            // the lines after it in this same tick belong to the run too.
            if (!recording_ && owner_->isLogOpen())
                recording_ = true;
        }
        paintLine(line_);
    }
    drawOverlay();
    emit linesPainted(int(n));
}

QString WaterFall::altitudeText(float metres)
{
    return QStringLiteral("%1 ft").arg(int(metres * 3.2808));
}

QString WaterFall::speedText(float metresPerSecond)
{
    return QStringLiteral("%1 kts").arg(int(metresPerSecond * 1.9438));
}

QString WaterFall::headingText(float heading, float track)
{
    return QStringLiteral("%1(%2)").arg(int(heading)).arg(int(track + 0.5f));
}

void WaterFall::finishRun()
{
    if (stripActive_)
        endStripChart();
    if (recording_ && owner_->ManipulateLogFile(2, false))
        recording_ = false;
}

void WaterFall::toDms(double angle, double limit, int *deg, int *min, int *sec)
{
    if (angle > limit)
        angle = limit;
    if (angle < -limit)
        angle = -limit;
    if (!(angle == angle))   // NaN
        angle = 0.0;
    const double a = std::fabs(angle);
    int d = int(a);
    const double minutes = (a - d) * 60.0;
    int m = int(minutes);
    int s = int((minutes - m) * 60.0 + 0.5);
    // Rounding the seconds may reach a full minute; carry it on.
    if (s >= 60) {
        s -= 60;
        ++m;
    }
    if (m >= 60) {
        m -= 60;
        ++d;
    }
    *deg = d;
    *min = m;
    *sec = s;
}

QString WaterFall::positionText(double latitude, double longitude, std::uint32_t lineIndex)
{
    int lonD, lonM, lonS, latD, latM, latS;
    toDms(longitude, 180.0, &lonD, &lonM, &lonS);
    toDms(latitude, 90.0, &latD, &latM, &latS);
    return QStringLiteral(" Lon = %1%8%2'%3\"  Lat = %4%8%5'%6\"  %7 ")
        .arg(QString::number(lonD), QStringLiteral("%1").arg(lonM, 2, 10, QLatin1Char('0')),
             QStringLiteral("%1").arg(lonS, 2, 10, QLatin1Char('0')), QString::number(latD),
             QStringLiteral("%1").arg(latM, 2, 10, QLatin1Char('0')),
             QStringLiteral("%1").arg(latS, 2, 10, QLatin1Char('0')), QString::number(lineIndex),
             QString(QChar(0x00B0)));
}

void WaterFall::drawOverlay()
{
    CDataSource *src = owner_->displaySource();
    overlay_.fill(0);
    const int cx = overlay_.width() / 2;
    const int cy = overlay_.height() / 2;

    QPainter p(&overlay_);
    p.setFont(QFont(QStringLiteral("arial")));
    p.setBackgroundMode(Qt::OpaqueMode);
    const QPen blackPen(Qt::black, 1);
    p.setPen(blackPen);
    const QFontMetrics fm = p.fontMetrics();
    const int avg = fm.averageCharWidth();
    const int th = fm.height();
    auto centredStart = [&](int x, const QString &t) { return x - (avg * t.length()) / 2; };

    // Heading tape: 2 pixels per degree, a tick every 10 degrees, a label
    // every 30 degrees.
    const int h = int(heading_ + 0.5f);
    const int baseY = cy - 95;
    p.drawLine(cx - 100, baseY, cx + 100, baseY);
    const int firstTick = cx - 2 * positiveMod(h, 10);
    for (int x = firstTick; x <= cx + 100; x += 20)
        p.drawLine(x, cy - 100, x, baseY);
    for (int x = firstTick - 20; x >= cx - 100; x -= 20)
        p.drawLine(x, cy - 100, x, baseY);
    p.drawLine(cx, baseY, cx, cy - 88);
    const int firstLabelX = cx - 2 * positiveMod(h, 30);
    const int firstLabelDeg = h - positiveMod(h, 30);
    auto headingLabel = [&](int x, int deg) {
        deg = positiveMod(deg, 360);
        QString t;
        switch (deg) {
        case 0: t = QStringLiteral("N"); break;
        case 90: t = QStringLiteral("E"); break;
        case 180: t = QStringLiteral("S"); break;
        case 270: t = QStringLiteral("W"); break;
        default: t = QStringLiteral("%1").arg(deg); break;
        }
        p.drawText(centredStart(x, t), baseY - th + 3, t);
    };
    for (int x = firstLabelX, deg = firstLabelDeg; x <= cx + 100; x += 60, deg += 30)
        headingLabel(x, deg);
    for (int x = firstLabelX - 60, deg = firstLabelDeg - 30; x >= cx - 100; x -= 60, deg -= 30)
        headingLabel(x, deg);
    const float track = src ? src->GetTrack() : 0.0f;
    const QString hdg = headingText(heading_, track);
    p.drawText(centredStart(cx, hdg), cy - 73, hdg);

    // Altitude in feet.
    p.drawText(cx + 60, cy - th / 2 - 38, altitudeText(altitude_));

    // Attitude indicator: the figure is shifted 2 pixels per degree of pitch
    // and rotated about the centre by -roll.
    p.save();
    p.setClipRect(QRect(cx - 100, cy - 60, 201, 121));
    p.setBackgroundMode(Qt::TransparentMode);
    QTransform t;
    t.translate(cx, cy);
    t.rotateRadians(-double(roll_) * kDegToRad);
    t.translate(0, 2.0 * double(pitch_));
    p.setTransform(t);
    const QPen solid(Qt::black, 2);
    p.setPen(solid);
    p.drawLine(2, 0, 7, 0);
    p.drawLine(-2, 0, -7, 0);
    p.drawLine(0, 2, 0, 7);
    p.drawLine(0, -2, 0, -7);
    p.drawLine(-47, 0, -14, 0);
    p.drawLine(14, 0, 47, 0);
    QPen dashed(Qt::black, 1, Qt::DashLine);
    for (int deg = 10; deg <= 60; deg += 10) {
        for (int sign = 1; sign >= -1; sign -= 2) {
            const int y = -sign * 2 * deg;   // above the horizon for positive pitch angles
            const int tick = sign * 4;      // toward the horizon
            p.setPen(sign > 0 ? solid : dashed);
            p.drawLine(-47, y, -11, y);
            p.drawLine(11, y, 47, y);
            p.drawLine(-47, y, -47, y + tick);
            p.drawLine(47, y, 47, y + tick);
        }
    }
    p.restore();
    const QString pitchText = QStringLiteral("%1").arg(double(pitch_), 4, 'f', 1);
    p.drawText(centredStart(cx - 80, pitchText), cy - th / 2 + 12, pitchText);
    const QString rollText = QStringLiteral("%1").arg(double(roll_), 4, 'f', 1);
    p.drawText(centredStart(cx, rollText), cy + 77, rollText);

    // Speed in knots.
    p.drawText(cx + 60, cy - th / 2 + 62, speedText(speed_));

    // Position line.
    const QString pos = positionText(latitude_, longitude_, src ? src->GetLineIndex() : 0u);
    p.setPen(QColor(0, 0, 192));
    const int tw = fm.horizontalAdvance(pos);
    const QRect box(cx - (tw + 2) / 2, overlay_.height() - 60, tw + 2, th + 2);
    p.drawText(box, Qt::AlignCenter, pos);
    p.end();
}
