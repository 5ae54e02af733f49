#pragma once
// The channel B limits of the fire test (the fire limit: above it a pixel
// is fire whatever the detection curve says; the cold limit: below it the
// curve is not consulted). Both compare with the raw signed channel B
// sample; the threshold panel shows them with 32768 added, as unsigned
// detector counts.
#include <cstdint>

// Channel B of a surface near 340 K, hotter than sunlit rock or bare
// ground gets, for a scanner that reads 3500 counts at 295 K with 120
// counts per kelvin; every pixel with flame in a good part of it is above
// (42768 on the panel). The earlier default, 65000 raw, was beyond any
// sample, so the limit never acted.
constexpr std::int32_t kDefaultChnBFireLimit = 10000;
constexpr std::int32_t kDefaultChnBColdLimit = 1000;

// A limit as the settings store holds it. Earlier versions stored the fire
// limit in the panel's unsigned counts (65000); a stored value above the
// signed sample range is such a value and is taken back to raw counts.
inline std::int32_t ChnBLimitFromSettings(long long stored)
{
    if (stored > 32767)
        stored = stored - 32768 > 32767 ? 32767 : stored - 32768;
    if (stored < -2147483647LL)
        stored = -2147483647LL;
    return std::int32_t(stored);
}
