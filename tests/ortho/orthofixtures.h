#pragma once
// Simulated runs for the rectifier's checks: a scene with its DEM tiles in
// the test's working folder, a flight log of one pass whose fire pixels
// mark the samples that truly look at a fire, and the run's elevation
// raster extracted as the orthorectify worker would.
#include "datasource/scanline.h"
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace orthotest {

struct SimRun {
    QString log;                    // the flight log
    QString folder;                 // its folder (the products go there)
    QString base;                   // log base name
    std::vector<sim::Fire> fires;   // fires seen by the pass (truth)
    int firePixels = 0;             // fire samples written
};

struct RunRecipe {
    QString name;                   // folder under the working directory
    sim::SceneParams scene;
    sim::PassParams pass;
    // Fires by (along-track metres from the start, cross-track metres,
    // positive right of the track).
    std::vector<std::pair<double, double>> fireOffsets;
    double markRadiusM = 4.0;       // samples this close to a fire centre are fire pixels
    bool extractElevation = true;
    // Called for every record before it is written (after fire marking).
    std::function<void(int line, ScanLineRec &)> edit;
};

// The short eastbound pass over the shared test scene (seed 7, 700 m of
// relief, no smoke) with one fire 150 m along and 500 m right of the track.
RunRecipe eastboundRun(const QString &name, int lines);

// Builds the scene's tiles (once per scene seed), the log and the elevation
// raster. False with a message on failure.
bool makeRun(const RunRecipe &recipe, SimRun *run, QString *error);

// Position at (along, across) metres from a start point on a track.
void offsetPosition(double lat, double lon, double trackDeg, double along, double across, double *outLat,
                    double *outLon);

// A plain log of n identical level lines at a point (no sim scene needed).
bool writePlainLog(const QString &path, int lines, const std::function<void(int, ScanLineRec &)> &edit = {});

} // namespace orthotest
