#include "datasource/cdatasource.h"

#include "platform/notice.h"

#include <QDir>

CDataSource::CDataSource(QWidget *parent) : QWidget(parent) {}

CDataSource::~CDataSource() = default;

void CDataSource::ProgrammingError(const QString &text)
{
    Notice::critical(this, QStringLiteral("PROGRAMMING ERROR"), text, QMessageBox::Ok);
}

bool CDataSource::DoNextFwdCycle(int, bool, bool)
{
    ProgrammingError(QStringLiteral("CDataSource::DoNextFwdCycle should never execute."));
    return false;
}

void CDataSource::ResetCurve(bool) {}
void CDataSource::LockCurve(bool) {}

float CDataSource::GetAltitude()
{
    ProgrammingError(QStringLiteral("CDataSource::GetAltitude should never execute."));
    return 0.0f;
}

bool CDataSource::GetBoundingAreaOfLog(std::uint32_t *west, std::uint32_t *north, std::uint32_t *east,
                                       std::uint32_t *south)
{
    if (west) *west = 0;
    if (north) *north = 0;
    if (east) *east = 0;
    if (south) *south = 0;
    ProgrammingError(QStringLiteral("CDataSource::GetBoundingAreaOfLog should never execute."));
    return false;
}

void CDataSource::GetStatWords(std::uint32_t *first, std::uint32_t *second)
{
    if (first) *first = 0;
    if (second) *second = 0;
}

float CDataSource::GetChnBGain() { return 0.0f; }

void CDataSource::GetChnBMinMax(std::int32_t *min, std::int32_t *max)
{
    if (min) *min = 0;
    if (max) *max = 0;
}

std::int32_t CDataSource::GetChnBOffset() { return 0; }

QDateTime CDataSource::GetDateTime() { return QDateTime::currentDateTime(); }

void CDataSource::GetGndFootprint(int, std::uint32_t *a, std::uint32_t *b)
{
    ProgrammingError(QStringLiteral("CDataSource::GetGndFootprint should never execute."));
    if (a) *a = 0;
    if (b) *b = 0;
}

float CDataSource::GetHeading()
{
    ProgrammingError(QStringLiteral("CDataSource::GetHeading should never execute."));
    return 0.0f;
}

std::uint32_t CDataSource::GetLineIndex()
{
    ProgrammingError(QStringLiteral("CDataSource::GetLineIndex should never execute."));
    return 0;
}

void CDataSource::GetImageStats(double *mean, double *sd)
{
    if (mean) *mean = 0.0;
    if (sd) *sd = 0.0;
}

std::uint32_t CDataSource::GetScanRates(float *a, float *b)
{
    if (a) *a = 0.0f;
    if (b) *b = 0.0f;
    return 0;
}

bool CDataSource::GetNextLine(ScanLineRec *)
{
    ProgrammingError(QStringLiteral("CDataSource::GetNextLine should never execute."));
    return false;
}

std::uint32_t CDataSource::GetNumNewImageLines()
{
    ProgrammingError(QStringLiteral("CDataSource::GetNumNewImageLines should never execute."));
    return 0;
}

std::uint32_t CDataSource::GetNumNewLinesUsingVh(std::uint32_t, std::uint32_t)
{
    ProgrammingError(QStringLiteral("CDataSource::GetNumNewLinesUsingVh should never execute."));
    return 0;
}

QString CDataSource::GetFileName() { return QString(); }

float CDataSource::GetPitch()
{
    ProgrammingError(QStringLiteral("CDataSource::GetPitch should never execute."));
    return 0.0f;
}

void CDataSource::GetPosition(double *lat, double *lon)
{
    ProgrammingError(QStringLiteral("CDataSource::GetPosition (double) should never execute."));
    if (lat) *lat = 0.0;
    if (lon) *lon = 0.0;
}

void CDataSource::GetPosition(float *lat, float *lon)
{
    ProgrammingError(QStringLiteral("CDataSource::GetPosition (float) should never execute."));
    if (lat) *lat = 0.0f;
    if (lon) *lon = 0.0f;
}

void CDataSource::GetPositionArcSec(int, float *lat, float *lon)
{
    if (lat) *lat = 0.0f;
    if (lon) *lon = 0.0f;
}

void CDataSource::GetPriorImageData()
{
    ProgrammingError(QStringLiteral("CDataSource::GetPriorImageData should never execute."));
}

void CDataSource::GetPriorImageLine(std::uint32_t, ScanLineRec *)
{
    ProgrammingError(QStringLiteral("CDataSource::GetPriorImageLine should never execute."));
}

float CDataSource::GetRoll()
{
    ProgrammingError(QStringLiteral("CDataSource::GetRoll should never execute."));
    return 0.0f;
}

float CDataSource::GetSpeed()
{
    ProgrammingError(QStringLiteral("CDataSource::GetSpeed should never execute."));
    return 0.0f;
}

float CDataSource::GetTrack()
{
    ProgrammingError(QStringLiteral("CDataSource::GetTrack should never execute."));
    return 0.0f;
}

void CDataSource::GetVOverH(std::uint32_t *interval, bool *overrideOn, std::uint32_t *override_)
{
    ProgrammingError(QStringLiteral("CDataSource::GetVOverH (interval, flag, override) should never execute."));
    if (interval) *interval = 0;
    if (overrideOn) *overrideOn = false;
    if (override_) *override_ = 0;
}

std::uint32_t CDataSource::GetVOverH(bool *overrideOn)
{
    ProgrammingError(QStringLiteral("CDataSource::GetVOverH (flag) should never execute."));
    if (overrideOn) *overrideOn = false;
    return 0;
}

std::uint32_t CDataSource::GetVOverH()
{
    ProgrammingError(QStringLiteral("CDataSource::GetVOverH should never execute."));
    return 0;
}

std::uint32_t CDataSource::GetFireThreshold()
{
    ProgrammingError(QStringLiteral("CDataSource::GetFireThreshold should never execute."));
    return 0;
}

bool CDataSource::IsDspStatusSet() { return false; }

std::uint32_t CDataSource::GetSpikeErr()
{
    ProgrammingError(QStringLiteral("CDataSource::GetSpikeErr should never execute."));
    return 0;
}

bool CDataSource::Initialize()
{
    ProgrammingError(QStringLiteral("CDataSource::Initialize should never execute."));
    return false;
}

bool CDataSource::IsOldLog() { return false; }

void CDataSource::OnFileOpen(const QString &)
{
    ProgrammingError(QStringLiteral("CDataSource::OnFileOpen(CString) should never execute."));
}

void CDataSource::OnFileOpen()
{
    ProgrammingError(QStringLiteral("CDataSource::OnFileOpen should never execute."));
}

bool CDataSource::RewindLog() { return false; }
float CDataSource::SetChnBGain(float) { return 0.0f; }
std::uint32_t CDataSource::SetChnBOffset(std::uint32_t) { return 0; }
std::uint32_t CDataSource::SetFireThreshold(std::uint32_t) { return 0; }
void CDataSource::SetFireDetectParams(bool, std::uint32_t, std::uint32_t, double, double, double) {}
void CDataSource::SetBMax(std::uint32_t) {}
void CDataSource::SetBMin(std::uint32_t) {}
double CDataSource::GetFireDetectPolyA2() { return 0.0; }
double CDataSource::GetFireDetectPolyA1() { return 0.0; }
double CDataSource::GetFireDetectPolyA0() { return 0.0; }
void CDataSource::SetGroundElevation(std::uint32_t) {}
std::int32_t CDataSource::SetVOverHOverride(std::int32_t) { return 0; }
void CDataSource::Start() {}
void CDataSource::Stop() {}

void CDataSource::Terminate()
{
    ProgrammingError(QStringLiteral("CDataSource::Terminate should never execute."));
}

bool CDataSource::HasElevationFile() { return false; }

void CDataSource::WriteVrmlDiagData()
{
    ProgrammingError(QStringLiteral("CDataSource::WriteVrmlDiagData should never execute."));
}

std::uint32_t CDataSource::GetCorScanState()
{
    ProgrammingError(QStringLiteral("CDataSource::GetCorScanA should never execute."));
    return 0;
}

void CDataSource::GetCorScanA()
{
    ProgrammingError(QStringLiteral("CDataSource::GetCorScanA should never execute."));
}

void CDataSource::GetCorScanB()
{
    ProgrammingError(QStringLiteral("CDataSource::GetCorScanB should never execute."));
}

// ---------------------------------------------------------------- CLogFile

CLogFile::CLogFile(QWidget *parent) : CDataSource(parent) {}

CLogFile::~CLogFile() = default;

bool CLogFile::Close()
{
    file.close();
    return true;
}

bool CLogFile::DeleteFileSet()
{
    const QDir dir = fileInfo.absoluteDir();
    const QString filter = fileInfo.completeBaseName() + QStringLiteral("*.") + fileInfo.suffix();
    bool result = false;
    const QStringList names = dir.entryList(QStringList{filter}, QDir::Files);
    for (const QString &name : names)
        result = QFile::remove(dir.filePath(name));
    return result;
}

bool CLogFile::OpenForWrite(const QString &name)
{
    if (file.isOpen())
        file.close();
    file.setFileName(name);
    fileInfo.setFile(name);
    fileInfo.refresh();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}
