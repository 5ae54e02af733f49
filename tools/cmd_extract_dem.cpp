// cindrel extract-dem: the elevation raster of a box, cut from the working
// directory's DEM tiles as the orthorectifier does.
#include "geodata/celevationdata.h"
#include "tools/command.h"

#include <QDir>
#include <QFileInfo>

namespace {
using namespace cindrel::tool;

int run(const Invocation &in)
{
    double west, north, east, south;
    if (!in.toDouble(in.positional(0), QStringLiteral("WEST"), &west, -180.0, 180.0)
        || !in.toDouble(in.positional(1), QStringLiteral("NORTH"), &north, -90.0, 90.0)
        || !in.toDouble(in.positional(2), QStringLiteral("EAST"), &east, -180.0, 180.0)
        || !in.toDouble(in.positional(3), QStringLiteral("SOUTH"), &south, -90.0, 90.0))
        return kUsage;
    if (west > east)
        return in.usageError(QStringLiteral("WEST (%1) lies east of EAST (%2)").arg(west).arg(east));
    if (south > north)
        return in.usageError(QStringLiteral("SOUTH (%1) lies north of NORTH (%2)").arg(south).arg(north));
    const QString name = QFileInfo(in.positional(4)).absoluteFilePath();
    if (!QFileInfo(QFileInfo(name).absolutePath()).isDir())
        return in.error(QStringLiteral("%1: the folder does not exist").arg(QDir::toNativeSeparators(QFileInfo(name).absolutePath())));

    CElevationData dem;
    if (dem.TileCount() == 0)
        return in.error(QStringLiteral("no elevation tiles: %1 is missing or lists none")
                            .arg(QDir::toNativeSeparators(CElevationData::BoundaryFilePath())));
    if (!dem.ExtractArea(west, north, east, south, name)) {
        const double cell = CElevationData::CellSizeFor(south, east);
        const double margin = 2 * (CElevationData::kMarginCells + 1) * cell;
        if (north - south + margin > CElevationData::kMaxExtentDegrees || east - west + margin > CElevationData::kMaxExtentDegrees)
            return in.error(QStringLiteral("the box with its margin is larger than %1 degrees").arg(CElevationData::kMaxExtentDegrees));
        if (!dem.LastError().isEmpty())
            return in.error(dem.LastError() + QStringLiteral("; nothing written"));
        return in.error(QStringLiteral("%1: the elevation raster could not be built or written").arg(QDir::toNativeSeparators(name)));
    }
    if (dem.TilesRead() == 0)
        return in.error(QStringLiteral("no elevation tile covers the box; nothing written"));
    const CBil &out = dem.Output();
    in.out() << QDir::toNativeSeparators(CBil::BaseName(name)) << ": " << out.GetNCols() << " x " << out.GetNRows()
             << " cells from " << dem.TilesRead() << " tile(s)\n";
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("extract-dem"), QStringLiteral("Cut the elevation raster of a box out of the DEM tiles"),
     QStringLiteral("WEST NORTH EAST SOUTH NAME"),
     QStringLiteral("Degrees, east and north positive. Reads Cindrel_ElevationTileBoundaries.dat in the current\n"
                    "directory and the tiles C:\\demdata\\cdNN\\demimage (the drive folder is CINDREL_C_DRIVE), and\n"
                    "writes NAME.hdr, NAME.blw and NAME.bil with a margin of 75 cells around the box."),
     {}, 5, 5, run});
} // namespace
