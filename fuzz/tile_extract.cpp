// Tile boundary file with extraction: a boundary file of any content over
// the simulator's elevation tiles, and the extraction of a small box.
// Input: three bytes placing and sizing the box, then the file's bytes.
#include "fuzz/fuzzsupport.h"
#include "geodata/celevationdata.h"
#include "sim/demodata.h"
#include "sim/scene.h"

#include <cstdlib>

namespace {
// The scene whose tiles lie under the boxes (one tile: 44..45 N, 122..121 W).
sim::SceneParams sceneParams()
{
    sim::SceneParams p;
    p.centerLat = 44.5;
    p.centerLon = -121.5;
    p.regionDeg = 0.9;
    return p;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::init();
    const sim::Scene scene(sceneParams());
    QString error;
    if (!sim::writeDemTiles(scene, fuzzsupport::workDir() + QStringLiteral("/tiles-as-written.dat"),
                            [](int i) { return CElevationData::TileName(i); }, &error))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    if (!fuzzsupport::writeFile(CElevationData::BoundaryFilePath(), data + 3, size - 3))
        return 0;
    const double west = -121.95 + data[0] / 255.0 * 0.9;
    const double north = 44.95 - data[1] / 255.0 * 0.9;
    const double side = 0.002 + data[2] / 255.0 * 0.03;
    CElevationData dem;
    dem.ExtractArea(west, north, west + side, north - side, fuzzsupport::workDir() + QStringLiteral("/box"));
    return 0;
}
