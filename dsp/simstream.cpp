#include "dsp/simstream.h"

#include "dsp/boardmap.h"
#include "dsp/driverchannel.h"
#include "dsp/dspboot.h"
#include "dsp/simmemory.h"
#include "dsp/simpcie.h"

#include <chrono>
#include <cstring>

SimStream::SimStream(const SimStreamBehaviour &behaviour, std::mutex *boardMutex, SimMemory *memory, SimPcie *pcie,
                     std::vector<std::string> *diagnostics)
    : behaviour_(behaviour), mutex_(boardMutex), memory_(memory), pcie_(pcie), diagnostics_(diagnostics)
{
}

SimStream::~SimStream() { shutdown(); }

void SimStream::shutdown()
{
    {
        std::lock_guard<std::mutex> g(*mutex_);
        stopThread_ = true;
        streaming_ = false;
        for (auto &w : waiters_) {
            std::lock_guard<std::mutex> wl(w->m);
            w->cancelled = true;
            w->cv.notify_all();
        }
        waiters_.clear();
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SimStream::start()
{
    streaming_ = true;
    if (!thread_.joinable())
        thread_ = std::thread(&SimStream::loop, this);
    cv_.notify_all();
}

void SimStream::stop()
{
    streaming_ = false;
    cv_.notify_all();
}

// ------------------------------------------------------------------------ DMA

void SimStream::setupDma(const std::uint32_t *words)
{
    std::memcpy(dmaWords_.data(), words, 36);
    dmaSetUp_ = true;
}

bool SimStream::dmaMapped(const char *what, std::uint32_t *error)
{
    std::uint32_t mapped = 0;
    if (!dmaSetUp_ || !pcie_->translate(3, 0, &mapped, error) || mapped < dspboot::kDmaController0
        || mapped > dspboot::kDmaController0 + 0x40000 || (mapped & 0x1FFFF) != 0) {
        diagnostics_->push_back(std::string("DMA ") + what + " without a set-up and mapped channel controller");
        *error = dspdrv::kErrorGenFailure;
        return false;
    }
    return true;
}

bool SimStream::dmaRead(std::uint32_t address, std::uint32_t count, std::uint8_t *out, std::uint32_t *error)
{
    if (!dmaMapped("read", error))
        return false;
    if (address == boardmap::kRecordAddress) {
        ++recordReads_;
        if (behaviour_.dmaFailAfter >= 0 && recordReads_ > behaviour_.dmaFailAfter) {
            *error = dspdrv::kErrorIoDevice;
            return false;
        }
    }
    memory_->read(address, out, count);
    return true;
}

bool SimStream::dmaWrite(std::uint32_t address, std::uint32_t count, const std::uint8_t *in, std::uint32_t *error)
{
    if (!dmaMapped("write", error))
        return false;
    memory_->write(address, in, count);
    return true;
}

// --------------------------------------------------------------------- stream

void SimStream::ensureSource(std::unique_lock<std::mutex> &lk)
{
    if (source_)
        return;
    // Building the scene takes a moment: not while holding the board.
    lk.unlock();
    auto source = makeDefaultSimLineSource();
    lk.lock();
    if (!source_)
        source_ = std::move(source);
}

void SimStream::loop()
{
    using clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lk(*mutex_);
    bool wasOn = false;
    clock::time_point due = clock::now();
    while (!stopThread_) {
        if (!streaming_) {
            wasOn = false;
            cv_.wait(lk);
            continue;
        }
        if (!source_) {
            ensureSource(lk);
            continue;
        }
        if (!wasOn) {
            wasOn = true;
            due = clock::now();
        }
        if (behaviour_.stallAfter >= 0 && produced_.load() >= std::uint64_t(behaviour_.stallAfter)) {
            cv_.wait(lk);
            continue;
        }
        if (behaviour_.lossless && !behaviour_.missedInterrupts && fifo_.size() >= kFifoCapacity) {
            cv_.wait(lk);
            continue;
        }
        const double rate = behaviour_.lineRateHz != 0 ? behaviour_.lineRateHz
                                                        : (source_ ? source_->lineRateHz() : 20.0);
        if (rate > 0) {
            const auto now = clock::now();
            if (now < due) {
                cv_.wait_until(lk, due);
                continue;
            }
            due += std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / rate));
            if (now - due > std::chrono::seconds(1))
                due = now;   // fell far behind: do not burst
        }
        produce(lk);
    }
}

void SimStream::produce(std::unique_lock<std::mutex> &lk)
{
    std::uint32_t gainBits = memory_->word(boardmap::kChnBGain);
    const std::int32_t offset = std::int32_t(memory_->word(boardmap::kChnBOffset));
    const std::uint32_t vhOverride = memory_->word(boardmap::kVhOverride);
    const std::uint32_t vhOn = memory_->word(boardmap::kVhOverrideOn);
    const std::int32_t threshold = std::int32_t(memory_->word(boardmap::kFireThreshold));
    float gain = 0;
    std::memcpy(&gain, &gainBits, 4);
    const bool hostGain = gain >= 0.1f && gain <= 50.0f;

    auto rec = std::make_unique<ScanLineRec>();
    {
        SimLineSource *src = source_.get();
        lk.unlock();
        if (hostGain)
            src->setChannelB(gain, offset);
        bool ok = src->next(*rec);
        lk.lock();
        if (!ok) {
            // The pass is over: the next pass starts.
            lk.unlock();
            auto fresh = makeDefaultSimLineSource();
            lk.lock();
            source_ = std::move(fresh);
            src = source_.get();
            lk.unlock();
            if (hostGain)
                src->setChannelB(gain, offset);
            ok = src->next(*rec);
            lk.lock();
            if (!ok)
                return;
        }
    }
    if (hostGain) {
        rec->chnBGain = gain;
        rec->chnBOffset = offset;
    }
    rec->vhOverride = vhOverride;
    rec->vhOverrideOn = vhOn;
    if (threshold != 0)
        rec->fireThreshold = threshold;
    // Line indices advance by the effective interval of the line before.
    if (lastIndexValid_)
        rec->lineIndex = lastIndex_ + lastInterval_;
    lastIndexValid_ = true;
    lastIndex_ = rec->lineIndex;
    lastInterval_ = rec->effectiveInterval();
    ++produced_;

    if (behaviour_.missedInterrupts) {
        // The record holds the newest line; its interrupt reaches a wait
        // only when one is pending.
        writeRecord(*rec);
        if (!waiters_.empty()) {
            std::shared_ptr<Waiter> w = waiters_.front();
            waiters_.pop_front();
            interrupt(w);
        }
        return;
    }
    if (!behaviour_.lossless && fifo_.size() >= kFifoCapacity)
        fifo_.pop_front();   // the host fell behind: the oldest line is lost
    fifo_.push_back(std::move(rec));
    deliver();
}

void SimStream::writeRecord(const ScanLineRec &rec)
{
    const std::uint32_t n = std::min<std::uint32_t>(behaviour_.recordSize, sizeof(ScanLineRec));
    std::vector<std::uint8_t> bytes(std::max<std::uint32_t>(behaviour_.recordSize, 4), 0);
    std::memcpy(bytes.data(), &rec, n);
    memory_->write(boardmap::kRecordAddress, bytes.data(), std::uint32_t(bytes.size()));
}

void SimStream::interrupt(const std::shared_ptr<Waiter> &w)
{
    ++delivered_;
    std::lock_guard<std::mutex> wl(w->m);
    w->done = true;
    w->cv.notify_all();
}

void SimStream::deliver()
{
    while (!waiters_.empty() && !fifo_.empty()) {
        std::shared_ptr<Waiter> w = waiters_.front();
        waiters_.pop_front();
        std::unique_ptr<ScanLineRec> rec = std::move(fifo_.front());
        fifo_.pop_front();
        writeRecord(*rec);
        interrupt(w);
    }
    if (behaviour_.lossless)
        cv_.notify_all();
}

void SimStream::addWaiter(const std::shared_ptr<Waiter> &w)
{
    waiters_.push_back(w);
    if (!behaviour_.missedInterrupts)
        deliver();
}

void SimStream::cancelWaiter(const std::shared_ptr<Waiter> &w)
{
    std::lock_guard<std::mutex> wl(w->m);
    if (w->done || w->cancelled)
        return;
    w->cancelled = true;
    for (auto it = waiters_.begin(); it != waiters_.end(); ++it) {
        if (*it == w) {
            waiters_.erase(it);
            break;
        }
    }
    w->cv.notify_all();
}

void SimStream::raiseLine(std::unique_lock<std::mutex> &lk)
{
    ensureSource(lk);
    produce(lk);
}
