#pragma once
// Boot files for the simulated DSP board: the FPGA image "a.rbf" and the
// three DSP programs "c0.out", "c1.out", "c2.out" (ELF32 little-endian).
//
// The simulated FPGA accepts an image made of 0xFF padding, the sync bytes
// below, a 32-bit little-endian payload length, the payload and the CRC-32
// of the payload; its done signal rises once all of that has been clocked
// in. A simulated core runs a program whose entry holds the descriptor
// below (magic, core number, cleared-memory area, payload checksum) when
// its cleared-memory area really is zero.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Writes "a.rbf", "c0.out", "c1.out" and "c2.out" into dir (created when
// missing). False when a file cannot be written.
bool writeSimulatedBootFiles(const QString &dir);

namespace simboot {

constexpr std::uint8_t kRbfSync[4] = {0x6A, 0xD5, 0x3C, 0x96};
constexpr int kRbfPadding = 64;
constexpr int kRbfOverhead = kRbfPadding + 4 + 4 + 4;
constexpr int kDefaultRbfSize = 65536;

constexpr std::uint32_t kProgramMagic = 0x50534443;   // "CDSP"
constexpr std::uint32_t kTextAddress = 0x00820000;     // core-local
constexpr std::uint32_t kDataAddress = 0x00830000;     // core-local
constexpr std::uint32_t kDataFileSize = 64;
constexpr std::uint32_t kBssSize = 4096;
constexpr std::uint32_t kDdrAddress = 0x80100000;     // not loaded by the host

std::uint32_t crc32(const std::uint8_t *data, std::size_t size);

// Writes a whole file (through a temporary file).
bool writeFile(const QString &path, const QByteArray &data);

// A plausible FPGA image of exactly totalSize bytes (at least kRbfOverhead).
QByteArray makeRbf(int totalSize = kDefaultRbfSize, std::uint32_t seed = 1);

struct ProgramOptions {
    std::uint32_t core = 0;
    std::uint32_t payloadWords = 256;
    std::uint32_t textAddress = kTextAddress;
    bool bss = true;          // a segment whose memory size is above its file size
    bool ddrSegment = false;  // a loadable segment at 0x80000000 and above
    bool noteSegment = true;  // a segment that is not loadable
};
QByteArray makeProgram(const ProgramOptions &options);

// Streaming check of an FPGA image as the simulated FPGA receives it.
class RbfChecker {
public:
    void reset();
    void push(std::uint8_t byte);
    bool complete() const { return state_ == State::Done; }
    bool failed() const { return state_ == State::Bad; }
    std::uint64_t bytesReceived() const { return received_; }

private:
    enum class State { Padding, Sync, Length, Payload, Crc, Done, Bad };
    State state_ = State::Padding;
    int pos_ = 0;
    std::uint32_t length_ = 0;
    std::uint32_t got_ = 0;
    std::uint32_t crc_ = 0xFFFFFFFFu;
    std::uint32_t expect_ = 0;
    std::uint64_t received_ = 0;
};

} // namespace simboot
