#pragma once
// The acquisition loop of the live DSP source, on its own thread: wait for
// the board's data interrupt (200 ms at a time, so a stop request is seen
// promptly), read the newest scan record by DMA and hand it to the ring with
// the host fire test.
//
// The board keeps only the newest record and does not queue interrupts: an
// interrupt raised while no wait is pending is lost. A wait that ends
// without one therefore reads the record once more and takes it when it is
// newer than the last line taken. Lines that were replaced before they could
// be read are counted from the line indices (each advances by the effective
// V/H interval of the line before) and reported in the debug log.
#include "dsp/boardmap.h"

#include <QObject>

#include <atomic>
#include <cstdint>

class BoardAccess;
class CDspDataBuffer;

class DspWorker : public QObject {
    Q_OBJECT
public:
    static constexpr std::uint32_t kRecordAddress = boardmap::kRecordAddress;
    static constexpr std::size_t kTransferBytes = 300000;
    static constexpr int kInterruptWaitMs = 200;

    DspWorker(BoardAccess *board, CDspDataBuffer *buffer, std::uint32_t recordSize);
    ~DspWorker() override;

    // Set once by the GUI thread; the loop tests it once per pass.
    void requestStop() { stop_.store(1); }
    bool stopRequested() const { return stop_.load() != 0; }
    // Records handed to the ring so far.
    std::uint64_t linesMoved() const { return moved_.load(); }
    // Scan lines the board made that were never read, from the line indices.
    std::uint64_t linesMissed() const { return missed_.load(); }

public slots:
    void doWork();

private:
    // Notes the index of a line taken; counts the lines missed before it.
    void noteLine(std::uint32_t lineIndex, std::uint32_t interval);

    BoardAccess *board_;
    CDspDataBuffer *buffer_;
    std::uint32_t recordSize_;
    std::uint8_t *transfer_;
    std::atomic<std::uint8_t> stop_{0};
    std::atomic<std::uint64_t> moved_{0};
    std::atomic<std::uint64_t> missed_{0};
    bool haveLast_ = false;
    std::uint32_t lastIndex_ = 0;
    std::uint32_t lastInterval_ = 0;
    std::int64_t lastReportMs_ = -1;
    std::uint64_t reportedMissed_ = 0;
};
