#pragma once
// Test doubles for the display panels: an in-memory data source over a real
// scan line ring, and an owner that records what the panels ask of it.
#include "datasource/cdatasource.h"
#include "datasource/cdspdatabuffer.h"
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "display/displayowner.h"
#include "stripchart/passservices.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// A line with sane navigation (so the ring keeps it) and the given pixels.
ScanLineRec makeLine(std::uint32_t index, std::uint8_t pixValue = 100);

// Lines queued with queue() arrive at the next DoNextFwdCycle, like a live
// source's burst; the newest-line queries read the ring's current line.
class MemSource : public CDataSource {
public:
    explicit MemSource(ColdCurve *curve);

    void queue(const ScanLineRec &line) { pending.push_back(line); }
    // Queue and take in at once (one cycle).
    void deliver(const std::vector<ScanLineRec> &lines);

    bool DoNextFwdCycle(int, bool, bool) override;
    std::uint32_t GetNumNewImageLines() override { return newLines; }
    void GetPriorImageLine(std::uint32_t age, ScanLineRec *out) override;
    float GetAltitude() override { return ring.altitude() * 0.01f + altitudeBias; }
    float GetPitch() override { return ring.pitch() * 0.01f; }
    float GetRoll() override { return ring.roll() * 0.01f; }
    float GetSpeed() override { return ring.speed() * 0.01f; }
    float GetHeading() override { return ring.heading() * 0.01f; }
    float GetTrack() override { return ring.track() * 0.01f; }
    void GetPosition(double *lat, double *lon) override;
    std::uint32_t GetLineIndex() override { return ring.lineIndex(); }
    float GetChnBGain() override { return ring.chnBGain(); }
    void GetChnBMinMax(std::int32_t *min, std::int32_t *max) override;
    std::int32_t GetChnBOffset() override { return ring.chnBOffset(); }
    void GetStatWords(std::uint32_t *a, std::uint32_t *b) override;
    void GetVOverH(std::uint32_t *interval, bool *overrideOn, std::uint32_t *override_) override;
    std::uint32_t GetFireThreshold() override { return std::uint32_t(ring.fireThreshold()); }

    // Setters record what the panel sent.
    std::uint32_t SetFireThreshold(std::uint32_t v) override;
    void SetBMax(std::uint32_t v) override;
    void SetBMin(std::uint32_t v) override;
    float SetChnBGain(float g) override;
    std::uint32_t SetChnBOffset(std::uint32_t v) override;
    std::int32_t SetVOverHOverride(std::int32_t v) override;
    void LockCurve(bool lock) override { calls << QStringLiteral("LockCurve %1").arg(lock); }
    void ResetCurve(bool reset) override { calls << QStringLiteral("ResetCurve %1").arg(reset); }

    CDspDataBuffer ring;
    std::vector<ScanLineRec> pending;
    std::uint32_t newLines = 0;
    float altitudeBias = 0.0f;
    bool gainIgnored = false;    // SetChnBGain answers 0, like a source without the setting   // moves the reported altitude without a new line
    int priorCalls = 0;
    QStringList calls;   // setter calls in order, e.g. "SetFireThreshold 350"
};

class FakeOwner : public DisplayOwner, public PassServices {
public:
    FakeOwner();
    ~FakeOwner() override;

    // DisplayOwner
    CDataSource *displaySource() override { return source; }
    bool isRunRequested() const override { return runRequested; }
    bool isMapMode() const override { return mapMode; }
    bool isLogOpen() const override { return logOpen; }
    bool isRecordArmed() const override { return recordArmed; }
    bool ManipulateLogFile(int opCode, bool noRectify = false) override;
    void WriteLogLine(const ScanLineRec &line) override { written.push_back(line.lineIndex); }
    PassServices *passServices() override { return this; }
    QObject *stripChartParent() override { return &parentObject; }
    std::int32_t chnBFireLimit() const override { return bMax; }
    void setChnBFireLimit(std::int32_t v) override { bMax = v; }
    std::int32_t chnBColdLimit() const override { return bMin; }
    void setChnBColdLimit(std::int32_t v) override { bMin = v; }
    ColdCurve *coldCurve() override { return &curve; }
    int fireZoomIdx() const override { return fireIdx; }
    int fireZoomExp() const override { return fireExp; }
    int bMaxZoomIdx() const override { return bMaxIdx; }
    int bMaxZoomExp() const override { return bMaxExp; }
    void setFireZoom(int idx, int exp) override { fireIdx = idx; fireExp = exp; }
    void setBMaxZoom(int idx, int exp) override { bMaxIdx = idx; bMaxExp = exp; }

    // PassServices
    std::int32_t StartPass(double, double, int, float, float, const QDateTime &) override;
    void SetRunHeading(float) override {}
    void UpdatePass(double, double, int, float, float) override {}
    void ReportSwathEdges(double, double, double, double, bool) override {}
    void EndPass(double, double, int, float, float, bool) override { ++endPasses; }
    std::int32_t GetPassHeading(std::int32_t) override { return 0; }
    bool IsRecordArmed() const override { return recordArmed; }
    QString GetTailNumber() const override { return QStringLiteral("N123"); }
    QString GetTechName() const override { return QStringLiteral("Tech"); }
    QString GetMissionName() const override { return QStringLiteral("Test"); }
    QString GetPathPrefix() const override { return pathPrefix; }
    double GetGroundElevation() const override { return 0.0; }
    CUtmConverter *GetConverter() override { return &converter; }
    CDataSource *GetDataSource() override { return source; }
    bool IsMapMode() const override { return mapMode; }
    void SetMapMode(bool on) override { mapMode = on; }

    ColdCurve curve;
    CDataSource *source = nullptr;
    CUtmConverter converter;
    QObject parentObject;
    bool runRequested = false;
    bool mapMode = false;
    bool logOpen = false;
    bool recordArmed = true;
    bool failOpen = false;
    bool failClose = false;
    std::int32_t bMax = 65000;
    std::int32_t bMin = 1000;
    int fireIdx = 2, fireExp = 1, bMaxIdx = 5, bMaxExp = 1;
    int passNumber = 0;
    int endPasses = 0;
    QString pathPrefix;
    QStringList logCalls;                   // "open", "close"
    std::vector<std::uint32_t> written;     // line indexes written to the log
};
