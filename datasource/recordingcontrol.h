#pragma once
// CRecordingControl: recording of runs to flight logs, the part of the main
// window's state and services that opens, names, writes and closes the logs
// and hands a closed log on for orthorectification ("Manipulate Log File").
//
// The main window owns one CRecordingControl for the whole run of the
// program and forwards its services to it:
//   StartPass      -> StartPass(start time, data source)  (naming steps)
//   ManipulateLogFile(op, noRectify)                      (1 open, 2 close)
//   WriteLogLine(line)
//   the stop-recording command -> StopRecording()
//   setting a mission          -> SetMission(...)
// What the control needs from its owner (saving the operator settings, the
// orthorectification worker, the run area and the projection's central
// meridian) comes through the RecordingHost interface; without a host a
// closed log is simply not handed on.
//
// Log names: dataRoot + separator + missionPrefix + "_" + pass [+ segment
// + 96] + ".plf", where missionPrefix is the first run's start time as
// "yyyyMMdd_HHmm_" followed by the mission name, all spaces removed. The
// data folder is "C:\CindrelData" (through the C: drive mapping).
//
// Every line handed to WriteLogLine reaches the operating system before the
// call returns (the recorder writes unbuffered); closing a log syncs it.
// Every log holds whole records only: a failed write is cut back, and a log
// that a killed recorder left with a partial last record is mended before
// the next log of its folder is opened.
#include "datasource/ccindreldsplog.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>

class CDataSource;
class ColdCurve;
class QWidget;

// The extents box of the recorded swath, projected metres.
struct RunArea {
    double minX = 0.0, maxY = 0.0, maxX = 0.0, minY = 0.0;
};

// What the orthorectification worker receives for one closed log.
struct RectifyRequest {
    QString productVersion;   // "1.0" for the automatic hand-over
    QString tailNumber;
    QString techName;
    RunArea area;
    int centralMeridian = 0;  // signed whole degrees, west negative
    bool elevationReady = false;
    QString logPath;          // absolute path of the closed log
};

// Implemented by the owner (the main window).
class RecordingHost {
public:
    virtual ~RecordingHost();
    virtual void SaveSettings() {}
    virtual bool IsRectifierRunning() { return false; }
    virtual RunArea GetRunArea() { return RunArea(); }
    virtual int GetCentralMeridian() { return 0; }
    virtual void QueueForRectify(const RectifyRequest &) {}
};

class CRecordingControl {
public:
    // curve: the shared detection curve the recorder is built with.
    // dialogParent: parent of the error boxes.
    explicit CRecordingControl(ColdCurve *curve, RecordingHost *host = nullptr, QWidget *dialogParent = nullptr);
    ~CRecordingControl();
    CRecordingControl(const CRecordingControl &) = delete;
    CRecordingControl &operator=(const CRecordingControl &) = delete;

    void SetHost(RecordingHost *h) { host = h; }
    void SetDialogParent(QWidget *parent) { dialogParent = parent; }

    // A mission was set: its names and ground elevation; pass and segment
    // numbering start again (the next run fixes a new file prefix).
    void SetMission(const QString &mission, const QString &tail, const QString &tech, double elevation);
    void ResetPassNumbering();

    // Naming part of StartPass: -1 when there is no data source, else the
    // new pass number. The first pass after start-up or a mission change
    // fixes the mission start and prefix, creates the data folder and sends
    // the ground elevation (whole metres, halves up) to the source.
    int StartPass(const QDateTime &runStart, CDataSource *source);

    // 1: open a new log for the current pass; 2: close it and hand it on
    // for orthorectification unless noRectify. Other codes: error box.
    bool ManipulateLogFile(int opCode, bool noRectify);

    // Writes the line to the open log; nothing when none is open. The first
    // line of a log that cannot be written (disk full) tells the operator;
    // the lines written before stay in the log.
    void WriteLogLine(const ScanLineRec &line);

    // Cuts the partial last record off every log in folder that a recorder
    // killed mid-write left behind (see CCindrelDspLog::TrimPartialRecord);
    // done before the first log of a data folder is opened. Returns the
    // number of logs mended.
    static int RecoverInterruptedLogs(const QString &folder);

    // The operator's stop-recording command.
    void StopRecording();

    // Name of the log of the current pass and segment.
    QString LogFileName() const;
    // missionPrefix for a start time and mission name.
    static QString MissionPrefix(const QDateTime &start, const QString &mission);

    CCindrelDspLog *Recorder() const { return recorder.get(); }
    QString LastClosedLog() const { return lastClosedLog; }

    // Recording state (read by the strip chart, the processing loop and
    // the mission commands).
    bool logOpen = false;
    bool recordArmed = true;
    std::int32_t passNumber = 0;
    std::int32_t segmentNumber = 0;
    QString dataRoot;
    QString missionName;
    QString tailNumber;
    QString techName;
    QDateTime missionStart;
    QString missionPrefix;
    QString pathPrefix;
    QString currentLogPath;
    double groundElevation = 0.0;

private:
    std::unique_ptr<CCindrelDspLog> recorder;
    RecordingHost *host;
    QWidget *dialogParent;
    QString lastClosedLog;
    QString recoveredRoot;        // data folder already checked for interrupted logs
    bool writeFailureTold = false;  // per log
};
