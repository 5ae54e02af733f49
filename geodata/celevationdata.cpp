#include "geodata/celevationdata.h"
#include "platform/settingskeys.h"

#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Window edges may miss the tile's edge by float rounding of the boundary
// file; a hundredth of a cell is taken as on the edge.
constexpr double kEdgeSlack = 0.01;

} // namespace

CElevationData::CElevationData()
{
    LoadTileBoundaries();
}

QString CElevationData::BoundaryFilePath()
{
    return QDir::toNativeSeparators(QDir::currentPath()
                                    + QStringLiteral("/Cindrel_ElevationTileBoundaries.dat"));
}

QString CElevationData::TileName(int i)
{
    return cindrel::mapCDrivePath(
        QStringLiteral("C:\\demdata\\cd%1\\demimage").arg(i, 2, 10, QLatin1Char('0')));
}

double CElevationData::CellSizeFor(double south, double east)
{
    if (south >= 51.0 && east <= -129.75)
        return 0.0005555555555555556;
    return 0.0002777777777777778;
}

void CElevationData::LoadTileBoundaries()
{
    tileCount_ = 0;
    std::fill(std::begin(listed_), std::end(listed_), false);
    std::fill(std::begin(tiles_), std::end(tiles_), TileBox());
    QFile f(BoundaryFilePath());
    if (!f.open(QIODevice::ReadOnly))
        return;
    while (!f.atEnd()) {
        QByteArray line = f.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith("//"))
            continue;
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() < 5)
            continue;
        bool ok[5];
        const int index = fields[0].trimmed().toInt(&ok[0]);
        const float x1 = float(fields[1].trimmed().toDouble(&ok[1]));
        const float y1 = float(fields[2].trimmed().toDouble(&ok[2]));
        const float x2 = float(fields[3].trimmed().toDouble(&ok[3]));
        const float y2 = float(fields[4].trimmed().toDouble(&ok[4]));
        if (!(ok[0] && ok[1] && ok[2] && ok[3] && ok[4]) || index < 1 || index > kMaxTiles)
            continue;
        TileBox &t = tiles_[index];
        t.left = std::min(x1, x2);
        t.right = std::max(x1, x2);
        t.top = std::max(y1, y2);
        t.bottom = std::min(y1, y2);
        listed_[index] = true;
        // Lines need not come in rising order: the highest index counts.
        tileCount_ = std::max(tileCount_, index);
    }
}

bool CElevationData::ExtractArea(double west, double north, double east, double south,
                                 const QString &outputName)
{
    tilesRead_ = 0;
    lastError_.clear();
    const double cell = CellSizeFor(south, east);
    const double margin = kMarginCells * cell;
    const double north2 = (std::floor(north / cell) + 1) * cell + margin;
    const double south2 = std::floor(south / cell) * cell - margin;
    const double west2 = std::floor(west / cell) * cell - margin;
    const double east2 = (std::trunc(east / cell) + 1) * cell + margin;
    if (!(north2 - south2 <= kMaxExtentDegrees && east2 - west2 <= kMaxExtentDegrees)) {
        lastError_ = QStringLiteral("the box with its margin is larger than %1 degrees").arg(kMaxExtentDegrees);
        return false;
    }

    output_.Release();
    // The snapped edges are whole cells apart; the slack keeps a quotient
    // of 187.9999999 from losing the last column or row.
    const double slack = 1e-6;
    output_.SetDimensions(int((east2 - west2) / cell + slack) + 1,
                          int((north2 - south2) / cell + slack) + 1, 1, Int16);
    output_.SetGeoReference(cell, cell, 0, 0, west2, north2, 0, 0.0, 1);
    if (!output_.Allocate()) {
        lastError_ = QStringLiteral("not enough memory for the elevation raster");
        return false;
    }

    QSettings settings;
    for (int i = 1; i <= tileCount_; ++i) {
        if (!listed_[i])
            continue;
        // Every tile whose box meets the extended box contributes the
        // common part, including tiles that lie wholly inside it.
        const TileBox &t = tiles_[i];
        const double w = std::max(west2, double(t.left));
        const double e = std::min(east2, double(t.right));
        const double n = std::min(north2, double(t.top));
        const double s = std::max(south2, double(t.bottom));
        if (w > e || s > n)
            continue;
        settings.setValue(SettingsKey::LastStage, kStageBeforeTile);
        // A tile that cannot be read would leave sea level where its
        // relief belongs and move everything placed on this raster: the
        // whole extraction fails and nothing is written.
        if (!ReadTileWindow(i, w, n, e, s)) {
            if (lastError_.isEmpty())
                lastError_ = QStringLiteral("elevation tile %1 (%2) is missing, unreadable or smaller than its listed box")
                                 .arg(i)
                                 .arg(QDir::toNativeSeparators(CBil::BaseName(TileName(i))));
            settings.setValue(SettingsKey::LastStage, kStageDone);
            return false;
        }
        ++tilesRead_;
        settings.setValue(SettingsKey::LastStage, kStageAfterTile);
    }

    bool result = true;
    if (tilesRead_ > 0 && !output_.Write(outputName)) {
        lastError_ = QStringLiteral("%1: the elevation raster could not be written")
                         .arg(QDir::toNativeSeparators(CBil::BaseName(outputName)));
        result = false;
    }
    settings.setValue(SettingsKey::LastStage, kStageDone);
    return result;
}

bool CElevationData::ReadTileWindow(int i, double west, double north, double east, double south)
{
    CBil tile;
    if (!tile.Open(TileName(i)))
        return false;
    if (tile.GetNBands() != 1 || tile.GetPixelType() != Int16 || !(tile.GetXDim() > 0 && tile.GetYDim() > 0)) {
        lastError_ = QStringLiteral("elevation tile %1 is not a one-band 16-bit raster").arg(i);
        return false;
    }
    // A tile of another cell size (two arc-second tiles inside a one
    // arc-second box) cannot be copied cell for cell: each output cell
    // takes the tile's elevation at its centre.
    const double cell = output_.GetXDim();
    if (std::fabs(tile.GetXDim() - cell) > 1e-6 * cell || std::fabs(tile.GetYDim() - output_.GetYDim()) > 1e-6 * cell)
        return ResampleTile(tile, west, north, east, south);
    double c0, r0, c1, r1;
    tile.GeoToPixel(west, north, &c0, &r0);
    tile.GeoToPixel(east, south, &c1, &r1);
    double width = c1 - c0;
    double height = r1 - r0;
    const int ncols = tile.GetNCols(), nrows = tile.GetNRows();
    if (c0 + width > ncols + kEdgeSlack || r0 + height > nrows + kEdgeSlack)
        return false;
    c0 = std::max(0.0, c0);
    r0 = std::max(0.0, r0);
    // The output cell whose centre lies on the window's far edge is still
    // inside the tile unless that edge is the tile's own: take one more
    // column and row where the tile has them.
    width = (width <= 0.0) ? ncols - c0 : std::min(width + 1.0, ncols - c0);
    height = (height <= 0.0) ? nrows - r0 : std::min(height + 1.0, nrows - r0);
    tile.SetWindow(c0, r0, c0 + width, r0 + height);
    return tile.CopyWindowInto(output_);
}

bool CElevationData::ResampleTile(const CBil &tile, double west, double north, double east, double south)
{
    // Output cells whose centres lie in the window.
    double oc0, or0, oc1, or1;
    output_.GeoToPixel(west, north, &oc0, &or0);
    output_.GeoToPixel(east, south, &oc1, &or1);
    const int firstCol = std::max(0, int(std::ceil(oc0 - 0.5 - kEdgeSlack)));
    const int lastCol = std::min(output_.GetNCols() - 1, int(std::floor(oc1 - 0.5 + kEdgeSlack)));
    const int firstRow = std::max(0, int(std::ceil(or0 - 0.5 - kEdgeSlack)));
    const int lastRow = std::min(output_.GetNRows() - 1, int(std::floor(or1 - 0.5 + kEdgeSlack)));
    for (int r = firstRow; r <= lastRow; ++r) {
        unsigned char *row = output_.MutableRowData(r);
        if (!row)
            return false;
        for (int c = firstCol; c <= lastCol; ++c) {
            double x, y, tc, tr;
            output_.PixelToGeo(c + 0.5, r + 0.5, &x, &y);
            tile.GeoToPixel(x, y, &tc, &tr);
            // Bilinear between the tile's cell centres (output centres
            // fall between them); in a tile's outer half cell its edge cell.
            double value;
            if (!tile.Interpolate(x, y, 0, &value) && !tile.GetValue(std::floor(tc), std::floor(tr), 0, &value))
                continue;   // the centre lies just outside the tile
            const qint16 v = qint16(std::lround(std::min(32767.0, std::max(-32768.0, value))));
            // Stored in the output's byte order.
            const quint16 u = quint16(v);
            const bool mostFirst = output_.GetByteOrder() == 0;
            row[2 * c] = uchar(mostFirst ? u >> 8 : u & 0xFF);
            row[2 * c + 1] = uchar(mostFirst ? u & 0xFF : u >> 8);
        }
    }
    return true;
}
