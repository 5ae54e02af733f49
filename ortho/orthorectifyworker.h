#pragma once
// The worker that turns closed flight logs into ortho products on a thread
// of its own. The main window moves it to a dedicated QThread, queues doWork
// on it, hands it logs with AddFile (after setting the texts, the run area
// and the elevation-ready flag) and stops it at shutdown through the stop
// flag before quitting and joining the thread.
//
// STAND-IN: the queue, its mutex, the per-file copy of the run values, the
// 10 ms polling loop and the stop flag are the real ones, but processing a
// file only logs what would be done and records the path in Processed().
// Elevation extraction, desmoking, rectification, the mosaic and the site
// script are not run yet.
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>

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

public slots:
    void doWork();

private:
    void ProcessFile(const QString &path, const RunValues &values);

    ColdCurve *curve;
    mutable QMutex mutex;
    QStringList queue;
    QStringList processed;
    RunValues values;
    RunValues lastValues;
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> running{false};
};
