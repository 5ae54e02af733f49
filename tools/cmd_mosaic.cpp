// cindrel mosaic: the mission mosaic picture and heat point shapefile of a
// log folder, as the orthorectify worker rebuilds them after each run.
#include "geodata/cmosaic.h"
#include "tools/command.h"

#include <QDir>
#include <QFileInfo>

namespace {
using namespace cindrel::tool;

int run(const Invocation &in)
{
    const QString path = in.positional(0);
    const QFileInfo info(path);
    if (!info.absoluteDir().exists())
        return in.error(QStringLiteral("%1: the folder does not exist")
                            .arg(QDir::toNativeSeparators(info.absolutePath())));
    long long threads = 1;
    if (!in.optInt(QStringLiteral("threads"), 1, &threads, 1, 16))
        return kUsage;
    const QString base = CMosaic::MissionBaseName(path);
    CMosaic mosaic(info.absoluteFilePath(), in.has(QStringLiteral("clusters")), int(threads));
    QTextStream &o = in.out();
    for (const QString &input : mosaic.Inputs())
        o << "input: " << QDir::toNativeSeparators(input) << "\n";
    o << "heat points: " << mosaic.HeatPointCount() << " in "
      << QDir::toNativeSeparators(info.absoluteDir().filePath(base + QStringLiteral("_RawHeatData.shp")))
      << (mosaic.HeatFilesOpen() ? "" : " (not written)") << "\n";
    if (mosaic.FirePointsBase().isEmpty())
        in.err() << "cindrel mosaic: fire points not written: " << mosaic.FirePointsError() << "\n";
    else
        o << "fire points: " << mosaic.FirePointCount() << " in "
          << QDir::toNativeSeparators(mosaic.FirePointsBase()) << ".geojson, .kml, .csv\n";
    if (!mosaic.ClustersBase().isEmpty())
        o << "fire clusters: " << mosaic.ClusterCount() << " in "
          << QDir::toNativeSeparators(mosaic.ClustersBase()) << ".geojson, .kml, .csv\n";
    if (!mosaic.Saved())
        return in.error(mosaic.Error());
    o << "mosaic: " << mosaic.OutputPath() << "\n";
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("mosaic"), QStringLiteral("Build the mission mosaic and heat points of a log folder"),
     QStringLiteral("LOG [--clusters] [--threads N]"),
     QStringLiteral("Combines every MISSION_*_ortho.tif beside LOG (MISSION: LOG's name cut before its last\n"
                    "\"_\") into MISSION_mosaic.jpg with the vertices of GeoData/highways, interst and hydrolin\n"
                    "(under the current folder) drawn over it, and writes one point per fire pixel to\n"
                    "MISSION_RawHeatData.shp. The grey gamma is LastUsed/MosaicGamma (default 1.5).\n"
                    "The same points, with their scan time, line, sample, channel values, cell size,\n"
                    "platform and product version, go to MISSION_FirePoints.geojson, .kml and .csv\n"
                    "(WGS 84 longitude/latitude)."),
     {{QStringLiteral("clusters"), QString(),
       QStringLiteral("also one point per connected fire cluster in MISSION_FireClusters.geojson, .kml, .csv")},
      {QStringLiteral("threads"), QStringLiteral("N"),
       QStringLiteral("threads to build with (default 1); the files are the same whatever N")}},
     1, 1, run});
} // namespace
