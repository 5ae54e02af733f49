#include "dsp/dspboot.h"

#include "dsp/boardaccess.h"
#include "dsp/dspconsole.h"
#include "dsp/dsptiming.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

namespace dspboot {
namespace {

constexpr std::uint32_t kBar0 = 0;
constexpr std::uint32_t kBar1 = 1;
constexpr std::uint32_t kBar3 = 3;
constexpr int kPscRetries = 10;
constexpr int kDoneReads = 1000;
constexpr std::uint32_t kRbfBlock = 10000;
// Zeroed tail of a segment that the loader is prepared to clear.
constexpr std::uint32_t kMaxClear = 64u * 1024 * 1024;

// ---- the built-in boot image, as constant big-endian table data ----

constexpr void putBe(std::array<std::uint8_t, kBootImageBytes> &t, std::size_t &i, std::uint32_t v)
{
    t[i++] = std::uint8_t(v >> 24);
    t[i++] = std::uint8_t(v >> 16);
    t[i++] = std::uint8_t(v >> 8);
    t[i++] = std::uint8_t(v);
}

constexpr std::array<std::uint8_t, kBootImageBytes> makeBootImage()
{
    std::array<std::uint8_t, kBootImageBytes> t{};
    std::size_t i = 0;
    putBe(t, i, kBootImageEntry);
    struct Section {
        std::uint32_t bytes, address, seed;
    };
    const Section sections[3] = {
        {2240, 0x00872DC0, 0x1234567u}, {128, 0x00878000, 0x89ABCDEu}, {32, 0x00873A8C, 0x5A5A5A5u}};
    for (const Section &s : sections) {
        putBe(t, i, s.bytes);
        putBe(t, i, s.address);
        std::uint32_t x = s.seed;
        for (std::uint32_t w = 0; w < s.bytes / 4; ++w) {
            x = x * 1664525u + 1013904223u;
            // Instruction-like words: a fixed opcode field with varying operands.
            putBe(t, i, (x & 0x0FFFFFFCu) | 0x10000000u);
        }
    }
    putBe(t, i, 0);
    return t;
}

constexpr std::array<std::uint8_t, kBootImageBytes> kBootImage = makeBootImage();

std::uint32_t be32(const std::uint8_t *p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

[[noreturn]] void fail(const std::string &text) { throw DspBootError(text); }

std::string timeoutText(const char *text, std::uint32_t pid, int core, std::uint32_t state)
{
    std::string s = text;
    s += std::to_string(pid);
    if (core >= 0) {
        s += " core ";
        s += std::to_string(core);
    }
    s += " state: ";
    s += std::to_string(state);
    s += "\n";
    return s;
}

// Board register through BAR 3 with a window move on set 0x320.
void writeReg(BoardAccess &b, std::uint32_t address, std::uint32_t value, const char *error)
{
    if (b.WriteAddress(kBar3, address, value, true, BoardAccess::kSetBoot) != 0)
        fail(error);
}

std::uint32_t readReg(BoardAccess &b, std::uint32_t address, const char *error)
{
    std::uint32_t v = 0;
    if (b.ReadAddress(kBar3, address, &v, true, BoardAccess::kSetBoot) != 0)
        fail(error);
    return v;
}

void priority(BoardAccess &b, std::uint32_t value, const char *error)
{
    if (b.WriteAddress(kBar0, kPriorityOffset, value, false) != 0)
        fail(error);
}

void mapPsc(BoardAccess &b, const char *error)
{
    if (b.SetInboundWindow(kBar3, BoardAccess::kSetBoot, kPscBase) <= 0)
        fail(error);
}

std::uint32_t pscRead(BoardAccess &b, std::uint32_t offset, const char *error)
{
    std::uint32_t v = 0;
    if (b.ReadAddress(kBar3, offset, &v, false) != 0)
        fail(error);
    return v;
}

void pscWrite(BoardAccess &b, std::uint32_t offset, std::uint32_t value, const char *error)
{
    if (b.WriteAddress(kBar3, offset, value, false) != 0)
        fail(error);
}

// Test, and while the condition does not hold sleep 1 ms and test again;
// false after 10 sleeps.
template <typename Cond>
bool waitPsc(Cond cond)
{
    for (int sleeps = 0;; ++sleeps) {
        if (cond())
            return true;
        if (sleeps == kPscRetries)
            return false;
        dsptiming::sleepMs(1);
    }
}

bool ptstatClear(BoardAccess &b, std::uint32_t bit, const char *readError)
{
    return waitPsc([&] { return (pscRead(b, kPtstat, readError) & (1u << bit)) == 0; });
}

void dummyRead(BoardAccess &b, const char *error)
{
    std::uint32_t v = 0;
    if (b.ReadAddress(kBar0, kDummyReadOffset, &v, false) != 0)
        fail(error);
}

struct ElfSegment {
    std::uint32_t type, offset, vaddr, paddr, filesz, memsz;
};

std::uint32_t le32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
std::uint16_t le16(const std::uint8_t *p) { return std::uint16_t(p[0] | (p[1] << 8)); }

void loadPhdr(BoardAccess &b, std::ifstream &file, std::uint64_t fileSize, const ElfSegment &seg,
              std::uint32_t address, std::uint32_t bar)
{
    if (std::uint64_t(seg.offset) + seg.filesz > fileSize)
        fail("loadPhdr: Unable to read segment!");
    std::vector<std::uint8_t> data((seg.filesz + 3u) & ~3u, 0);
    if (seg.filesz) {
        file.clear();
        file.seekg(std::streamoff(seg.offset));
        file.read(reinterpret_cast<char *>(data.data()), std::streamsize(seg.filesz));
        if (std::uint32_t(file.gcount()) != seg.filesz)
            fail("loadPhdr: Unable to read segment!");
    }

    const std::int64_t window = b.SetInboundWindow(bar, BoardAccess::kSetBoot, address);
    if (window <= 4)
        fail("loadPhdr: Unable to read PCIESS_IB_OFFSET0!");
    const std::uint32_t chunk = std::uint32_t(window - 4);
    dummyRead(b, "loadPhdr: Unable to read PCIESS_IB_OFFSET0!");

    // A write must not run past the end of the window, which starts at the
    // address with its low 8 bits cleared.
    auto piece = [&](std::uint32_t addr, std::uint32_t left) {
        std::uint32_t n = std::min(left, chunk);
        const std::uint32_t room = std::uint32_t(window) - (addr & 0xFF);
        return std::min(n, room);
    };
    std::uint32_t left = seg.filesz;
    const std::uint8_t *p = data.data();
    while (left > 0) {
        const std::uint32_t n = piece(address, left);
        if (b.WriteAddressBuf(bar, address, n, 0, p, true, BoardAccess::kSetBoot) != 0)
            fail("loadPhdr: Unable to write buffer!");
        address += n;
        p += n;
        left -= n;
    }
    dummyRead(b, "loadPhdr: Unable to read(PCIESS_IB_OFFSET0)!");

    if (seg.memsz > seg.filesz) {
        const std::uint32_t count = seg.memsz - seg.filesz;
        if (count > kMaxClear)
            fail("loadPhdr: Unable to configure dma!");
        if (b.SetInboundWindow(kBar3, BoardAccess::kSetBoot, kDmaController0) <= 0)
            fail("loadPhdr: Unable to configure dma!");
        const std::uint32_t words[9] = {0, 1, 100, 1, 0, 0, 1, 4, 0};
        if (b.SetupDMA(words) != 0)
            fail("loadPhdr: Unable to configure dma!");
        std::vector<std::uint8_t> zeros(count, 0);
        if (b.WriteDma(address, 0, 0, count, zeros.data(), true) != 0)
            fail("loadPhdr: Write dma failed!");
    }
}

} // namespace

const std::array<std::uint8_t, kBootImageBytes> &bootImage() { return kBootImage; }

std::uint32_t translateLocalAddress(std::uint32_t address, std::uint32_t core)
{
    if (address >= 0x800000 && address < 0x87FFFF)
        return address + ((core + 16u) << 24);
    return address;
}

// ------------------------------------------------------------------- PSC

void coreLocalReset(BoardAccess &b, std::uint32_t core, bool release)
{
    const char *readPt = "coreLocalReset: ReadAddress failed(ptstat)!";
    const std::uint32_t pid = 8 + core;
    const std::uint32_t md = 15 + core;
    priority(b, 0x10000, "coreLocalReset: WriteAddress failed(priority)!");
    mapPsc(b, "coreLocalReset: ReadAddress failed(mdctl)!");
    std::uint32_t v = pscRead(b, mdctl(md), "coreLocalReset: ReadAddress failed(mdctl)!");
    v = release ? ((v & ~0x1Cu) | 0x103u) : ((v & ~0x11Cu) | 3u);
    pscWrite(b, mdctl(md), v, "coreLocalReset: WriteAddress failed(mdctl)!");
    if (!ptstatClear(b, pid, readPt))
        fail(timeoutText("coreLocalReset: Previous transition check timeout: pid ", pid, int(core), 3));
    pscWrite(b, kPtcmd, 1u << pid, "coreLocalReset: WriteAddress failed(ptcmd)!");
    if (!ptstatClear(b, pid, readPt))
        fail(timeoutText("coreLocalReset: Transition timeout: pid ", pid, int(core), 3));
    if (!waitPsc([&] { return (pscRead(b, mdstat(md), readPt) & 0x3F) == 3; }))
        fail(timeoutText("coreLocalReset: State change timeout: pid ", pid, int(core), 3));
    priority(b, 0, "coreLocalReset: WriteAddress failed(priority)!");
}

void setPscState(BoardAccess &b, std::uint32_t pd, std::uint32_t md, std::uint32_t state)
{
    const char *readPt = "setPscState: ReadAddress failed(ptstat)!";
    priority(b, 0x10000, "setPscState: WriteAddress failed(priority)!");
    mapPsc(b, "setPscState: ReadAddress failed(mdctl)!");
    const std::uint32_t ctl = pscRead(b, mdctl(md), "setPscState: ReadAddress failed(mdctl)!");
    const std::uint32_t pdc = pscRead(b, pdctl(pd), "setPscState: ReadAddress failed(pdctl)!");
    if (!ptstatClear(b, pd, readPt))
        fail(timeoutText("Error: setPscState: Previous transition timeout: pid ", pd, -1, state));
    pscWrite(b, pdctl(pd), pdc | 1u, "setPscState: WriteAddress failed(pdctl)!");
    pscWrite(b, mdctl(md), (ctl & ~0x1Fu) | state, "setPscState: WriteAddress failed(mdctl)!");
    const std::uint32_t cmd = pscRead(b, kPtcmd, "setPscState: ReadAddress failed(ptcmd)!");
    pscWrite(b, kPtcmd, cmd | (1u << pd), "setPscState: WriteAddress failed(ptcmd)!");
    if (!ptstatClear(b, pd, readPt))
        fail(timeoutText("Error: setPscState: Current transition timeout: pid ", pd, -1, state));
    if (!waitPsc([&] { return (pscRead(b, mdstat(md), readPt) & 0x3F) == state; }))
        fail(timeoutText("Error: Current state timeout: pid ", pd, -1, state));
    priority(b, 0, "setPscState: WriteAddress failed(priority)!");
}

void setPDState(BoardAccess &b, std::uint32_t pd, std::uint32_t state)
{
    const char *readPt = "setPDState: ReadAddress failed(ptstat)!";
    priority(b, 0x10000, "setPDState: WriteAddress failed(priority)!");
    mapPsc(b, "setPDState: ReadAddress failed(pdctl)!");
    const std::uint32_t pdc = pscRead(b, pdctl(pd), "setPDState: ReadAddress failed(pdctl)!");
    if (!ptstatClear(b, pd, readPt))
        fail(timeoutText("Error: setPDState: Previous transition timeout: pid ", pd, -1, state));
    pscWrite(b, pdctl(pd), (pdc & ~1u) | state, "setPDState: WriteAddress failed(pdctl)!");
    const std::uint32_t cmd = pscRead(b, kPtcmd, "setPDState: ReadAddress failed(ptcmd)!");
    pscWrite(b, kPtcmd, cmd | (1u << pd), "setPDState: WriteAddress failed(ptcmd)!");
    if (!ptstatClear(b, pd, readPt))
        fail(timeoutText("Error: setPDState: Current transition timeout: pid ", pd, -1, state));
    priority(b, 0, "setPDState: WriteAddress failed(priority)!");
}

void set_SA_state_to_reset(BoardAccess &b)
{
    writeReg(b, 0x020C1000, 0, "\nset_SA_state_to_reset: WriteAddress failed(pdsp)!");
    writeReg(b, 0x020C1100, 0, "\nset_SA_state_to_reset: WriteAddress failed(pdsp)!");
    dsptiming::sleepMs(1);
}

void set_PA_state_to_reset(BoardAccess &b)
{
    for (std::uint32_t a = 0x02001000; a <= 0x02001500; a += 0x100)
        writeReg(b, a, 0, "set_PA_state_to_reset: WriteAddress failed(pdsp)!");
    writeReg(b, 0x02000404, 1, "set_PA_state_to_reset: WriteAddress failed(pid)!");
    writeReg(b, 0x02000504, 1, "set_PA_state_to_reset: WriteAddress failed(lut2)!");
    writeReg(b, 0x02006004, 1, "set_PA_state_to_reset: WriteAddress failed(stats)!");
    for (std::uint32_t a = 0x02003000; a <= 0x02003500; a += 0x100)
        writeReg(b, a, 0, "set_PA_state_to_reset: WriteAddress failed(pdsp)!");
    dsptiming::sleepMs(1);
}

namespace {
const std::pair<std::uint32_t, std::uint32_t> kShutdownPairs[] = {{0, 0}, {0, 3}, {0, 4}, {1, 5},
                                                                   {1, 6}, {4, 11}, {7, 14}};
}

void dspAssertLocalReset(BoardAccess &b, std::uint32_t first, std::uint32_t count)
{
    if (first + count > 8 || count == 0)
        fail("dspAssertLocalReset: Invalid parameters!");
    for (int core = 3; core >= 0; --core)
        coreLocalReset(b, std::uint32_t(core), false);

    struct Rmw {
        std::uint32_t address;
        bool set;   // OR 0x40000000, else AND NOT 2
        const char *name;
    };
    const Rmw words[] = {{0x02004400, true, "TX FAIL"}, {0x02004800, true, "RX FAIL"}, {0x02001000, false, "pdsp0"},
                         {0x02001100, false, "pdsp1"},  {0x02001200, false, "pdsp2"},  {0x02001300, false, "pdsp3"},
                         {0x02001400, false, "pdsp4"},  {0x02001500, false, "pdsp5"}};
    for (const Rmw &w : words) {
        const std::string readErr = std::string("dspAssertLocalReset: ReadAddress failed(") + w.name + ")!";
        const std::string writeErr = std::string("dspAssertLocalReset: WriteAddress failed(") + w.name + ")!";
        std::uint32_t v = readReg(b, w.address, readErr.c_str());
        v = w.set ? (v | 0x40000000u) : (v & ~2u);
        writeReg(b, w.address, v, writeErr.c_str());
    }
    if (count == 1)
        return;

    for (const auto &p : kShutdownPairs)
        setPscState(b, p.first, p.second, 0);
    set_SA_state_to_reset(b);
    set_PA_state_to_reset(b);
    setPscState(b, 2, 9, 0);
    setPscState(b, 2, 8, 0);
    setPscState(b, 2, 7, 0);
    setPDState(b, 2, 0);
}

void downloadSimpleLoopCode(BoardAccess &b, std::uint32_t address)
{
    const char *err = "downloadSimpleLoopCode: WriteAddress failed(priority)!";
    priority(b, 0x10000, err);
    for (std::uint32_t i = 0; i < 8; ++i)
        writeReg(b, address + 4 * i, kIdleLoopWord, err);
    priority(b, 0, err);
}

void dspDeAssertLocalReset(BoardAccess &b, std::uint32_t first, std::uint32_t count, std::uint32_t entry)
{
    if (first + count > 8 || count == 0)
        fail("dspDeAssertLocalReset: Invalid parameters!");
    const bool multi = count != 1;
    if (multi)
        setPscState(b, 7, 14, 3);
    downloadSimpleLoopCode(b, entry != 0 ? entry : kSharedMemory);
    for (std::uint32_t core = first; core < first + count; ++core)
        setBootAddr(b, core, kSharedMemory);
    if (multi)
        setPscState(b, 0, 0, 3);
    for (int core = 3; core >= 0; --core)
        coreLocalReset(b, std::uint32_t(core), true);
    dsptiming::sleepMs(5000);
    for (int core = 3; core >= 0; --core)
        coreLocalReset(b, std::uint32_t(core), false);
    if (multi)
        setPscState(b, 0, 0, 0);
    for (std::uint32_t core = first; core < first + count; ++core) {
        const std::uint32_t e = loadHEX(b, kBar1, core);
        dspconsole::print("Entry point: 0x%x\n", e);
        setBootAddr(b, core, e);
    }
    if (multi)
        for (const auto &p : kShutdownPairs)
            setPscState(b, p.first, p.second, 3);
    for (int core = 3; core >= 0; --core)
        coreLocalReset(b, std::uint32_t(core), true);
}

std::uint32_t loadHEX(BoardAccess &b, std::uint32_t bar, std::uint32_t core)
{
    const std::uint8_t *image = bootImage().data();
    std::size_t i = 0;
    auto next = [&] {
        const std::uint32_t v = be32(image + i);
        i += 4;
        return v;
    };
    const std::uint32_t entry = next();
    std::vector<std::uint32_t> data;
    for (;;) {
        const std::uint32_t size = next();
        if (size == 0)
            break;
        std::uint32_t address = translateLocalAddress(next(), core);
        const std::uint32_t words = size > 3 ? size / 4 : 0;
        data.resize(words);
        for (std::uint32_t w = 0; w < words; ++w)
            data[w] = next();

        const std::int64_t window = b.SetInboundWindow(bar, BoardAccess::kSetBootImage, address);
        if (window <= 0)
            fail("loadHEX: WriteAddressBuf failed!");
        dummyRead(b, "loadHEX: ReadAddress failed(Dummy read)!");
        std::uint32_t left = words * 4;
        const std::uint8_t *p = reinterpret_cast<const std::uint8_t *>(data.data());
        // Never write past the end of the window (it starts at the address
        // with its low 8 bits cleared).
        while (left > std::uint32_t(window) - (address & 0xFF)) {
            const std::uint32_t n = std::uint32_t(window) - (address & 0xFF);
            if (b.WriteAddressBuf(bar, address & 0xFF, n, 0, p, false) != 0)
                fail("loadHEX: WriteAddressBuf failed!");
            address += n;
            p += n;
            left -= n;
            dspconsole::write("Window needs to be moved!!!\n");
            if (b.SetInboundWindow(bar, BoardAccess::kSetBootImage, address) <= 0)
                fail("loadHEX: WriteAddressBuf failed!");
        }
        if (left > 0 && b.WriteAddressBuf(bar, address & 0xFF, left, 0, p, false) != 0)
            fail("loadHEX: WriteAddressBuf failed!");
        if (b.SetInboundWindow(bar, BoardAccess::kSetBootImage, address + left) <= 0)
            fail("loadHEX: WriteAddressBuf failed!");
        dummyRead(b, "loadHEX: ReadAddress failed!");
    }
    return entry;
}

// ------------------------------------------------------------------- FPGA

bool fpgaDone(BoardAccess &b)
{
    return (readReg(b, kGpioIn, "fpgaDone: ReadAddress failed!") & 2u) != 0;
}

void startCONFIG(BoardAccess &b)
{
    writeReg(b, kGpioSet, 1, "startCONFIG: WriteAddress failed(set)!");
    dsptiming::sleepMs(1);
    writeReg(b, kGpioClear, 1, "startCONFIG: WriteAddress failed(deassert)!");
    dsptiming::sleepMs(1);
    writeReg(b, kGpioSet, 1, "startCONFIG: WriteAddress failed(assert)!");
    dsptiming::sleepMs(1);
    dsptiming::sleepMs(100);
    for (int i = 0; i < kDoneReads; ++i)
        if (!fpgaDone(b))
            return;
    fail("startCONFIG: Done bit failed to go low!");
}

void writeDataClk(BoardAccess &b, const std::uint8_t *bytes, std::uint32_t count)
{
    if (count == 0)
        return;
    std::vector<std::uint32_t> words;
    words.reserve(std::size_t(count) * 16);
    for (std::uint32_t i = 0; i < count; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            const std::uint32_t d = (bytes[i] >> bit) & 1u;
            words.push_back((d << 5) | 0x01u);   // clock low, nCONFIG high, data
            words.push_back((d << 5) | 0x11u);   // clock high
        }
    }
    if (b.WriteAddressStatic(kBar3, kGpioOut, std::uint32_t(words.size()), 2, words.data(), true) != 0)
        fail("writeDataClk: WriteAddressStatic failed!");
}

void configureFPGA_GPIO(BoardAccess &b, const std::string &fileName)
{
    writeReg(b, kGpioSet, 1, "configureFPGA_GPIO: WriteAddress failed(GPIO DATA)!");
    writeReg(b, kGpioDir, kGpioDirection, "configureFPGA_GPIO: WriteAddress failed(GPIO DIR)!");

    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        fail("no input file!");
    dspconsole::write("Programming file: " + fileName + " opened...\n");
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    if (end < 0)
        fail("no input file!");
    file.seekg(0, std::ios::beg);
    const std::uint32_t size = std::uint32_t(end);
    std::vector<std::uint8_t> data(size);
    file.read(reinterpret_cast<char *>(data.data()), std::streamsize(size));
    const std::uint32_t got = std::uint32_t(file.gcount());
    if (got != size) {
        const std::string text = "error: only " + std::to_string(got) + " could be read";
        dspconsole::write(text + "\n");
        fail(text);
    }

    startCONFIG(b);

    const std::uint32_t blocks = size / kRbfBlock;
    const std::uint32_t rest = size - blocks * kRbfBlock;
    for (std::uint32_t k = 0; k < blocks; ++k) {
        writeDataClk(b, data.data() + std::size_t(k) * kRbfBlock, kRbfBlock);
        dspconsole::print("%u of %u loaded. \r", k + 1, blocks);
    }
    writeDataClk(b, data.data() + std::size_t(blocks) * kRbfBlock, rest);
    const std::uint8_t extra[2] = {0, 0};
    writeDataClk(b, extra, 2);

    dsptiming::sleepMs(100);
    for (int i = 0; i < kDoneReads; ++i)
        if (fpgaDone(b))
            return;
    fail("startCONFIG:Done bit failed to go high!");
}

// ---------------------------------------------------------------- programs

std::uint32_t loadEABI(BoardAccess &b, const std::string &fileName, std::uint32_t core)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        fail("loadEABI: No input file!");
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    file.seekg(0, std::ios::beg);
    const std::uint64_t fileSize = end < 0 ? 0 : std::uint64_t(end);

    std::uint8_t h[52];
    file.read(reinterpret_cast<char *>(h), sizeof(h));
    // A file that is not a little-endian ELF32 image would send garbage
    // lengths and addresses to the board.
    if (file.gcount() != std::streamsize(sizeof(h)) || h[0] != 0x7F || h[1] != 'E' || h[2] != 'L' || h[3] != 'F'
        || h[4] != 1 || h[5] != 1)
        fail("loadEABI: Not an ELF32 little-endian file!");
    const std::uint32_t entry = le32(h + 24);
    const std::uint32_t phoff = le32(h + 28);
    const std::uint16_t phentsize = le16(h + 42);
    const std::uint16_t phnum = le16(h + 44);
    if (phnum > 0 && phentsize < 32)
        fail("loadEABI: Not an ELF32 little-endian file!");

    for (std::uint32_t i = 0; i < phnum; ++i) {
        const std::uint64_t at = std::uint64_t(phoff) + std::uint64_t(i) * phentsize;
        std::uint8_t ph[32];
        if (at + sizeof(ph) > fileSize)
            fail("loadEABI: Unable to read program header!");
        file.clear();
        file.seekg(std::streamoff(at));
        file.read(reinterpret_cast<char *>(ph), sizeof(ph));
        if (file.gcount() != std::streamsize(sizeof(ph)))
            fail("loadEABI: Unable to read program header!");
        ElfSegment seg{le32(ph + 0), le32(ph + 4), le32(ph + 8), le32(ph + 12), le32(ph + 16), le32(ph + 20)};
        const std::uint32_t address = translateLocalAddress(seg.paddr, core);
        if (seg.type == 1 && address < 0x80000000u)
            loadPhdr(b, file, fileSize, seg, address, kBar1);
    }
    return entry;
}

void setBootAddr(BoardAccess &b, std::uint32_t core, std::uint32_t entry)
{
    priority(b, 0x10000, "setBootAddr: WriteAddress failed(priority)!");
    writeReg(b, kKick0, kKick0Unlock, "setBootAddr: WriteAddress failed(KICK0)!");
    writeReg(b, kKick1, kKick1Unlock, "setBootAddr: WriteAddress failed(KICK0)!");
    const std::uint32_t global = translateLocalAddress(entry, core);
    writeReg(b, bootAddrRegister(core), global, "setBootAddr: WriteAddress failed(entry): setBootAddr!");
    writeReg(b, bootMagicAddress(core), global, "setBootAddr: WriteAddress failed: startDSP!");
    priority(b, 0, "setBootAddr: WriteAddress failed(priority): setBootAddr!");
    dsptiming::sleepMs(1);
}

void startDSP(BoardAccess &b, std::uint32_t core, std::uint32_t entry)
{
    setBootAddr(b, core, entry);
    priority(b, 0x10000, "startDSP: WriteAddress failed(priority)!");
    if (core != 0) {
        writeReg(b, ipcGenRegister(core), 1, "startDSP: WriteAddress failed(IPC)!");
    } else if (b.WriteAddress(kBar0, kMsiOffset, 0, false) != 0) {
        fail("startDSP: WriteAddress failed(MSI)!");
    }
    priority(b, 0, "startDSP: WriteAddress failed(priority)!");
}

} // namespace dspboot
