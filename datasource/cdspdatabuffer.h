#pragma once
// The ring of 4096 scan lines every data source owns, with the navigation
// check, the one-word repair and the host fire test.
//
// Single producer (AddLine/StoreLine), single consumer (TakeNewLineCount,
// GetPriorLine and the current-line accessors). The producer copies a line
// into its slot and only then publishes the write position (release); the
// consumer reads it with acquire order.
#include "datasource/coldcurve.h"
#include "datasource/scanline.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CDspDataBuffer {
public:
    static constexpr int kCapacity = 4096;

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

    // Fire detection parameters.
    void SetFireThresholdOverride(std::uint32_t value) { fireThresholdOverride_ = value; }
    std::uint32_t fireThresholdOverride() const { return fireThresholdOverride_; }
    void SetBMax(std::int32_t v) { bMax_ = v; }
    void SetBMin(std::int32_t v) { bMin_ = v; }
    void SetFireDetectParams(bool usePoly, std::int32_t bMax, std::int32_t bMin, double a2, double a1, double a0);
    bool usePoly() const { return usePoly_; }
    std::int32_t bMax() const { return bMax_; }
    std::int32_t bMin() const { return bMin_; }
    double a2() const { return a2_; }
    double a1() const { return a1_; }
    double a0() const { return a0_; }

    ColdCurve *coldCurve() const { return coldCurve_; }

private:
    bool ValidateLine(ScanLineRec &line);
    void Store(const ScanLineRec &line);

    std::unique_ptr<ScanLineRec[]> ring_;
    std::unique_ptr<ScanLineRec> scratch_;   // shifted candidates, allocated once
    std::atomic<int> writePos_{0};
    int readPos_ = 0;
    ColdCurve *coldCurve_;
    std::uint32_t fireThresholdOverride_ = 0;
    bool usePoly_ = false;
    std::int32_t bMax_ = 32768;
    std::int32_t bMin_ = 32768;
    double a2_ = 0.0, a1_ = 0.0, a0_ = 0.0;
    std::uint32_t prevLineIndex_ = 0;
    std::uint32_t prevInterval_ = 0;
};
