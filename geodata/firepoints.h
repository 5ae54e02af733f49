#pragma once
// Fire points for incident teams and GIS tools.
//
// The rectifier keeps, for each run, one record of every fire pixel it
// placed on the ground ("<run>_firepixels.txt" beside the ortho products):
// where it lies (the centre of the ortho cell it was drawn in, on the run's
// datum and on WGS 84), when it was scanned, its line index, scan sample
// and channel values, with the run's own figures (lines, track, cell size,
// platform, product version). The mission mosaic gathers the records of
// every run of a folder into the mission's fire point files:
//   "<mission>_FirePoints.geojson"  RFC 7946 (WGS 84 longitude, latitude)
//   "<mission>_FirePoints.kml"      KML 2.2 (WGS 84)
//   "<mission>_FirePoints.csv"      one row per point, with a ".prj" (WGS 84)
// and, when asked, one point per connected fire cluster in
// "<mission>_FireClusters.geojson/.kml/.csv".
//
// WGS 84: positions on NAD83 are taken as WGS 84 (they differ by about a
// metre, well inside a cell); NAD27 positions (Alaska) are shifted back to
// the navigation datum through the NADCON grids.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace firepoints {

// One fire pixel as the rectifier placed it.
struct FirePixel {
    double lat = 0, lon = 0;         // cell centre on the run's datum
    double wgsLat = 0, wgsLon = 0;   // the same on WGS 84
    qint64 timeMs = 0;               // scan time, ms since 1970 UTC (0: unknown)
    std::int64_t line = -1;          // line index (-1: unknown)
    int sample = -1;                 // scan sample 0..1679 from the left end (-1: unknown)
    int a = 0, b = 0;                // channel A and B values
};

// One run and its fire pixels.
struct RunRecord {
    QString log;              // the log's file name
    QString pass;             // pass name (the log's name after its last "_")
    QDateTime start, end;     // UTC times of the first and last line
    int lines = 0;
    int track = 0;            // mean track, whole degrees
    double cellM = 0;         // ground cell size in metres
    int datum = 3;            // converter datum code (1 NAD27, 3 NAD83)
    int meridian = 0;
    QString platform, version;
    bool fieldsKnown = true;  // false: points recovered from an ortho image only
    std::vector<FirePixel> pixels;
};

// "<run base>_firepixels.txt" of a log or of one of its products' base names.
QString RunFileName(const QString &runBasePath);
bool WriteRun(const QString &path, const RunRecord &run, QString *error = nullptr);
bool ReadRun(const QString &path, RunRecord *run, QString *error = nullptr);

// A connected group of fire points: points closer than 1.5 cells (of the
// coarser of the two) belong together, across runs.
struct Cluster {
    double wgsLat = 0, wgsLon = 0;   // centroid on WGS 84
    double lat = 0, lon = 0;         // centroid on the first run's datum
    int pixels = 0;
    double areaM2 = 0;               // ground covered by the cluster's cells
    qint64 firstSeenMs = 0;          // 0: unknown
    QString firstPass;
    int passes = 0;                  // runs that saw it
};
std::vector<Cluster> FindClusters(const std::vector<RunRecord> &runs);

// The mission files above ("<folder>/<mission>_FirePoints.*" and a ".prj").
QString PointsBase(const QString &folder, const QString &mission);
QString ClustersBase(const QString &folder, const QString &mission);
// Writes the three point files; false (and why) when one cannot be written.
bool WritePointFiles(const QString &base, const std::vector<RunRecord> &runs, QString *error = nullptr);
bool WriteClusterFiles(const QString &base, const std::vector<Cluster> &clusters, QString *error = nullptr);
// Removes the point or cluster files of a base (a folder without fires).
void RemoveFiles(const QString &base);

// "yyyy-MM-dd" and "HH:mm:ss" (UTC) of a scan time; empty when unknown.
// The points of a line share their time: the texts last made are kept.
class AcquisitionText {
public:
    void Set(qint64 timeMs);
    const char *Date() const { return date_; }
    const char *Time() const { return time_; }

private:
    qint64 timeMs_ = 0;
    char date_[40] = {};
    char time_[40] = {};
};

} // namespace firepoints
