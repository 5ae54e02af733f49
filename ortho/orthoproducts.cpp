#include "ortho/orthoproducts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ortho {

// ---------------------------------------------------------------- statistics

COrthoChannelStats::COrthoChannelStats() : histA_(65536, 0), histB_(65536, 0) { Reset(); }

void COrthoChannelStats::Reset()
{
    total_ = 0;
    minA_ = minB_ = nfMinA_ = nfMinB_ = 32767;
    maxA_ = maxB_ = nfMaxA_ = nfMaxB_ = -32768;
    countA_ = countB_ = 0;
    sumA_ = sumB_ = sumB2_ = 0.0;
    std::fill(histA_.begin(), histA_.end(), 0u);
    std::fill(histB_.begin(), histB_.end(), 0u);
}

void COrthoChannelStats::AddSample(std::int32_t rawA, std::int32_t rawB, bool fire)
{
    const int a = ClampSample(rawA), b = ClampSample(rawB);
    ++total_;
    if (a < minA_) minA_ = a;
    if (a > maxA_) maxA_ = a;
    if (b < minB_) minB_ = b;
    if (b > maxB_) maxB_ = b;
    if (fire)
        return;
    ++countA_;
    sumA_ += a;
    if (a < nfMinA_) nfMinA_ = a;
    if (a > nfMaxA_) nfMaxA_ = a;
    ++histA_[a + 32768];
    ++countB_;
    sumB_ += b;
    sumB2_ += double(b) * double(b);
    if (b < nfMinB_) nfMinB_ = b;
    if (b > nfMaxB_) nfMaxB_ = b;
    ++histB_[b + 32768];
}

void COrthoChannelStats::AddLine(const ScanLineRec &rec)
{
    // AddSample for every sample, with the running values in locals (the
    // histogram counts would otherwise make the compiler reload them).
    int minA = minA_, maxA = maxA_, minB = minB_, maxB = maxB_;
    int nfMinA = nfMinA_, nfMaxA = nfMaxA_, nfMinB = nfMinB_, nfMaxB = nfMaxB_;
    double sumA = sumA_, sumB = sumB_, sumB2 = sumB2_;
    std::uint64_t nonFire = 0;
    std::uint32_t *histA = histA_.data(), *histB = histB_.data();
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        const int a = ClampSample(rec.chanA[1679 - i]), b = ClampSample(rec.chanB[1679 - i]);
        minA = std::min(minA, a);
        maxA = std::max(maxA, a);
        minB = std::min(minB, b);
        maxB = std::max(maxB, b);
        if (rec.pix[i] == FIRE_PIXEL)
            continue;
        ++nonFire;
        sumA += a;
        nfMinA = std::min(nfMinA, a);
        nfMaxA = std::max(nfMaxA, a);
        ++histA[a + 32768];
        sumB += b;
        sumB2 += double(b) * double(b);
        nfMinB = std::min(nfMinB, b);
        nfMaxB = std::max(nfMaxB, b);
        ++histB[b + 32768];
    }
    total_ += SAMPLES_PER_LINE;
    countA_ += nonFire;
    countB_ += nonFire;
    minA_ = minA, maxA_ = maxA, minB_ = minB, maxB_ = maxB;
    nfMinA_ = nfMinA, nfMaxA_ = nfMaxA, nfMinB_ = nfMinB, nfMaxB_ = nfMaxB;
    sumA_ = sumA, sumB_ = sumB, sumB2_ = sumB2;
}

double COrthoChannelStats::MeanA() const { return countA_ ? sumA_ / double(countA_) : 0.0; }
double COrthoChannelStats::MeanB() const { return countB_ ? sumB_ / double(countB_) : 0.0; }

double COrthoChannelStats::Sigma(const std::vector<std::uint32_t> &hist, std::uint64_t count, double mean, int lo,
                                 int hi)
{
    if (count < 2)
        return 0.0;
    double sum = 0.0;
    for (int v = lo; v <= hi; ++v) {
        const std::uint32_t n = hist[v + 32768];
        if (n)
            sum += (v - mean) * (v - mean) * double(n);
    }
    return std::sqrt(sum / double(count - 1));
}

double COrthoChannelStats::SigmaA() const { return Sigma(histA_, countA_, MeanA(), nfMinA_, nfMaxA_); }
double COrthoChannelStats::SigmaB() const { return Sigma(histB_, countB_, MeanB(), nfMinB_, nfMaxB_); }

// -------------------------------------------------------------------- tables

COrthoTables::COrthoTables() : a_(65536, 0), b_(65536, 0), c_(65536, 0) {}

std::uint8_t TableCValue(int v)
{
    if (v <= -3501)
        return 1;
    if (v >= -499)
        return 254;
    int e = int(v * 0.08433333 + 253.0);
    if (e < 1) e = 1;
    if (e > 253) e = 253;
    return std::uint8_t(e);
}

void COrthoTables::Build(const COrthoChannelStats &stats, double sigmaB)
{
    std::fill(a_.begin(), a_.end(), 0);
    std::fill(b_.begin(), b_.end(), 0);
    std::fill(c_.begin(), c_.end(), 0);
    loA_ = hiA_ = loB_ = hiB_ = 0;
    if (stats.CountB() <= 1)
        return;

    // Channel B: a linear ramp from 1 at lo to 253 at hi.
    const double meanB = stats.MeanB(), sdB = stats.SigmaB();
    loB_ = int(meanB - sigmaB * sdB);
    hiB_ = int(meanB + sigmaB * sdB);
    const double step = hiB_ > loB_ ? 253.0 / double(hiB_ - loB_) : 253.0;
    bool ramp = false;
    double r = 1.0;
    for (int v = stats.MinB(); v <= stats.MaxB(); ++v) {
        std::uint8_t e;
        if (v < loB_) {
            e = 1;
        } else if (v > hiB_) {
            e = 254;
        } else {
            if (ramp)
                r += step;
            ramp = true;
            const int t = int(r + 0.5);
            e = std::uint8_t(t >= 254 ? 253 : (t < 1 ? 1 : t));
        }
        b_[Index(v)] = e;
        c_[Index(v)] = TableCValue(v);
    }

    // Channel A: three standard deviations either side, lo at 10.
    const double meanA = stats.MeanA(), sdA = stats.SigmaA();
    loA_ = int(meanA - 3.0 * sdA);
    hiA_ = int(meanA + 3.0 * sdA);
    // A flat channel (no spread) would divide by zero; one count of
    // spread keeps the mapping finite.
    const int span = hiA_ > loA_ ? hiA_ - loA_ : 1;
    const float s = 253.0f / float(span);
    const float offset = (273.0f - float(loA_ + loA_ + span) * s) / 2.0f;
    for (int v = stats.MinA(); v <= stats.MaxA(); ++v) {
        const float f = float(v) * s + offset;
        std::uint8_t e;
        if (f < 1.0f)
            e = 1;
        else if (f > 254.0f)
            e = 254;
        else {
            const int t = int(f);
            e = std::uint8_t(t == 254 ? 253 : t);
        }
        a_[Index(v)] = e;
    }
}

// -------------------------------------------------------------- row convert

bool ConvertRow(const OrthoCell *cells, const COrthoTables &tables, std::uint8_t *palette, std::uint8_t *rgb)
{
    std::memset(palette, 0, kPaletteRowBytes);
    std::uint8_t *data = palette + kDataColumn;
    std::uint8_t *triples = rgb + kDataColumn * 3;
    bool quarterFire[4] = {false, false, false, false};
    for (int c = 0; c < kGridColumns; ++c) {
        const OrthoCell &cell = cells[c];
        std::uint8_t *t = triples + 3 * c;
        if (cell.count == 0) {
            data[c] = kEmptyCell;
            t[0] = t[1] = t[2] = kEmptyCell;
            continue;
        }
        const double w = cell.weight;
        const int a = ClampSample(std::int32_t(std::max(-2147483648.0, std::min(2147483647.0, cell.sumA / w + 0.5))));
        const int b = ClampSample(std::int32_t(std::max(-2147483648.0, std::min(2147483647.0, cell.sumB / w + 0.5))));
        data[c] = tables.B(b);
        t[0] = tables.A(a);
        t[1] = tables.B(b);
        t[2] = tables.C(b);
        if (cell.fire) {
            data[c] = kFire;
            quarterFire[c / 400] = true;
        }
    }
    static const int tickStart[4] = {0, 13, 1640, 1653};
    for (int q = 0; q < 4; ++q)
        if (quarterFire[q])
            std::memset(palette + tickStart[q], kTick, 13);
    // The margins of the colour row: black where the palette row has a
    // mark, white elsewhere.
    for (int c = 0; c < kPaletteRowBytes; ++c) {
        if (c >= kDataColumn && c < kDataColumn + kGridColumns)
            continue;
        const std::uint8_t v = palette[c] ? 0 : 255;
        rgb[3 * c] = rgb[3 * c + 1] = rgb[3 * c + 2] = v;
    }
    return quarterFire[0] || quarterFire[1] || quarterFire[2] || quarterFire[3];
}

} // namespace ortho
