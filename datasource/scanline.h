#pragma once
// One scan line of the infrared line scanner with its navigation and
// acquisition settings. The layout is the board's and the flight log's:
// every byte offset below is part of the format.
#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr int SAMPLES_PER_LINE = 1680;
constexpr std::uint8_t FIRE_PIXEL = 255;

constexpr std::uint16_t LINE_GAP = 0x0008;      // lineIndex not the one expected
constexpr std::uint16_t NAV_REPAIRED = 0x0010;  // repaired by a one-word shift

struct ScanLineRec {
    std::uint32_t lineIndex;        // 0
    float chnBGain;                 // 4
    std::int32_t chnBOffset;        // 8
    std::uint32_t statWord1;        // 12
    std::uint32_t statWord2;        // 16
    std::int32_t chnBMin;           // 20
    std::int32_t chnBMax;           // 24
    std::uint32_t vhInterval;       // 28
    std::uint32_t vhOverride;       // 32
    std::uint32_t vhOverrideOn;     // 36
    std::uint8_t reserved40[48];    // 40
    std::uint32_t dspStatus;        // 88
    std::int32_t fireMargin;        // 92
    std::uint8_t reserved96[4];     // 96
    std::int32_t fireThreshold;     // 100
    std::uint8_t reserved104[8];    // 104
    std::int32_t latitude;          // 112 milliarcseconds
    std::int32_t longitude;         // 116 milliarcseconds
    std::int32_t altitude;          // 120 centimetres
    std::int16_t pitch;             // 124 hundredths of a degree
    std::int16_t roll;              // 126
    std::int16_t speed;             // 128 cm/s
    std::uint16_t heading;          // 130 hundredths of a degree
    std::uint16_t lineFlags;        // 132
    std::uint16_t track;            // 134
    std::uint8_t reserved136[4];    // 136
    std::uint32_t scanPeriod;       // 140
    std::int32_t chanA[SAMPLES_PER_LINE];   // 144
    std::int32_t chanB[SAMPLES_PER_LINE];   // 6864
    std::uint8_t pix[SAMPLES_PER_LINE];     // 13584, pix[j] belongs to sample 1679 - j
    std::uint8_t pixExtra[12];      // 15264
    std::uint8_t reserved15276[28]; // 15276
    std::uint32_t pendingLines;     // 15304
    std::uint8_t reserved15308[12]; // 15308

    void clear() { std::memset(this, 0, sizeof(*this)); }

    // Effective V/H interval: the override when it is on.
    std::uint32_t effectiveInterval() const { return vhOverrideOn != 0 ? vhOverride : vhInterval; }
};

static_assert(sizeof(ScanLineRec) == 15320, "ScanLineRec must be 15320 bytes");
static_assert(offsetof(ScanLineRec, lineIndex) == 0, "layout");
static_assert(offsetof(ScanLineRec, chnBGain) == 4, "layout");
static_assert(offsetof(ScanLineRec, chnBOffset) == 8, "layout");
static_assert(offsetof(ScanLineRec, statWord1) == 12, "layout");
static_assert(offsetof(ScanLineRec, statWord2) == 16, "layout");
static_assert(offsetof(ScanLineRec, chnBMin) == 20, "layout");
static_assert(offsetof(ScanLineRec, chnBMax) == 24, "layout");
static_assert(offsetof(ScanLineRec, vhInterval) == 28, "layout");
static_assert(offsetof(ScanLineRec, vhOverride) == 32, "layout");
static_assert(offsetof(ScanLineRec, vhOverrideOn) == 36, "layout");
static_assert(offsetof(ScanLineRec, reserved40) == 40, "layout");
static_assert(offsetof(ScanLineRec, dspStatus) == 88, "layout");
static_assert(offsetof(ScanLineRec, fireMargin) == 92, "layout");
static_assert(offsetof(ScanLineRec, reserved96) == 96, "layout");
static_assert(offsetof(ScanLineRec, fireThreshold) == 100, "layout");
static_assert(offsetof(ScanLineRec, reserved104) == 104, "layout");
static_assert(offsetof(ScanLineRec, latitude) == 112, "layout");
static_assert(offsetof(ScanLineRec, longitude) == 116, "layout");
static_assert(offsetof(ScanLineRec, altitude) == 120, "layout");
static_assert(offsetof(ScanLineRec, pitch) == 124, "layout");
static_assert(offsetof(ScanLineRec, roll) == 126, "layout");
static_assert(offsetof(ScanLineRec, speed) == 128, "layout");
static_assert(offsetof(ScanLineRec, heading) == 130, "layout");
static_assert(offsetof(ScanLineRec, lineFlags) == 132, "layout");
static_assert(offsetof(ScanLineRec, track) == 134, "layout");
static_assert(offsetof(ScanLineRec, reserved136) == 136, "layout");
static_assert(offsetof(ScanLineRec, scanPeriod) == 140, "layout");
static_assert(offsetof(ScanLineRec, chanA) == 144, "layout");
static_assert(offsetof(ScanLineRec, chanB) == 6864, "layout");
static_assert(offsetof(ScanLineRec, pix) == 13584, "layout");
static_assert(offsetof(ScanLineRec, pixExtra) == 15264, "layout");
static_assert(offsetof(ScanLineRec, reserved15276) == 15276, "layout");
static_assert(offsetof(ScanLineRec, pendingLines) == 15304, "layout");
static_assert(offsetof(ScanLineRec, reserved15308) == 15308, "layout");

// Unit conversions of the navigation fields, as every consumer uses them.
inline double milliArcSecToDeg(std::int32_t v) { return v * 0.001 / 3600.0; }
inline float milliArcSecToDegF(std::int32_t v) { return float(v) * 0.001f / 3600.0f; }
