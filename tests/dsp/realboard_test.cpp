// Which board the program uses, and the live source against the harder twin
// of the board: interrupts lost while nobody waits, the record holding only
// the newest line, and two translation sets on one BAR resolving to the
// lowest-numbered one.
#include "dsptestutil.h"

#include "dsp/channelselect.h"

#include <QElapsedTimer>

#include <chrono>
#include <thread>

using namespace dsptest;

namespace {

struct RealBoardTest : DspFixture {};

bool waitFor(const std::function<bool()> &cond, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace

TEST(BoardChoiceTest, TheSimulatedBoardOnlyOnRequestWhereADriverExists)
{
    using dspdrv::BoardKind;
    struct Case {
        bool requested;
        const char *variable;
        BoardKind kind;
    };
    const Case cases[] = {
        {false, nullptr, dspdrv::kDefaultBoardKind}, {false, "", dspdrv::kDefaultBoardKind},
        {false, "bogus", dspdrv::kDefaultBoardKind}, {false, "driver", BoardKind::Real},
        {false, "simulated", BoardKind::Simulated},  {true, nullptr, BoardKind::Simulated},
        {true, "driver", BoardKind::Simulated},
    };
    for (const Case &c : cases)
        EXPECT_EQ(dspdrv::chooseBoardKind(c.requested, c.variable), c.kind) << c.requested << " " << (c.variable ? c.variable : "unset");
#ifdef _WIN32
    EXPECT_EQ(dspdrv::kDefaultBoardKind, BoardKind::Real);
#else
    EXPECT_EQ(dspdrv::kDefaultBoardKind, BoardKind::Simulated);
    // Asking for the real board where there is no driver finds no board
    // instead of quietly simulating one.
    BoardAccess real(dspdrv::makeRealDriverChannel());
    dspconsole::startCapture();
    EXPECT_EQ(real.Open(), -1);
    EXPECT_NE(dspconsole::takeCapture().find("No KEPA devices are present"), std::string::npos);
    dspconsole::stopCapture();
    EXPECT_FALSE(real.channel()->simulated());
#endif
}

TEST_F(RealBoardTest, TwoSetsOnOneBarResolveToTheLowestAndTheAccessLayerNeverLeavesTwo)
{
    SimBoardConfig cfg;
    cfg.lowestSetWins = true;
    auto board = makeBoard(cfg);
    auto a = openBoard(board);
    board->poke(0x11800000, 0xAAAA);
    board->poke(0x11900000, 0xBBBB);
    ASSERT_GT(a->SetInboundWindow(1, BoardAccess::kSetBootImage, 0x11800000), 0);
    // Set 0x320 pointed at BAR 1 behind the access layer's back: both map it.
    std::uint32_t bus = 0;
    a->ReadConfigSpace(0x14, &bus);
    const std::uint32_t words[4] = {1, bus & ~0xFu, 0, 0x11900000};
    ASSERT_EQ(a->WriteAddressBuf(0, BoardAccess::kSetBoot, 4, 2, words), 0);
    std::uint32_t v = 0;
    ASSERT_EQ(a->ReadAddress(1, 0, &v), 0);
    EXPECT_EQ(v, 0xAAAAu);
    ASSERT_EQ(board->diagnostics().size(), 1u);
    // Through the access layer the other set is retired first.
    ASSERT_GT(a->SetInboundWindow(1, BoardAccess::kSetBoot, 0x11900000), 0);
    ASSERT_EQ(a->ReadAddress(1, 0, &v), 0);
    EXPECT_EQ(v, 0xBBBBu);
    EXPECT_EQ(board->diagnostics().size(), 1u);
}

TEST_F(RealBoardTest, LiveSourceOnTheHarderTwinTakesTheNewestLineAndCountsTheMissedOnes)
{
    SimBoardConfig cfg;
    cfg.missedInterrupts = true;
    cfg.lowestSetWins = true;
    cfg.stallAfter = 3000;
    auto board = makeBoard(cfg, -1.0);   // lines as fast as the board can make them
    auto src = makeSource(board);
    ASSERT_TRUE(src->Initialize()) << boxes().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(board->diagnostics().empty()) << board->diagnostics().front();
    src->Start();
    ASSERT_TRUE(waitFor([&] { return board->linesProduced() == 3000; }, 20000));
    // The last line's interrupt may have been lost; it is still read once
    // the wait runs out.
    ASSERT_TRUE(waitFor(
        [&] {
            const std::uint64_t before = src->worker()->linesMoved();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return src->worker()->linesMoved() == before;
        },
        5000));
    EXPECT_GT(src->linesMissed(), 0u);
    src->DoNextFwdCycle(0, false, false);
    const std::uint32_t n = src->GetNumNewImageLines();
    ASSERT_EQ(n, src->worker()->linesMoved());
    ScanLineRec newest, older;
    src->GetPriorImageLine(0, &newest);
    EXPECT_EQ(newest.lineIndex, 3u * 2999u);
    // Indices only go forward, and every jump is flagged in the ring.
    std::uint64_t flaggedMissing = 0;
    for (std::uint32_t age = 1; age < n && age < 4000; ++age) {
        src->GetPriorImageLine(age, &older);
        ASSERT_GT(newest.lineIndex, older.lineIndex);
        const std::uint32_t skipped = (newest.lineIndex - older.lineIndex) / PatternLineSource::kInterval - 1;
        EXPECT_EQ((newest.lineFlags & LINE_GAP) != 0, skipped > 0) << newest.lineIndex;
        flaggedMissing += skipped;
        newest = older;
    }
    // Every line the board made was taken or counted as missed, except those
    // before the first line taken.
    EXPECT_EQ(flaggedMissing, src->linesMissed());
    EXPECT_EQ(src->worker()->linesMoved() + src->linesMissed() + older.lineIndex / PatternLineSource::kInterval,
              3000u);
    EXPECT_TRUE(board->diagnostics().empty());
}
