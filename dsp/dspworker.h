#pragma once
// The acquisition loop of the live DSP source, on its own thread: wait for
// the board's data interrupt (200 ms at a time, so a stop request is seen
// promptly), read the newest scan record by DMA and hand it to the ring with
// the host fire test.
#include <QObject>

#include <atomic>
#include <cstdint>

class BoardAccess;
class CDspDataBuffer;

class DspWorker : public QObject {
    Q_OBJECT
public:
    static constexpr std::uint32_t kRecordAddress = 0x82014000;
    static constexpr std::size_t kTransferBytes = 300000;
    static constexpr int kInterruptWaitMs = 200;

    DspWorker(BoardAccess *board, CDspDataBuffer *buffer, std::uint32_t recordSize);
    ~DspWorker() override;

    // Set once by the GUI thread; the loop tests it once per pass.
    void requestStop() { stop_.store(1); }
    bool stopRequested() const { return stop_.load() != 0; }
    // Records handed to the ring so far.
    std::uint64_t linesMoved() const { return moved_.load(); }

public slots:
    void doWork();

private:
    BoardAccess *board_;
    CDspDataBuffer *buffer_;
    std::uint32_t recordSize_;
    std::uint8_t *transfer_;
    std::atomic<std::uint8_t> stop_{0};
    std::atomic<std::uint64_t> moved_{0};
};
