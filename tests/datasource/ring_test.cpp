#include "datasource/cdspdatabuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace {

// A sane line: navigation within every bound.
std::unique_ptr<ScanLineRec> saneLine(uint32_t index, uint32_t interval = 3)
{
    auto r = std::make_unique<ScanLineRec>();
    r->clear();
    r->lineIndex = index;
    r->chnBGain = 1.0f;
    r->vhInterval = interval;
    r->latitude = int32_t(45.0 * 3600 * 1000);
    r->longitude = int32_t(-120.0 * 3600 * 1000);
    r->altitude = 300000;
    r->heading = 9000;
    r->pitch = 100;
    r->roll = -200;
    return r;
}

struct Ring : ::testing::Test {
    std::unique_ptr<ColdCurve> curve = std::make_unique<ColdCurve>();
    std::unique_ptr<CDspDataBuffer> buf;
    void SetUp() override
    {
        curve->resetStartValues();
        buf = std::make_unique<CDspDataBuffer>(curve.get());
    }
};

} // namespace

TEST_F(Ring, StoresInOrderAndWraps)
{
    uint32_t idx = 0;
    auto out = std::make_unique<ScanLineRec>();
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 1500; ++i) {
            auto l = saneLine(idx);
            idx += 3;
            ASSERT_TRUE(buf->StoreLine(*l));
        }
        ASSERT_EQ(buf->TakeNewLineCount(), 1500u);
        for (uint32_t age = 0; age < 1500; ++age) {
            buf->GetPriorLine(age, out.get());
            ASSERT_EQ(out->lineIndex, idx - 3 * (age + 1));
        }
        EXPECT_EQ(buf->lineIndex(), idx - 3);
    }
    EXPECT_EQ(buf->TakeNewLineCount(), 0u);
}

TEST_F(Ring, ExactlyFullRingCountsZeroAndFirstLineGap)
{
    auto first = saneLine(5);
    ASSERT_TRUE(buf->StoreLine(*first));
    auto out = std::make_unique<ScanLineRec>();
    buf->TakeNewLineCount();
    buf->GetPriorLine(0, out.get());
    EXPECT_TRUE(out->lineFlags & LINE_GAP);
    EXPECT_FALSE(first->lineFlags & LINE_GAP) << "gap flag is set in the ring only";

    // A fresh ring whose first line has index 0 gets no gap.
    CDspDataBuffer other(curve.get());
    auto zero = saneLine(0);
    other.StoreLine(*zero);
    other.TakeNewLineCount();
    other.GetPriorLine(0, out.get());
    EXPECT_FALSE(out->lineFlags & LINE_GAP);

    uint32_t idx = 8;
    for (int i = 0; i < 4096; ++i) {
        auto l = saneLine(idx);
        idx += 3;
        buf->StoreLine(*l);
    }
    EXPECT_EQ(buf->TakeNewLineCount(), 0u);
    buf->GetPriorLine(0, out.get());
    EXPECT_EQ(out->lineIndex, idx - 3);
    EXPECT_FALSE(out->lineFlags & LINE_GAP);
}

TEST_F(Ring, GapUsesEffectiveIntervalOfPreviousLine)
{
    auto a = saneLine(0, 3);
    a->vhOverrideOn = 1;
    a->vhOverride = 10;
    buf->StoreLine(*a);
    auto b = saneLine(10);
    buf->StoreLine(*b);
    auto c = saneLine(14);   // expected 13
    buf->StoreLine(*c);
    buf->TakeNewLineCount();
    auto out = std::make_unique<ScanLineRec>();
    buf->GetPriorLine(1, out.get());
    EXPECT_FALSE(out->lineFlags & LINE_GAP);
    buf->GetPriorLine(0, out.get());
    EXPECT_TRUE(out->lineFlags & LINE_GAP);
}

TEST_F(Ring, OneWordRepairsAndRejection)
{
    auto prev = saneLine(100, 4);
    ASSERT_TRUE(buf->StoreLine(*prev));

    // Right-shift repair: the record's first word was lost, every field
    // arrived one word early; the candidate takes the predicted index.
    auto good = saneLine(104, 4);
    good->chanA[7] = 1234;
    auto early = std::make_unique<ScanLineRec>();
    early->clear();
    std::memcpy(early.get(), reinterpret_cast<char *>(good.get()) + 4, sizeof(ScanLineRec) - 4);
    ASSERT_FALSE(CDspDataBuffer::IsNavSane(*early));
    ASSERT_TRUE(buf->StoreLine(*early));
    EXPECT_EQ(early->lineIndex, 104u);
    EXPECT_TRUE(early->lineFlags & NAV_REPAIRED);
    EXPECT_EQ(early->chanA[7], 1234);

    // Left-shift repair: a stray word in front, every field one word late.
    auto good2 = saneLine(108, 4);
    good2->chanB[3] = -55;
    auto late = std::make_unique<ScanLineRec>();
    late->clear();
    uint32_t junk = 0xFFFFFFFF;
    std::memcpy(late.get(), &junk, 4);
    std::memcpy(reinterpret_cast<char *>(late.get()) + 4, good2.get(), sizeof(ScanLineRec) - 4);
    ASSERT_FALSE(CDspDataBuffer::IsNavSane(*late));
    ASSERT_TRUE(buf->StoreLine(*late));
    EXPECT_EQ(late->lineIndex, 108u);
    EXPECT_EQ(late->chanB[3], -55);
    EXPECT_TRUE(late->lineFlags & NAV_REPAIRED);
    EXPECT_EQ(buf->TakeNewLineCount(), 3u);

    // Insane beyond repair: rejected, bookkeeping untouched.
    auto bad = saneLine(112, 4);
    bad->roll = 9001;
    bad->chnBGain = 0.0f;
    bad->altitude = 0;
    bad->latitude = 0x7FFFFFFF;
    bad->longitude = 0x7FFFFFFF;
    bad->lineIndex = 0x7FFFFFFF;
    bad->pitch = 30000;
    EXPECT_FALSE(buf->StoreLine(*bad));
    EXPECT_EQ(buf->TakeNewLineCount(), 0u);
    // The next right-shift repair still predicts 108 + 4.
    auto good3 = saneLine(112, 4);
    auto early3 = std::make_unique<ScanLineRec>();
    early3->clear();
    std::memcpy(early3.get(), reinterpret_cast<char *>(good3.get()) + 4, sizeof(ScanLineRec) - 4);
    ASSERT_TRUE(buf->StoreLine(*early3));
    EXPECT_EQ(early3->lineIndex, 112u);
}

TEST_F(Ring, SingleRollOutOfRangeIsRejected)
{
    auto l = saneLine(0);
    l->roll = 9001;
    // Shifted readings are insane too (gain moves into lineIndex etc.).
    EXPECT_FALSE(buf->StoreLine(*l));
    l->roll = 9000;
    EXPECT_TRUE(buf->StoreLine(*l));
}

TEST_F(Ring, FireTestMarksLearnsAndRespectsLock)
{
    buf->SetFireDetectParams(false, 30000, -100, 0.0, 0.0, 5.0);
    auto l = saneLine(0);
    l->fireThreshold = 100;
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        l->chanA[i] = -1000;
        l->chanB[i] = 50;
    }
    l->pix[0] = 255;             // arrives as 255, lowered to 254 unless fire
    ASSERT_TRUE(buf->AddLine(*l));
    EXPECT_EQ(l->pix[0], 254);
    EXPECT_EQ(curve->at(50 + 32769), -1000 + 32768);
    EXPECT_EQ(l->fireMargin, -5);

    // Hot pixel at sample 10 (pix 1669), saturated channel B at sample 20.
    auto h = saneLine(3);
    h->fireThreshold = 100;
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        h->chanA[i] = -1000;
        h->chanB[i] = 50;
    }
    h->chanA[10] = -1000 + 106;  // a - c = 106 > a0 + 100
    h->chanA[11] = -1000 + 105;  // equal is not fire
    h->chanB[20] = 30001;
    ASSERT_TRUE(buf->AddLine(*h));
    EXPECT_EQ(h->pix[1679 - 10], 255);
    EXPECT_EQ(h->pix[1679 - 11], 0);
    EXPECT_EQ(h->pix[1679 - 20], 255);
    EXPECT_EQ(h->fireMargin, 101);

    // Override replaces the threshold.
    buf->SetFireThresholdOverride(200);
    auto o = saneLine(6);
    o->fireThreshold = 100;
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        o->chanA[i] = -1000;
        o->chanB[i] = 50;
    }
    o->chanA[10] = -1000 + 106;
    buf->AddLine(*o);
    EXPECT_EQ(o->fireThreshold, 200);
    EXPECT_EQ(o->pix[1679 - 10], 0);

    // Locked: colder samples do not change the curve.
    curve->setLockFlag(1);
    auto c = saneLine(9);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        c->chanA[i] = -5000;
        c->chanB[i] = 50;
    }
    buf->AddLine(*c);
    EXPECT_EQ(curve->at(50 + 32769), -1000 + 32768);
}

TEST_F(Ring, ConstructionLimitsMarkNothingAndStoreLineKeeps255)
{
    auto l = saneLine(0);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        l->chanA[i] = 32767;
        l->chanB[i] = (i % 2) ? 32767 : -32768;
    }
    l->pix[5] = 255;
    auto copy = std::make_unique<ScanLineRec>(*l);
    ASSERT_TRUE(buf->AddLine(*l));
    for (int j = 0; j < SAMPLES_PER_LINE; ++j)
        ASSERT_NE(l->pix[j], 255) << j;
    ASSERT_TRUE(buf->StoreLine(*copy));
    EXPECT_EQ(copy->pix[5], 255);
}

TEST_F(Ring, DamagedSamplesAreNeverUsedAsCurveIndex)
{
    buf->SetFireDetectParams(false, -40000, -40000, 0, 0, 0);   // every in-range pixel is fire
    auto l = saneLine(0);
    l->chanB[0] = 70000;
    l->chanB[1] = -40000;
    l->chanA[2] = 1 << 20;
    ASSERT_TRUE(buf->AddLine(*l));
    EXPECT_EQ(l->pix[1679], 0);
    EXPECT_EQ(l->pix[1678], 0);
    EXPECT_EQ(l->pix[1677], 0);
    EXPECT_EQ(l->pix[1676], 255);
}

TEST_F(Ring, StartValuesLearnColdestForPositiveChannelB)
{
    EXPECT_EQ(curve->at(1), 32768);
    EXPECT_EQ(curve->at(32768), 32768);
    EXPECT_EQ(curve->at(32769), 49152);
    auto l = saneLine(0);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        l->chanA[i] = i < 840 ? 10000 : 32767;   // offset 42768; full scale
        l->chanB[i] = i < 840 ? 100 : 200;
    }
    buf->SetFireDetectParams(false, 32767, 0, 0.0, 0.0, 0.0);
    buf->SetFireThresholdOverride(100);
    buf->AddLine(*l);
    EXPECT_EQ(curve->at(100 + 32769), 42768);
    // Full scale at a channel B no ground has shown is flame: it leaves the
    // start value alone and fires against it.
    EXPECT_EQ(curve->at(200 + 32769), 49152);
    EXPECT_EQ(l->pix[0], FIRE_PIXEL);
    EXPECT_NE(l->pix[1679], FIRE_PIXEL);
}

// A producer thread adds 200,000 self-consistent lines while the consumer
// takes them tick by tick; every line copied out is whole and in order.
TEST(RingThreads, ProducerConsumerNeverTearsALine)
{
    auto curve = std::make_unique<ColdCurve>();
    curve->resetStartValues();
    CDspDataBuffer buf(curve.get());
    constexpr uint32_t kLines = 200000;
    std::atomic<uint32_t> consumed{0};
    std::atomic<bool> failed{false};

    std::thread producer([&] {
        auto l = saneLine(0, 1);
        for (uint32_t n = 0; n < kLines; ++n) {
            while (n - consumed.load(std::memory_order_acquire) > 3000)
                std::this_thread::yield();
            l->lineIndex = n;
            l->roll = int16_t(n % 1000);
            l->chnBGain = 1.0f;
            for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
                l->chanA[i] = int32_t(n & 0x7FFF);
                l->chanB[i] = int32_t(n & 0x3FFF);
            }
            if (!buf.AddLine(*l))
                failed = true;
        }
    });

    auto out = std::make_unique<ScanLineRec>();
    uint32_t expected = 0;
    while (expected < kLines && !failed) {
        const uint32_t n = buf.TakeNewLineCount();
        for (uint32_t age = n; age-- > 0;) {
            buf.GetPriorLine(age, out.get());
            const uint32_t idx = out->lineIndex;
            if (idx != expected || out->roll != int16_t(idx % 1000) || out->chanA[0] != int32_t(idx & 0x7FFF) ||
                out->chanA[1679] != int32_t(idx & 0x7FFF) || out->chanB[1679] != int32_t(idx & 0x3FFF)) {
                failed = true;
                break;
            }
            ++expected;
        }
        consumed.store(expected, std::memory_order_release);
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(expected, kLines);
}

TEST(RingThreads, FireParametersChangedWhileLinesAreTestedNeverMix)
{
    // Two parameter sets whose fire pixels differ, and whose mixes (bMax of
    // one with bMin or a0 of the other) give a third count: set A marks
    // samples 1001..1679 by channel B alone, set B samples 0..499 by the
    // channel A margin alone.
    auto curve = std::make_unique<ColdCurve>();
    curve->resetStartValues();
    curve->setLockFlag(1);   // channel B < 0: every curve value stays 32768
    CDspDataBuffer buf(curve.get());
    buf.SetFireDetectParams(false, -1000, 32767, 0.0, 0.0, 0.0);
    std::atomic<bool> stop{false};
    std::thread gui([&] {
        for (uint32_t n = 0; !stop.load(std::memory_order_relaxed); ++n) {
            if (n % 2)
                buf.SetFireDetectParams(true, 32767, -32768, 1.0, 2.0, -500.0);
            else
                buf.SetFireDetectParams(false, -1000, 32767, 0.0, 0.0, 0.0);
        }
    });
    auto l = saneLine(0, 1);
    int counts[2] = {0, 0};
    for (uint32_t n = 0; n < 20000; ++n) {
        l->lineIndex = n;
        l->fireThreshold = 0;
        for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
            l->chanB[i] = -2000 + i;
            l->chanA[i] = -i;
            l->pix[i] = 0;
        }
        EXPECT_TRUE(buf.AddLine(*l));
        int fires = 0;
        for (int j = 0; j < SAMPLES_PER_LINE; ++j)
            fires += l->pix[j] == FIRE_PIXEL;
        if (fires != 679 && fires != 500) {
            ADD_FAILURE() << "line " << n << ": " << fires << " fire pixels";
            break;
        }
        ++counts[fires == 500];
    }
    stop = true;
    gui.join();
    EXPECT_EQ(counts[0] + counts[1], 20000);
}
