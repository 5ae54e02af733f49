#pragma once
// The abstract producer of scan lines: the live DSP board or a replayed
// flight log. Consumers call DoNextFwdCycle once per tick, then
// GetNumNewImageLines, then GetPriorImageLine for ages n-1 down to 0.
// Operations a source does not implement show a "PROGRAMMING ERROR" box and
// return a zero result.
#include "datasource/scanline.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QWidget>

#include <cstdint>

class CDataSource : public QWidget {
    Q_OBJECT
public:
    explicit CDataSource(QWidget *parent = nullptr);
    ~CDataSource() override;

    bool isOpen = false;

    virtual bool DoNextFwdCycle(int unused, bool unused2, bool fireTest);
    virtual void ResetCurve(bool reset);
    virtual void LockCurve(bool lock);
    virtual float GetAltitude();
    virtual bool GetBoundingAreaOfLog(std::uint32_t *west, std::uint32_t *north, std::uint32_t *east,
                                      std::uint32_t *south);
    virtual void GetStatWords(std::uint32_t *first, std::uint32_t *second);
    virtual float GetChnBGain();
    virtual void GetChnBMinMax(std::int32_t *min, std::int32_t *max);
    virtual std::int32_t GetChnBOffset();
    virtual QDateTime GetDateTime();
    virtual void GetGndFootprint(int which, std::uint32_t *a, std::uint32_t *b);
    virtual float GetHeading();
    virtual std::uint32_t GetLineIndex();
    virtual void GetImageStats(double *mean, double *sd);
    virtual std::uint32_t GetScanRates(float *a, float *b);
    virtual bool GetNextLine(ScanLineRec *out);
    virtual std::uint32_t GetNumNewImageLines();
    virtual std::uint32_t GetNumNewLinesUsingVh(std::uint32_t a, std::uint32_t b);
    virtual QString GetFileName();
    virtual float GetPitch();
    virtual void GetPosition(double *lat, double *lon);
    virtual void GetPosition(float *lat, float *lon);
    virtual void GetPositionArcSec(int which, float *lat, float *lon);
    virtual void GetPriorImageData();
    virtual void GetPriorImageLine(std::uint32_t age, ScanLineRec *out);
    virtual float GetRoll();
    virtual float GetSpeed();
    virtual float GetTrack();
    virtual void GetVOverH(std::uint32_t *interval, bool *overrideOn, std::uint32_t *override_);
    virtual std::uint32_t GetVOverH(bool *overrideOn);
    virtual std::uint32_t GetVOverH();
    virtual std::uint32_t GetFireThreshold();
    virtual bool IsDspStatusSet();
    virtual std::uint32_t GetSpikeErr();
    virtual bool Initialize();
    virtual bool IsOldLog();
    virtual void OnFileOpen(const QString &name);
    virtual void OnFileOpen();
    virtual bool RewindLog();
    virtual float SetChnBGain(float gain);
    virtual std::uint32_t SetChnBOffset(std::uint32_t offset);
    virtual std::uint32_t SetFireThreshold(std::uint32_t threshold);
    virtual void SetFireDetectParams(bool usePoly, std::uint32_t bMax, std::uint32_t bMin, double a2, double a1,
                                     double a0);
    virtual void SetBMax(std::uint32_t bMax);
    virtual void SetBMin(std::uint32_t bMin);
    virtual double GetFireDetectPolyA2();
    virtual double GetFireDetectPolyA1();
    virtual double GetFireDetectPolyA0();
    virtual void SetGroundElevation(std::uint32_t metres);
    virtual std::int32_t SetVOverHOverride(std::int32_t value);
    virtual void Start();
    virtual void Stop();
    virtual void Terminate();
    virtual bool HasElevationFile();
    virtual void WriteVrmlDiagData();
    virtual std::uint32_t GetCorScanState();
    virtual void GetCorScanA();
    virtual void GetCorScanB();

protected:
    // Shows the "PROGRAMMING ERROR" box for an operation this source lacks.
    void ProgrammingError(const QString &text);
};

// Base of file sources: owns the file and its file information.
class CLogFile : public CDataSource {
    Q_OBJECT
public:
    explicit CLogFile(QWidget *parent = nullptr);
    ~CLogFile() override;

    virtual bool Close();
    virtual bool DeleteFileSet();
    virtual bool OpenForWrite(const QString &name);

protected:
    QFile file;
    QFileInfo fileInfo;
};
