#pragma once
// The scan line the crash test's recorder writes as its n-th line: its
// contents follow from n alone, so the test can check every record it finds.
#include "datasource/scanline.h"

#include <cstdint>

inline void makeCrashLine(std::uint32_t n, ScanLineRec &r)
{
    r.clear();
    r.lineIndex = n;
    r.chnBGain = 1.0f;
    r.vhInterval = 1;
    r.latitude = std::int32_t(45 * 3600 * 1000) + std::int32_t(n);
    r.longitude = std::int32_t(-120 * 3600 * 1000);
    r.altitude = 300000;
    r.heading = std::uint16_t(n % 36000);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        r.chanA[i] = std::int32_t((n * 31u + std::uint32_t(i) * 7u) % 65536u) - 32768;
        r.chanB[i] = std::int32_t((n * 17u + std::uint32_t(i)) % 2000u) - 1000;
        r.pix[i] = std::uint8_t((n + std::uint32_t(i)) % 255u);
    }
    r.pixExtra[0] = std::uint8_t(n);
}

// Lines the recorder hands over in tick t.
inline std::uint32_t crashLinesInTick(std::uint32_t t) { return 1 + t % 7; }
