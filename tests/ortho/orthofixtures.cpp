#include "orthofixtures.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "geodata/celevationdata.h"
#include "platform/paths.h"
#include "sim/demodata.h"
#include "sim/geodesy.h"
#include "common/testsupport.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace orthotest {

void offsetPosition(double lat, double lon, double trackDeg, double along, double across, double *outLat,
                    double *outLon)
{
    const double t = trackDeg * M_PI / 180.0;
    const double north = along * std::cos(t) - across * std::sin(t);
    const double east = along * std::sin(t) + across * std::cos(t);
    *outLat = lat + north / sim::meridionalRadius(lat) * 180.0 / M_PI;
    *outLon = lon + east / (sim::primeVerticalRadius(lat) * std::cos(lat * M_PI / 180.0)) * 180.0 / M_PI;
}

bool makeRun(const RunRecipe &recipe, SimRun *run, QString *error)
{
    const QString work = testsupport::workDir();
    sim::SceneParams sp = recipe.scene;
    sp.fireCount = 0;
    sim::Scene scene(sp);
    std::vector<sim::Fire> fires;
    const double track = recipe.pass.headingDeg + recipe.pass.crabDeg;
    int id = 1;
    for (const auto &o : recipe.fireOffsets) {
        sim::Fire f;
        f.id = id++;
        offsetPosition(recipe.pass.startLat, recipe.pass.startLon, track, o.first, o.second, &f.lat, &f.lon);
        f.radiusM = 3.0;
        f.intensity = 0.6;
        fires.push_back(f);
    }
    scene.setFires(fires);

    // DEM tiles under the drive folder: one scene per test program (the
    // boundary file lists one set of tiles).
    static QString written;
    const QString key = QStringLiteral("%1/%2/%3/%4/%5")
                            .arg(sp.seed).arg(sp.centerLat).arg(sp.centerLon).arg(sp.relief).arg(sp.regionDeg);
    if (written.isEmpty()) {
        const auto tilePath = [](int index) {
            return cindrel::mapCDrivePath(QStringLiteral("C:\\demdata\\cd%1\\demimage").arg(index, 2, 10, QLatin1Char('0')));
        };
        if (!sim::writeDemTiles(scene, work + QStringLiteral("/Cindrel_ElevationTileBoundaries.dat"), tilePath, error))
            return false;
        written = key;
    } else if (written != key) {
        *error = QStringLiteral("one scene per test program");
        return false;
    }

    run->folder = work + QLatin1Char('/') + recipe.name;
    QDir().mkpath(run->folder);
    run->base = QStringLiteral("20240715_1432_Demo_1");
    run->log = run->folder + QLatin1Char('/') + run->base + QStringLiteral(".plf");
    run->fires = fires;
    run->firePixels = 0;

    sim::LineGenerator gen(scene, recipe.pass);
    ColdCurve curve;
    CCindrelDspLog log(&curve);
    if (!log.OpenForWrite(run->log)) {
        *error = QStringLiteral("cannot write %1").arg(run->log);
        return false;
    }
    auto rec = std::make_unique<ScanLineRec>();
    double minLat = 90, maxLat = -90, minLon = 180, maxLon = -180;
    int line = 0;
    while (gen.next(*rec)) {
        const std::vector<sim::GroundPoint> &ground = gen.groundPoints();
        for (int i = 0; i < SAMPLES_PER_LINE; ++i)
            if (rec->pix[i] == FIRE_PIXEL)
                rec->pix[i] = 254;
        for (int j = 0; j < int(ground.size()) && j < SAMPLES_PER_LINE; ++j) {
            const sim::GroundPoint &g = ground[j];
            for (const sim::Fire &f : fires) {
                if (std::fabs(g.lat - f.lat) > 2e-4 || std::fabs(g.lon - f.lon) > 3e-4)
                    continue;
                if (sim::localDistance(f.lat, f.lon, g.lat, g.lon) <= recipe.markRadiusM) {
                    rec->pix[1679 - j] = FIRE_PIXEL;
                    ++run->firePixels;
                }
            }
        }
        const double lat = milliArcSecToDeg(rec->latitude), lon = milliArcSecToDeg(rec->longitude);
        minLat = std::min(minLat, lat);
        maxLat = std::max(maxLat, lat);
        minLon = std::min(minLon, lon);
        maxLon = std::max(maxLon, lon);
        if (recipe.edit)
            recipe.edit(line, *rec);
        ++line;
        if (!log.WriteRecord(*rec)) {
            *error = QStringLiteral("cannot write a record");
            return false;
        }
    }
    log.Close();

    if (recipe.extractElevation) {
        // The box of the flight path only: the swath reaches beyond it, so
        // the rectifier has to widen the raster itself.
        CElevationData dem;
        const QString name = run->folder + QLatin1Char('/') + QStringLiteral("20240715_1432_Demo");
        if (!dem.ExtractArea(minLon, maxLat, maxLon, minLat, name) || dem.TilesRead() == 0) {
            *error = QStringLiteral("elevation extraction failed");
            return false;
        }
    }
    return true;
}

bool writePlainLog(const QString &path, int lines, const std::function<void(int, ScanLineRec &)> &edit)
{
    ColdCurve curve;
    CCindrelDspLog log(&curve);
    if (!log.OpenForWrite(path))
        return false;
    auto rec = std::make_unique<ScanLineRec>();
    for (int k = 0; k < lines; ++k) {
        rec->clear();
        rec->lineIndex = std::uint32_t(1000 + k);
        rec->latitude = std::int32_t(44.5 * 3600000.0) + k * 60;   // about 1.85 m per line northward
        rec->longitude = std::int32_t(-121.5 * 3600000.0);
        rec->altitude = 260000;   // 2600 m
        rec->heading = 0;
        rec->track = 0;
        rec->speed = 7500;
        rec->chnBGain = 1.0f;
        rec->scanPeriod = 5000;
        for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
            rec->chanA[i] = 2500 + (i % 50);
            rec->chanB[i] = 3500 + (i % 100) - 50;
            rec->pix[i] = 100;
        }
        if (edit)
            edit(k, *rec);
        if (!log.WriteRecord(*rec))
            return false;
    }
    return log.Close();
}

RunRecipe eastboundRun(const QString &name, int lines)
{
    RunRecipe recipe;
    recipe.name = name;
    recipe.scene.seed = 7;
    recipe.scene.regionDeg = 0.25;
    recipe.scene.relief = 700.0;
    recipe.scene.smokeCount = 0;
    recipe.pass.startLat = 44.50;
    recipe.pass.startLon = -121.50;
    recipe.pass.headingDeg = 90.0;
    recipe.pass.lineCount = lines;
    recipe.fireOffsets = {{150, 500}};
    return recipe;
}

} // namespace orthotest
