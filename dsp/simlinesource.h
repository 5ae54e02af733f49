#pragma once
// Where the simulated board's scan lines come from: one pass of the scene
// and flight model by default, or any other source a test supplies.
#include "datasource/scanline.h"

#include <cstdint>
#include <memory>

class SimLineSource {
public:
    virtual ~SimLineSource() = default;
    // The next scan line; false when the pass is over.
    virtual bool next(ScanLineRec &out) = 0;
    // Scan lines per second of the pass.
    virtual double lineRateHz() const = 0;
    // The channel B display gain and offset the host has written.
    virtual void setChannelB(float gain, std::int32_t offset) = 0;
};

// A plain synthetic pattern with sane navigation: line indices 0, 3, 6, ...,
// a cool background and fire samples at known places (see isFireSample).
class PatternLineSource : public SimLineSource {
public:
    static constexpr std::uint32_t kInterval = 3;
    static constexpr std::int32_t kFireThreshold = 400;

    explicit PatternLineSource(double rateHz = 20.0) : rate_(rateHz) {}
    bool next(ScanLineRec &out) override;
    double lineRateHz() const override { return rate_; }
    void setChannelB(float gain, std::int32_t offset) override;

    // True when sample i of the line with sequence number n (0, 1, ...)
    // carries a fire. Fires keep clear of the first samples the host's fire
    // test visits, so every fire has a cold sample of its channel B value
    // before it.
    static bool isFireSample(std::uint32_t n, int sample);
    std::uint32_t produced() const { return n_; }

private:
    double rate_;
    std::uint32_t n_ = 0;
    float gain_ = 1.0f;
    std::int32_t offset_ = 0;
};

// The scene and flight model's pass, repeated pass after pass.
std::unique_ptr<SimLineSource> makeDefaultSimLineSource();
