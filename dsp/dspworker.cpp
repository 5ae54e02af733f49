#include "dsp/dspworker.h"

#include "datasource/cdspdatabuffer.h"
#include "dsp/boardaccess.h"

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
        if (board_->SetupCallbackEvent(&word, kInterruptWaitMs, 0) != 0) {
            // A time-out just means no line yet; any other failure of the
            // wait would fail again at once, so acquisition ends.
            if (BoardAccess::lastError() == dspdrv::kErrorWaitTimeout)
                continue;
            break;
        }
        if (board_->SetupDMA(setup) != 0)
            break;
        if (board_->ReadDma(kRecordAddress, 1, 0, size, transfer_, true) != 0)
            break;
        std::memcpy(local.get(), transfer_, size);
        buffer_->AddLine(*local);
        moved_.fetch_add(1, std::memory_order_relaxed);
    }
}
