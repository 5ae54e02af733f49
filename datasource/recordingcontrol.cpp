#include "datasource/recordingcontrol.h"

#include "datasource/cdatasource.h"
#include "platform/notice.h"
#include "platform/paths.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace {

const QString kTitle = QStringLiteral("Manipulate Log File");

// Characters no file name may hold on the workstation's file system; a
// mission name carrying one would make every log of the mission uncreatable.
QString fileNameSafe(QString text)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    for (QChar &c : text) {
        if (forbidden.contains(c) || c.unicode() < 0x20)
            c = QLatin1Char('-');
    }
    return text;
}

} // namespace

RecordingHost::~RecordingHost() = default;

CRecordingControl::CRecordingControl(ColdCurve *curve, RecordingHost *h, QWidget *parent)
    : dataRoot(QDir::toNativeSeparators(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData")))),
      recorder(new CCindrelDspLog(curve)),
      host(h),
      dialogParent(parent)
{
}

CRecordingControl::~CRecordingControl()
{
    if (recorder)
        recorder->Close();
}

void CRecordingControl::SetMission(const QString &mission, const QString &tail, const QString &tech,
                                   double elevation)
{
    missionName = mission;
    tailNumber = tail;
    techName = tech;
    groundElevation = elevation;
    ResetPassNumbering();
}

void CRecordingControl::ResetPassNumbering()
{
    passNumber = 0;
    segmentNumber = 0;
}

QString CRecordingControl::MissionPrefix(const QDateTime &start, const QString &mission)
{
    QString prefix = start.toString(QStringLiteral("yyyyMMdd_HHmm_")) + mission;
    prefix.remove(QLatin1Char(' '));
    return fileNameSafe(prefix);
}

int CRecordingControl::StartPass(const QDateTime &runStart, CDataSource *source)
{
    if (!source)
        return -1;
    ++passNumber;
    segmentNumber = 0;
    if (passNumber == 1) {
        missionStart = runStart;
        missionPrefix = MissionPrefix(runStart, missionName);
        if (!QFileInfo::exists(dataRoot))
            QDir().mkpath(dataRoot);
        pathPrefix = dataRoot + QDir::separator() + missionPrefix;
        const double rounded = std::floor(groundElevation + 0.5);
        const auto metres = static_cast<std::int64_t>(rounded);
        source->SetGroundElevation(static_cast<std::uint32_t>(metres));
    }
    return passNumber;
}

QString CRecordingControl::LogFileName() const
{
    if (segmentNumber == 0)
        return pathPrefix + QStringLiteral("_") + QStringLiteral("%1.plf").arg(passNumber);
    return pathPrefix + QStringLiteral("_") + QStringLiteral("%1%2.plf").arg(passNumber).arg(segmentNumber + 96);
}

bool CRecordingControl::ManipulateLogFile(int opCode, bool noRectify)
{
    if (opCode == 1) {
        // Never truncate an earlier recording that happens to carry the same
        // name (a restart or a mission change within the same minute): take
        // the next segment name instead.
        if (recoveredRoot != dataRoot) {
            RecoverInterruptedLogs(dataRoot);
            recoveredRoot = dataRoot;
        }
        QString name = LogFileName();
        while (QFileInfo::exists(name)) {
            ++segmentNumber;
            name = LogFileName();
        }
        currentLogPath = name;
        if (!recorder->OpenForWrite(name)) {
            Notice::critical(dialogParent, kTitle, QStringLiteral("ERROR: manipulating log file"), QMessageBox::Ok);
            return false;
        }
        logOpen = true;
        writeFailureTold = false;
        ++segmentNumber;
        return true;
    }
    if (opCode == 2) {
        const bool wasOpen = recorder->IsOpenForWrite();
        recorder->Close();
        logOpen = false;
        if (wasOpen)
            lastClosedLog = QFileInfo(currentLogPath).absoluteFilePath();
        if (host)
            host->SaveSettings();
        // Only a log that was really recorded is handed on.
        if (!noRectify && wasOpen && host && host->IsRectifierRunning()) {
            RectifyRequest request;
            request.productVersion = QStringLiteral("1.0");
            request.tailNumber = tailNumber;
            request.techName = techName;
            request.area = host->GetRunArea();
            request.centralMeridian = host->GetCentralMeridian();
            request.elevationReady = false;
            request.logPath = lastClosedLog;
            host->QueueForRectify(request);
        }
        return true;
    }
    Notice::critical(dialogParent, kTitle, QStringLiteral("PROGRAMMING ERROR: invalid file log OpCode"),
                     QMessageBox::Ok);
    return false;
}

void CRecordingControl::WriteLogLine(const ScanLineRec &line)
{
    if (!recorder || !recorder->IsOpenForWrite())
        return;   // no log (one that could not be created was reported then)
    if (recorder->WriteRecord(line) || writeFailureTold)
        return;
    writeFailureTold = true;
    Notice::critical(dialogParent, kTitle,
                     QStringLiteral("ERROR: writing log file %1 (disk full?). Lines from %2 on are not recorded; "
                                    "the lines before are kept.")
                         .arg(QDir::toNativeSeparators(currentLogPath))
                         .arg(line.lineIndex),
                     QMessageBox::Ok);
}

int CRecordingControl::RecoverInterruptedLogs(const QString &folder)
{
    int mended = 0;
    const QFileInfoList logs =
        QDir(folder).entryInfoList({QStringLiteral("*.plf")}, QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &log : logs) {
        if (CCindrelDspLog::TrimPartialRecord(log.filePath()) > 0)
            ++mended;
    }
    return mended;
}

void CRecordingControl::StopRecording()
{
    if (logOpen) {
        logOpen = false;
        recordArmed = true;
    }
}
