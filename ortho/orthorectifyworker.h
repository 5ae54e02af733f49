#pragma once
// The worker that turns closed flight logs into ortho products on a thread
// of its own. The main window moves it to a dedicated QThread, queues doWork
// on it, hands it logs with AddFile (after setting the texts, the run area
// and the elevation-ready flag) and stops it at shutdown through the stop
// flag before quitting and joining the thread.
//
// Each log taken from the queue is processed with the values current when
// it was taken: the run's elevation raster is extracted unless the caller
// said it is ready, the fire pixels are recomputed and desmoked with the
// stored detection parameters (the untouched log is kept as "orig.plf"),
// the run is orthorectified into the log's folder, the mission mosaic of
// the folder is rebuilt, and the site's "int"
// script runs with the log's base name (LogProductChain). The outcome of
// every file is kept in Results(), written to the debug log and handed to
// the owner's outcome handler, which tells the operator.
#include "ortho/logproductchain.h"

#include <QMutex>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class ColdCurve;

class OrthoRectifyWorker : public QObject {
    Q_OBJECT
public:
    explicit OrthoRectifyWorker(ColdCurve *curve);
    ~OrthoRectifyWorker() override;

    // Thread-safe setters for the GUI thread; a file is processed with the
    // values current when it is taken from the queue.
    void AddFile(const QString &path);
    void SetRunArea(double easting1, double northing1, double easting2, double northing2, int centralMeridian);
    void SetProductVersion(const QString &text);
    void SetTailNumber(const QString &text);
    void SetTechName(const QString &text);
    void SetElevationReady(bool ready);
    // Called on the worker's thread with the outcome of every file, as soon
    // as it is known (the owner passes it on to its own thread).
    using OutcomeHandler = std::function<void(const LogOutcome &)>;
    void SetOutcomeHandler(OutcomeHandler handler);
    // Ends doWork once the queue is empty (files queued before or just
    // after the request are still processed).
    void Stop() { stopFlag.store(true); }

    // ---- state, for the owner's status line and for checks ----
    int PendingCount() const;
    QStringList Processed() const;
    bool IsRunning() const { return running.load(); }
    bool ElevationReady() const;
    QString ProductVersion() const;

    struct RunValues {
        QString productVersion;
        QString tailNumber;
        QString techName;
        double easting1 = 9.99e99, northing1 = 9.99e99;
        double easting2 = -9.99e99, northing2 = -9.99e99;
        int centralMeridian = 0;
        bool elevationReady = false;
    };
    // The values the last processed file was taken with.
    RunValues LastRunValues() const;

    // What became of one file taken from the queue.
    using FileResult = LogOutcome;
    QList<FileResult> Results() const;

    // The raster name (without extension) the rectifier looks for beside a
    // log: CCindrelDspLog::ElevationFileName without ".bil", native
    // separators; empty when the log's file name has no "_".
    static QString ElevationName(const QString &logPath);
    // The latitude/longitude box (west, north, east, south) of a run area
    // given in the grid of `centralMeridian`. False for an area that was
    // never set or is not a finite box.
    static bool RunAreaBox(const RunValues &values, double *west, double *north, double *east, double *south);

public slots:
    void doWork();

private:
    void ProcessFile(const QString &path, const RunValues &values);

    ColdCurve *curve;
    OutcomeHandler outcomeHandler;
    mutable QMutex mutex;
    QStringList queue;
    QStringList processed;
    QList<FileResult> results;
    RunValues values;
    RunValues lastValues;
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> running{false};
};
