#include "stripchart/cstripchartimagery.h"

#include "datasource/cdatasource.h"
#include "datasource/cutmconverter.h"
#include "geodata/cbil.h"
#include "geodata/clineclipper.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "stripchart/passservices.h"
#include "stripchart/stripchartannotations.h"
#include "stripchart/tiffstream.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kTan60 = 1.7320508075688772;
constexpr double kFeetPerMetre = 3.2808;
constexpr int kTangents = SAMPLES_PER_LINE + 1;
constexpr int kLastPixel = SAMPLES_PER_LINE - 1;
constexpr int kScrollRow = 200;
constexpr int kScrollRows = 1200;
constexpr int kKeptRows = 400;

// tan(-60 deg + k/14 deg): the boundaries of the scan's 1680 pixels.
double g_tangents[kTangents];

void fillTangentTable()
{
    for (int k = 0; k < kTangents; ++k)
        g_tangents[k] = std::tan((-60.0 + k / 14.0) * kDegToRad);
}

bool g_failNextAllocation = false;

} // namespace

const double *CStripChartImagery::ScanTangents()
{
    return g_tangents;
}

void CStripChartImagery::FailNextGridAllocation(bool fail)
{
    g_failNextAllocation = fail;
}

CStripChartImagery::CStripChartImagery(PassServices *mainWindow, QObject *parent)
    : QObject(parent), services(mainWindow), grid(new CBil), clipper(new CLineClipper)
{
    fillTangentTable();
    label = QImage(stripchart::kLabelWidth, stripchart::kLabelHeight, QImage::Format_Grayscale8);
    label.fill(0);
    labelCountdown = -1;
    labelRow = -1;
    firstLinePending = true;
    clipper->SetClipWindow(0.0, double(kGridSize - 1), double(kGridSize - 1), 0.0);
    if (services)
        dataSource = services->GetDataSource();
}

CStripChartImagery::~CStripChartImagery()
{
    CompleteImage();
}

bool CStripChartImagery::CompleteImage()
{
    const bool complete = services && !aborted && !firstLinePending;
    if (complete && !finished)
        FinishRun();   // never lose the rows still held in the grid
    if (complete && file) {
        WriteBar(false);
        const QString footer = services->GetTailNumber() + QStringLiteral(" - ") + QStringLiteral("1.0") +
                               QStringLiteral(" Hey!! ");
        const QString dir = QDir::currentPath();
        const QImage logo1(QDir::toNativeSeparators(dir + QStringLiteral("/NewOrvekLogoJetGray.bmp")));
        const QImage logo2(QDir::toNativeSeparators(dir + QStringLiteral("/CindrelTransparentLogoGrayDark.bmp")));
        if (!logo1.isNull() && !logo2.isNull()) {
            WriteImage(stripchart::renderFooter(footer));
            for (const auto &row : stripchart::logoRows(logo1, logo2))
                WriteFileRow(row.data());
        }
        if (mapMode) {
            const double metres = std::hypot(curX - startX, curY - startY);
            const QString scale = QStringLiteral("Image Scale = %1 ft/pixel  --  Width = %2 miles  -- Length = %3 miles")
                                      .arg(cellSize * kFeetPerMetre, 0, 'f', 1)
                                      .arg(cellSize * kGridSize * kFeetPerMetre / 5280.0, 0, 'f', 1)
                                      .arg(metres * kFeetPerMetre / 5280.0, 0, 'f', 1);
            WriteImage(stripchart::renderScaleText(scale));
        }
        const int heading = mapMode ? services->GetPassHeading(0) : static_cast<int>(gridHeading + 0.5);
        WriteImage(stripchart::renderRunText(RunText(QStringLiteral("END RUN"), heading, endTime)));
        WriteTrailer();
        // A write that failed (disk full) leaves the earlier image in place.
        const bool tmpOk = !std::ferror(file);
        const bool closed = std::fclose(file) == 0;
        file = nullptr;
        const QString finalPath = FinalPath();
        imageWritten = tmpOk && closed && tiffstream::FinalPass(tmpPath, finalPath, kRowBytes, rowsWritten);
        if (imageWritten)
            jpegWritten = tiffstream::SaveJpegCopy(finalPath);
        else
            QFile::remove(tmpPath);
    } else if (file) {
        CloseAndRemoveTemp();
    }
    return imageWritten;
}

void CStripChartImagery::SetMapMode(bool on)
{
    mapMode = on;
}

void CStripChartImagery::SetFireDilation(bool on)
{
    fireDilation = on;
}

void CStripChartImagery::SetFileOutput(bool on)
{
    fileOutput = on;
}

void CStripChartImagery::SetOutputPath(const QString &path)
{
    outputOverride = path;
}

QString CStripChartImagery::FinalPath() const
{
    return tmpPath.isEmpty() ? QString() : tiffstream::FinalPathFor(tmpPath);
}

QString CStripChartImagery::JpegPath() const
{
    return tmpPath.isEmpty() ? QString() : tiffstream::JpegPathFor(FinalPath());
}

QString CStripChartImagery::RunText(const QString &what, int heading, const QDateTime &when) const
{
    return QStringLiteral("%1 %2  --  %3  IR TECH: %4  HEADING: %5  (%6)")
        .arg(what)
        .arg(runNumber)
        .arg(baseName)
        .arg(services ? services->GetTechName() : QString())
        .arg(heading)
        .arg(stripchart::timeZoneInitials(when));
}

bool CStripChartImagery::Project(const ScanLineRec &line, double *x, double *y, int *z)
{
    CUtmConverter *conv = services ? services->GetConverter() : nullptr;
    if (!conv) {
        *x = *y = 0.0;
        *z = 0;
        return false;
    }
    double n = 0.0, e = 0.0;
    std::int32_t zz = 0;
    const bool ok = conv->LatLonToUtm(milliArcSecToDeg(line.latitude), milliArcSecToDeg(line.longitude), &n, &e,
                                      &zz, 2);
    *x = e;
    *y = n;
    *z = zz;
    return ok;
}

void CStripChartImagery::FirstLine(ScanLineRec &line)
{
    firstLinePending = false;
    if (services)
        dataSource = services->GetDataSource();
    startTime = dataSource ? dataSource->GetDateTime() : QDateTime();
    gridHeading = line.track * 0.01;
    altitude = line.altitude * 0.01;
    groundElevation = services->GetGroundElevation();
    if (altitude - groundElevation < 1.0 && altitude >= 1.0) {
        // A ground elevation at or above the aircraft (a mission whose
        // elevation was never found) would leave the chart blank: the run
        // is drawn over sea level instead, and the operator hears why.
        Notice::notify(services->GetNoticeParent(), Notice::Kind::Warning, QStringLiteral("Strip Chart"),
                       QStringLiteral("The mission's ground elevation (%1 ft) is not below the aircraft (%2 ft). "
                                      "This run's strip chart is drawn with the ground at sea level; set the "
                                      "mission's ground elevation with Mission > Set.")
                           .arg(std::lround(groundElevation * 3.2808))
                           .arg(std::lround(altitude * 3.2808)));
        groundElevation = 0.0;
    }
    // A height of less than a metre (on the ground, or a wrong elevation)
    // would give a grid of zero or negative cells.
    const double height = std::max(1.0, altitude - groundElevation);
    halfSwath = kTan60 * height;
    cellSize = 2.0 * halfSwath / kGridSize;

    Project(line, &startX, &startY, &zone);
    curX = startX;
    curY = startY;
    runNumber = services->StartPass(startX, startY, zone, float(gridHeading), float(halfSwath), startTime);
    if (runNumber < 0) {
        services = nullptr;   // refused: stay inert
        dataSource = nullptr;
        return;
    }
    if (services->IsRecordArmed()) {
        services->ManipulateLogFile(1, false);
        services->WriteLogLine(line);
    }

    // The temporary file and the start annotations.
    if (!outputOverride.isEmpty())
        tmpPath = QDir::toNativeSeparators(outputOverride);
    else
        tmpPath = QDir::toNativeSeparators(cindrel::mapCDrivePath(services->GetPathPrefix()) +
                                           QStringLiteral("_%1.tmp").arg(runNumber));
    baseName = QFileInfo(tmpPath).completeBaseName();
    if (fileOutput) {
        file = std::fopen(QFile::encodeName(tmpPath).constData(), "wb");
        if (file)
            tiffstream::WriteHeader(file);
        else
            fileOutput = false;
    }
    WriteImage(stripchart::renderRunText(RunText(QStringLiteral("START RUN"), services->GetPassHeading(0), startTime)));
    WriteBar(true);

    // The grid: its top-left cell lies a grid length ahead of the swath's
    // left edge, so the start position is midway along the bottom edge.
    const double h = gridHeading * kDegToRad;
    const double leftX = startX + halfSwath * std::sin(h - 90.0 * kDegToRad);
    const double leftY = startY + halfSwath * std::cos(h - 90.0 * kDegToRad);
    originX = leftX + kGridSize * cellSize * std::sin(h);
    originY = leftY + kGridSize * cellSize * std::cos(h);
    grid->SetDimensions(kGridSize, kGridSize, 1, Int8);
    grid->SetGeoReference(cellSize, cellSize, 0.0, 0.0, originX, originY, 0, -gridHeading, 1);
    const bool allocated = !g_failNextAllocation && grid->Allocate();
    g_failNextAllocation = false;
    if (!allocated) {
        Notice::critical(services->GetNoticeParent(), QStringLiteral("StripChart ERROR"),
                         QStringLiteral("Unable to allocate memory for strip chart grid.\nCannot continue this run."));
        aborted = true;
        CloseAndRemoveTemp();
        return;
    }
    grid->Fill(kEmptyCell);
    cells = grid->MutableData();

    double col = 0.0, row = 0.0;
    grid->GeoToPixel(startX, startY, &col, &row);
    // The start lies on the grid's lower edge; its row is the last one.
    writeRow = std::clamp(static_cast<int>(std::floor(row)), 0, kGridSize - 1);
    prevWriteRow = writeRow;
    emitRow = writeRow;
    labelCountdown = -1;
    services->SetRunHeading(float(gridHeading));
}

void CStripChartImagery::AddLine(ScanLineRec &line, bool recording)
{
    if (!services || finished)
        return;
    if (firstLinePending) {
        FirstLine(line);
        if (!services)
            return;
    }
    lastRecording = recording;

    // 1. Too slow for a ground-true picture: plain mode for the rest of the run.
    if (line.speed * 0.01 < 10.0) {
        mapMode = false;
        if (services->IsMapMode())
            services->SetMapMode(false);
    }

    // 2.-4. Position, height and the line's heading.
    Project(line, &curX, &curY, &zone);
    double col = 0.0, row = 0.0;
    grid->GeoToPixel(curX, curY, &col, &row);
    altitude = line.altitude * 0.01;
    const double height = altitude - groundElevation;
    const double halfWidth = kTan60 * height;
    lineHeading = mapMode ? float(services->GetPassHeading(0)) : float(line.track * 0.01);
    const double pitch = line.pitch * 0.01;
    const double crab = line.heading * 0.01 - lineHeading;

    // 5. The pass follows the aircraft.
    services->UpdatePass(curX, curY, zone, lineHeading, float(halfWidth));
    lastHalfWidth = float(halfWidth);

    // 6. Rotation coefficients (roll 0, pitch, crab) and the edge rays.
    double m[6];
    {
        const double c1 = 1.0, s1 = 0.0;
        const double c2 = std::cos(pitch * kDegToRad), s2 = std::sin(pitch * kDegToRad);
        const double c3 = std::cos(crab * kDegToRad), s3 = std::sin(crab * kDegToRad);
        m[0] = s2;
        m[1] = -s1 * c2;
        m[2] = -c2 * s3;
        m[3] = c3 * c1 - s2 * s1 * s3;
        m[4] = s2 * c1 * s3 + c3 * s1;
        m[5] = c2 * c1;
    }
    double along[2], across[2];
    bool edgesOk = true;
    for (int k = 0; k < 2; ++k) {
        const double t = k == 0 ? -kTan60 : kTan60;
        if (!GroundOffset(m, t, height, &along[k], &across[k]))
            edgesOk = false;
    }
    if (edgesOk) {
        // Along/across are in the frame of the line's heading; the footprint
        // boxes are in map axes.
        const double h = lineHeading * kDegToRad;
        const double sh = std::sin(h), ch = std::cos(h);
        double ex[2], ey[2];
        for (int k = 0; k < 2; ++k) {
            ex[k] = curX + across[k] * ch + along[k] * sh;
            ey[k] = curY - across[k] * sh + along[k] * ch;
        }
        services->ReportSwathEdges(ex[0], ey[0], ex[1], ey[1], recording);
    }

    if (aborted)
        return;

    // 7. Into the grid.
    if (mapMode) {
        DrawMap(line, col, row, height / cellSize, m);
    } else {
        DrawPlain(line);
        plainRows = true;
    }
    int scrolls = 0;
    while (writeRow < kScrollRow && scrolls++ < 4)
        ScrollGrid();

    // 8. Labels.
    if (labelCountdown < 0 && labelRow < 0)
        ComposeLabel(line, height);

    // 9. Rows far enough behind the newest line go to the file.
    if (emitRow - writeRow > 100)
        EmitOneRow(recording);
    while (emitRow - writeRow > 110)
        EmitOneRow(recording);
}

bool CStripChartImagery::GroundOffset(const double m[6], double t, double h, double *along, double *across)
{
    const double den = m[4] * t - m[5];
    if (std::fabs(den) < 1e-9)
        return false;
    *along = (m[2] * t - m[0]) * h / den;
    *across = (m[3] * t - m[1]) * h / den;
    return true;
}

void CStripChartImagery::SetCell(int col, int row, std::uint8_t value)
{
    std::uint8_t *cell = cells + static_cast<std::size_t>(row) * kGridSize + col;
    if (*cell == stripchart::kFire)
        return;   // fire is never overwritten
    *cell = value;
    if (value == stripchart::kFire && fireDilation && col > 0 && col < kGridSize - 1 && row > 0 &&
        row < kGridSize - 1) {
        cell[-1] = stripchart::kFire;
        cell[1] = stripchart::kFire;
        cell[-kGridSize] = stripchart::kFire;
        cell[kGridSize] = stripchart::kFire;
    }
}

void CStripChartImagery::DrawPlain(ScanLineRec &line)
{
    const int row = writeRow;
    prevWriteRow = writeRow;
    --writeRow;
    if (row < 0 || row >= kGridSize)
        return;
    std::uint8_t *pix = line.pix;
    float x = 0.0f;
    for (int b = 0; b < 80; ++b) {
        for (int jj = 0; jj < 20; ++jj) {
            const int j = b * 20 + jj;
            const int i = j + j / 20;
            const int src = (x - float(i) > 0.5f && i < kLastPixel) ? i + 1 : i;
            SetCell(j, row, pix[src]);
            x += 1.05f;
        }
        if (b < 79) {
            const int i = 21 * b + 20;
            if (pix[i] == stripchart::kFire)
                pix[i + 1] = stripchart::kFire;
        }
    }
}

void CStripChartImagery::DrawMap(ScanLineRec &line, double col, double row, double h, const double m[6])
{
    if (!(h > 0.0) || !std::isfinite(col) || !std::isfinite(row))
        return;
    double nAlong = 0.0, nAcross = 0.0, aAlong = 0.0, aAcross = 0.0, bAlong = 0.0, bAcross = 0.0;
    if (!GroundOffset(m, 0.0, h, &nAlong, &nAcross) || !GroundOffset(m, -kTan60, h, &aAlong, &aAcross) ||
        !GroundOffset(m, kTan60, h, &bAlong, &bAcross))
        return;
    const double nadirCol = col + nAcross, nadirRow = row - nAlong;
    prevWriteRow = writeRow;
    if (nadirRow > -kGridSize && nadirRow < 2.0 * kGridSize)
        writeRow = static_cast<int>(std::floor(nadirRow));

    double x1 = col + aAcross, y1 = row - aAlong;
    double x2 = col + bAcross, y2 = row - bAlong;
    if (x1 > x2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    // The unclipped left end tells where the scan starts.
    const double fullLen = std::hypot(x2 - x1, y2 - y1);
    const double fullSpan = x2 - x1;
    if (!(fullSpan > 1e-6))
        return;
    double cx1 = x1, cy1 = y1, cx2 = x2, cy2 = y2;
    if (!clipper->ClipSegment(cx1, cy1, cx2, cy2))
        return;
    if (cx1 > cx2) {
        std::swap(cx1, cx2);
        std::swap(cy1, cy2);
    }
    const double span = cx2 - cx1;
    const double len = std::hypot(cx2 - cx1, cy2 - cy1);
    const double slope = span > 1e-9 ? (cy2 - cy1) / span : 0.0;
    const double step = (span > 1e-9 ? len / span : fullLen / fullSpan) / h;
    // Signed distance from the nadir point to the clipped left end.
    double dist = std::hypot(cx1 - nadirCol, cy1 - nadirRow);
    if (cx1 < nadirCol)
        dist = -dist;

    const int c0 = std::max(0, static_cast<int>(std::floor(cx1)));
    const int c1 = std::min(kGridSize - 1, static_cast<int>(std::floor(cx2)));
    // The scan tangent at the centre of the first column's cell.
    double tangent = dist / h + (c0 + 0.5 - cx1) * step;
    const std::uint8_t *pix = line.pix;
    int k = 0;
    for (int c = c0; c <= c1; ++c, tangent += step) {
        // The running row along the segment; the cell is the one it is in.
        const double rr = cy1 + slope * (c + 0.5 - cx1);
        const int r = static_cast<int>(std::floor(rr));
        while (k < kTangents && g_tangents[k] < tangent)
            ++k;
        if (k >= kTangents)
            break;   // beyond the scan's last pixel
        if (r < 0 || r >= kGridSize)
            continue;
        int p;
        if (k == 0) {
            p = 0;
        } else {
            p = k - 1;
            const double mid = 0.5 * (g_tangents[k - 1] + g_tangents[k]);
            if (tangent > mid && k - 1 < kLastPixel)
                p = k;
        }
        SetCell(c, r, pix[std::min(p, kLastPixel)]);
    }
}

void CStripChartImagery::ScrollGrid()
{
    const double h = gridHeading * kDegToRad;
    originX += kScrollRows * cellSize * std::sin(h);
    originY += kScrollRows * cellSize * std::cos(h);
    grid->SetGeoReference(cellSize, cellSize, 0.0, 0.0, originX, originY, 0, -gridHeading, 1);
    std::memmove(cells + static_cast<std::size_t>(kScrollRows) * kGridSize, cells,
                 static_cast<std::size_t>(kKeptRows) * kGridSize);
    std::memset(cells, kEmptyCell, static_cast<std::size_t>(kScrollRows) * kGridSize);
    writeRow += kScrollRows;
    prevWriteRow += kScrollRows;
    emitRow += kScrollRows;
}

void CStripChartImagery::ComposeLabel(const ScanLineRec &line, double height)
{
    QStringList lines;
    if (mapMode) {
        double x = 0.0, y = 0.0, lat = 0.0, lon = 0.0;
        grid->PixelToGeo(kGridSize / 2, emitRow, &x, &y);
        if (CUtmConverter *conv = services->GetConverter())
            conv->UtmToLatLon(y, x, zone, &lat, &lon, 2);
        lines << stripchart::formatLatitude(lat) << stripchart::formatLongitude(lon)
              << QString::asprintf("Line %ld", static_cast<long>(line.lineIndex));
        labelCountdown = 800;
    } else {
        if (positionBlockNext) {
            lines << stripchart::formatLatitude(milliArcSecToDeg(line.latitude))
                  << stripchart::formatLongitude(milliArcSecToDeg(line.longitude))
                  << QString::asprintf("Line %ld", static_cast<long>(line.lineIndex));
        } else {
            lines << QString::asprintf("Hdg %d", static_cast<int>(gridHeading + 0.5))
                  << QString::asprintf("Alt %d (MSL)", static_cast<int>(altitude * kFeetPerMetre + 0.5))
                  << QString::asprintf("Scale %.1f ft/pix", 2.0 * kTan60 * height / kGridSize * kFeetPerMetre);
        }
        positionBlockNext = !positionBlockNext;
        labelCountdown = 500;
    }
    label = stripchart::renderLabel(lines);
    labelRow = stripchart::kLabelHeight - 1;
}

void CStripChartImagery::EmitOneRow(bool recording)
{
    std::uint8_t row[kRowBytes];
    std::memset(row, 0, sizeof row);
    if (emitRow >= 0 && emitRow < kGridSize) {
        const std::uint8_t *g = cells + static_cast<std::size_t>(emitRow) * kGridSize;
        std::memcpy(row + kGridLeft, g, kGridSize);
        static const int tickStart[4] = {0, 13, 1640, 1653};
        for (int q = 0; q < 4; ++q) {
            if (std::memchr(g + q * 400, stripchart::kFire, 400))
                std::memset(row + tickStart[q], kBlack, 13);
        }
    } else {
        std::memset(row + kGridLeft, kEmptyCell, kGridSize);
    }
    if (labelRow >= 0) {
        std::memcpy(row + stripchart::kLabelColumn, label.constScanLine(labelRow), stripchart::kLabelBytes);
        --labelRow;
    }
    if (recording)
        row[kRowBytes - 1] = kBlack;
    WriteFileRow(row);
    --emitRow;
    --labelCountdown;
}

void CStripChartImagery::FinishRun()
{
    if (finished)
        return;
    finished = true;
    if (!services || firstLinePending)
        return;
    endTime = QDateTime::currentDateTime();
    services->EndPass(curX, curY, zone, lineHeading, lastHalfWidth, false);
    if (aborted)
        return;
    int guard = 0;
    while ((emitRow > writeRow || labelRow >= 0) && guard++ < 4 * kGridSize)
        EmitOneRow(lastRecording);
}

void CStripChartImagery::WriteFileRow(const std::uint8_t *row)
{
    if (!file)
        return;
    tiffstream::WriteRow(file, row, kRowBytes, kRowBytes);
    ++rowsWritten;
    if (endAnnotations)
        ++rowsSinceEnd;
}

void CStripChartImagery::WriteImage(const QImage &img)
{
    for (int r = img.height() - 1; r >= 0; --r)
        WriteFileRow(img.constScanLine(r));
}

void CStripChartImagery::WriteBar(bool start)
{
    if (!start)
        endAnnotations = true;
    for (const auto &row : stripchart::barRows(start))
        WriteFileRow(row.data());
}

void CStripChartImagery::WriteTrailer()
{
    // Georeferenced only when the aircraft was moving at the end, and only
    // a map-mode image whose every line was drawn on the ground: rows of
    // scan lines (plain mode) have no ground scale along the track, so a
    // transformation would misplace everything but the first row.
    const bool geo = dataSource && dataSource->GetSpeed() > 10.0f && !plainRows;
    QVector<double> transformation;
    double centralMeridian = 0.0;
    if (geo) {
        // The image's upper-left corner: image column 0 is grid column -33
        // (grid column 0 is image column 33), and the top row lies
        // rowsSinceEnd rows above the last data row, grid row emitRow + 1.
        transformation = tiffstream::MakeModelTransformation(*grid, -double(kGridLeft),
                                                             double(emitRow + 1 - rowsSinceEnd));
        int cm = 0;
        if (CUtmConverter *conv = services->GetConverter())
            cm = conv->GetCentralMeridian();
        // Without a fixed meridian the positions are in their UTM zone.
        centralMeridian = cm != 0 ? double(cm) : -CUtmConverter::ZoneCentralMeridianWest(zone);
    }
    const tiffstream::TrailerTags recipe = tiffstream::MakeStripChartTrailer(
        static_cast<std::uint32_t>(rowsWritten), services->GetMissionName(), runNumber, startTime, geo,
        transformation, centralMeridian);
    tiffstream::WriteTrailer(file, recipe, tiffstream::kHeaderBytes + std::int64_t(rowsWritten) * kRowBytes);
}

void CStripChartImagery::CloseAndRemoveTemp()
{
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
    if (!tmpPath.isEmpty())
        QFile::remove(tmpPath);
}
