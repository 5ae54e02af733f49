#include "geodata/celevationdata.h"
#include "platform/settingskeys.h"

#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <algorithm>
#include <cmath>

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
        tileCount_ = index;
    }
}

bool CElevationData::ExtractArea(double west, double north, double east, double south,
                                 const QString &outputName)
{
    tilesRead_ = 0;
    const double cell = CellSizeFor(south, east);
    const double margin = kMarginCells * cell;
    const double north2 = (std::floor(north / cell) + 1) * cell + margin;
    const double south2 = std::floor(south / cell) * cell - margin;
    const double west2 = std::floor(west / cell) * cell - margin;
    const double east2 = (std::trunc(east / cell) + 1) * cell + margin;
    if (!(north2 - south2 <= kMaxExtentDegrees && east2 - west2 <= kMaxExtentDegrees))
        return false;

    output_.Release();
    // The snapped edges are whole cells apart; the slack keeps a quotient
    // of 187.9999999 from losing the last column or row.
    const double slack = 1e-6;
    output_.SetDimensions(int((east2 - west2) / cell + slack) + 1,
                          int((north2 - south2) / cell + slack) + 1, 1, Int16);
    output_.SetGeoReference(cell, cell, 0, 0, west2, north2, 0, 0.0, 1);
    if (!output_.Allocate())
        return false;

    QSettings settings;
    bool allRead = true;
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
        if (!ReadTileWindow(i, w, n, e, s))
            allRead = false;
        ++tilesRead_;
        settings.setValue(SettingsKey::LastStage, kStageAfterTile);
    }

    const bool result = tilesRead_ > 0 ? output_.Write(outputName) : allRead;
    settings.setValue(SettingsKey::LastStage, kStageDone);
    return result;
}

bool CElevationData::ReadTileWindow(int i, double west, double north, double east, double south)
{
    CBil tile;
    if (!tile.Open(TileName(i)))
        return false;
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
