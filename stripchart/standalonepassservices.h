#pragma once
// Pass services for work outside the main window (the command-line tool,
// batch rebuilds): the pass records and extents boxes kept in memory, a
// converter of its own, no flight log recording, no map.
#include "datasource/cutmconverter.h"
#include "stripchart/cpass.h"
#include "stripchart/passservices.h"

#include <QList>

class StandalonePassServices : public PassServices {
public:
    explicit StandalonePassServices(CDataSource *source = nullptr);

    std::int32_t StartPass(double easting, double northing, int zone, float heading, float halfSwath,
                           const QDateTime &start) override;
    bool ManipulateLogFile(int opCode, bool noRectify = false) override;
    void WriteLogLine(const ScanLineRec &line) override;
    void SetRunHeading(float heading) override;
    void UpdatePass(double easting, double northing, int zone, float heading, float halfSwath) override;
    void ReportSwathEdges(double x1, double y1, double x2, double y2, bool recorded) override;
    void EndPass(double easting, double northing, int zone, float heading, float halfSwath, bool skip) override;
    std::int32_t GetPassHeading(std::int32_t index) override;

    bool IsRecordArmed() const override { return recordArmed; }
    QString GetTailNumber() const override { return tailNumber; }
    QString GetTechName() const override { return techName; }
    QString GetMissionName() const override { return missionName; }
    QString GetPathPrefix() const override { return pathPrefix; }
    double GetGroundElevation() const override { return groundElevation; }
    CUtmConverter *GetConverter() override { return &converter; }
    CDataSource *GetDataSource() override { return dataSource; }
    bool IsMapMode() const override { return mapMode; }
    void SetMapMode(bool on) override { mapMode = on; }

    // Settable state.
    CDataSource *dataSource = nullptr;
    bool recordArmed = false;
    QString tailNumber;
    QString techName;
    QString missionName;
    QString pathPrefix;
    double groundElevation = 0.0;
    bool mapMode = false;
    std::int32_t passNumber = 0;
    CUtmConverter converter;

    // What the builder reported.
    CPassRecords records;
    float runHeading = 0.0f;
    int endPassCalls = 0;
    int logOpenCalls = 0;
    QList<std::uint32_t> loggedLines;   // line indexes given to WriteLogLine
};
