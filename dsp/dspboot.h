#pragma once
// Bringing the DSP board from power-up to running its programs: local
// reset and power domains through the power and sleep controller (PSC), the
// built-in boot image, FPGA configuration by bit-banging the DSP's GPIO
// pins, ELF program loading through the PCIe windows, and core start.
//
// Every failing register access or time-out raises a DspBootError carrying
// its text; nothing is rolled back. Progress goes to standard output.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

class BoardAccess;

class DspBootError : public std::runtime_error {
public:
    explicit DspBootError(const std::string &text) : std::runtime_error(text) {}
};

namespace dspboot {

// Board registers.
constexpr std::uint32_t kPriorityOffset = 0x3C;      // BAR 0
constexpr std::uint32_t kMsiOffset = 0x54;           // BAR 0
constexpr std::uint32_t kDummyReadOffset = 0x30C;    // BAR 0, inbound offset of translation set 0
constexpr std::uint32_t kPscBase = 0x02350000;
constexpr std::uint32_t kPtcmd = 0x120;
constexpr std::uint32_t kPtstat = 0x128;
constexpr std::uint32_t pdctl(std::uint32_t pd) { return 0x300 + 4 * pd; }
constexpr std::uint32_t mdstat(std::uint32_t md) { return 0x800 + 4 * md; }
constexpr std::uint32_t mdctl(std::uint32_t md) { return 0xA00 + 4 * md; }
constexpr std::uint32_t kKick0 = 0x02620038;
constexpr std::uint32_t kKick1 = 0x0262003C;
constexpr std::uint32_t kKick0Unlock = 0x83E70B13;
constexpr std::uint32_t kKick1Unlock = 0x95A4F1E0;
constexpr std::uint32_t bootAddrRegister(std::uint32_t core) { return 0x02620040 + 4 * core; }
constexpr std::uint32_t ipcGenRegister(std::uint32_t core) { return 0x02620240 + 4 * core; }
constexpr std::uint32_t bootMagicAddress(std::uint32_t core) { return 0x1087FFFC + (core << 24); }
constexpr std::uint32_t kGpioDir = 0x02320010;
constexpr std::uint32_t kGpioOut = 0x02320014;
constexpr std::uint32_t kGpioSet = 0x02320018;
constexpr std::uint32_t kGpioClear = 0x0232001C;
constexpr std::uint32_t kGpioIn = 0x02320020;
constexpr std::uint32_t kGpioDirection = 0xFFCE;
constexpr std::uint32_t kSharedMemory = 0x0C000000;
constexpr std::uint32_t kIdleLoopWord = 0x0001E000;
constexpr std::uint32_t kDmaController0 = 0x02700000;

// The built-in boot image: big-endian words (entry, then sections of byte
// size, load address and size / 4 data words, ending with a size of 0).
constexpr std::uint32_t kBootImageEntry = 0x00878000;
constexpr std::size_t kBootImageBytes = 2432;
const std::array<std::uint8_t, kBootImageBytes> &bootImage();

// A core-local address 0x800000 <= A < 0x87FFFF becomes A + (core + 16) * 2^24.
std::uint32_t translateLocalAddress(std::uint32_t address, std::uint32_t core);

// Power and sleep controller.
void coreLocalReset(BoardAccess &board, std::uint32_t core, bool release);
void setPscState(BoardAccess &board, std::uint32_t pd, std::uint32_t md, std::uint32_t state);
void setPDState(BoardAccess &board, std::uint32_t pd, std::uint32_t state);
void set_PA_state_to_reset(BoardAccess &board);
void set_SA_state_to_reset(BoardAccess &board);

void dspAssertLocalReset(BoardAccess &board, std::uint32_t first, std::uint32_t count);
void dspDeAssertLocalReset(BoardAccess &board, std::uint32_t first, std::uint32_t count, std::uint32_t entry);

void downloadSimpleLoopCode(BoardAccess &board, std::uint32_t address);
std::uint32_t loadHEX(BoardAccess &board, std::uint32_t bar, std::uint32_t core);

// FPGA configuration from an RBF file.
void configureFPGA_GPIO(BoardAccess &board, const std::string &fileName);
void startCONFIG(BoardAccess &board);
void writeDataClk(BoardAccess &board, const std::uint8_t *bytes, std::uint32_t count);
bool fpgaDone(BoardAccess &board);

// ELF32 little-endian programs.
std::uint32_t loadEABI(BoardAccess &board, const std::string &fileName, std::uint32_t core);

void setBootAddr(BoardAccess &board, std::uint32_t core, std::uint32_t entry);
void startDSP(BoardAccess &board, std::uint32_t core, std::uint32_t entry);

} // namespace dspboot
