#pragma once
// The simulated board's PCIe side: the BAR registers and their sizing
// through configuration space, the application registers behind BAR 0, and
// the inbound translation sets that map BARs 1 to 5 onto board addresses.
// Not thread-safe: the board serialises every access.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

class SimPcie {
public:
    static constexpr std::uint32_t kDeviceVendor = 0xB005104C;
    static constexpr std::uint32_t kFirstSet = 0x300;   // BAR 0 offset of translation set 0
    static constexpr int kSets = 4;
    static constexpr std::uint32_t kBar0Words = 1024;

    // When lowestSetWins is set, two sets mapping the same BAR resolve to the
    // lowest-numbered one (and the ambiguity is noted), as the hardware is
    // free to; otherwise the set written last wins.
    SimPcie(const std::array<std::uint32_t, 6> &barSize, bool lowestSetWins, std::vector<std::string> *diagnostics);

    std::uint32_t configRead(std::uint32_t offset) const;
    void configWrite(std::uint32_t offset, std::uint32_t value);

    bool bar0Valid(std::uint32_t wordIndex) const { return wordIndex < kBar0Words; }
    std::uint32_t bar0Read(std::uint32_t wordIndex) const { return bar0_[wordIndex]; }
    void bar0Write(std::uint32_t wordIndex, std::uint32_t value);

    std::uint32_t barSize(std::uint32_t bar) const { return bar < 6 ? barSize_[bar] : 0; }
    // The board address behind byte offset `byteOffset` of `bar` (1..5).
    // False with the system error when the BAR or offset is invalid or no
    // translation set maps the BAR.
    bool translate(std::uint32_t bar, std::uint32_t byteOffset, std::uint32_t *address, std::uint32_t *error);

private:
    std::array<std::uint32_t, 6> barSize_;
    bool lowestSetWins_;
    std::vector<std::string> *diagnostics_;
    std::array<std::uint32_t, 6> barValue_{};
    std::array<std::uint32_t, kBar0Words> bar0_{};
    std::array<std::uint64_t, kSets> setSeq_{};
    std::uint64_t seq_ = 0;
};
