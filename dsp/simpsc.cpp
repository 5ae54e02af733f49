#include "dsp/simpsc.h"

#include "dsp/dspboot.h"

SimPowerController::SimPowerController(int completionReads, bool stuck, ModuleListener listener)
    : completionReads_(completionReads), stuck_(stuck), listener_(std::move(listener))
{
    for (std::uint32_t md = 0; md < 32; ++md) {
        mdctl_[md] = 0x103;
        mdstat_[md] = 0x303;
    }
    pdctl_.fill(1);
}

std::uint32_t SimPowerController::domainOf(std::uint32_t md)
{
    if (md >= 15 && md <= 22)
        return md - 7;   // core n: module 15 + n, domain 8 + n
    switch (md) {
    case 5: case 6: return 1;
    case 7: case 8: case 9: return 2;
    case 11: return 4;
    case 14: return 7;
    default: return 0;
    }
}

std::uint32_t SimPowerController::read(std::uint32_t off)
{
    if (off == dspboot::kPtcmd)
        return 0;
    if (off == dspboot::kPtstat) {
        const std::uint32_t v = ptstat_;
        if (!stuck_) {
            for (std::uint32_t pd = 0; pd < 32; ++pd) {
                if ((ptstat_ & (1u << pd)) && --pendingReads_[pd] <= 0)
                    completeDomain(pd);
            }
        }
        return v;
    }
    if (off >= 0x300 && off < 0x380)
        return pdctl_[(off - 0x300) / 4];
    if (off >= 0x800 && off < 0x880)
        return mdstat_[(off - 0x800) / 4];
    if (off >= 0xA00 && off < 0xA80)
        return mdctl_[(off - 0xA00) / 4];
    return 0;
}

void SimPowerController::write(std::uint32_t off, std::uint32_t v)
{
    if (off == dspboot::kPtcmd) {
        for (std::uint32_t pd = 0; pd < 32; ++pd) {
            if (v & (1u << pd)) {
                ptstat_ |= 1u << pd;
                pendingReads_[pd] = completionReads_;
                if (!stuck_ && completionReads_ <= 0)
                    completeDomain(pd);
            }
        }
    } else if (off >= 0x300 && off < 0x380) {
        pdctl_[(off - 0x300) / 4] = v;
    } else if (off >= 0xA00 && off < 0xA80) {
        mdctl_[(off - 0xA00) / 4] = v;
    }
}

void SimPowerController::completeDomain(std::uint32_t pd)
{
    ptstat_ &= ~(1u << pd);
    for (std::uint32_t md = 0; md < 32; ++md) {
        if (domainOf(md) != pd)
            continue;
        const bool lrstz = (mdctl_[md] & 0x100u) != 0;
        const std::uint32_t state = mdctl_[md] & 0x1Fu;
        mdstat_[md] = state | (lrstz ? 0x300u : 0u);
        if (listener_)
            listener_(md, lrstz, state);
    }
}
