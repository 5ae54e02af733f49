#pragma once
// What a strip chart builder needs from the window that owns the run: pass
// bookkeeping, the flight log of the run, the footprint reports and the
// mission values that go into the image's texts and file names.
//
// The main window implements it; the command-line tool and the tests have
// their own implementations. Projected coordinates are metres of the
// converter returned by GetConverter() (datum code 2).
#include <QDateTime>
#include <QString>

#include <cstdint>

class CDataSource;
class CUtmConverter;
class QWidget;
struct ScanLineRec;

class PassServices {
public:
    virtual ~PassServices() = default;

    // Registers a new pass at the run's first line. Returns the pass index
    // (the run number); a negative value refuses the run.
    virtual std::int32_t StartPass(double easting, double northing, int zone, float heading, float halfSwath,
                                   const QDateTime &start) = 0;
    // 1 opens a new flight log for the current pass, 2 closes it (and queues
    // it for orthorectification unless noRectify). Returns success.
    virtual bool ManipulateLogFile(int opCode, bool noRectify = false) = 0;
    // Writes one line to the open flight log.
    virtual void WriteLogLine(const ScanLineRec &line) = 0;
    // The heading the run's map-mode grid is laid along.
    virtual void SetRunHeading(float heading) = 0;
    // Moves the current pass's end to the given point.
    virtual void UpdatePass(double easting, double northing, int zone, float heading, float halfSwath) = 0;
    // The two swath edge points of one line (map axes), with the line's
    // recording flag; they grow the run's footprint extents.
    virtual void ReportSwathEdges(double x1, double y1, double x2, double y2, bool recorded) = 0;
    // The run has ended at the given point; unless skip, its footprint is
    // drawn on the map.
    virtual void EndPass(double easting, double northing, int zone, float heading, float halfSwath,
                         bool skip) = 0;
    // Heading of pass index (0 = the current pass), whole degrees.
    virtual std::int32_t GetPassHeading(std::int32_t index) = 0;

    // Mission and recording state.
    virtual bool IsRecordArmed() const = 0;
    virtual QString GetTailNumber() const = 0;
    virtual QString GetTechName() const = 0;
    virtual QString GetMissionName() const = 0;
    virtual QString GetPathPrefix() const = 0;
    virtual double GetGroundElevation() const = 0;   // metres

    virtual CUtmConverter *GetConverter() = 0;
    virtual CDataSource *GetDataSource() = 0;

    // The strip chart's map-mode setting; the builder clears it when the
    // aircraft is too slow for map mode.
    virtual bool IsMapMode() const = 0;
    virtual void SetMapMode(bool on) = 0;

    // Parent widget for the builder's message boxes (may be null).
    virtual QWidget *GetNoticeParent() { return nullptr; }
};
