#include "dsp/simpcie.h"

#include "dsp/driverchannel.h"

namespace {
constexpr std::array<std::uint32_t, 6> kBarBase{{0xF7F00000, 0xF6000008, 0xF5000000, 0xF4000000, 0xF3000000, 0}};
constexpr std::size_t kDiagnosticLimit = 1000;
} // namespace

SimPcie::SimPcie(const std::array<std::uint32_t, 6> &barSize, bool lowestSetWins,
                 std::vector<std::string> *diagnostics)
    : barSize_(barSize), lowestSetWins_(lowestSetWins), diagnostics_(diagnostics)
{
    for (int b = 0; b < 6; ++b)
        barValue_[b] = barSize_[b] ? kBarBase[b] : 0;
}

// The BAR registers behave as real ones do, keeping only the address bits
// their size allows, so writing all ones and reading back gives the size mask.
std::uint32_t SimPcie::configRead(std::uint32_t offset) const
{
    if (offset == 0)
        return kDeviceVendor;
    if (offset >= 0x10 && offset < 0x28 && (offset & 3) == 0)
        return barValue_[(offset - 0x10) / 4];
    return 0;
}

void SimPcie::configWrite(std::uint32_t offset, std::uint32_t value)
{
    if (offset >= 0x10 && offset < 0x28 && (offset & 3) == 0) {
        const std::uint32_t bar = (offset - 0x10) / 4;
        const std::uint32_t size = barSize_[bar];
        if (size == 0)
            barValue_[bar] = 0;
        else
            barValue_[bar] = (value & ~(size - 1) & ~0xFu) | (kBarBase[bar] & 0xFu);
    }
}

void SimPcie::bar0Write(std::uint32_t wordIndex, std::uint32_t value)
{
    bar0_[wordIndex] = value;
    const std::uint32_t offset = wordIndex * 4;
    if (offset >= kFirstSet && offset < kFirstSet + 0x10 * kSets)
        setSeq_[(offset - kFirstSet) / 0x10] = ++seq_;
}

bool SimPcie::translate(std::uint32_t bar, std::uint32_t byteOffset, std::uint32_t *address, std::uint32_t *error)
{
    if (bar > 5 || barSize_[bar] == 0 || byteOffset >= barSize_[bar]) {
        *error = dspdrv::kErrorInvalidParameter;
        return false;
    }
    int best = -1;
    int matches = 0;
    for (int s = 0; s < kSets; ++s) {
        const std::uint32_t base = (kFirstSet + 0x10 * s) / 4;
        if (bar0_[base] != bar || bar0_[base + 1] != (barValue_[bar] & ~0xFu) || setSeq_[s] == 0)
            continue;
        ++matches;
        if (best < 0 || (!lowestSetWins_ && setSeq_[s] > setSeq_[best]))
            best = s;
    }
    if (best < 0) {
        if (diagnostics_->size() < kDiagnosticLimit)
            diagnostics_->push_back("access through BAR " + std::to_string(bar) + " with no translation set");
        *error = dspdrv::kErrorGenFailure;
        return false;
    }
    if (matches > 1 && lowestSetWins_ && diagnostics_->size() < kDiagnosticLimit)
        diagnostics_->push_back("access through BAR " + std::to_string(bar) + " mapped by " + std::to_string(matches)
                                + " translation sets");
    *address = (bar0_[(kFirstSet + 0x10 * best) / 4 + 3] & 0xFFFFFF00u) + byteOffset;
    return true;
}
