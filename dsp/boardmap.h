#pragma once
// The board's address map as the host and the DSP programs share it:
// mailboxes, status words, the detection and display parameters, the scan
// record, and the words exchanged through the mailboxes. Everything here is
// reached through BAR 4 with translation set 0x330, except the scan record,
// which is read by DMA. Free of Qt.
#include <cstdint>

namespace boardmap {

// Mailboxes: to-DSP mailbox i at kToDspMailbox0 + 8 i, from-DSP mailbox i at
// kFromDspMailbox0 + 8 i.
constexpr std::uint32_t kToDspMailbox0 = 0x10860000;
constexpr std::uint32_t kFromDspMailbox0 = 0x10860004;
constexpr int kMailboxes = 3;
constexpr std::uint32_t toDspMailbox(int i) { return kToDspMailbox0 + 8u * std::uint32_t(i); }
constexpr std::uint32_t fromDspMailbox(int i) { return kFromDspMailbox0 + 8u * std::uint32_t(i); }
constexpr std::uint32_t kLastMailboxWord = fromDspMailbox(kMailboxes - 1);

constexpr std::uint32_t kGroundElevation = 0x10860030;   // whole metres
constexpr std::uint32_t kBoardStatus = 0x10860068;       // after a failed start-up
constexpr std::uint32_t kPollAck = 0x10860074;           // poll acknowledgement counter

// Detection and display parameters.
constexpr std::uint32_t kChnBGain = 0x82004004;      // IEEE single bits
constexpr std::uint32_t kChnBOffset = 0x82004008;    // signed
constexpr std::uint32_t kVhOverride = 0x82004020;
constexpr std::uint32_t kVhOverrideOn = 0x82004024;
constexpr std::uint32_t kFireThreshold = 0x82004064; // signed
constexpr std::uint32_t kUsePoly = 0x8200C000;
constexpr std::uint32_t kCurveLock = 0x8200C004;
constexpr std::uint32_t kBMax = 0x8200C00C;
constexpr std::uint32_t kBMin = 0x8200C010;
constexpr std::uint32_t kPolyA0 = 0x8200C014;        // IEEE double, two words
constexpr std::uint32_t kPolyA1 = 0x8200C01C;
constexpr std::uint32_t kPolyA2 = 0x8200C024;
constexpr std::uint32_t kCurveReset = 0x8200C030;

// The newest scan record, read by DMA through channel controller 1.
constexpr std::uint32_t kRecordAddress = 0x82014000;
constexpr std::uint32_t kRecordController = 1;

// Board status word: the INS Ethernet link is down.
constexpr std::uint32_t kStatusInsLinkDown = 3;

// Words of to-DSP mailbox 0 (commands).
constexpr std::uint32_t kStartCommand = 265;
constexpr std::uint32_t kStopCommand = 272;
// Words of to-DSP mailbox 1: A_B_Shift, then this end marker.
constexpr std::uint32_t kParametersDone = 2748;   // 0xABC
// Words of from-DSP mailbox 1: the ready code, then the record size.
constexpr std::uint32_t kReadyCode = 42405;   // 0xA5A5

} // namespace boardmap
