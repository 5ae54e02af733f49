#include "dsp/simmemory.h"

#include <algorithm>
#include <cstring>

namespace {

// Core-local memory the programs' loader must clear holds leftovers at power-up.
bool dirtyAtPowerUp(std::uint32_t address)
{
    const std::uint32_t core = (address >> 24) - 0x10;
    if (core > 7)
        return false;
    const std::uint32_t local = address & 0x00FFFFFF;
    return local >= 0x800000 && local < 0x850000;
}

} // namespace

SimMemory::Page &SimMemory::page(std::uint32_t address)
{
    const std::uint32_t key = address >> 12;
    auto it = pages_.find(key);
    if (it != pages_.end())
        return *it->second;
    auto p = std::make_unique<Page>();
    if (dirtyAtPowerUp(address)) {
        for (std::size_t i = 0; i < p->size(); i += 4) {
            (*p)[i] = 0xEF;
            (*p)[i + 1] = 0xBE;
            (*p)[i + 2] = 0xAD;
            (*p)[i + 3] = 0xDE;
        }
    } else {
        p->fill(0);
    }
    Page &ref = *p;
    pages_.emplace(key, std::move(p));
    return ref;
}

void SimMemory::read(std::uint32_t address, std::uint8_t *out, std::uint32_t n)
{
    while (n > 0) {
        const std::uint32_t off = address & 0xFFF;
        const std::uint32_t take = std::min<std::uint32_t>(n, 4096 - off);
        std::memcpy(out, page(address).data() + off, take);
        address += take;
        out += take;
        n -= take;
    }
}

void SimMemory::write(std::uint32_t address, const std::uint8_t *in, std::uint32_t n)
{
    while (n > 0) {
        const std::uint32_t off = address & 0xFFF;
        const std::uint32_t take = std::min<std::uint32_t>(n, 4096 - off);
        std::memcpy(page(address).data() + off, in, take);
        address += take;
        in += take;
        n -= take;
    }
}

std::uint32_t SimMemory::word(std::uint32_t address)
{
    std::uint32_t v = 0;
    read(address, reinterpret_cast<std::uint8_t *>(&v), 4);
    return v;
}

void SimMemory::setWord(std::uint32_t address, std::uint32_t value)
{
    write(address, reinterpret_cast<const std::uint8_t *>(&value), 4);
}
