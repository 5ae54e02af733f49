#pragma once
// The learned fire detection curve: 65537 signed 32-bit entries. Entry 0 is
// the lock flag (0 = learning); entry b + 32769 holds the smallest offset
// channel A value (sample + 32768) seen with channel B value b.
//
// Entries are written as whole words by the acquisition thread (learning)
// and by the GUI (lock flag, reset) without a lock; relaxed atomics make
// that well defined and compile to plain loads and stores.
#include <atomic>
#include <cstdint>

class ColdCurve {
public:
    static constexpr int kEntries = 65537;
    static constexpr std::int32_t kNegativeStart = 32768;   // entries 1..32768
    // Entries 32769..65536 (channel B 0 and warmer) start at the offset
    // value of channel A at half scale, a brightness near 378 K in the
    // 3.9 um band: above any ground, sunlit rock or smoke, which therefore
    // teach the curve their coldest channel A, and below flame. Flame seen
    // at a channel B no ground has shown yet neither teaches the curve nor
    // hides behind its own value: it stands out against half scale.
    static constexpr std::int32_t kPositiveStart = 32768 + 16384;

    ColdCurve();   // every entry 0

    std::int32_t at(int index) const { return e_[index].load(std::memory_order_relaxed); }
    void set(int index, std::int32_t value) { e_[index].store(value, std::memory_order_relaxed); }

    bool locked() const { return at(0) != 0; }
    void setLockFlag(std::int32_t flag) { set(0, flag); }

    // Start values used at start-up and by the panel's Reset: clears the lock
    // flag, sets the entries of channel B values -32768..-1 to 32768 and
    // those of 0..32767 to kPositiveStart, so the curve learns the coldest
    // channel A value of the ground for every channel B value.
    void resetStartValues();

private:
    std::atomic<std::int32_t> e_[kEntries];
};
