#include "datasource/ccindreldsplog.h"
#include "platform/settingskeys.h"

#include "platform/notice.h"
#include "platform/paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cstring>
#include <limits>
#include <algorithm>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

const QString kOpenTitle = QStringLiteral("Open Log File");
const QString kReadTitle = QStringLiteral("Read Log File");

constexpr int kHeaderBytes = 144;
constexpr int kHeaderBytesV3 = 128;
constexpr int kSampleBytes = 2 * SAMPLES_PER_LINE * 2;
constexpr int kPixBytes = SAMPLES_PER_LINE + 12;

std::int16_t readI16(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return std::int16_t(std::uint16_t(u[0] | (u[1] << 8)));
}

void writeI16(char *p, std::int32_t v)
{
    const auto u = std::uint16_t(std::uint32_t(v) & 0xFFFFu);
    p[0] = char(u & 0xFF);
    p[1] = char(u >> 8);
}

// One stored record of the given version into a scan line record.
void decodeRecord(const char *rec, int version, ScanLineRec &out)
{
    out.clear();
    auto *bytes = reinterpret_cast<char *>(&out);
    const char *samples = nullptr;
    const char *pixels = nullptr;
    int extraBytes = 12;
    if (version == 3) {
        std::memcpy(bytes, rec, 72);
        std::memcpy(bytes + 88, rec + 72, kHeaderBytes - 88);
        samples = rec + kHeaderBytesV3;
        pixels = samples + kSampleBytes;
    } else {
        std::memcpy(bytes, rec, kHeaderBytes);
        samples = rec + kHeaderBytes;
        pixels = samples + kSampleBytes;
        if (version == 2)
            extraBytes = 4;
    }
    for (int i = 0; i < SAMPLES_PER_LINE; ++i)
        out.chanA[i] = readI16(samples + 2 * i);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i)
        out.chanB[i] = readI16(samples + 2 * (SAMPLES_PER_LINE + i));
    std::memcpy(out.pix, pixels, SAMPLES_PER_LINE);
    std::memcpy(out.pixExtra, pixels + SAMPLES_PER_LINE, std::size_t(extraBytes));
}

} // namespace

CCindrelDspLog::CCindrelDspLog(ColdCurve *curve, QWidget *parent) : CCindrelDspLog(0, 0, curve, parent) {}

CCindrelDspLog::CCindrelDspLog(std::uint32_t first, std::uint32_t last, ColdCurve *curve, QWidget *parent)
    : CLogFile(parent),
      currentRec(new ScanLineRec),
      buffer(new CDspDataBuffer(curve)),
      ioBuffer(std::size_t(kRecordSizeV1)),
      firstLine(first),
      lastLine(last)
{
    currentRec->clear();
}

CCindrelDspLog::~CCindrelDspLog()
{
    Close();
    readFile.close();
}

// ---- version and names ----

int CCindrelDspLog::VersionForSize(qint64 size)
{
    if (size % kRecordSizeV1 == 0)
        return 1;
    if (size % kRecordSizeV2 == 0)
        return 2;
    if (size % kRecordSizeV3 == 0)
        return 3;
    return 1;
}

int CCindrelDspLog::VersionForFile(const QString &path)
{
    QFile f(path);
    const qint64 size = f.size();
    const int bySize = VersionForSize(size);
    std::vector<int> candidates;
    for (int v = 1; v <= 3; ++v)
        if (size > 0 && size % RecordSize(v) == 0)
            candidates.push_back(v);
    if (candidates.size() < 2 || !f.open(QIODevice::ReadOnly))
        return bySize;
    // Sizes that fit more than one layout (1070 version 2 records are 1069
    // of version 1): the layout whose records make sense wins. Records
    // spread over the file are read as each candidate; the one whose
    // navigation data passes most often is taken, the size rule on a tie.
    constexpr int kSamples = 16;
    std::vector<char> rec(static_cast<std::size_t>(kRecordSizeV1));
    auto line = std::make_unique<ScanLineRec>();
    int best = bySize, bestScore = -1;
    for (int v : candidates) {
        const qint64 recSize = RecordSize(v);
        const qint64 count = size / recSize;
        int score = 0;
        for (int k = 0; k < kSamples && k < count; ++k) {
            const qint64 index = count <= kSamples ? k : k * (count - 1) / (kSamples - 1);
            if (!f.seek(index * recSize) || f.read(rec.data(), recSize) != recSize)
                break;
            decodeRecord(rec.data(), v, *line);
            score += CDspDataBuffer::IsNavSane(*line) ? 1 : 0;
        }
        if (score > bestScore || (score == bestScore && v == bySize)) {
            best = v;
            bestScore = score;
        }
    }
    return best;
}

qint64 CCindrelDspLog::RecordSize(int version)
{
    switch (version) {
    case 1: return kRecordSizeV1;
    case 2: return kRecordSizeV2;
    case 3: return kRecordSizeV3;
    default: return 0;
    }
}

QDateTime CCindrelDspLog::OldLogLimit()
{
    return QDateTime(QDate(2003, 9, 22), QTime(12, 0, 0), Qt::LocalTime);
}

void CCindrelDspLog::DetectVersion()
{
    QFileInfo info(fullPath);
    info.refresh();
    fileVersion = VersionForFile(fullPath);
    oldLog = false;
    if (fileVersion == 1 && info.size() % kRecordSizeV1 == 0) {
        // The creation time; a file copied with its times kept may show a
        // modification time earlier than its (copy's) creation time, and
        // then that is the better account of when the log was made.
        QDateTime created = info.birthTime();
        const QDateTime modified = info.lastModified();
        if (!created.isValid() || (modified.isValid() && modified < created))
            created = modified;
        oldLog = created.isValid() && created < OldLogLimit();
    }
}

QDateTime CCindrelDspLog::DateTimeFromFileName(const QString &path)
{
    const QString base = QFileInfo(path).completeBaseName();
    auto number = [&base](int from, int count) {
        bool ok = false;
        const int v = base.mid(from, count).toInt(&ok);
        return ok ? v : 0;
    };
    const int year = number(0, 4);
    const int month = number(4, 2);
    const int day = number(6, 2);
    const int hour = number(9, 2);
    const int minute = number(11, 2);
    const QString text = QStringLiteral("%1-%2-%3T%4:%5:00")
                             .arg(year)
                             .arg(month, 2, 10, QLatin1Char('0'))
                             .arg(day, 2, 10, QLatin1Char('0'))
                             .arg(hour, 2, 10, QLatin1Char('0'))
                             .arg(minute, 2, 10, QLatin1Char('0'));
    return QDateTime::fromString(text, Qt::ISODate);
}

QString CCindrelDspLog::ElevationFileName(const QString &path)
{
    // Only an "_" of the file name separates the run number: one in a folder
    // name would name a raster outside the log's folder.
    const int slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const int cut = path.lastIndexOf(QLatin1Char('_'));
    if (cut < 0 || cut < slash)
        return QString();
    return path.left(cut) + QStringLiteral(".bil");
}

// ---- opening ----

bool CCindrelDspLog::OpenReadFile(const QString &path)
{
    if (readFile.isOpen())
        readFile.close();
    readFile.setFileName(path);
    if (!readFile.open(QIODevice::ReadOnly)) {
        Notice::critical(this, kOpenTitle, QStringLiteral("Error opening selected log file."), QMessageBox::Ok);
        fullPath.clear();
        fileVersion = 0;
        return false;
    }
    return true;
}

void CCindrelDspLog::FinishOpen(bool fireTest)
{
    isOpen = true;
    recordsRead = 0;
    replayEnded = false;
    currentRec->clear();
    if (ReadLogRec()) {
        if (fireTest)
            buffer->AddLine(*currentRec);
        else
            buffer->StoreLine(*currentRec);
    }
    newLineCount = buffer->TakeNewLineCount();
    currentFireThreshold = std::uint32_t(buffer->fireThreshold());
}

void CCindrelDspLog::OnFileOpen(const QString &name)
{
    fullPath = name;
    if (!OpenReadFile(name))
        return;
    DetectVersion();
    FinishOpen(false);
}

void CCindrelDspLog::OnFileOpen()
{
    QSettings settings;
    const QString start = cindrel::mapCDrivePath(
        settings.value(SettingsKey::LogPath, QStringLiteral("C:\\CindrelData")).toString());
    const QString chosen =
        Notice::getOpenFileName(this, QStringLiteral("Open Cindrel Log File"), start,
                                QStringLiteral("Newer log files (*.plf);;Older log files (*.log);;All files (*.*)"));
    if (chosen.isEmpty() || !QFileInfo::exists(chosen))
        return;
    const QFileInfo info(chosen);
    fullPath = info.absoluteFilePath();
    settings.setValue(SettingsKey::LogPath, info.absolutePath());
    DetectVersion();
    if (!OpenReadFile(fullPath))
        return;
    FinishOpen(true);
}

// ---- reading ----

bool CCindrelDspLog::ReadLogRec()
{
    const qint64 size = RecordSize(fileVersion);
    if (size == 0) {
        Notice::critical(this, kReadTitle,
                         QStringLiteral("Programming error (CindrelDspLog::ReadLogRec) - unexpected FileVersion"),
                         QMessageBox::Ok);
        return false;
    }
    if (replayEnded || !readFile.isOpen())
        return false;

    char *rec = ioBuffer.data();
    for (;;) {
        qint64 got = 0;
        while (got < size) {
            const qint64 n = readFile.read(rec + got, size - got);
            if (n <= 0)
                break;
            got += n;
        }
        if (got < size) {
            if (!readFile.atEnd() || readFile.error() != QFileDevice::NoError) {
                Notice::critical(this, kReadTitle,
                                 QStringLiteral("Error reading log file (ver %1) after record %2")
                                     .arg(fileVersion)
                                     .arg(recordsRead),
                                 QMessageBox::Ok);
                replayEnded = true;
            }
            return false;
        }
        std::uint32_t index = 0;
        std::memcpy(&index, rec, 4);
        if (firstLine != 0 && index < firstLine)
            continue;
        if (lastLine != 0 && index > lastLine) {
            // The range ends at the first line beyond it, whatever follows.
            replayEnded = true;
            return false;
        }
        break;
    }

    decodeRecord(rec, fileVersion, *currentRec);
    ++recordsRead;
    return true;
}

bool CCindrelDspLog::DoNextFwdCycle(int, bool, bool fireTest)
{
    const bool got = ReadLogRec();
    if (got) {
        if (fireTest)
            buffer->AddLine(*currentRec);
        else
            buffer->StoreLine(*currentRec);
    }
    newLineCount = buffer->TakeNewLineCount();
    return !got;
}

int CCindrelDspLog::DoNextFwdCycles(int count, bool fireTest)
{
    int read = 0;
    while (read < count && ReadLogRec()) {
        if (fireTest)
            buffer->AddLine(*currentRec);
        else
            buffer->StoreLine(*currentRec);
        ++read;
    }
    newLineCount = buffer->TakeNewLineCount();
    return read;
}

bool CCindrelDspLog::SeekRecord(std::uint32_t record)
{
    const qint64 size = RecordSize(fileVersion);
    if (!readFile.isOpen() || size <= 0)
        return false;
    record = std::min(record, RecordCount());
    if (!readFile.seek(qint64(record) * size))
        return false;
    recordsRead = record;
    replayEnded = false;
    return true;
}

std::uint32_t CCindrelDspLog::RecordCount() const
{
    const qint64 size = RecordSize(fileVersion);
    if (!readFile.isOpen() || size <= 0)
        return 0;
    return std::uint32_t(std::min<qint64>(readFile.size() / size, std::numeric_limits<std::uint32_t>::max()));
}

bool CCindrelDspLog::AtEnd() const
{
    const qint64 size = RecordSize(fileVersion);
    return replayEnded || !readFile.isOpen() || size <= 0 || readFile.pos() + size > readFile.size();
}

bool CCindrelDspLog::RewindLog()
{
    if (!readFile.isOpen())
        return false;
    const bool sought = readFile.seek(0);
    recordsRead = 0;
    replayEnded = false;
    if (ReadLogRec())
        buffer->StoreLine(*currentRec);
    newLineCount = buffer->TakeNewLineCount();
    return sought;
}

bool CCindrelDspLog::GetNextLine(ScanLineRec *out)
{
    if (!ReadLogRec())
        return false;
    if (out)
        std::memcpy(static_cast<void *>(out), currentRec.get(), sizeof(ScanLineRec));
    return true;
}

std::uint32_t CCindrelDspLog::GetNumNewImageLines() { return newLineCount; }

void CCindrelDspLog::GetPriorImageLine(std::uint32_t age, ScanLineRec *out)
{
    if (out)
        buffer->GetPriorLine(age, out);
}

std::uint32_t CCindrelDspLog::GetLineIndex() { return buffer->lineIndex(); }

float CCindrelDspLog::GetTrack() { return float(buffer->track()) * 0.01f; }

// ---- values of the current record ----

float CCindrelDspLog::GetAltitude() { return float(currentRec->altitude) * 0.01f; }
float CCindrelDspLog::GetPitch() { return float(currentRec->pitch) * 0.01f; }
float CCindrelDspLog::GetRoll() { return float(currentRec->roll) * 0.01f; }
float CCindrelDspLog::GetSpeed() { return float(currentRec->speed) * 0.01f; }
float CCindrelDspLog::GetHeading() { return float(currentRec->heading) * 0.01f; }

void CCindrelDspLog::GetPosition(double *lat, double *lon)
{
    if (lat) *lat = milliArcSecToDeg(currentRec->latitude);
    if (lon) *lon = milliArcSecToDeg(currentRec->longitude);
}

void CCindrelDspLog::GetPosition(float *lat, float *lon)
{
    if (lat) *lat = milliArcSecToDegF(currentRec->latitude);
    if (lon) *lon = milliArcSecToDegF(currentRec->longitude);
}

float CCindrelDspLog::GetChnBGain() { return currentRec->chnBGain; }

std::int32_t CCindrelDspLog::GetChnBOffset()
{
    const std::int32_t v = currentRec->chnBOffset;
    return (v < -32768 || v > 32767) ? 0 : v;
}

void CCindrelDspLog::GetStatWords(std::uint32_t *first, std::uint32_t *second)
{
    if (first) *first = currentRec->statWord1;
    if (second) *second = currentRec->statWord2;
}

void CCindrelDspLog::GetChnBMinMax(std::int32_t *min, std::int32_t *max)
{
    if (min) *min = currentRec->chnBMin;
    if (max) *max = currentRec->chnBMax;
}

void CCindrelDspLog::GetVOverH(std::uint32_t *interval, bool *overrideOn, std::uint32_t *override_)
{
    if (interval) *interval = currentRec->vhInterval;
    if (overrideOn) *overrideOn = currentRec->vhOverrideOn != 0;
    if (override_) *override_ = currentRec->vhOverride;
}

// ---- fire detection ----

std::uint32_t CCindrelDspLog::GetFireThreshold() { return currentFireThreshold; }

std::uint32_t CCindrelDspLog::SetFireThreshold(std::uint32_t threshold)
{
    currentFireThreshold = threshold;
    buffer->SetFireThresholdOverride(threshold);
    return threshold;
}

void CCindrelDspLog::SetFireDetectParams(bool usePoly, std::uint32_t bMax, std::uint32_t bMin, double pa2,
                                         double pa1, double pa0)
{
    a2 = pa2;
    a1 = pa1;
    a0 = pa0;
    buffer->SetFireDetectParams(usePoly, std::int32_t(bMax), std::int32_t(bMin), pa2, pa1, pa0);
}

void CCindrelDspLog::SetBMax(std::uint32_t bMax) { buffer->SetBMax(std::int32_t(bMax)); }
void CCindrelDspLog::SetBMin(std::uint32_t bMin) { buffer->SetBMin(std::int32_t(bMin)); }
double CCindrelDspLog::GetFireDetectPolyA2() { return a2; }
double CCindrelDspLog::GetFireDetectPolyA1() { return a1; }
double CCindrelDspLog::GetFireDetectPolyA0() { return a0; }

// ---- file facts ----

bool CCindrelDspLog::GetBoundingAreaOfLog(std::uint32_t *west, std::uint32_t *north, std::uint32_t *east,
                                          std::uint32_t *south)
{
    if (west) *west = 0;
    if (north) *north = 0;
    if (east) *east = 0;
    if (south) *south = 0;
    return false;
}

QString CCindrelDspLog::GetFileName() { return fullPath; }

QDateTime CCindrelDspLog::GetDateTime() { return DateTimeFromFileName(fullPath); }

bool CCindrelDspLog::IsOldLog() { return oldLog; }

bool CCindrelDspLog::HasElevationFile()
{
    const QString name = ElevationFileName(fullPath);
    return !name.isEmpty() && QFileInfo::exists(name);
}

std::uint32_t CCindrelDspLog::GetScanRates(float *a, float *b)
{
    const std::uint32_t period = currentRec->scanPeriod;
    const std::int32_t x = std::int32_t(period);
    float ra = 0.0f, rb = 0.0f;
    if (x != 0) {
        const float inv = 1.0f / float(x);
        ra = float(double(inv) * (1.008 * 2.0e7));
        rb = float(double(inv) * (1.008 * 1.0e6));
    }
    if (a) *a = ra;
    if (b) *b = rb;
    return period;
}

void CCindrelDspLog::GetImageStats(double *mean, double *sd)
{
    if (mean) *mean = 0.0;
    if (sd) *sd = 0.0;
}

// ---- writing ----

bool CCindrelDspLog::OpenForWrite(const QString &name)
{
    fullPath = name;
    Close();
    file.setFileName(name);
    fileInfo.setFile(name);
    fileInfo.refresh();
    // Unbuffered: every record goes to the operating system when written.
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

bool CCindrelDspLog::Close()
{
    if (!file.isOpen())
        return true;
    bool ok = file.flush();
    const int fd = file.handle();
#ifdef Q_OS_WIN
    if (fd >= 0 && _commit(fd) != 0)
        ok = false;
#else
    if (fd >= 0 && ::fsync(fd) != 0)
        ok = false;
#endif
    file.close();
    return ok;
}

bool CCindrelDspLog::WriteRecord(const ScanLineRec &rec)
{
    if (!file.isOpen())
        return false;
    char out[kRecordSizeV1];
    std::memcpy(out, &rec, kHeaderBytes);
    char *samples = out + kHeaderBytes;
    for (int i = 0; i < SAMPLES_PER_LINE; ++i)
        writeI16(samples + 2 * i, rec.chanA[i]);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i)
        writeI16(samples + 2 * (SAMPLES_PER_LINE + i), rec.chanB[i]);
    char *pixels = samples + kSampleBytes;
    std::memcpy(pixels, rec.pix, SAMPLES_PER_LINE);
    std::memcpy(pixels + SAMPLES_PER_LINE, rec.pixExtra, 12);
    std::memset(pixels + kPixBytes, 0, 4);
    const qint64 start = file.pos();
    if (file.write(out, kRecordSizeV1) == kRecordSizeV1)
        return true;
    // A short write (disk full) would shift every later record: cut the
    // file back to the last whole record so the log stays readable and
    // later records stay aligned.
    file.resize(start);
    file.seek(start);
    return false;
}
