// cindrel simulate: writes a demo working directory with a synthetic scene,
// its elevation tiles, map data, bitmaps, recorded flight logs and the truth.
#include "datasource/cdspdatabuffer.h"
#include "datasource/coldcurve.h"
#include "dsp/simbootfiles.h"
#include "platform/paths.h"
#include "sim/demodata.h"
#include "sim/scene.h"
#include "tools/command.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <memory>

namespace {
using namespace cindrel::tool;

// "kind[:line],..." with kinds shift-left, shift-right, insane, gap, partial.
bool parseFaults(const Invocation &in, const QString &text, int lines, sim::PassFaults *faults)
{
    const QStringList items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    int defaultSlot = 1;
    for (const QString &raw : items) {
        const QString item = raw.trimmed();
        const QString kind = item.section(QLatin1Char(':'), 0, 0);
        const QString where = item.section(QLatin1Char(':'), 1);
        int line = lines * defaultSlot / 6;
        ++defaultSlot;
        if (!where.isEmpty()) {
            long long v = 0;
            if (!in.toInt(where, QStringLiteral("--faults %1").arg(kind), &v, 0, std::max(lines - 1, 0)))
                return false;
            line = int(v);
        }
        if (kind == QLatin1String("shift-left"))
            faults->shiftLeft.push_back(line);
        else if (kind == QLatin1String("shift-right"))
            faults->shiftRight.push_back(line);
        else if (kind == QLatin1String("insane"))
            faults->insane.push_back(line);
        else if (kind == QLatin1String("gap"))
            faults->gaps.push_back(line);
        else if (kind == QLatin1String("partial") && where.isEmpty())
            faults->trailingPartial = true;
        else {
            in.usageError(QStringLiteral("--faults: unknown fault \"%1\" (shift-left, shift-right, insane, gap, "
                                         "partial)").arg(item));
            return false;
        }
    }
    return true;
}

int run(const Invocation &in)
{
    if (!in.has(QStringLiteral("out")) || in.value(QStringLiteral("out")).isEmpty())
        return in.usageError(QStringLiteral("--out DIR is required"));
    sim::SceneParams scene;
    sim::FlightPlan plan;
    long long seed, passes, lines, fires, smoke;
    double heading, agl, speed, rate, noise, region, relief;
    if (!in.optInt(QStringLiteral("seed"), 1, &seed, 0, std::numeric_limits<long long>::max())
        || !in.optInt(QStringLiteral("passes"), 3, &passes, 1, 50)
        || !in.optInt(QStringLiteral("lines"), 3500, &lines, 1, 1000000)
        || !in.optInt(QStringLiteral("fires"), 12, &fires, 0, 10000)
        || !in.optInt(QStringLiteral("smoke"), 4, &smoke, 0, 1000)
        || !in.optDouble(QStringLiteral("heading"), 0.0, &heading, -360.0, 360.0)
        || !in.optDouble(QStringLiteral("agl"), 1500.0, &agl, 50.0, 12000.0)
        || !in.optDouble(QStringLiteral("speed"), 75.0, &speed, 10.0, 300.0)
        || !in.optDouble(QStringLiteral("line-rate"), 0.0, &rate, 0.0, 2000.0)
        || !in.optDouble(QStringLiteral("attitude-noise"), 0.03, &noise, 0.0, 5.0)
        || !in.optDouble(QStringLiteral("region"), 1.0, &region, 0.02, 4.0)
        || !in.optDouble(QStringLiteral("relief"), 700.0, &relief, 0.0, 4000.0))
        return kUsage;
    if (in.has(QStringLiteral("center"))) {
        const QStringList parts = in.value(QStringLiteral("center")).split(QLatin1Char(','));
        if (parts.size() != 2)
            return in.usageError(QStringLiteral("--center: expected LAT,LON"));
        if (!in.toDouble(parts[0], QStringLiteral("--center latitude"), &scene.centerLat, -80.0, 80.0)
            || !in.toDouble(parts[1], QStringLiteral("--center longitude"), &scene.centerLon, -179.0, 179.0))
            return kUsage;
    }
    scene.seed = std::uint64_t(seed);
    scene.regionDeg = region;
    scene.relief = relief;
    scene.fireCount = int(fires);
    scene.smokeCount = int(smoke);
    plan.passes = int(passes);
    plan.lines = int(lines);
    plan.headingDeg = heading;
    plan.agl = agl;
    plan.speed = speed;
    plan.lineRateHz = rate;
    plan.attitudeNoiseDeg = noise;
    if (in.has(QStringLiteral("faults")) && !parseFaults(in, in.value(QStringLiteral("faults")), plan.lines, &plan.faults))
        return kUsage;
    plan.mission = in.value(QStringLiteral("mission"), QStringLiteral("Demo"));
    const QString start = in.value(QStringLiteral("start"), QStringLiteral("2024-07-15T14:32"));
    plan.start = QDateTime::fromString(start, QStringLiteral("yyyy-MM-ddTHH:mm"));
    if (!plan.start.isValid())
        return in.usageError(QStringLiteral("--start: \"%1\" is not yyyy-MM-ddTHH:mm").arg(start));

    const QString outDir = QDir(in.value(QStringLiteral("out"))).absolutePath();
    if (!QDir().mkpath(outDir))
        return in.error(QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(outDir)));
    // The drive folder of the demo: every fixed "C:\" path lands inside it.
    const QString cDrive = outDir + QStringLiteral("/c-drive");
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(cDrive));

    QElapsedTimer clock;
    clock.start();
    auto say = [&](const QString &text) {
        in.err() << "cindrel simulate: " << text << "\n";
        in.err().flush();
    };
    QString error;
    say(QStringLiteral("building the scene"));
    const sim::Scene world(scene);
    say(QStringLiteral("writing %1 elevation tile(s)").arg(world.tiles().size()));
    if (!sim::writeDemTiles(world, outDir + QStringLiteral("/Cindrel_ElevationTileBoundaries.dat"), sim::driveTilePath, &error)
        || !sim::writeShiftGrids(outDir, &error) || !sim::writeGeoData(world, outDir, &error)
        || !sim::writeButtons(outDir, &error) || !sim::writeLogos(outDir, &error))
        return in.error(error);
    // The simulated board's FPGA image and DSP programs.
    if (!writeSimulatedBootFiles(outDir))
        return in.error(QStringLiteral("cannot write the DSP boot files in %1").arg(QDir::toNativeSeparators(outDir)));

    ColdCurve curve;
    curve.resetStartValues();
    auto ring = std::make_unique<CDspDataBuffer>(&curve);
    ring->SetFireDetectParams(true, plan.fireLimit, plan.coldLimit, 0.0, 0.0, 0.0);
    const QString logDir = cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"));
    std::vector<sim::PassRecord> records;
    const std::vector<sim::PassParams> passList = sim::planPasses(world, plan);
    QElapsedTimer lastReport;
    lastReport.start();
    long long total = 0;
    for (const sim::PassParams &p : passList) {
        const QString path = logDir + QLatin1Char('/') + sim::logFileName(plan.start, plan.mission, p.passNumber);
        sim::PassRecord rec;
        const auto progress = [&](int done) {
            if (lastReport.elapsed() >= 1000) {
                lastReport.restart();
                say(QStringLiteral("pass %1 of %2: %3 of %4 lines").arg(p.passNumber).arg(passList.size()).arg(done).arg(p.lineCount));
            }
        };
        if (!sim::recordPass(world, p, path, *ring, &rec, &error, progress))
            return in.error(error);
        total += rec.lines;
        records.push_back(rec);
        in.out() << QDir::toNativeSeparators(path) << ": " << rec.lines << " lines, " << rec.firePixels
                 << " fire pixels\n";
    }
    if (!sim::writeTruth(world, records, outDir, &error))
        return in.error(error);
    const double secs = std::max(clock.elapsed(), qint64(1)) / 1000.0;
    say(QStringLiteral("done: %1 lines in %2 s").arg(total).arg(secs, 0, 'f', 1));
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("simulate"), QStringLiteral("Write a demo working directory with simulated flights"),
     QStringLiteral("--out DIR [--seed N] [--center LAT,LON] [--passes N] [--lines N] [--heading DEG] [--agl M] "
                    "[--speed MPS] [--line-rate HZ] [--fires N] [--smoke N] [--attitude-noise DEG] [--faults LIST] "
                    "[--mission NAME] [--start yyyy-MM-ddTHH:mm] [--region DEG] [--relief M]"),
     QStringLiteral(
         "Writes into DIR: the elevation tile boundary file, the Alaska shift grids, the GeoData shapefiles,\n"
         "the tool bar and logo bitmaps, the simulated board's boot files (a.rbf, c0.out, c1.out, c2.out),\n"
         "and the drive folder DIR/c-drive with the DEM tiles (demdata) and\n"
         "the recorded flight logs of the passes (CindrelData). The truth goes to DIR/truth/fires.csv,\n"
         "DIR/truth/passes.csv and DIR/truth/sightings.csv (which pass saw which fire in how many samples).\n"
         "Run the program in DIR with CINDREL_C_DRIVE=DIR/c-drive.\n"
         "Faults (--faults) are a comma-separated list of shift-left[:LINE], shift-right[:LINE],\n"
         "insane[:LINE], gap[:LINE] and partial, applied to every pass."),
     {{QStringLiteral("out"), QStringLiteral("DIR"), QStringLiteral("the working directory to write (required)")},
      {QStringLiteral("seed"), QStringLiteral("N"), QStringLiteral("scene and flight seed (default 1)")},
      {QStringLiteral("center"), QStringLiteral("LAT,LON"), QStringLiteral("scene centre in degrees (default 44.5,-121.5)")},
      {QStringLiteral("passes"), QStringLiteral("N"), QStringLiteral("number of passes (default 3)")},
      {QStringLiteral("lines"), QStringLiteral("N"), QStringLiteral("lines per pass (default 3500)")},
      {QStringLiteral("heading"), QStringLiteral("DEG"), QStringLiteral("heading of the first pass (default 0)")},
      {QStringLiteral("agl"), QStringLiteral("M"), QStringLiteral("height above the terrain in metres (default 1500)")},
      {QStringLiteral("speed"), QStringLiteral("MPS"), QStringLiteral("ground speed in m/s (default 75)")},
      {QStringLiteral("line-rate"), QStringLiteral("HZ"), QStringLiteral("lines per second (default: lines abut at nadir)")},
      {QStringLiteral("fires"), QStringLiteral("N"), QStringLiteral("number of fires (default 12)")},
      {QStringLiteral("smoke"), QStringLiteral("N"), QStringLiteral("smoke and hot-ground patches (default 4)")},
      {QStringLiteral("attitude-noise"), QStringLiteral("DEG"), QStringLiteral("attitude noise, 1 sigma (default 0.03)")},
      {QStringLiteral("faults"), QStringLiteral("LIST"), QStringLiteral("record faults to inject (see above)")},
      {QStringLiteral("mission"), QStringLiteral("NAME"), QStringLiteral("mission name in the log names (default Demo)")},
      {QStringLiteral("start"), QStringLiteral("TIME"), QStringLiteral("start of the first pass (default 2024-07-15T14:32)")},
      {QStringLiteral("region"), QStringLiteral("DEG"), QStringLiteral("side of the scene region in degrees (default 1)")},
      {QStringLiteral("relief"), QStringLiteral("M"), QStringLiteral("terrain relief in metres, 0 = flat (default 700)")}},
     0, 0, run});
} // namespace
