#pragma once
// The ring of 4096 scan lines every data source owns, with the navigation
// check, the one-word repair and the host fire test.
//
// Single producer (AddLine/StoreLine), single consumer (TakeNewLineCount,
// GetPriorLine and the current-line accessors). The producer copies a line
// into its slot and only then publishes the write position (release); the
// consumer reads it with acquire order.
//
// The fire detection parameters are set by another thread (the GUI) while
// the producer tests lines. They are published as one block (FireDetectParams
// in a seqlock): AddLine takes one consistent snapshot per line, so a line
// is never tested with a mix of old and new values.
#include "datasource/coldcurve.h"
#include "datasource/scanline.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>

// All the values the host fire test reads for a line.
struct FireDetectParams {
    std::uint32_t thresholdOverride = 0;   // 0: the line's own threshold
    bool usePoly = false;
    std::int32_t bMax = 32768;
    std::int32_t bMin = 32768;
    double a2 = 0.0, a1 = 0.0, a0 = 0.0;
};

// A value written by any thread and read by others without locks: writers
// are serialised and bump a sequence number around the store, a reader
// retries until it read the same even number before and after its copy.
// The value is kept in atomic words, so no access is a data race.
template <typename T> class SeqLockValue {
    static_assert(std::is_trivially_copyable<T>::value, "copied as bytes");
    static constexpr std::size_t kWords = (sizeof(T) + 7) / 8;

public:
    SeqLockValue() { Store(T()); }

    void Store(const T &value)
    {
        std::uint64_t words[kWords] = {};
        std::memcpy(words, &value, sizeof(T));
        std::lock_guard<std::mutex> lock(writeMutex_);
        const std::uint32_t s = seq_.load(std::memory_order_relaxed);
        seq_.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        for (std::size_t i = 0; i < kWords; ++i)
            words_[i].store(words[i], std::memory_order_relaxed);
        seq_.store(s + 2, std::memory_order_release);
    }

    T Load() const
    {
        std::uint64_t words[kWords];
        for (;;) {
            const std::uint32_t s1 = seq_.load(std::memory_order_acquire);
            if (s1 & 1u)
                continue;
            for (std::size_t i = 0; i < kWords; ++i)
                words[i] = words_[i].load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (seq_.load(std::memory_order_relaxed) == s1)
                break;
        }
        T value;
        std::memcpy(&value, words, sizeof(T));
        return value;
    }

    // Read, change and publish under the writers' lock (for setters of
    // single fields).
    template <typename F> void Update(F change)
    {
        std::lock_guard<std::mutex> lock(updateMutex_);
        T value = Load();
        change(value);
        Store(value);
    }

private:
    std::atomic<std::uint32_t> seq_{0};
    std::atomic<std::uint64_t> words_[kWords] = {};
    std::mutex writeMutex_;
    std::mutex updateMutex_;
};

// Lines in the ring. The fuzz build makes it small: a 60 MB ring allocated
// for every input made the log reader's fuzzing crawl, and a small ring
// wraps within one input, so the wrap-around is fuzzed too.
#ifndef CINDREL_RING_LINES
#define CINDREL_RING_LINES 4096
#endif

class CDspDataBuffer {
public:
    static constexpr int kCapacity = CINDREL_RING_LINES;
    static_assert(kCapacity >= 2, "the ring holds the current line and at least one before it");

    explicit CDspDataBuffer(ColdCurve *coldCurve);
    ~CDspDataBuffer();
    CDspDataBuffer(const CDspDataBuffer &) = delete;
    CDspDataBuffer &operator=(const CDspDataBuffer &) = delete;

    static bool IsNavSane(const ScanLineRec &line);

    // Validate, run the fire test and store. The line is modified in place.
    // False when the line was rejected (nothing stored).
    bool AddLine(ScanLineRec &line);
    // Validate and store, without the fire test.
    bool StoreLine(ScanLineRec &line);

    std::uint32_t TakeNewLineCount();
    void GetPriorLine(std::uint32_t age, ScanLineRec *out) const;
    const ScanLineRec &CurrentLine() const { return ring_[readPos_]; }

    // Current-line accessors (raw record units).
    std::uint32_t lineIndex() const { return CurrentLine().lineIndex; }
    float chnBGain() const { return CurrentLine().chnBGain; }
    std::int32_t chnBOffset() const;
    std::uint32_t statWord1() const { return CurrentLine().statWord1; }
    std::uint32_t statWord2() const { return CurrentLine().statWord2; }
    std::int32_t chnBMin() const { return CurrentLine().chnBMin; }
    std::int32_t chnBMax() const { return CurrentLine().chnBMax; }
    std::uint32_t vhInterval() const { return CurrentLine().vhInterval; }
    std::uint32_t vhOverride() const { return CurrentLine().vhOverride; }
    bool vhOverrideOn() const { return CurrentLine().vhOverrideOn != 0; }
    std::uint32_t effectiveInterval() const { return CurrentLine().effectiveInterval(); }
    std::int32_t fireThreshold() const { return CurrentLine().fireThreshold; }
    std::int32_t latitude() const { return CurrentLine().latitude; }
    std::int32_t longitude() const { return CurrentLine().longitude; }
    std::int32_t altitude() const { return CurrentLine().altitude; }
    std::int16_t pitch() const { return CurrentLine().pitch; }
    std::int16_t roll() const { return CurrentLine().roll; }
    std::int16_t speed() const { return CurrentLine().speed; }
    std::uint16_t heading() const { return CurrentLine().heading; }
    std::uint16_t track() const { return CurrentLine().track; }
    std::uint32_t scanPeriod() const { return CurrentLine().scanPeriod; }
    bool dspStatusSet() const { return CurrentLine().dspStatus != 0; }

    // Fire detection parameters (any thread; published as one block).
    void SetFireThresholdOverride(std::uint32_t value)
    {
        params_.Update([value](FireDetectParams &p) { p.thresholdOverride = value; });
    }
    std::uint32_t fireThresholdOverride() const { return params_.Load().thresholdOverride; }
    void SetBMax(std::int32_t v)
    {
        params_.Update([v](FireDetectParams &p) { p.bMax = v; });
    }
    void SetBMin(std::int32_t v)
    {
        params_.Update([v](FireDetectParams &p) { p.bMin = v; });
    }
    void SetFireDetectParams(bool usePoly, std::int32_t bMax, std::int32_t bMin, double a2, double a1, double a0);
    // Replaces the whole block at once.
    void SetFireDetectParams(const FireDetectParams &params) { params_.Store(params); }
    FireDetectParams fireDetectParams() const { return params_.Load(); }
    bool usePoly() const { return params_.Load().usePoly; }
    std::int32_t bMax() const { return params_.Load().bMax; }
    std::int32_t bMin() const { return params_.Load().bMin; }
    double a2() const { return params_.Load().a2; }
    double a1() const { return params_.Load().a1; }
    double a0() const { return params_.Load().a0; }

    ColdCurve *coldCurve() const { return coldCurve_; }

private:
    bool ValidateLine(ScanLineRec &line);
    void Store(const ScanLineRec &line);

    struct FreeRing {
        void operator()(ScanLineRec *p) const { std::free(p); }
    };
    // Zeroed memory from the system: its pages are only mapped when lines
    // reach them (zeroing 60 MB by hand made every log open slow).
    std::unique_ptr<ScanLineRec[], FreeRing> ring_;
    std::unique_ptr<ScanLineRec> scratch_;   // shifted candidates, allocated once
    std::atomic<int> writePos_{0};
    int readPos_ = 0;
    ColdCurve *coldCurve_;
    SeqLockValue<FireDetectParams> params_;
    std::uint32_t prevLineIndex_ = 0;
    std::uint32_t prevInterval_ = 0;
};
