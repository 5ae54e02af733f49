#pragma once
// DisplayOwner: what the live display panels (the waterfall WaterFall, the
// fire detection thresholds panel DspSig and its scale picture) read from and
// call on the window that owns them. The main window (ImageViewer)
// implements it; the display library never includes anything from app/.
//
// The panels are created by the owner with the owner as Qt parent and keep
// this pointer for their whole life. Everything runs on the GUI thread.
//
// What the panels use:
//   - the current data source (may be none: every panel then does nothing
//     that needs one);
//   - the run flags: runRequested (the operator pressed Run) and mapMode (the
//     strip chart's map mode setting, copied into each new builder);
//   - the recording state: logOpen (a flight log is open for writing) and
//     recordArmed (runs are recorded), and the recording services
//     ManipulateLogFile (1 = open a log for the current pass, 2 = close it and
//     queue it for orthorectification) and WriteLogLine (append one line to
//     the open log);
//   - the pass services and the QObject parent that a strip chart builder is
//     created with (the waterfall creates one per run and deletes it after
//     FinishRun);
//   - the channel B fire limit (bMax) and cold limit (bMin), which the
//     thresholds panel starts from and changes;
//   - the fire detection curve (ColdCurve), whose lock flag and start values
//     the panel's Lock, Unlock and Reset set;
//   - the four zoom fields of the scale picture (Fire mantissa and exponent,
//     BMax mantissa and exponent), which the owner saves with its settings.
//
// ManipulateLogFile and WriteLogLine carry the same signatures as the pass
// services of the strip chart, so one override in the owner serves both.
#include "datasource/scanline.h"

#include <cstdint>

class CDataSource;
class ColdCurve;
class PassServices;
class QObject;

class DisplayOwner {
public:
    virtual ~DisplayOwner() = default;

    // The current data source, or nullptr when there is none.
    virtual CDataSource *displaySource() = 0;

    // Run and recording flags.
    virtual bool isRunRequested() const = 0;
    virtual bool isMapMode() const = 0;
    virtual bool isLogOpen() const = 0;
    virtual bool isRecordArmed() const = 0;

    // Recording services. ManipulateLogFile returns true on success.
    virtual bool ManipulateLogFile(int opCode, bool noRectify) = 0;
    virtual void WriteLogLine(const ScanLineRec &line) = 0;

    // The pass services and the parent object of a new strip chart builder.
    virtual PassServices *passServices() = 0;
    virtual QObject *stripChartParent() = 0;

    // Channel B fire limit (bMax) and cold limit (bMin).
    virtual std::int32_t chnBFireLimit() const = 0;
    virtual void setChnBFireLimit(std::int32_t value) = 0;
    virtual std::int32_t chnBColdLimit() const = 0;
    virtual void setChnBColdLimit(std::int32_t value) = 0;

    // The fire detection curve, owned by the owner.
    virtual ColdCurve *coldCurve() = 0;

    // Zoom fields of the scale picture: mantissa (1, 2 or 5) and exponent.
    virtual int fireZoomIdx() const = 0;
    virtual int fireZoomExp() const = 0;
    virtual int bMaxZoomIdx() const = 0;
    virtual int bMaxZoomExp() const = 0;
    virtual void setFireZoom(int idx, int exp) = 0;
    virtual void setBMaxZoom(int idx, int exp) = 0;
};
