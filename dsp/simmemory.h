#pragma once
// Board memory of the simulated board (core local memories, shared memory,
// DDR), allocated a 4 KiB page at a time as it is touched. Core-local memory
// that the programs' loader must clear holds leftovers at power-up. Not
// thread-safe: the board serialises every access.
#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>

class SimMemory {
public:
    void read(std::uint32_t address, std::uint8_t *out, std::uint32_t n);
    void write(std::uint32_t address, const std::uint8_t *in, std::uint32_t n);
    std::uint32_t word(std::uint32_t address);
    void setWord(std::uint32_t address, std::uint32_t value);

private:
    using Page = std::array<std::uint8_t, 4096>;
    Page &page(std::uint32_t address);

    std::unordered_map<std::uint32_t, std::unique_ptr<Page>> pages_;
};
