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

// What the threshold panel's Auto buttons add to the newest measured values
// unless the operator stored other amounts.
// - Fire: the newest line's margin over the curve plus 200 counts, a fire
//   threshold near 7 K of channel A (40 counts per kelvin) above the
//   coldest ground seen with the same channel B. The first seconds show
//   margins near 85; over a whole pass the margin of plain ground grows to
//   200-300 (the curve's minimum deepens as it sees more ground, and thin
//   smoke and hot ground warm channel A a few kelvin), so 50 left lone
//   pixels firing all through the pass. Flame filling a hundredth of a
//   pixel adds 700 counts or more to channel A, well above.
// - BMax: the warmest channel B of the newest line plus 4800 counts, 40 K
//   at 120 counts per kelvin. Sunlit rock and cooling burn scars run 15 to
//   35 K above the ground around them, so a limit 200 counts (under 2 K)
//   above the first seconds' warmest ground made every such patch fire,
//   whole. Flame below this limit is still found by the curve: a sub-pixel
//   fire drives channel A far above the ground at its channel B.
// - BMin: the coldest channel B of the newest line plus 1.
constexpr std::int32_t kDefaultFireAutoAmount = 200;
constexpr std::int32_t kDefaultBMaxAutoAmount = 4800;
constexpr std::int32_t kDefaultBMinAutoAmount = 1;

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
