#pragma once
// The simulated DSP board: a software model of the PCIe board and its
// kernel driver behind the driver channel's requests. It models the BARs
// and their sizing through configuration space, the inbound translation
// sets of BAR 0, board memory (core local memories, shared memory, DDR),
// the boot configuration registers, the power and sleep controller, the
// GPIO FPGA configuration port, the DMA channel controllers, the mailboxes
// and parameter block of the DSP programs, and the scan line stream with
// its interrupt.
//
// Failure modes are chosen through SimBoardConfig, in tests directly and in
// manual runs through the environment variable CINDREL_SIM_DSP (see
// README.md).
#include "datasource/scanline.h"
#include "dsp/driverchannel.h"
#include "dsp/simbootfiles.h"
#include "dsp/simlinesource.h"

#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
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

    // Parses a comma-separated list: no-board, two-boards, no-handshake,
    // late-handshake, ins-down, bad-rbf, record-size=N, dma-fail=N,
    // psc-stuck, stall=N, rate=HZ, time-scale=X. False with an error text
    // for an unknown item.
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
    struct EventWaiter {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        bool cancelled = false;
    };
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
    bool streaming() const { return streaming_.load(); }
    std::uint64_t linesProduced() const { return produced_.load(); }
    std::uint64_t linesDelivered() const { return delivered_.load(); }
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
    struct Core {
        bool wokenToProgram = false;
        bool running = false;
    };
    using Page = std::array<std::uint8_t, 4096>;

    // Everything below runs with mutex_ held.
    bool translate(std::uint32_t bar, std::uint32_t byteOffset, std::uint32_t *address, std::uint32_t *error);
    std::uint32_t readWord(std::uint32_t address);
    void writeWord(std::uint32_t address, std::uint32_t value);
    void memRead(std::uint32_t address, std::uint8_t *out, std::uint32_t n);
    void memWrite(std::uint32_t address, const std::uint8_t *in, std::uint32_t n);
    Page &page(std::uint32_t address);
    std::uint32_t memWord(std::uint32_t address);
    void setMemWord(std::uint32_t address, std::uint32_t value);
    void record(Write::Kind kind, std::uint32_t address, std::uint32_t value, std::uint32_t count);
    std::uint32_t pscRead(std::uint32_t offset);
    void pscWrite(std::uint32_t offset, std::uint32_t value);
    void completeDomain(std::uint32_t pd);
    void gpioOutput(std::uint32_t value);
    void wakeCore(std::uint32_t core);
    bool checkProgram(std::uint32_t core, std::uint32_t entry, std::string *why);
    bool bootImageLoaded(std::uint32_t core, std::string *why);
    void maybeReady();
    void mailboxWritten(std::uint32_t address, std::uint32_t value);
    std::uint32_t mailboxRead(std::uint32_t address);
    void startStream();
    void stopStreamLocked(std::unique_lock<std::mutex> &lock);
    void streamLoop();
    void produceLocked(std::unique_lock<std::mutex> &lock);
    void deliverLocked();

    SimBoardConfig cfg_;
    mutable std::mutex mutex_;
    std::array<std::uint32_t, 6> barValue_{};
    std::array<bool, 6> barSizing_{};
    std::array<std::uint32_t, 1024> bar0_{};
    std::array<std::uint64_t, 4> setSeq_{};
    std::uint64_t seq_ = 0;
    std::unordered_map<std::uint32_t, std::unique_ptr<Page>> pages_;

    // power and sleep controller
    std::array<std::uint32_t, 32> pdctl_{};
    std::array<std::uint32_t, 32> mdctl_{};
    std::array<std::uint32_t, 32> mdstat_{};
    std::uint32_t ptcmd_ = 0;
    std::uint32_t ptstat_ = 0;
    std::array<int, 32> pendingReads_{};

    // boot configuration
    std::uint32_t kick0_ = 0, kick1_ = 0;
    std::array<std::uint32_t, 8> bootAddr_{};
    std::array<Core, 8> cores_{};

    // GPIO and FPGA
    std::uint32_t gpioDir_ = 0xFFFF;
    std::uint32_t gpioOut_ = 0;
    bool configuring_ = false;
    bool fpgaDone_ = false;
    int bitPos_ = 0;
    std::uint8_t shift_ = 0;
    std::vector<std::uint8_t> fpgaBytes_;
    simboot::RbfChecker rbf_;

    // DMA
    bool dmaSetUp_ = false;
    std::array<std::uint32_t, 9> dmaWords_{};
    int recordReads_ = 0;

    // programs and mailboxes
    bool programsReady_ = false;
    int readyPolls_ = 0;
    bool readyPosted_ = false;
    bool readyTaken_ = false;
    bool sizePosted_ = false;
    std::vector<std::uint32_t> commands_;
    std::vector<std::uint32_t> parameters_;
    std::vector<std::string> diagnostics_;

    // stream
    std::unique_ptr<SimLineSource> source_;
    std::thread streamThread_;
    std::atomic<bool> streaming_{false};
    bool stopStream_ = false;
    std::condition_variable streamCv_;
    std::deque<std::unique_ptr<ScanLineRec>> fifo_;
    std::deque<std::shared_ptr<EventWaiter>> waiters_;
    std::atomic<std::uint64_t> produced_{0};
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<int> openHandles_{0};
    bool lastIndexValid_ = false;
    std::uint32_t lastIndex_ = 0;
    std::uint32_t lastInterval_ = 0;

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
    std::unique_ptr<dspdrv::DriverRequest> issue(std::uint32_t code, const void *in, std::uint32_t inSize,
                                                 void *data, std::uint32_t dataSize, bool autoResetEvent) override;
    std::wstring systemMessage(std::uint32_t error) override;

private:
    std::shared_ptr<SimBoard> board_;
    bool infoSet_ = false;
    std::atomic<bool> open_{false};
};

// The channel BoardAccess uses unless told otherwise: the simulated board
// configured from CINDREL_SIM_DSP; on Windows the kernel driver when
// CINDREL_DSP_CHANNEL is "driver".
std::unique_ptr<dspdrv::DriverChannel> makeDefaultDriverChannel();
