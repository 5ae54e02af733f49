#pragma once
// The simulated board's DMA engine and scan line stream. Once started, the
// stream makes a line at the line rate on its own thread, writes it into the
// scan record and raises the data interrupt, which completes one pending
// interrupt wait of the driver.
//
// Two interrupt models: by default the board queues up to 256 lines and
// their interrupts while nobody waits (the oldest is lost beyond that); with
// missedInterrupts, as the real board may, the record holds only the newest
// line and an interrupt with no wait pending is lost.
//
// Every member but the constructor and shutdown() runs with the board's
// mutex held; the stream thread takes the same mutex.
#include "datasource/scanline.h"
#include "dsp/simlinesource.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimMemory;
class SimPcie;

struct SimStreamBehaviour {
    std::uint32_t recordSize = 15308;   // bytes of each record written
    int dmaFailAfter = -1;              // record reads by DMA fail after this many lines
    int stallAfter = -1;                // the line stream stops after this many lines
    double lineRateHz = 0;              // 0: the line source's rate
    bool lossless = false;              // the stream waits for the host instead of dropping lines
    bool missedInterrupts = false;      // no queue: an interrupt nobody waits for is lost
};

class SimStream {
public:
    static constexpr std::size_t kFifoCapacity = 256;

    // One pending interrupt wait of the driver.
    struct Waiter {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        bool cancelled = false;
    };

    SimStream(const SimStreamBehaviour &behaviour, std::mutex *boardMutex, SimMemory *memory, SimPcie *pcie,
              std::vector<std::string> *diagnostics);
    ~SimStream();
    // Stops the stream thread and cancels every wait (board mutex not held).
    void shutdown();

    void setSource(std::unique_ptr<SimLineSource> source) { source_ = std::move(source); }

    // The start and stop commands of the programs.
    void start();
    void stop();

    // DMA: the set-up block, then transfers through the channel controller
    // BAR 3 shows.
    void setupDma(const std::uint32_t *words);
    bool dmaRead(std::uint32_t address, std::uint32_t count, std::uint8_t *out, std::uint32_t *error);
    bool dmaWrite(std::uint32_t address, std::uint32_t count, const std::uint8_t *in, std::uint32_t *error);

    void addWaiter(const std::shared_ptr<Waiter> &w);
    void cancelWaiter(const std::shared_ptr<Waiter> &w);
    // Makes the next line at once, as the stream would (lock held in `lock`).
    void raiseLine(std::unique_lock<std::mutex> &lock);

    bool streaming() const { return streaming_.load(); }
    std::uint64_t produced() const { return produced_.load(); }
    std::uint64_t delivered() const { return delivered_.load(); }

private:
    bool dmaMapped(const char *what, std::uint32_t *error);
    void loop();
    void ensureSource(std::unique_lock<std::mutex> &lock);
    void produce(std::unique_lock<std::mutex> &lock);
    void writeRecord(const ScanLineRec &rec);
    void deliver();
    void interrupt(const std::shared_ptr<Waiter> &w);

    SimStreamBehaviour behaviour_;
    std::mutex *mutex_;
    SimMemory *memory_;
    SimPcie *pcie_;
    std::vector<std::string> *diagnostics_;

    bool dmaSetUp_ = false;
    std::array<std::uint32_t, 9> dmaWords_{};
    int recordReads_ = 0;

    std::unique_ptr<SimLineSource> source_;
    std::thread thread_;
    std::atomic<bool> streaming_{false};
    bool stopThread_ = false;
    std::condition_variable cv_;
    std::deque<std::unique_ptr<ScanLineRec>> fifo_;
    std::deque<std::shared_ptr<Waiter>> waiters_;
    std::atomic<std::uint64_t> produced_{0};
    std::atomic<std::uint64_t> delivered_{0};
    bool lastIndexValid_ = false;
    std::uint32_t lastIndex_ = 0;
    std::uint32_t lastInterval_ = 0;
};
