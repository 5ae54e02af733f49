#pragma once
// The simulated board's GPIO pins and the FPGA configured through them:
// nCONFIG on pin 0, CONF_DONE read on pin 1, DCLK on pin 4 and DATA on
// pin 5; the FPGA takes an image bit by bit on rising clock edges, least
// significant bit first. Not thread-safe: the board serialises every access.
#include "dsp/simbootfiles.h"

#include <cstdint>
#include <vector>

class SimFpga {
public:
    static constexpr std::uint32_t kGpioBase = 0x02320000;

    explicit SimFpga(bool rejectImages) : rejectImages_(rejectImages) {}

    // Register offsets inside the GPIO block.
    std::uint32_t read(std::uint32_t offset) const;
    void write(std::uint32_t offset, std::uint32_t value);

    bool configured() const { return done_; }
    const std::vector<std::uint8_t> &bytes() const { return bytes_; }

private:
    void output(std::uint32_t value);

    bool rejectImages_;
    std::uint32_t direction_ = 0xFFFF;
    std::uint32_t out_ = 0;
    bool configuring_ = false;
    bool done_ = false;
    int bitPos_ = 0;
    std::uint8_t shift_ = 0;
    std::vector<std::uint8_t> bytes_;
    simboot::RbfChecker rbf_;
};
