#include "dsp/simlinesource.h"

#include <algorithm>

bool PatternLineSource::isFireSample(std::uint32_t n, int sample)
{
    if (sample < 100 || sample >= 1579)
        return false;
    return (std::uint32_t(sample) + 37u * n) % 211u == 0;
}

void PatternLineSource::setChannelB(float gain, std::int32_t offset)
{
    gain_ = gain;
    offset_ = offset;
}

bool PatternLineSource::next(ScanLineRec &r)
{
    const std::uint32_t n = n_++;
    r.clear();
    r.lineIndex = n * kInterval;
    r.chnBGain = gain_;
    r.chnBOffset = offset_;
    r.vhInterval = kInterval;
    r.fireThreshold = kFireThreshold;
    r.latitude = std::int32_t(45.0 * 3600 * 1000) + std::int32_t(n);
    r.longitude = std::int32_t(-120.0 * 3600 * 1000) + std::int32_t(n * 3);
    r.altitude = 300000;
    r.heading = 9000;
    r.track = 9100;
    r.speed = 6000;
    r.pitch = std::int16_t(n % 50);
    r.roll = -120;
    r.scanPeriod = 5000;
    std::int32_t bMin = 1 << 30, bMax = -(1 << 30);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        const std::int32_t b = 500 + i % 100;
        std::int32_t a = 1000 + std::int32_t((i * 7 + n * 3) % 50);
        if (isFireSample(n, i))
            a = 20000;
        r.chanA[i] = a;
        r.chanB[i] = b;
        bMin = std::min(bMin, b);
        bMax = std::max(bMax, b);
        const float v = float(b - offset_) * gain_ * 0.05f + 127.0f;
        r.pix[SAMPLES_PER_LINE - 1 - i] = std::uint8_t(std::clamp(v, 0.0f, 254.0f));
    }
    r.chnBMin = bMin;
    r.chnBMax = bMax;
    return true;
}
