#pragma once
// The flight log: a file of fixed-size scan line records in arrival order,
// with no header. Three record layouts exist, told apart by the file size
// (and by which layout's records make sense where a size fits two):
//
//   version 1: 8560 bytes = header 144 | samples 6720 | pixels 1692 | 4 spare
//   version 2: 8552 bytes = header 144 | samples 6720 | pixels 1684 | 4 spare
//   version 3: 8544 bytes = header 128 | samples 6720 | pixels 1692 | 4 spare
//
// The header is the scan line record's first 144 bytes (version 3 leaves out
// bytes 72..87). Samples are 16-bit: 1680 of channel A, then 1680 of
// channel B. The pixel block is the image row followed by the pixel extra
// bytes (only the first 4 of them in version 2). New logs are version 1.
//
// As a data source the log delivers one record per DoNextFwdCycle through
// its ring (with or without the host fire test), optionally limited to the
// line index range firstLine..lastLine (0 = no bound). The same object can
// hold a second file open for writing (the recorder): OpenForWrite,
// WriteRecord, Close. Written records reach the operating system at once
// (the write file is unbuffered), so a program that dies loses no record
// that WriteRecord accepted; Close also syncs the file to disk. A record
// that cannot be written whole (disk full) is cut off again, so the file
// always ends with a whole record.
//
// A damaged or foreign file never makes the reader go past a record: every
// read is one record of the version's size; a partial record at the end of
// the file is ignored.
#include "datasource/cdatasource.h"
#include "datasource/cdspdatabuffer.h"

#include <QDateTime>
#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class ColdCurve;

class CCindrelDspLog : public CLogFile {
    Q_OBJECT
public:
    static constexpr qint64 kRecordSizeV1 = 8560;
    static constexpr qint64 kRecordSizeV2 = 8552;
    static constexpr qint64 kRecordSizeV3 = 8544;

    explicit CCindrelDspLog(ColdCurve *curve, QWidget *parent = nullptr);
    CCindrelDspLog(std::uint32_t firstLine, std::uint32_t lastLine, ColdCurve *curve, QWidget *parent = nullptr);
    ~CCindrelDspLog() override;

    // ---- data source ----
    void OnFileOpen(const QString &name) override;
    void OnFileOpen() override;
    bool DoNextFwdCycle(int unused, bool unused2, bool fireTest) override;
    bool RewindLog() override;
    // Up to count cycles in one go (a faster replay): the lines read are all
    // new lines for the displays. Returns how many were read; fewer than
    // count at the end of the log.
    int DoNextFwdCycles(int count, bool fireTest);
    // Moves the replay so that the next cycle delivers record `record` (0 is
    // the first; past the end means the end). The lines already delivered
    // stay in the ring; the records before it count as read.
    bool SeekRecord(std::uint32_t record);
    // Records in the file (whole records only).
    std::uint32_t RecordCount() const;
    // No more records until sought back or rewound.
    bool AtEnd() const;
    std::uint32_t GetNumNewImageLines() override;
    void GetPriorImageLine(std::uint32_t age, ScanLineRec *out) override;
    std::uint32_t GetLineIndex() override;
    float GetTrack() override;
    bool GetNextLine(ScanLineRec *out) override;

    float GetAltitude() override;
    float GetPitch() override;
    float GetRoll() override;
    float GetSpeed() override;
    float GetHeading() override;
    void GetPosition(double *lat, double *lon) override;
    void GetPosition(float *lat, float *lon) override;
    float GetChnBGain() override;
    std::int32_t GetChnBOffset() override;
    void GetStatWords(std::uint32_t *first, std::uint32_t *second) override;
    void GetChnBMinMax(std::int32_t *min, std::int32_t *max) override;
    void GetVOverH(std::uint32_t *interval, bool *overrideOn, std::uint32_t *override_) override;
    using CDataSource::GetVOverH;

    std::uint32_t GetFireThreshold() override;
    std::uint32_t SetFireThreshold(std::uint32_t threshold) override;
    void SetFireDetectParams(bool usePoly, std::uint32_t bMax, std::uint32_t bMin, double a2, double a1,
                             double a0) override;
    void SetBMax(std::uint32_t bMax) override;
    void SetBMin(std::uint32_t bMin) override;
    double GetFireDetectPolyA2() override;
    double GetFireDetectPolyA1() override;
    double GetFireDetectPolyA0() override;

    bool GetBoundingAreaOfLog(std::uint32_t *west, std::uint32_t *north, std::uint32_t *east,
                              std::uint32_t *south) override;
    QString GetFileName() override;
    QDateTime GetDateTime() override;
    bool IsOldLog() override;
    bool HasElevationFile() override;
    std::uint32_t GetScanRates(float *a, float *b) override;
    void GetImageStats(double *mean, double *sd) override;

    // ---- writing (version 1 records) ----
    bool OpenForWrite(const QString &name) override;
    bool Close() override;
    bool WriteRecord(const ScanLineRec &rec);
    bool IsOpenForWrite() const { return file.isOpen(); }

    // ---- helpers ----
    // 0 until a log is opened, then 1, 2 or 3.
    int GetFileVersion() const { return fileVersion; }
    std::uint32_t GetRecordsRead() const { return recordsRead; }
    std::uint32_t GetFirstLine() const { return firstLine; }
    std::uint32_t GetLastLine() const { return lastLine; }
    const ScanLineRec &CurrentRecord() const { return *currentRec; }
    CDspDataBuffer &Buffer() { return *buffer; }

    // Version from the file size: divisible by 8560 -> 1, by 8552 -> 2,
    // by 8544 -> 3 (first match wins), otherwise 1.
    static int VersionForSize(qint64 size);
    // Version of a log file: by its size, and where the size fits more than
    // one layout, the layout whose records pass the navigation check.
    static int VersionForFile(const QString &path);
    static qint64 RecordSize(int version);
    // Start time encoded in a log's base name ("yyyyMMdd_HHmm..."), local
    // time; invalid when the name does not follow the pattern.
    static QDateTime DateTimeFromFileName(const QString &path);
    // The elevation raster belonging to a log: the path cut before its last
    // "_", followed by ".bil"; empty when the name has no "_".
    static QString ElevationFileName(const QString &path);
    // Version 1 logs created before this moment are old logs.
    static QDateTime OldLogLimit();

private:
    void DetectVersion();
    // Reads the next record (range filter applied) into the current record.
    bool ReadLogRec();
    // Opens the read file; shows the open error box on failure.
    bool OpenReadFile(const QString &path);
    void FinishOpen(bool fireTest);

    QString fullPath;
    QFile readFile;
    std::unique_ptr<ScanLineRec> currentRec;
    std::unique_ptr<CDspDataBuffer> buffer;
    std::vector<char> ioBuffer;   // one record as stored in the file
    std::uint32_t newLineCount = 0;
    std::uint32_t currentFireThreshold = 0;
    int fileVersion = 0;
    bool oldLog = false;
    bool replayEnded = false;     // end of range or read error: no more records until rewound
    std::uint32_t recordsRead = 0;
    std::uint32_t firstLine = 0;
    std::uint32_t lastLine = 0;
    double a2 = 0.0, a1 = 0.0, a0 = 0.0;
};
