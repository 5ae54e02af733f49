#include "displayfakes.h"

#include <QDir>

ScanLineRec makeLine(std::uint32_t index, std::uint8_t pixValue)
{
    ScanLineRec r;
    r.clear();
    r.lineIndex = index;
    r.vhInterval = 1;
    r.chnBGain = 1.0f;
    r.chnBOffset = 100;
    r.latitude = 162000000;        // 45 N
    r.longitude = -426600000;      // 118.5 W
    r.altitude = 300000;           // 3000 m
    r.speed = 6000;                // 60 m/s
    r.heading = 9000;
    r.track = 9100;
    r.fireThreshold = 100;
    std::memset(r.pix, pixValue, sizeof(r.pix));
    return r;
}

MemSource::MemSource(ColdCurve *curve) : ring(curve) {}

void MemSource::deliver(const std::vector<ScanLineRec> &lines)
{
    for (const ScanLineRec &l : lines)
        queue(l);
    DoNextFwdCycle(0, false, true);
}

bool MemSource::DoNextFwdCycle(int, bool, bool)
{
    for (ScanLineRec &l : pending)
        ring.StoreLine(l);
    pending.clear();
    newLines = ring.TakeNewLineCount();
    return false;
}

void MemSource::GetPriorImageLine(std::uint32_t age, ScanLineRec *out)
{
    ++priorCalls;
    ring.GetPriorLine(age, out);
}

void MemSource::GetPosition(double *lat, double *lon)
{
    *lat = milliArcSecToDeg(ring.latitude());
    *lon = milliArcSecToDeg(ring.longitude());
}

void MemSource::GetChnBMinMax(std::int32_t *min, std::int32_t *max)
{
    *min = ring.chnBMin();
    *max = ring.chnBMax();
}

void MemSource::GetStatWords(std::uint32_t *a, std::uint32_t *b)
{
    *a = ring.statWord1();
    *b = ring.statWord2();
}

void MemSource::GetVOverH(std::uint32_t *interval, bool *overrideOn, std::uint32_t *override_)
{
    *interval = ring.vhInterval();
    *overrideOn = ring.vhOverrideOn();
    *override_ = ring.vhOverride();
}

std::uint32_t MemSource::SetFireThreshold(std::uint32_t v)
{
    calls << QStringLiteral("SetFireThreshold %1").arg(std::int32_t(v));
    return v;
}

void MemSource::SetBMax(std::uint32_t v) { calls << QStringLiteral("SetBMax %1").arg(std::int32_t(v)); }
void MemSource::SetBMin(std::uint32_t v) { calls << QStringLiteral("SetBMin %1").arg(std::int32_t(v)); }

float MemSource::SetChnBGain(float g)
{
    calls << QStringLiteral("SetChnBGain %1").arg(double(g));
    return gainIgnored ? 0.0f : g;
}

std::uint32_t MemSource::SetChnBOffset(std::uint32_t v)
{
    calls << QStringLiteral("SetChnBOffset %1").arg(std::int32_t(v));
    return v;
}

std::int32_t MemSource::SetVOverHOverride(std::int32_t v)
{
    calls << QStringLiteral("SetVOverHOverride %1").arg(v);
    return v;
}

FakeOwner::FakeOwner()
{
    curve.resetStartValues();
    pathPrefix = QDir::currentPath() + QStringLiteral("/run");
}

FakeOwner::~FakeOwner() = default;

bool FakeOwner::ManipulateLogFile(int opCode, bool)
{
    if (opCode == 1) {
        logCalls << QStringLiteral("open");
        if (failOpen)
            return false;
        logOpen = true;
        return true;
    }
    if (opCode == 2) {
        logCalls << QStringLiteral("close");
        if (failClose)
            return false;
        logOpen = false;
        return true;
    }
    return false;
}

std::int32_t FakeOwner::StartPass(double, double, int, float, float, const QDateTime &)
{
    if (!source)
        return -1;
    return ++passNumber;
}
