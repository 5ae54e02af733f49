#include "datasource/cdspdatabuffer.h"

#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

CDspDataBuffer::CDspDataBuffer(ColdCurve *coldCurve)
    : ring_(static_cast<ScanLineRec *>(std::calloc(kCapacity, sizeof(ScanLineRec)))),
      scratch_(new ScanLineRec),
      coldCurve_(coldCurve)
{
    static_assert(std::is_trivially_copyable<ScanLineRec>::value && std::is_trivially_default_constructible<ScanLineRec>::value,
                  "the ring holds plain records");
    if (!ring_)
        throw std::bad_alloc();
    scratch_->clear();
}

CDspDataBuffer::~CDspDataBuffer() = default;

bool CDspDataBuffer::IsNavSane(const ScanLineRec &line)
{
    const float gain = line.chnBGain;
    if (!(gain >= 0.1f && gain <= 50.0f))
        return false;
    if (!(float(line.altitude) * 0.01f <= 50000.0f))
        return false;
    const float heading = float(line.heading) * 0.01f;
    if (!(heading >= 0.0f && heading <= 360.0f))
        return false;
    const double lat = milliArcSecToDeg(line.latitude);
    const double lon = milliArcSecToDeg(line.longitude);
    if (!(lat >= -90.0 && lat <= 90.0 && lon >= -180.0 && lon <= 180.0))
        return false;
    const float pitch = float(line.pitch) * 0.01f;
    if (!(pitch >= -50.0f && pitch <= 50.0f))
        return false;
    const float roll = float(line.roll) * 0.01f;
    if (!(roll >= -90.0f && roll <= 90.0f))
        return false;
    return true;
}

bool CDspDataBuffer::ValidateLine(ScanLineRec &line)
{
    bool accepted = IsNavSane(line);
    if (!accepted) {
        // Right shift: the line arrived one word late; the lost first word
        // is the index the previous line predicts.
        auto *cand = reinterpret_cast<unsigned char *>(scratch_.get());
        const std::uint32_t predicted = prevLineIndex_ + prevInterval_;
        std::memcpy(cand, &predicted, 4);
        std::memcpy(cand + 4, &line, sizeof(ScanLineRec) - 4);
        if (IsNavSane(*scratch_)) {
            std::memcpy(static_cast<void *>(&line), cand, sizeof(ScanLineRec));
            line.lineFlags |= NAV_REPAIRED;
            accepted = true;
        }
    }
    if (!accepted) {
        // Left shift: the line arrived one word early.
        auto *cand = reinterpret_cast<unsigned char *>(scratch_.get());
        std::memcpy(cand, reinterpret_cast<const unsigned char *>(&line) + 4, sizeof(ScanLineRec) - 4);
        std::memset(cand + sizeof(ScanLineRec) - 4, 0, 4);
        if (IsNavSane(*scratch_)) {
            std::memcpy(static_cast<void *>(&line), cand, sizeof(ScanLineRec));
            line.lineFlags |= NAV_REPAIRED;
            accepted = true;
        }
    }
    if (!accepted)
        return false;
    prevLineIndex_ = line.lineIndex;
    prevInterval_ = line.effectiveInterval();
    return true;
}

bool CDspDataBuffer::AddLine(ScanLineRec &line)
{
    if (!ValidateLine(line))
        return false;
    // One snapshot for the whole line.
    const FireDetectParams params = params_.Load();
    if (params.thresholdOverride != 0)
        line.fireThreshold = std::int32_t(params.thresholdOverride);

    ColdCurve &curve = *coldCurve_;
    const bool learning = !curve.locked();
    const double a0 = params.a0;
    const std::int32_t a0Trunc = std::int32_t(std::trunc(a0));
    // a > c + a0 + threshold, with a and c integers, is a - c > floor(T).
    const double sum = a0 + double(line.fireThreshold);
    const std::int64_t fireAbove = sum >= 4.0e9 ? std::int64_t(4000000000LL)
                                 : sum <= -4.0e9 ? std::int64_t(-4000000000LL)
                                                 : std::int64_t(std::floor(sum));
    const std::int32_t bMax = params.bMax;
    const std::int32_t bMin = params.bMin;
    std::int32_t maxMargin = INT32_MIN;
    std::uint8_t *pix = line.pix;
    const std::int32_t *chanA = line.chanA;
    const std::int32_t *chanB = line.chanB;

    for (int j = 0; j < SAMPLES_PER_LINE; ++j) {
        std::uint8_t p = pix[j];
        p = p == FIRE_PIXEL ? std::uint8_t(254) : p;
        const int i = SAMPLES_PER_LINE - 1 - j;
        const std::int32_t b = chanB[i];
        const std::int32_t rawA = chanA[i];
        // A damaged sample outside the 16-bit range is never used as a
        // curve index: not learned, not marked.
        if (((std::uint32_t(b) + 32768u) | (std::uint32_t(rawA) + 32768u)) > 65535u) {
            pix[j] = p;
            continue;
        }
        const std::int32_t a = rawA + 32768;
        const int idx = b + 32769;
        std::int32_t c = curve.at(idx);
        if (learning && c > a) {
            curve.set(idx, a);
            c = a;
        }
        const std::int32_t m = std::int32_t(std::uint32_t(a) - std::uint32_t(c) - std::uint32_t(a0Trunc));
        maxMargin = m > maxMargin ? m : maxMargin;
        const bool fire = (b > bMax) | ((b >= bMin) & (std::int64_t(a) - c > fireAbove));
        pix[j] = fire ? FIRE_PIXEL : p;
    }
    line.fireMargin = maxMargin;
    Store(line);
    return true;
}

bool CDspDataBuffer::StoreLine(ScanLineRec &line)
{
    if (!ValidateLine(line))
        return false;
    Store(line);
    return true;
}

void CDspDataBuffer::Store(const ScanLineRec &line)
{
    const int prev = writePos_.load(std::memory_order_relaxed);
    int next = prev + 1;
    if (next >= kCapacity)
        next = 0;
    ScanLineRec &slot = ring_[next];
    std::memcpy(static_cast<void *>(&slot), &line, sizeof(ScanLineRec));
    const ScanLineRec &before = ring_[prev];
    if (slot.lineIndex != before.lineIndex + before.effectiveInterval())
        slot.lineFlags |= LINE_GAP;
    writePos_.store(next, std::memory_order_release);
}

std::uint32_t CDspDataBuffer::TakeNewLineCount()
{
    const int w = writePos_.load(std::memory_order_acquire);
    int n = w - readPos_;
    if (n < 0)
        n += kCapacity;
    readPos_ = w;
    return std::uint32_t(n);
}

void CDspDataBuffer::GetPriorLine(std::uint32_t age, ScanLineRec *out) const
{
    int index = readPos_ - int(age % kCapacity);
    if (index < 0)
        index += kCapacity;
    std::memcpy(static_cast<void *>(out), &ring_[index], sizeof(ScanLineRec));
}

std::int32_t CDspDataBuffer::chnBOffset() const
{
    const std::int32_t v = CurrentLine().chnBOffset;
    return (v < -32768 || v > 32767) ? 0 : v;
}

void CDspDataBuffer::SetFireDetectParams(bool usePoly, std::int32_t bMax, std::int32_t bMin, double a2, double a1,
                                         double a0)
{
    params_.Update([&](FireDetectParams &p) {
        p.usePoly = usePoly;
        p.bMax = bMax;
        p.bMin = bMin;
        p.a2 = a2;
        p.a1 = a1;
        p.a0 = a0;
    });
}
