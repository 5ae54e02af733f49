#include "dsp/dspworker.h"

#include "datasource/cdspdatabuffer.h"
#include "dsp/boardaccess.h"

#include <QDebug>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

DspWorker::DspWorker(BoardAccess *board, CDspDataBuffer *buffer, std::uint32_t recordSize)
    : board_(board), buffer_(buffer), recordSize_(recordSize),
      transfer_(static_cast<std::uint8_t *>(std::malloc(kTransferBytes)))
{
}

DspWorker::~DspWorker() { std::free(transfer_); }

void DspWorker::doWork()
{
    auto local = std::make_unique<ScanLineRec>();
    local->clear();
    if (!transfer_)
        return;
    // The start-up never accepts a larger record; this keeps the copy safe regardless.
    const std::uint32_t size = recordSize_ <= sizeof(ScanLineRec) ? recordSize_ : std::uint32_t(sizeof(ScanLineRec));
    const std::uint32_t setup[9] = {0, 0, 0, 1, size, 1, 1, 0, 1};

    while (!stopRequested()) {
        std::uint32_t word = 0;
        bool interrupted = true;
        if (board_->SetupCallbackEvent(&word, kInterruptWaitMs, 0) != 0) {
            // Any failure of the wait but a time-out would fail again at
            // once, so acquisition ends.
            if (BoardAccess::lastError() != dspdrv::kErrorWaitTimeout)
                break;
            // No interrupt: a line whose interrupt was missed is still in
            // the record until the next one replaces it.
            if (!haveLast_)
                continue;
            interrupted = false;
        }
        if (board_->SetupDMA(setup) != 0)
            break;
        if (board_->ReadDma(kRecordAddress, boardmap::kRecordController, 0, size, transfer_, true) != 0)
            break;
        std::memcpy(local.get(), transfer_, size);
        if (!interrupted && (!haveLast_ || std::int32_t(local->lineIndex - lastIndex_) <= 0))
            continue;   // the line already taken
        noteLine(local->lineIndex, local->effectiveInterval());
        buffer_->AddLine(*local);
        moved_.fetch_add(1, std::memory_order_relaxed);
    }
}

void DspWorker::noteLine(std::uint32_t lineIndex, std::uint32_t interval)
{
    if (haveLast_ && lastInterval_ > 0) {
        const std::int64_t step = std::int32_t(lineIndex - lastIndex_);
        // Lines between: the step in whole intervals of the line before
        // (the interval changes slowly, so the nearest count is taken).
        const std::int64_t between = (step + lastInterval_ / 2) / lastInterval_ - 1;
        if (step > 0 && between > 0)
            missed_.fetch_add(std::uint64_t(between), std::memory_order_relaxed);
    }
    haveLast_ = true;
    lastIndex_ = lineIndex;
    lastInterval_ = interval;

    const std::uint64_t missed = missed_.load(std::memory_order_relaxed);
    if (missed == reportedMissed_)
        return;
    // At most one log line a second.
    const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count();
    if (lastReportMs_ >= 0 && nowMs - lastReportMs_ < 1000)
        return;
    qWarning().noquote() << QStringLiteral("DSP board: %1 scan lines missed (up to line index %2), %3 in all")
                                .arg(missed - reportedMissed_)
                                .arg(lineIndex)
                                .arg(missed);
    reportedMissed_ = missed;
    lastReportMs_ = nowMs;
}
