#include "dsp/simfpga.h"

std::uint32_t SimFpga::read(std::uint32_t offset) const
{
    switch (offset) {
    case 0x10: return direction_;
    case 0x14: return out_;
    case 0x20: return (done_ ? 2u : 0u) | (out_ & 0x31u);
    default: return 0;
    }
}

void SimFpga::write(std::uint32_t offset, std::uint32_t v)
{
    switch (offset) {
    case 0x10: direction_ = v; break;
    case 0x14: output(v); break;
    case 0x18: output(out_ | v); break;
    case 0x1C: output(out_ & ~v); break;
    default: break;
    }
}

void SimFpga::output(std::uint32_t v)
{
    const std::uint32_t old = out_;
    out_ = v;
    // Only pins set as outputs (direction bit 0) reach the FPGA.
    const bool driven = (direction_ & 0x31u) == 0;
    if (!driven)
        return;
    const bool nconfigWas = old & 1u;
    const bool nconfig = v & 1u;
    if (nconfigWas && !nconfig) {
        configuring_ = false;
        done_ = false;
    } else if (!nconfigWas && nconfig) {
        configuring_ = true;
        bitPos_ = 0;
        shift_ = 0;
        bytes_.clear();
        rbf_.reset();
    }
    if (configuring_ && nconfig && !(old & 0x10u) && (v & 0x10u)) {
        shift_ |= std::uint8_t(((v >> 5) & 1u) << bitPos_);
        if (++bitPos_ == 8) {
            bytes_.push_back(shift_);
            rbf_.push(shift_);
            if (rbf_.complete() && !rejectImages_)
                done_ = true;
            bitPos_ = 0;
            shift_ = 0;
        }
    }
}
