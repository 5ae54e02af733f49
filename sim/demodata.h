#pragma once
// Writers of the demo data set: elevation tiles with their boundary file,
// Alaska shift grids, map line shapefiles, tool bar and logo bitmaps,
// recorded flight logs of simulated passes, and the truth tables.
//
// Folder layout of a demo working directory DIR (the program runs there):
//   DIR/Cindrel_ElevationTileBoundaries.dat     tile boxes
//   DIR/AlaskaLatShift.*, DIR/AlaskaLonShift.*  shift grids (Float32 BIL, arc-seconds)
//   DIR/GeoData/{highways,interst,hydrolin}.*   line shapefiles, decimal degrees, with .prj
//   DIR/buttons/{Play,Stop,RunP,StopP,Ftp}.bmp  64 x 64 tool bar bitmaps
//   DIR/NewOrvekLogoJetGray.bmp, DIR/CindrelTransparentLogoGrayDark.bmp
//   DIR/a.rbf, DIR/c0.out, c1.out, c2.out        boot files of the simulated board (written by the tool)
//   DIR/c-drive/demdata/cdNN/demimage.*          DEM tiles ("C:\demdata\cdNN\demimage")
//   DIR/c-drive/CindrelData/*.plf                flight logs ("C:\CindrelData")
//   DIR/truth/fires.csv, passes.csv, sightings.csv
#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <vector>

class CDspDataBuffer;

namespace sim {

// A BIL raster as this data set writes it: little-endian samples, the
// header with geometry and PIXELTYPE (for other readers), and the world file.
struct BilLayout {
    int ncols = 0, nrows = 0;
    int nbits = 16;
    bool floatSamples = false;     // Float32 when nbits is 32
    double xdim = 1.0, ydim = 1.0; // cell size (positive)
    double ulxmap = 0.0, ulymap = 0.0;   // centre of the upper-left cell
};
bool writeBil(const QString &baseName, const BilLayout &recipe, const void *data, QString *error);

// Where the elevation reader looks for tile `index` on the drive:
// "C:\demdata\cdNN\demimage" (NN two digits).
QString driveTilePath(int index);

// Elevation tiles of the scene and their boundary file. tilePath(index)
// gives the tile's base name (without extension); folders are created.
bool writeDemTiles(const Scene &scene, const QString &boundaryFile,
                   const std::function<QString(int)> &tilePath, QString *error);

// The two Alaska shift grids in the folder (smooth shifts, arc-seconds).
bool writeShiftGrids(const QString &folder, QString *error);
// Shift values of the grids at a node (latitude north, longitude west positive).
void alaskaShiftAt(double lat, double lon, double &latShiftSec, double &lonShiftSec);

// Road and river lines over the scene in folder/GeoData.
bool writeGeoData(const Scene &scene, const QString &folder, QString *error);

// Tool bar bitmaps in folder/buttons and the two logos in the folder.
bool writeButtons(const QString &folder, QString *error);
bool writeLogos(const QString &folder, QString *error);

// Everything a simulated flight needs besides the scene.
struct FlightPlan {
    int passes = 3;
    int lines = 3500;
    double headingDeg = 0.0;
    double agl = 1500.0;
    double speed = 75.0;
    double lineRateHz = 0.0;
    double attitudeNoiseDeg = 0.03;
    PassFaults faults;
    QString mission = QStringLiteral("Demo");
    QDateTime start;                 // local time of the first pass
    std::int32_t fireLimit = 30000;  // channel B fire limit of the host fire test
    std::int32_t coldLimit = 1000;
};

// The passes of a plan: parallel lines over the scene centre, alternating
// in direction, 3/4 of a swath apart.
std::vector<PassParams> planPasses(const Scene &scene, const FlightPlan &plan);

// Log file name of a pass: "yyyyMMdd_HHmm_" + mission (spaces removed) + "_N.plf".
QString logFileName(const QDateTime &missionStart, const QString &mission, int pass);

// What one pass saw of one fire.
struct FireSighting {
    int fireId = 0;
    int samples = 0;                 // samples whose ground point lies within the fire
    int markedPixels = 0;            // of those, marked as fire pixels in the written log
    std::uint32_t firstLineIndex = 0, lastLineIndex = 0;
    int firstSample = 0, lastSample = 0;   // sample range (sample order) of those samples
};

struct PassRecord {
    int pass = 0;
    QString logFile;
    double startLat = 0, startLon = 0, endLat = 0, endLon = 0, headingDeg = 0;
    int lines = 0;
    int firePixels = 0;
    std::vector<FireSighting> sightings;   // by fire id, fires seen only
};

// Records one pass as the recorder would: each line through the host fire
// test of a scan line buffer (shared across passes), then the requested
// record faults, then written as a version 1 record. progress(lines done).
bool recordPass(const Scene &scene, const PassParams &pass, const QString &path, CDspDataBuffer &ring,
                PassRecord *record, QString *error, const std::function<void(int)> &progress = {});

// truth/fires.csv (the fires), truth/passes.csv (the passes) and
// truth/sightings.csv (which pass saw which fire, in how many samples, over
// which lines and samples).
bool writeTruth(const Scene &scene, const std::vector<PassRecord> &passes, const QString &folder, QString *error);

} // namespace sim
