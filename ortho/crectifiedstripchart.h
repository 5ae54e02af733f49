#pragma once
// CRectifiedStripChart: orthorectifies one recorded run. Every sample of
// every scan line is projected through the scanner geometry and the
// aircraft attitude onto the terrain of the run's elevation raster and
// splatted into an accumulation grid of 1600 x 1600 cells whose rows run
// along the run's mean track. Rows no later line can reach are converted
// into image rows at once and streamed into the "_ortho" (palette) and
// "_color" (RGB) products; at the end both are finished and the "_fire"
// image is derived from the ortho image. Each has a JPEG copy in "jpeg".
//
// Frame: a transverse Mercator grid (CUtmConverter) with its central
// meridian fixed to the run's mean longitude, on GRS 80 (NAD83), or on
// Clarke 1866 (NAD27) with the positions shifted by NADCON for runs in
// Alaska. The working grid is a CBil georeference rotated by the mean
// track; accumulation cell (c, r) is centred at grid position (c, r), so a
// ground point at grid position (x, y) lies in the cells round (x, y).
//
// Use: construct with an opened flight log, SetOutputDirectory, the three
// texts, then Process(). One object processes one run.
#include "datasource/cutmconverter.h"
#include "geodata/cbil.h"
#include "geodata/firepoints.h"
#include "ortho/orthoproducts.h"
#include "stripchart/ctifffile.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class CDataSource;
class CNadcon;

class CRectifiedStripChart {
public:
    static constexpr int kSamples = SAMPLES_PER_LINE;
    static constexpr int kBadScanPeriod = 4750;
    static constexpr int kMaxIterations = 8;

    // Where the work stopped (Outcome()).
    enum Outcome {
        NotRun,
        Produced,            // the products were written
        NoElevation,         // the elevation raster could not be opened
        NoTemporaryFiles,    // the temporary product files could not be created
        NoLines,             // the log delivered no line
        NoHeight,            // the aircraft was not above the terrain
        NoRows,              // no sample reached the grid: nothing to write
        Cancelled,
        WriteFailed,         // a product file could not be finished
    };

    explicit CRectifiedStripChart(CDataSource *source);
    virtual ~CRectifiedStripChart();
    CRectifiedStripChart(const CRectifiedStripChart &) = delete;
    CRectifiedStripChart &operator=(const CRectifiedStripChart &) = delete;

    void SetOutputDirectory(const QString &path);
    QString OutputDirectory() const { return outputDir_; }
    // Kept with the run; not written into the products.
    void SetProductVersion(const QString &text) { productVersion_ = text; }
    void SetTailNumber(const QString &text) { tailNumber_ = text; }
    void SetTechName(const QString &text) { techName_ = text; }
    QString ProductVersion() const { return productVersion_; }
    QString TailNumber() const { return tailNumber_; }
    QString TechName() const { return techName_; }

    // The whole pipeline; an empty path means the data source's own file.
    void Process(const QString &sourcePath = QString());

    // Set by the owner (any thread): every pass stops at the next line.
    void Cancel() { cancel_.store(true); }
    bool IsCancelled() const { return cancel_.load(); }

    // Progress of Process: stage 0 survey, 1-2 extent passes, 3 main pass;
    // lines done in the stage and the run's line count (0 while surveying).
    using ProgressFn = std::function<void(int stage, int done, int total)>;
    void SetProgress(ProgressFn fn) { progress_ = std::move(fn); }

    // ---- results ----
    Outcome GetOutcome() const { return outcome_; }
    static QString OutcomeText(Outcome outcome);
    // Final files written (TIFFs and JPEG copies).
    QStringList Products() const { return products_; }
    QString BaseName() const { return baseName_; }
    // Every fire pixel placed on the ground, in line and sample order, at
    // the centre of the cell it was drawn in; written with the products as
    // "<base>_firepixels.txt" (FirePixelsPath()).
    const firepoints::RunRecord &FirePixels() const { return fires_; }
    QString FirePixelsPath() const { return firePixelsPath_; }

    // ---- run quantities (valid after the stage that sets them) ----
    int LineCount() const { return lineCount_; }
    int LinesProcessed() const { return linesProcessed_; }
    int MeanTrack() const { return meanTrack_; }
    double MeanAltitude() const { return meanAltitude_; }
    double MeanElevation() const { return z0_; }
    double LowestTerrain() const { return lowestTerrain_; }
    double CellSize() const { return cellSize_; }
    int CentralMeridian() const { return utm_.GetCentralMeridian(); }
    bool IsAlaska() const { return alaska_; }
    int Datum() const { return datum_; }
    int RowsEmitted() const { return rowsEmitted_; }
    int LastConvertedRow() const { return lastConvertedRow_; }
    int Scrolls() const { return scrolls_; }
    void GetBoundingBox(double *west, double *north, double *east, double *south) const;
    const CBil &Grid() const { return grid_; }
    const ortho::COrthoChannelStats &Stats() const { return stats_; }
    const ortho::COrthoTables &Tables() const { return tables_; }

    // ---- geometry, usable on its own for checks ----
    // Settings as read at construction.
    double LeftAngle() const { return left_; }
    double RightAngle() const { return right_; }
    // Scan angle (degrees, positive left of the heading) of pix element i.
    static double ScanAngle(int i, double leftAngle, double rightAngle);
    // Whole-degree mean of tracks gathered near a reference (0..360).
    static int MeanTrackOf(double sumOfTracks, int count);
    // The Alaska test of a run's first line.
    static bool InAlaska(double lat, double lon);

    // Sets the attitude and projected position of a line (no grid needed).
    void SetLineAttitude(const ScanLineRec &rec);
    struct GroundPoint {
        bool valid = false;   // false when the ray never meets the ground
        double column = 0.0, row = 0.0;   // working grid position
        double z = 0.0, lat = 0.0, lon = 0.0;
        double e = 0.0, n = 0.0;          // projected position (easting, northing)
        int iterations = 0;
    };
    // Projects pix element i of the line set last onto the terrain.
    GroundPoint ProjectSample(int i);

    // Threads of the main pass (1 or 2; by default 2 on a machine with more
    // than one core): with two, lines are traced ahead of the one placed in
    // the grid. The products are the same whatever the count.
    void SetThreads(int count) { threads_ = count > 1 ? 2 : 1; }
    int Threads() const { return threads_; }
    // Lines of the last main pass whose samples were traced ahead of it
    // (with two threads), for checks.
    int LinesTracedAhead() const { return linesTracedAhead_; }
    // With two threads, asked before every 256 lines of the main pass
    // whether the second may trace lines ahead (want: a core is free for
    // it), and once more after the last line (!want: it is done). Unset: it
    // always may.
    using SecondThreadGate = std::function<bool(bool want)>;
    void SetSecondThreadGate(SecondThreadGate gate) { gate_ = std::move(gate); }

    // Sets up the frame (elevation raster, converter, initial grid) without
    // writing anything: for checks of the geometry. False when the
    // elevation raster is missing or the log has no line.
    bool PrepareGeometry(const QString &sourcePath = QString());

    // Splats one sample into the accumulation grid (pix element i at grid
    // position x, y). Public for checks.
    // True when any cell took the sample.
    bool Splat(double x, double y, int i, int a, int b, bool fire);
    const ortho::OrthoCell &Cell(int column, int row) const { return cells_[std::size_t(row) * ortho::kGridColumns + column]; }
    bool AllocateGrid();

private:
    bool ForEachLine(bool rewind, const std::function<bool(const ScanLineRec &)> &fn);
    // The lines of the survey again from headers_, without reading the log:
    // only the part of each record before its samples (time, position,
    // attitude) is the line's.
    bool ForEachSurveyedLine(const std::function<bool(const ScanLineRec &)> &fn);
    static constexpr std::size_t kHeaderBytes = offsetof(ScanLineRec, chanA);
    std::vector<unsigned char> headers_;
    bool OpenElevation(const QString &sourcePath);
    bool OpenProducts();
    bool Survey();
    bool InitialGrid();
    bool ExtentPasses();
    bool MainPass();
    void ConvertGridRow(int row);
    bool Finish();
    void RecordFire(const GroundPoint &g, int sample, const ScanLineRec &rec, qint64 timeMs);
    void DropTemporaries();
    bool TerrainAt(double lon, double lat, double *z) const;
    // The elevation raster as TerrainAt reads it directly: the usual one
    // (one band of 16-bit samples, not rotated). No data: through CBil.
    struct TerrainView {
        const unsigned char *data = nullptr;
        std::size_t rowBytes = 0;
        int columns = 0, rows = 0;
        double left = 0, top = 0, bottom = 0, xdim = 1, ydim = 1;
        bool rowsRunDown = false, little = true;
        bool At(double lon, double lat, double *z) const;   // TerrainAt when data is set
    };
    TerrainView terrain_;
    void ViewTerrain();   // after the raster is opened anew
    // Latitude/longitude box of the positions traced.
    struct Box {
        double west, east, north, south;
        void Add(double lat, double lon)
        {
            west = std::min(west, lon);
            east = std::max(east, lon);
            south = std::min(south, lat);
            north = std::max(north, lat);
        }
    };
    // A line's attitude and position, as SetLineAttitude sets them.
    struct LineFrame {
        double m[6] = {0, 0, 0, 0, 0, 0};
        double e = 0.0, n = 0.0, alt = 0.0;
        int zone = 0;
        // The line's northing for the converter's inverse near it.
        CUtmConverter::GridReference reference;
    };
    // ProjectSample for samples first..last-1 of a line into out[0..],
    // without side effects: `lowest` stands in for terrain the raster does
    // not cover; the positions traced widen *box. The grid positions are
    // left out without a grid (only the projected positions are set).
    void TraceSamples(const LineFrame &frame, const CUtmConverter &utm, int first, int last, double lowest,
                      Box *box, GroundPoint *out, const CBil *grid) const;
    // Traces the samples of the line set last into ground_, exactly as
    // ProjectSample one after the other would.
    void TraceLine();
    // Lines of the main pass traced ahead, by the second thread and by
    // this one while it would otherwise wait.
    class TraceAhead;
    friend class TraceAhead;
    int linesTracedAhead_ = 0;
    void ProjectPosition(double lat, double lon, double *e, double *n);
    void SetGrid(double originE, double originN, double cell);
    void Scroll();
    std::unique_ptr<ScanLineRec> line_;

    CDataSource *source_;
    QString outputDir_;
    QString productVersion_, tailNumber_, techName_;
    QString sourcePath_, baseName_;
    QString orthoTmp_, colorTmp_;
    ProgressFn progress_;
    std::atomic<bool> cancel_{false};
    Outcome outcome_ = NotRun;
    QStringList products_;

    // settings
    double left_ = 60.0, right_ = 60.0;
    double rollAdjust_ = 0.0, pitchAdjust_ = 0.0, hdgAdjust_ = 0.0;
    double sigmaB_ = 3.0;
    bool skipBadLines_ = false;

    // per-sample constants
    double tanTheta_[kSamples];
    double splatA_[kSamples], splatB_[kSamples];

    // writers, grid, elevation
    std::unique_ptr<CTiffFile> orthoWriter_, colorWriter_;
    CBil grid_;
    CBil elevation_;
    QString elevationName_;
    std::unique_ptr<CNadcon> nadcon_;
    CUtmConverter utm_;
    int datum_ = 3;
    bool alaska_ = false;
    std::vector<ortho::OrthoCell> cells_;
    ortho::COrthoChannelStats stats_;
    ortho::COrthoTables tables_;

    // run quantities
    double refHeading_ = 0.0, refTrack_ = 0.0;
    double firstLat_ = 0.0, firstLon_ = 0.0;
    int lineCount_ = 0, linesProcessed_ = 0;
    int meanTrack_ = 0;
    double meanAltitude_ = 0.0;
    double z0_ = 0.0, lowestTerrain_ = 0.0;
    double cellSize_ = 0.0;
    double west_ = 999, east_ = -999, north_ = -999, south_ = 999;
    int emitRow_ = 0, rowsEmitted_ = 0, lastConvertedRow_ = -1;
    int scrolls_ = 0;

    // attitude of the current line
    LineFrame frame_;
    double lineConvergence_ = 0.0;
public:
    // Turns the heading into the grid's frame (on by default).
    void SetConvergenceCorrection(bool on) { convergenceCorrection_ = on; }
    double LineConvergence() const { return lineConvergence_; }
private:
    bool convergenceCorrection_ = true;

    std::vector<std::uint8_t> paletteRow_, rgbRow_;
    int threads_ = 1;
    SecondThreadGate gate_;
    std::vector<GroundPoint> ground_;

    firepoints::RunRecord fires_;
    QString firePixelsPath_;
};
