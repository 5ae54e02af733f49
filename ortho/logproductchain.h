#pragma once
// What becomes of a flight log once its run has ended: the run's elevation
// raster (unless the caller made it), the fire pixels recomputed and
// desmoked with the stored detection parameters, the ortho products beside
// the log, the mission mosaic and heat points of the log's folder, and the
// site's "int" script with the log's base name.
//
// Plain and free of widgets: the orthorectify worker runs it on its own
// thread, the command-line tool and the checks call it directly. Every run
// ends with a LogOutcome that says which products were written, or why
// none were, in words the operator can act on.
//
//   LogJob job;
//   job.logPath = "/data/20240715_1432_Demo_1.plf";
//   job.SetRunArea(x1, y1, x2, y2, -121);     // or job.elevationReady = true
//   const LogOutcome outcome = LogProductChain(curve).Run(job);
//   if (!outcome.Succeeded()) show(outcome.reason);
#include <QString>
#include <QStringList>

#include <functional>

class ColdCurve;

// One log and the values it is processed with.
struct LogJob {
    QString logPath;
    QString productVersion;
    QString tailNumber;
    QString techName;
    // The run area in the grid of centralMeridian (two eastings, two
    // northings); an area never set keeps 9.99e99 / -9.99e99.
    double easting1 = 9.99e99, northing1 = 9.99e99;
    double easting2 = -9.99e99, northing2 = -9.99e99;
    int centralMeridian = 0;   // signed whole degrees, west negative
    // The caller made the elevation raster: the chain does not extract it.
    bool elevationReady = false;
    // With elevationReady, while the caller is still making the raster:
    // asked once, before the desmoked log takes the log's place (and so
    // before the ortho products), waits for the raster and says whether it
    // was made. False stops the chain with the log as it was and no record
    // written (the caller names the log).
    std::function<bool()> elevationMade;
    // The mission mosaic of the log's folder is rebuilt after the products
    // (a batch of logs rebuilds it once, after the last one).
    bool buildMosaic = true;
    // The site's script hears of the finished log.
    bool runScript = true;
    // Told the name of each step as it starts: "elevation", "desmoke",
    // "orthorectify", "mosaic", "script".
    std::function<void(const QString &step)> progress;
    // The rectifier's progress within "orthorectify" (its stage, lines done
    // and lines in all).
    std::function<void(int stage, int done, int total)> rectifyProgress;
    // The rectifier's threads (0: its default) and, with two, when the
    // second may run (see CRectifiedStripChart::SetSecondThreadGate).
    int rectifierThreads = 0;
    std::function<bool(bool want)> secondThreadGate;
    // Desmoke's threads (1 or 2) and, with two, when the second may run
    // (see DesmokeThreads). A core the gate gave is back when desmoke ends.
    int desmokeThreads = 1;
    std::function<bool(bool want)> desmokeGate;
};

struct LogOutcome {
    enum class Status {
        ProductsWritten,   // the ortho products of the run are on disk
        LogMissing,        // no readable log: nothing was done
        NoRunArea,         // no area to extract elevation for: skipped
        NoElevation,       // no elevation data for the run: no products
        RectifierFailed,   // the rectifier wrote nothing (reason says why)
    };
    Status status = Status::LogMissing;
    QString path;
    // Why no products were written (empty when they were).
    QString reason;

    bool logMissing = false;         // no readable log
    bool elevationExtracted = false; // the chain extracted the raster itself
    bool elevationFailed = false;    // no raster could be made: the file was skipped
    int desmoke = -1;                // DesmokeLog result (0 ok, -1 failed / not run)
    int outcome = 0;                 // CRectifiedStripChart::Outcome (NotRun when not rectified)
    QStringList products;            // product files written
    bool mosaicSaved = false;        // the mission mosaic was written
    QString mosaicPath;
    QString firePointsPath;          // the mission's "_FirePoints.geojson" ("" when not written)
    int script = 0;                  // RunAncillary result (1 ran, 0 not started / not run)

    bool Succeeded() const { return status == Status::ProductsWritten; }
    // One line for the operator: "<log>: 6 products, mosaic written" or
    // "<log>: no products - <reason>".
    QString Summary() const;

    // The processing record beside the log, "<log base>_processing.json":
    // what was made and what failed, for the mission report. Written by
    // the chain at the end of every run of a readable log.
    static QString RecordPath(const QString &logPath);
    // mosaicLater: a batch rebuilds the mosaic after its last log;
    // noScript: the site script was left out.
    bool WriteRecord(bool mosaicLater = false, bool noScript = false) const;
};

class LogProductChain {
public:
    explicit LogProductChain(ColdCurve *curve) : curve(curve) {}
    LogOutcome Run(const LogJob &job) const;

    // The latitude/longitude box (west, north, east, south) of the job's run
    // area. False for an area that was never set or is not a finite box.
    static bool RunAreaBox(const LogJob &job, double *west, double *north, double *east, double *south);

    // Steps of Run that a batch also takes on their own.
    // The elevation raster of a latitude/longitude box under the name the
    // rectifier opens; false with the outcome's status and reason set.
    static bool ExtractElevation(double west, double north, double east, double south, const QString &elevationName,
                                 LogOutcome *outcome);
    // The mission mosaic and heat points of the log's folder, built on up to
    // `threads` threads.
    static void BuildMosaic(const QString &logPath, LogOutcome *outcome, int threads = 1);
    // RunAncillary(1, [base name of the log]).
    static int RunScript(const QString &logPath);

private:
    LogOutcome RunSteps(const LogJob &job, bool *record) const;
    ColdCurve *curve;
};
