// The live data source on the simulated board: start-up and its boxes,
// every failure mode, the parameter writes, and lines arriving end to end.
#include "dsptestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QThread>

#include <chrono>
#include <cstring>
#include <thread>

using namespace dsptest;

namespace {

struct LiveSourceTest : DspFixture {
    void TearDown() override
    {
        QSettings().remove(QStringLiteral("LastUsed/A_B_Shift"));
        DspFixture::TearDown();
    }
};

std::vector<std::pair<std::uint32_t, std::uint32_t>> paramWrites(const std::shared_ptr<SimBoard> &b)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (const auto &w : b->writes())
        if (w.kind == SimBoard::Write::Board && w.address >= 0x82000000u)
            out.emplace_back(w.address, w.value);
        else if (w.kind == SimBoard::Write::Block && w.address >= 0x82000000u)
            out.emplace_back(w.address, 0xB10C);
    return out;
}

bool waitFor(const std::function<bool()> &cond, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

const QString kInitErr = QStringLiteral("DSP INIT ERROR|");

} // namespace

TEST_F(LiveSourceTest, StartUpBootsTheBoardAndAgreesTheRecordSize)
{
    auto board = makeBoard();
    auto src = makeSource(board);
    ASSERT_TRUE(src->Initialize()) << boxes().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(boxes(), (QStringList{QStringLiteral("DSP INIT|Initialized Driver"), QStringLiteral("DSP INIT|Reset")}));
    EXPECT_TRUE(src->initialised());
    EXPECT_EQ(src->recordSize(), 15308u);
    EXPECT_EQ(board->parameters(), (std::vector<std::uint32_t>{6, 2748}));
    EXPECT_TRUE(board->fpgaConfigured());
    for (std::uint32_t c = 0; c < 3; ++c)
        EXPECT_TRUE(board->coreRunning(c)) << c;
    EXPECT_FALSE(board->coreRunning(3));
    ASSERT_NE(src->worker(), nullptr);
    EXPECT_TRUE(src->acquisitionThread()->isRunning());
    EXPECT_EQ(src->worker()->thread(), src->acquisitionThread());

    src->Start();
    src->Stop();
    EXPECT_EQ(board->commands(), (std::vector<std::uint32_t>{265, 272}));
    EXPECT_EQ(Notice::count(), 2);
}

TEST_F(LiveSourceTest, OutOfRangeShiftWarnsAndIsStillSent)
{
    for (int shift : {19, -1}) {
        SCOPED_TRACE(shift);
        Notice::clearRecords();
        QSettings().setValue(QStringLiteral("LastUsed/A_B_Shift"), shift);
        auto board = makeBoard();
        auto src = makeSource(board);
        ASSERT_TRUE(src->Initialize());
        const QStringList b = boxes();
        ASSERT_EQ(b.size(), 3);
        EXPECT_EQ(b[0], kInitErr + QStringLiteral("The A_B_Shift value in the registry is %1.\nIt was expected to be "
                                                  "between 0 and 18.\nYou may want to check this if it doesn't seem "
                                                  "correct.")
                                       .arg(shift));
        EXPECT_EQ(board->parameters(), (std::vector<std::uint32_t>{std::uint32_t(shift), 2748}));
    }
}

TEST_F(LiveSourceTest, HandshakeMustComeWithinFortyNinePolls)
{
    struct Case {
        int readyAt;
        bool insDown;
        bool ok;
        QStringList errors;
    };
    const QString noAnswer = kInitErr + QStringLiteral("Target Application did not Respond");
    const QString noEthernet = kInitErr + QStringLiteral("No Ethernet: Check Ekinox and Retry");
    const Case cases[] = {
        {49, false, true, {}},
        {50, false, false, {noAnswer}},
        {1, true, false, {noAnswer, noEthernet}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.readyAt);
        Notice::clearRecords();
        SimBoardConfig cfg;
        cfg.readyAtPoll = c.readyAt;
        cfg.insLinkDown = c.insDown;
        auto board = makeBoard(cfg);
        auto src = makeSource(board);
        const std::uint32_t before = CDspInterface::pollCounter();
        EXPECT_EQ(src->Initialize(), c.ok);
        EXPECT_EQ(src->initialised(), c.ok);
        QStringList errors = boxes().filter(kInitErr);
        EXPECT_EQ(errors, c.errors);
        EXPECT_EQ(CDspInterface::pollCounter() - before, std::uint32_t(c.ok ? c.readyAt : 50));
        EXPECT_EQ(src->worker() != nullptr, c.ok);
    }
}

TEST_F(LiveSourceTest, PollAcknowledgesWithTheCounterThenClears)
{
    auto board = makeBoard();
    auto src = makeSource(board);
    ASSERT_EQ(src->board()->Open(), 0);
    board->forceRunning();
    board->poke(0x1086000C, 0x1234);
    board->clearWrites();
    const std::uint32_t counter = CDspInterface::pollCounter();
    EXPECT_EQ(src->GetSpikeErr(), 0x1234u);
    EXPECT_EQ(src->MailboxPoll(1), 0u);
    EXPECT_EQ(CDspInterface::pollCounter(), counter + 2);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> w;
    for (const auto &x : board->writes())
        if (x.kind == SimBoard::Write::Board)
            w.emplace_back(x.address, x.value);
    EXPECT_EQ(w, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0x10860074, counter}, {0x1086000C, 0}}));

    // A from-DSP word that never comes: the read gives up after its time limit.
    src->setMailboxTimeLimit(100);
    bool ok = true;
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(src->MailboxRead(2, &ok), 0u);
    EXPECT_FALSE(ok);
    EXPECT_LT(t.elapsed(), 2000);
}

TEST_F(LiveSourceTest, SettersWriteTheBoardAndTheRing)
{
    auto board = makeBoard();
    auto src = makeSource(board);
    ASSERT_EQ(src->board()->Open(), 0);
    board->clearWrites();
    EXPECT_EQ(src->SetVOverHOverride(-1), -1);
    EXPECT_EQ(src->SetVOverHOverride(120), 120);
    EXPECT_FLOAT_EQ(src->SetChnBGain(2.5f), 2.5f);
    EXPECT_EQ(src->SetChnBOffset(40000), 40000u);
    EXPECT_EQ(src->SetFireThreshold(250), 250u);
    src->SetGroundElevation(1234);
    src->ResetCurve(true);
    src->LockCurve(false);
    std::uint32_t gainBits;
    const float g = 2.5f;
    std::memcpy(&gainBits, &g, 4);
    EXPECT_EQ(paramWrites(board), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0x82004024, 0},
                                                                                          {0x82004020, 120},
                                                                                          {0x82004024, 1},
                                                                                          {0x82004004, gainBits},
                                                                                          {0x82004008, 40000},
                                                                                          {0x82004064, 250},
                                                                                          {0x8200C030, 1},
                                                                                          {0x8200C004, 0}}));
    EXPECT_EQ(board->peek(0x10860030), 1234u);

    board->clearWrites();
    src->SetFireDetectParams(true, 3000, std::uint32_t(-500), 0.25, -1.5, 42.0);
    EXPECT_EQ(paramWrites(board), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0x8200C000, 1},
                                                                                          {0x8200C00C, 3000},
                                                                                          {0x8200C010, 0xFFFFFE0C},
                                                                                          {0x8200C014, 0xB10C},
                                                                                          {0x8200C01C, 0xB10C},
                                                                                          {0x8200C024, 0xB10C}}));
    double a0 = 0, a1 = 0, a2 = 0;
    const std::uint32_t w0[2] = {board->peek(0x8200C014), board->peek(0x8200C018)};
    const std::uint32_t w1[2] = {board->peek(0x8200C01C), board->peek(0x8200C020)};
    const std::uint32_t w2[2] = {board->peek(0x8200C024), board->peek(0x8200C028)};
    std::memcpy(&a0, w0, 8);
    std::memcpy(&a1, w1, 8);
    std::memcpy(&a2, w2, 8);
    EXPECT_EQ(a0, 42.0);
    EXPECT_EQ(a1, -1.5);
    EXPECT_EQ(a2, 0.25);
    EXPECT_TRUE(src->buffer()->usePoly());
    EXPECT_EQ(src->buffer()->bMax(), 3000);
    EXPECT_EQ(src->buffer()->bMin(), -500);
    EXPECT_EQ(src->buffer()->a0(), 42.0);

    src->SetBMax(111);
    src->SetBMin(std::uint32_t(-222));
    EXPECT_EQ(src->buffer()->bMax(), 111);
    EXPECT_EQ(src->buffer()->bMin(), -222);
    EXPECT_EQ(board->peek(0x8200C00C), 111u);
    EXPECT_EQ(Notice::count(), 0);
}

TEST_F(LiveSourceTest, NewestLineQueriesAndTheDisplayRowFollowTheHost)
{
    auto board = makeBoard();
    auto src = makeSource(board);
    ASSERT_TRUE(src->Initialize());
    src->SetFireDetectParams(false, 30000, std::uint32_t(-30000), 0, 0, 0);

    // Nothing arrived: a cleared record answers.
    src->DoNextFwdCycle(0, false, false);
    EXPECT_EQ(src->GetNumNewImageLines(), 0u);
    EXPECT_EQ(src->GetAltitude(), 0.0f);

    for (int i = 0; i < 3; ++i)
        board->raiseLine();
    ASSERT_TRUE(waitFor([&] { return src->worker()->linesMoved() == 3; }));
    EXPECT_TRUE(src->DoNextFwdCycle(0, false, true) == false);
    EXPECT_EQ(src->GetNumNewImageLines(), 3u);
    src->DoNextFwdCycle(0, false, false);
    EXPECT_EQ(src->GetNumNewImageLines(), 0u);   // twice in a row: nothing new

    EXPECT_EQ(src->GetLineIndex(), 6u);
    EXPECT_FLOAT_EQ(src->GetAltitude(), 3000.0f);
    EXPECT_FLOAT_EQ(src->GetHeading(), 90.0f);
    EXPECT_FLOAT_EQ(src->GetTrack(), 91.0f);
    EXPECT_FLOAT_EQ(src->GetSpeed(), 60.0f);
    EXPECT_FLOAT_EQ(src->GetRoll(), -1.2f);
    EXPECT_FLOAT_EQ(src->GetPitch(), 0.02f);
    double lat = 0, lon = 0;
    src->GetPosition(&lat, &lon);
    EXPECT_NEAR(lat, 45.0 + 2 * 0.001 / 3600, 1e-12);
    EXPECT_NEAR(lon, -120.0 + 6 * 0.001 / 3600, 1e-12);
    float a = 0, b = 0;
    EXPECT_EQ(src->GetScanRates(&a, &b), 5000u);
    EXPECT_FLOAT_EQ(a, 4000.0f);
    EXPECT_FLOAT_EQ(b, 200.0f);
    EXPECT_EQ(src->GetFireThreshold(), 400u);
    EXPECT_EQ(src->GetVOverH(), 3u);

    // Gain, offset, threshold and V/H override reach the next records.
    src->SetChnBGain(2.0f);
    src->SetChnBOffset(40000);
    src->SetFireThreshold(900);
    src->SetVOverHOverride(5);
    ScanLineRec before;
    src->GetPriorImageLine(0, &before);
    board->raiseLine();
    board->raiseLine();
    ASSERT_TRUE(waitFor([&] { return src->worker()->linesMoved() == 5; }));
    src->DoNextFwdCycle(0, false, false);
    ASSERT_EQ(src->GetNumNewImageLines(), 2u);
    EXPECT_FLOAT_EQ(src->GetChnBGain(), 2.0f);
    EXPECT_EQ(src->GetChnBOffset(), 0);   // 40000 is out of range
    EXPECT_EQ(src->GetFireThreshold(), 900u);
    bool on = false;
    EXPECT_EQ(src->GetVOverH(&on), 5u);
    EXPECT_TRUE(on);
    ScanLineRec after;
    src->GetPriorImageLine(0, &after);
    EXPECT_EQ(after.lineIndex, 14u);   // 9 (3 after 6), then the override's 5
    EXPECT_NE(std::memcmp(before.pix, after.pix, sizeof(after.pix)), 0);
    EXPECT_EQ(after.pix[0], 0);   // (b - 40000) * gain is far below zero
    EXPECT_EQ(after.lineFlags & LINE_GAP, 0);
}

TEST_F(LiveSourceTest, EveryLineReachesTheRingInOrderWithItsFireMarks)
{
    auto board = makeBoard(SimBoardConfig(), 100.0);
    auto src = makeSource(board);
    ASSERT_TRUE(src->Initialize());
    src->SetFireDetectParams(false, 30000, std::uint32_t(-30000), 0, 0, 0);
    src->Start();

    std::vector<std::unique_ptr<ScanLineRec>> lines;
    QElapsedTimer t;
    t.start();
    while (lines.size() < 500 && t.elapsed() < 20000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
        src->DoNextFwdCycle(0, false, false);
        const std::uint32_t n = src->GetNumNewImageLines();
        for (std::uint32_t age = n; age-- > 0;) {
            auto r = std::make_unique<ScanLineRec>();
            src->GetPriorImageLine(age, r.get());
            lines.push_back(std::move(r));
        }
    }
    src->Stop();
    ASSERT_GE(lines.size(), 500u);
    const double seconds = t.elapsed() / 1000.0;
    EXPECT_GT(seconds, 4.0);   // paced by the board's line rate
    int fires = 0;
    for (std::uint32_t k = 0; k < 500; ++k) {
        const ScanLineRec &r = *lines[k];
        ASSERT_EQ(r.lineIndex, 3 * k);
        ASSERT_EQ(r.lineFlags & LINE_GAP, 0) << k;
        for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
            const bool fire = PatternLineSource::isFireSample(k, i);
            ASSERT_EQ(r.pix[SAMPLES_PER_LINE - 1 - i] == FIRE_PIXEL, fire) << "line " << k << " sample " << i;
            fires += fire;
        }
    }
    EXPECT_GT(fires, 2000);

    QElapsedTimer d;
    d.start();
    src.reset();
    EXPECT_LT(d.elapsed(), 250);
    EXPECT_EQ(board->openHandles(), 0);
}

TEST_F(LiveSourceTest, DestroyingAFailedSourceResetsCoresWithoutStopping)
{
    SimBoardConfig cfg;
    cfg.neverReady = true;
    auto board = makeBoard(cfg);
    auto src = makeSource(board);
    EXPECT_FALSE(src->Initialize());
    EXPECT_EQ(board->openHandles(), 1);
    board->clearWrites();
    src.reset();
    EXPECT_TRUE(board->commands().empty());
    std::vector<std::uint32_t> mdctl;
    for (const auto &w : board->writes())
        if (w.kind == SimBoard::Write::Board && w.address >= 0x02350A3C && w.address <= 0x02350A58)
            mdctl.push_back(w.address);
    EXPECT_EQ(mdctl, (std::vector<std::uint32_t>{0x02350A48, 0x02350A44, 0x02350A40, 0x02350A3C}));
    EXPECT_EQ(board->openHandles(), 0);

    // A source that never opened the board sends nothing on destruction.
    SimBoardConfig none;
    none.boards = 0;
    auto empty = makeBoard(none);
    auto src2 = makeSource(empty);
    Notice::clearRecords();
    EXPECT_FALSE(src2->Initialize());
    empty->clearRequests();
    src2.reset();
    EXPECT_TRUE(empty->requests().empty());
    EXPECT_EQ(boxes(), (QStringList{kInitErr + QStringLiteral("Unable to open Device Driver for target 0. Check the "
                                                              "Target Number for errors.")}));
}

TEST_F(LiveSourceTest, EveryFailureModeReportsAndReturnsCleanly)
{
    const QString rbf = kInitErr + QStringLiteral("ignore\nRBF load failed.  Check that file exists and is a RBF file.");
    const QString coff =
        kInitErr + QStringLiteral("ignore\nCOFF load failed.  Check that file exists and is a COFF file.");
    const QString noOpen =
        kInitErr + QStringLiteral("Unable to open Device Driver for target 0. Check the Target Number for errors.");
    struct Case {
        const char *name;
        std::function<void(SimBoardConfig &)> configure;
        std::function<void()> files;
        QString lastBox;
    };
    const Case cases[] = {
        {"no board", [](SimBoardConfig &c) { c.boards = 0; }, [] {}, noOpen},
        {"two boards", [](SimBoardConfig &c) { c.boards = 2; }, [] {}, noOpen},
        {"no handshake", [](SimBoardConfig &c) { c.neverReady = true; }, [] {},
         kInitErr + QStringLiteral("Target Application did not Respond")},
        {"missing program", [](SimBoardConfig &) {}, [] { QFile::remove(QStringLiteral("c1.out")); }, coff},
        {"malformed program", [](SimBoardConfig &) {},
         [] {
             QFile f(QStringLiteral("c2.out"));
             f.open(QIODevice::WriteOnly);
             f.write("not a program");
         },
         coff},
        {"missing rbf", [](SimBoardConfig &) {}, [] { QFile::remove(QStringLiteral("a.rbf")); }, rbf},
        {"refused rbf", [](SimBoardConfig &c) { c.rejectRbf = true; }, [] {}, rbf},
        {"record too large", [](SimBoardConfig &c) { c.recordSize = 15400; }, [] {},
         kInitErr + QStringLiteral("Target Application reported a scan record size of 15400 bytes; a scan record "
                                   "holds at most 15320 bytes.")},
        {"silent board", [](SimBoardConfig &c) { c.silentAfterReady = true; }, [] {},
         kInitErr + QStringLiteral("Target Application did not report its scan record size.")},
        {"psc stuck", [](SimBoardConfig &c) { c.pscStuck = true; }, [] {}, QStringLiteral("DSP INIT|Initialized Driver")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeSimulatedBootFiles(QDir::currentPath()));
        c.files();
        Notice::clearRecords();
        SimBoardConfig cfg;
        c.configure(cfg);
        auto board = makeBoard(cfg);
        auto src = makeSource(board);
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(src->Initialize());
        EXPECT_FALSE(src->initialised());
        EXPECT_EQ(src->worker(), nullptr);
        ASSERT_GT(Notice::count(), 0);
        EXPECT_EQ(boxes().last(), c.lastBox);
        src.reset();
        EXPECT_LT(t.elapsed(), 5000);
        EXPECT_EQ(board->openHandles(), 0);
    }
    ASSERT_TRUE(writeSimulatedBootFiles(QDir::currentPath()));
}

TEST_F(LiveSourceTest, StreamFailuresStopLinesWithoutHanging)
{
    // A DMA failure after 5 lines: the loop ends, the error is shown by the
    // GUI thread, and the source still shuts down promptly.
    {
        SimBoardConfig cfg;
        cfg.dmaFailAfter = 5;
        auto board = makeBoard(cfg, 200.0);
        auto src = makeSource(board);
        ASSERT_TRUE(src->Initialize());
        Notice::clearRecords();
        src->Start();
        ASSERT_TRUE(waitFor([&] {
            QCoreApplication::processEvents();   // the box comes through the GUI thread
            return !boxes().isEmpty();
        }));
        EXPECT_EQ(src->worker()->linesMoved(), 5u);
        EXPECT_EQ(boxes(), (QStringList{QStringLiteral("Error|ReadDma failed with error 1117: The request could not "
                                                       "be performed because of an I/O device error.")}));
        QElapsedTimer d;
        d.start();
        src.reset();
        EXPECT_LT(d.elapsed(), 250);
    }
    // A stalled stream: lines stop, nothing else happens.
    {
        SimBoardConfig cfg;
        cfg.stallAfter = 4;
        auto board = makeBoard(cfg, 200.0);
        auto src = makeSource(board);
        ASSERT_TRUE(src->Initialize());
        Notice::clearRecords();
        src->Start();
        ASSERT_TRUE(waitFor([&] { return src->worker()->linesMoved() == 4; }));
        // The loop keeps waiting through several empty interrupt waits.
        const auto before = src->board()->requestCount();
        ASSERT_TRUE(waitFor([&] { return src->board()->requestCount() >= before + 6; }));
        QCoreApplication::processEvents();
        src->DoNextFwdCycle(0, false, false);
        EXPECT_EQ(src->GetNumNewImageLines(), 4u);
        EXPECT_EQ(Notice::count(), 0);
        QElapsedTimer d;
        d.start();
        src.reset();
        EXPECT_LT(d.elapsed(), 250);
    }
    // The interrupt wait itself failing (the device went away): acquisition
    // ends with one error box instead of retrying without pause.
    {
        auto board = makeBoard();
        auto src = makeSource(board);
        ASSERT_TRUE(src->Initialize());
        Notice::clearRecords();
        ASSERT_TRUE(waitFor([&] { return src->board()->requestCount() > 0; }));
        src->board()->channel()->closeDevice();
        // The loop reports the failure once as it ends.
        ASSERT_TRUE(waitFor([&] {
            QCoreApplication::processEvents();
            return !boxes().isEmpty();
        }));
        EXPECT_EQ(src->worker()->linesMoved(), 0u);
        // No retries after it: nothing more is asked of the board during a
        // few of the loop's interrupt waits (a window to see an absence,
        // not a wait for something).
        const auto requests = src->board()->requestCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * DspWorker::kInterruptWaitMs));
        EXPECT_EQ(src->board()->requestCount(), requests);
        QCoreApplication::processEvents();
        EXPECT_EQ(boxes(), (QStringList{QStringLiteral("Error|SetupCallbackEvent failed with error 6: The handle is "
                                                       "invalid.")}));
        QElapsedTimer d;
        d.start();
        src.reset();
        EXPECT_LT(d.elapsed(), 250);
    }
    // Commands the board never takes: Start reports it after the time limit.
    {
        SimBoardConfig cfg;
        cfg.commandsStuck = true;
        auto board = makeBoard(cfg);
        auto src = makeSource(board);
        ASSERT_TRUE(src->Initialize());
        Notice::clearRecords();
        src->Start();
        src->Start();
        EXPECT_EQ(boxes(), (QStringList{QStringLiteral("DSP ERROR|The DSP board did not take the start command.")}));
        EXPECT_EQ(src->StartAcquisition(), -1);
        QElapsedTimer d;
        d.start();
        src.reset();
        EXPECT_LT(d.elapsed(), 2000);
    }
}

TEST_F(LiveSourceTest, DefaultBoardStreamsTheFlightModel)
{
    SimBoardConfig cfg;
    cfg.lineRateHz = 400;
    auto board = std::make_shared<SimBoard>(cfg);   // no source given: the scene and flight model
    auto src = makeSource(board);
    ASSERT_TRUE(src->Initialize());
    src->SetChnBGain(0.2f);
    src->SetChnBOffset(3000);
    src->Start();
    ASSERT_TRUE(waitFor([&] { return src->worker()->linesMoved() >= 200; }, 20000));
    src->Stop();
    // Let the worker take what the board still holds.
    std::uint64_t moved = 0;
    ASSERT_TRUE(waitFor([&] {
        const std::uint64_t before = src->worker()->linesMoved();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        moved = src->worker()->linesMoved();
        return moved == before && board->linesDelivered() == moved;
    }));
    src->DoNextFwdCycle(0, false, false);
    const std::uint32_t n = src->GetNumNewImageLines();
    ASSERT_GE(n, 200u);
    EXPECT_EQ(n, moved);   // every record passed the navigation check
    ScanLineRec prev, cur;
    src->GetPriorImageLine(n - 1, &prev);
    for (std::uint32_t age = n - 1; age-- > 0;) {
        src->GetPriorImageLine(age, &cur);
        ASSERT_EQ(cur.lineIndex, prev.lineIndex + prev.effectiveInterval());
        ASSERT_EQ(cur.lineFlags & LINE_GAP, 0);
        prev = cur;
    }
    EXPECT_FLOAT_EQ(cur.chnBGain, 0.2f);
    EXPECT_EQ(cur.chnBOffset, 3000);
    // The display row is the host's gain and offset applied to channel B.
    int same = 0;
    for (int j = 0; j < SAMPLES_PER_LINE; ++j) {
        const double v = (cur.chanB[SAMPLES_PER_LINE - 1 - j] - 3000) * 0.2 + 127;
        const int expect = v < 0 ? 0 : v > 254 ? 254 : int(v);
        same += std::abs(int(cur.pix[j] == 255 ? 254 : cur.pix[j]) - expect) <= 1;
    }
    EXPECT_GT(same, SAMPLES_PER_LINE * 9 / 10);
    double lat = 0, lon = 0;
    src->GetPosition(&lat, &lon);
    EXPECT_NEAR(lat, 44.5, 0.1);
    EXPECT_NEAR(lon, -121.5, 0.1);
}
