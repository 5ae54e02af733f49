#pragma once
// The pieces of the ortho products that do not depend on geometry: the
// channel statistics of a run, the three value tables that turn channel
// values into image bytes, the accumulation cell, and the conversion of one
// row of accumulation cells into a palette row and an RGB row.
//
// Image bytes: 0..253 grey (0 white), 254 black (fire ticks), 255 red
// (fire), 100 an empty cell.
#include "datasource/scanline.h"

#include <cstdint>
#include <vector>

namespace ortho {

constexpr int kGridColumns = 1600;
constexpr int kGridRows = 1600;
constexpr int kPaletteRowBytes = 1728;
constexpr int kRgbRowBytes = kPaletteRowBytes * 3;
constexpr int kDataColumn = 33;          // first data pixel of a row
constexpr std::uint8_t kEmptyCell = 100;
constexpr std::uint8_t kTick = 254;
constexpr std::uint8_t kFire = 255;

// One cell of the accumulation grid; all zeros when empty.
struct OrthoCell {
    double sumA;
    double sumB;
    double weight;
    std::uint32_t count;
    std::uint8_t fire;
};

inline int ClampSample(std::int32_t v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : int(v)); }

// Channel statistics over every sample of a run. Fire samples (pix 255)
// count only for the value range; the rest also for the stretch.
class COrthoChannelStats {
public:
    COrthoChannelStats();
    void Reset();
    // Every sample of the line: chanA/chanB[1679 - i] with pix[i].
    void AddLine(const ScanLineRec &rec);
    void AddSample(std::int32_t a, std::int32_t b, bool fire);

    bool Any() const { return total_ > 0; }
    int MinA() const { return minA_; }
    int MaxA() const { return maxA_; }
    int MinB() const { return minB_; }
    int MaxB() const { return maxB_; }
    // Non-fire samples.
    std::uint64_t CountA() const { return countA_; }
    std::uint64_t CountB() const { return countB_; }
    double SumA() const { return sumA_; }
    double SumB() const { return sumB_; }
    double SumB2() const { return sumB2_; }
    int NonFireMinA() const { return nfMinA_; }
    int NonFireMaxA() const { return nfMaxA_; }
    int NonFireMinB() const { return nfMinB_; }
    int NonFireMaxB() const { return nfMaxB_; }
    double MeanA() const;
    double MeanB() const;
    // Sample standard deviation over the histogram (0 with fewer than two samples).
    double SigmaA() const;
    double SigmaB() const;

private:
    static double Sigma(const std::vector<std::uint32_t> &hist, std::uint64_t count, double mean, int lo, int hi);

    std::uint64_t total_ = 0;
    int minA_, maxA_, minB_, maxB_;
    std::uint64_t countA_ = 0, countB_ = 0;
    double sumA_ = 0, sumB_ = 0, sumB2_ = 0;
    int nfMinA_, nfMaxA_, nfMinB_, nfMaxB_;
    std::vector<std::uint32_t> histA_, histB_;   // index value + 32768
};

// The three lookup tables of a run. A lookup outside the run's value range
// of the channel yields 0; with at most one non-fire channel-B sample every
// table is all zeros.
class COrthoTables {
public:
    COrthoTables();
    void Build(const COrthoChannelStats &stats, double sigmaB);
    std::uint8_t A(int v) const { return a_[Index(v)]; }
    std::uint8_t B(int v) const { return b_[Index(v)]; }
    std::uint8_t C(int v) const { return c_[Index(v)]; }

    // The stretch limits of the last Build (for checks and reports).
    int LoA() const { return loA_; }
    int HiA() const { return hiA_; }
    int LoB() const { return loB_; }
    int HiB() const { return hiB_; }

private:
    static int Index(int v) { return ClampSample(v) + 32768; }
    std::vector<std::uint8_t> a_, b_, c_;
    int loA_ = 0, hiA_ = 0, loB_ = 0, hiB_ = 0;
};

// Table C entry of a channel-B value (inside the run's range).
std::uint8_t TableCValue(int v);

// Converts one row of 1600 cells. palette: 1728 bytes, rgb: 5184 bytes.
// Returns true when any data pixel is a fire pixel.
bool ConvertRow(const OrthoCell *cells, const COrthoTables &tables, std::uint8_t *palette, std::uint8_t *rgb);

} // namespace ortho
