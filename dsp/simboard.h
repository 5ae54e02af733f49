#pragma once
// The simulated DSP board: a software model of the PCIe board and its
// kernel driver behind the driver channel's requests. SimBoard puts the
// board's parts together behind one lock and routes each access by
// address: the PCIe side with its BARs and translation sets (simpcie.h),
// board memory (simmemory.h), the power and sleep controller (simpsc.h),
// the GPIO pins and FPGA (simfpga.h), the DSP cores, their programs and
// mailboxes (simcores.h), and DMA with the scan line stream (simstream.h).
//
// Failure modes are chosen through SimBoardConfig, in tests directly and in
// manual runs through the environment variable CINDREL_SIM_DSP (see
// README.md).
#include "datasource/scanline.h"
#include "dsp/driverchannel.h"
#include "dsp/simbootfiles.h"
#include "dsp/simcores.h"
#include "dsp/simfpga.h"
#include "dsp/simlinesource.h"
#include "dsp/simmemory.h"
#include "dsp/simpcie.h"
#include "dsp/simpsc.h"
#include "dsp/simstream.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct SimBoardConfig {
    int boards = 1;                     // 0: no board; 2: two boards
    bool neverReady = false;            // the programs never answer the handshake
    int readyAtPoll = 1;                // the ready code shows at this poll of from-DSP mailbox 1
    bool insLinkDown = false;           // status word 3, no ready code
    bool rejectRbf = false;             // the FPGA refuses every image
    std::uint32_t recordSize = 15308;   // record size the programs report
    int dmaFailAfter = -1;              // record reads by DMA fail after this many lines
    bool pscStuck = false;              // power controller transitions never complete
    int stallAfter = -1;                // the line stream stops after this many lines
    bool silentAfterReady = false;      // after the ready code: no record size, to-DSP words not taken
    bool commandsStuck = false;         // to-DSP mailbox 0 never taken
    double lineRateHz = 0;              // 0: the line source's rate
    bool lossless = false;              // the stream waits for the host instead of dropping lines
    int pscCompletionReads = 1;         // PTSTAT reads until a transition has completed
    std::array<std::uint32_t, 6> barSize{{0x1000, 0x100000, 0x100000, 0x100000, 0x100000, 0}};
    // The harder twin: what the real board does not promise.
    bool missedInterrupts = false;      // an interrupt nobody waits for is lost; the record holds the newest line
    bool lowestSetWins = false;         // two translation sets on one BAR: the lowest-numbered one maps it

    // Parses a comma-separated list: no-board, two-boards, no-handshake,
    // late-handshake, ins-down, bad-rbf, record-size=N, dma-fail=N,
    // psc-stuck, stall=N, rate=HZ, time-scale=X, missed-interrupts,
    // lowest-set. False with an error text for an unknown item.
    bool parse(const QString &recipe, QString *error = nullptr);
    // The configuration named by CINDREL_SIM_DSP (the default when unset).
    static SimBoardConfig fromEnvironment();
    double timeScale = -1;               // time-scale=X; negative: leave the host's timing alone
};

class SimBoard : public std::enable_shared_from_this<SimBoard> {
public:
    struct Write {
        enum Kind { Board, Bar0, Config, Block, Static };
        Kind kind;
        std::uint32_t address;   // board address, BAR 0 offset or config offset
        std::uint32_t value;     // the value (Block: first word; Static: last element)
        std::uint32_t count;     // Block: bytes; Static: elements; else 1
    };
    struct Request {
        std::uint32_t code;
        std::uint32_t inSize;
        std::uint32_t dataSize;
        std::array<std::uint32_t, 4> in;   // first input words
    };

    explicit SimBoard(const SimBoardConfig &config = SimBoardConfig());
    ~SimBoard();

    const SimBoardConfig &config() const { return cfg_; }
    // Replaces the line source (before the stream starts).
    void setLineSource(std::unique_ptr<SimLineSource> source);

    // ---- what the driver does with each request (all thread-safe) ----
    bool configRead(std::uint32_t offset, std::uint32_t *value, std::uint32_t *error);
    bool configWrite(std::uint32_t offset, std::uint32_t value, std::uint32_t *error);
    bool barRead(std::uint32_t bar, std::uint32_t wordIndex, std::uint32_t *value, std::uint32_t *error);
    bool barWrite(std::uint32_t bar, std::uint32_t wordIndex, std::uint32_t value, std::uint32_t *error);
    bool barWriteBlock(std::uint32_t bar, std::uint32_t wordIndex, std::uint32_t count, std::uint32_t width,
                       const std::uint8_t *data, bool fixedAddress, std::uint32_t *error);
    bool setupDma(const std::uint32_t *words, std::uint32_t *error);
    bool dmaRead(std::uint32_t address, std::uint32_t channelWord, std::uint32_t count, std::uint8_t *out,
                 std::uint32_t *error);
    bool dmaWrite(std::uint32_t address, std::uint32_t channelWord, std::uint32_t count, const std::uint8_t *in,
                  std::uint32_t *error);
    void logRequest(std::uint32_t code, const void *in, std::uint32_t inSize, std::uint32_t dataSize);

    // The interrupt: a waiter is completed by the next scan line.
    using EventWaiter = SimStream::Waiter;
    void addWaiter(const std::shared_ptr<EventWaiter> &w);
    void cancelWaiter(const std::shared_ptr<EventWaiter> &w);

    // ---- inspection for tests ----
    std::vector<Write> writes() const;
    void clearWrites();
    std::vector<Request> requests() const;
    void clearRequests();
    std::uint32_t peek(std::uint32_t address) const;          // board memory word
    void poke(std::uint32_t address, std::uint32_t value);    // board memory word, no side effects
    std::vector<std::uint8_t> fpgaBytes() const;             // every byte clocked into the FPGA
    bool fpgaConfigured() const;
    bool coreRunning(std::uint32_t core) const;
    std::vector<std::string> diagnostics() const;             // why a core did not start, ...
    std::vector<std::uint32_t> commands() const;              // to-DSP mailbox 0 words taken
    std::vector<std::uint32_t> parameters() const;            // to-DSP mailbox 1 words taken
    bool streaming() const { return stream_.streaming(); }
    std::uint64_t linesProduced() const { return stream_.produced(); }
    std::uint64_t linesDelivered() const { return stream_.delivered(); }
    // Raises the interrupt with the next line of the source, as the stream would.
    void raiseLine();
    // Puts the board in the state a completed start-up leaves (programs
    // running, record size agreed), for tests and benchmarks of the stream.
    void forceRunning();
    // Device handles the driver holds open.
    int openHandles() const { return openHandles_.load(); }
    void handleOpened() { ++openHandles_; }
    void handleClosed() { --openHandles_; }
    // The device path of board i.
    static std::wstring devicePath(int i);

private:
    // Everything below runs with mutex_ held.
    std::uint32_t readWord(std::uint32_t address);
    void writeWord(std::uint32_t address, std::uint32_t value);
    void bar0Write(std::uint32_t wordIndex, std::uint32_t value);
    void record(Write::Kind kind, std::uint32_t address, std::uint32_t value, std::uint32_t count);
    void command(std::uint32_t word);

    SimBoardConfig cfg_;
    mutable std::mutex mutex_;
    std::vector<std::string> diagnostics_;
    SimMemory memory_;
    SimPcie pcie_;
    SimPowerController psc_;
    SimFpga fpga_;
    SimCores cores_;
    SimStream stream_;
    std::atomic<int> openHandles_{0};
    std::vector<Write> writes_;
    std::vector<Request> requests_;
};

// The driver channel in front of a simulated board.
class SimDriverChannel : public dspdrv::DriverChannel {
public:
    explicit SimDriverChannel(std::shared_ptr<SimBoard> board);
    ~SimDriverChannel() override;

    std::shared_ptr<SimBoard> board() const { return board_; }

    bool openDeviceInfoSet(std::uint32_t *error) override;
    void closeDeviceInfoSet() override;
    bool enumInterface(std::uint32_t index, std::uint32_t *error) override;
    bool interfaceDetail(std::uint32_t index, std::wstring *path, std::uint32_t *error) override;
    bool registryProperty(std::uint32_t index, std::uint32_t property, std::wstring *value,
                          std::uint32_t *error) override;
    bool openDevice(const std::wstring &path, std::uint32_t *error) override;
    void closeDevice() override;
    bool deviceOpen() const override { return open_.load(); }
    bool simulated() const override { return true; }
    std::unique_ptr<dspdrv::DriverRequest> issue(std::uint32_t code, const void *in, std::uint32_t inSize,
                                                 void *data, std::uint32_t dataSize, bool autoResetEvent) override;
    std::wstring systemMessage(std::uint32_t error) override;

private:
    std::shared_ptr<SimBoard> board_;
    bool infoSet_ = false;
    std::atomic<bool> open_{false};
};

// A simulated board configured from CINDREL_SIM_DSP behind its channel
// (the host's timing scaled when the recipe asks for it).
std::unique_ptr<dspdrv::DriverChannel> makeSimulatedDriverChannel();
