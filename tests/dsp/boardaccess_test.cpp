// The board access layer against the simulated board: discovery, the
// request codes and buffer layouts, window moves, DMA and the interrupt wait.
#include "dsptestutil.h"

#include <QCoreApplication>

#include <chrono>
#include <future>
#include <thread>

using namespace dsptest;
using namespace dspdrv;

namespace {
struct BoardAccessTest : DspFixture {};

} // namespace

TEST_F(BoardAccessTest, DiscoveryReportsMissingAndMultipleBoards)
{
    SimBoardConfig none;
    none.boards = 0;
    BoardAccess a(std::make_unique<SimDriverChannel>(makeBoard(none)));
    EXPECT_EQ(a.Open(), -1);
    EXPECT_FALSE(a.isOpen());
    const std::string out = dspconsole::takeCapture();
    EXPECT_NE(out.find("No KEPA devices are present and enabled in the system.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nGetDevicePath failed"), std::string::npos);

    // Two boards, nothing on the console: the choice cannot be read.
    SimBoardConfig two;
    two.boards = 2;
    BoardAccess b(std::make_unique<SimDriverChannel>(makeBoard(two)));
    EXPECT_EQ(b.Open(), -1);
    const std::string out2 = dspconsole::takeCapture();
    EXPECT_NE(out2.find("0- \n|  DeviceName: "), std::string::npos) << out2;
    EXPECT_NE(out2.find("1- \n|  DeviceName: "), std::string::npos);
    EXPECT_NE(out2.find("\n|  DeviceLocation: PCI bus 4"), std::string::npos);
    EXPECT_NE(out2.find("\nSelect Device: "), std::string::npos);

    // With an answer the chosen board opens; an index past the end does not.
    dspconsole::setInputProvider([](int *v) { *v = 1; return true; });
    BoardAccess c(std::make_unique<SimDriverChannel>(makeBoard(two)));
    EXPECT_EQ(c.Open(), 0);
    dspconsole::setInputProvider([](int *v) { *v = 7; return true; });
    BoardAccess d(std::make_unique<SimDriverChannel>(makeBoard(two)));
    EXPECT_EQ(d.Open(), -1);
    EXPECT_NE(dspconsole::takeCapture().find("SetupDiEnumDeviceInterfaces failed, Error: 259"), std::string::npos);

    // A single board opens without a question.
    BoardAccess e(std::make_unique<SimDriverChannel>(makeBoard()));
    EXPECT_EQ(e.Open(), 0);
    const std::string out3 = dspconsole::takeCapture();
    EXPECT_EQ(out3.find("Select Device"), std::string::npos);
    EXPECT_EQ(out3.find("0- "), std::string::npos);
}

TEST_F(BoardAccessTest, RequestsCarryTheirCodesAndLayouts)
{
    auto board = makeBoard();
    auto a = openBoard(board);
    board->clearRequests();

    std::uint32_t v = 0;
    ASSERT_EQ(a->ReadConfigSpace(0x10, &v), 0);
    EXPECT_EQ(v, 0xF7F00000u);   // BAR 0 register
    ASSERT_EQ(a->WriteAddress(0, 0x3C, 0x10000), 0);
    ASSERT_EQ(a->ReadAddress(0, 0x3C, &v), 0);
    EXPECT_EQ(v, 0x10000u);
    const std::uint32_t halves[3] = {1, 2, 3};
    ASSERT_EQ(a->WriteAddressBuf(0, 0x100, 2, 2, halves), 0);   // 2 words = 8 bytes
    const std::uint32_t setup[9] = {0, 0, 0, 1, 64, 1, 1, 0, 1};
    ASSERT_EQ(a->SetupDMA(setup), 0);

    const auto reqs = board->requests();
    ASSERT_EQ(reqs.size(), 5u);
    EXPECT_EQ(reqs[0].code, 0x222000u);
    EXPECT_EQ(reqs[0].inSize, 4u);
    EXPECT_EQ(reqs[0].dataSize, 4u);
    EXPECT_EQ(reqs[1].code, 0x22200Cu);
    EXPECT_EQ(reqs[1].inSize, 12u);
    EXPECT_EQ(reqs[1].in[1], 0x3Cu / 4);   // word index
    EXPECT_EQ(reqs[1].in[2], 0x10000u);
    EXPECT_EQ(reqs[2].code, 0x222008u);
    EXPECT_EQ(reqs[2].inSize, 8u);
    EXPECT_EQ(reqs[3].code, 0x222015u);
    EXPECT_EQ(reqs[3].inSize, 16u);
    EXPECT_EQ(reqs[3].dataSize, 8u);
    EXPECT_EQ(reqs[3].in[2], 2u);
    EXPECT_EQ(reqs[3].in[3], 2u);
    EXPECT_EQ(reqs[4].code, 0x222024u);
    EXPECT_EQ(reqs[4].inSize, 36u);

    // Width code 3 sends a 0-byte data buffer; width 1 two bytes per element.
    board->clearRequests();
    ASSERT_EQ(a->WriteAddressBuf(0, 0x100, 5, 3, halves), 0);
    ASSERT_EQ(a->WriteAddressStatic(0, 0x100, 0, 1, halves), 0);
    const auto reqs2 = board->requests();
    ASSERT_EQ(reqs2.size(), 2u);
    EXPECT_EQ(reqs2[0].dataSize, 0u);
    EXPECT_EQ(reqs2[0].in[2], 5u);
    EXPECT_EQ(reqs2[1].code, 0x22202Du);
    EXPECT_EQ(Notice::count(), 0);
}

TEST_F(BoardAccessTest, WindowMovesSizeTheBarAndRefuseBarZero)
{
    SimBoardConfig cfg;
    cfg.barSize[1] = 0x100000;   // size mask 0xFFF00000
    cfg.barSize[3] = 0x1000;
    auto board = makeBoard(cfg);
    auto a = openBoard(board);

    // BAR 0 cannot be moved: no request at all.
    const auto before = a->requestCount();
    std::uint32_t v = 0;
    EXPECT_EQ(a->ReadAddress(0, 0x02350000, &v, true, 0x320), -1);
    EXPECT_EQ(a->WriteAddress(0, 0x02350000, 1, true, 0x320), -1);
    EXPECT_EQ(a->WriteAddressBuf(0, 0x02350000, 1, 2, &v, true, 0x320), -1);
    EXPECT_EQ(a->SetInboundWindow(0, 0x320, 0x02350000), -1);
    EXPECT_EQ(a->requestCount(), before);

    board->clearWrites();
    EXPECT_EQ(a->SetInboundWindow(1, 0x300, 0x10872DC0), 1048576);
    EXPECT_EQ(a->SetInboundWindow(3, 0x320, 0x02620000), 4096);
    // The BAR register is restored after sizing, and the set gets BAR,
    // bus address without the flag bits, 0, board address.
    std::uint32_t bar1 = 0;
    a->ReadConfigSpace(0x14, &bar1);
    EXPECT_EQ(bar1, 0xF6000008u);
    const auto w = board->writes();
    ASSERT_GE(w.size(), 6u);
    EXPECT_EQ(w[0].kind, SimBoard::Write::Config);
    EXPECT_EQ(w[0].value, 0xFFFFFFF0u);
    EXPECT_EQ(w[1].value, 0xF6000008u);
    EXPECT_EQ(w[2].kind, SimBoard::Write::Bar0);
    EXPECT_EQ(w[2].address, 0x300u);
    EXPECT_EQ(w[2].value, 1u);
    EXPECT_EQ(w[3].value, 0xF6000000u);
    EXPECT_EQ(w[4].value, 0u);
    EXPECT_EQ(w[5].value, 0x10872DC0u);

    // A moved access lands at the board address: offset = address & 0xFF.
    ASSERT_EQ(a->WriteAddress(3, 0x02620044, 0x12345678, true, 0x320), 0);
    EXPECT_EQ(board->peek(0x02620044), 0u);   // boot address register is locked, not memory
    ASSERT_EQ(a->WriteAddress(4, 0x82004008, 77, true, 0x330), 0);
    EXPECT_EQ(board->peek(0x82004008), 77u);
    ASSERT_EQ(a->ReadAddress(4, 0x82004008, &v, true, 0x330), 0);
    EXPECT_EQ(v, 77u);
}

TEST_F(BoardAccessTest, DmaMapsTheChannelControllerAndReportsFailures)
{
    SimBoardConfig cfg;
    cfg.dmaFailAfter = 1;
    auto board = makeBoard(cfg);
    auto a = openBoard(board);
    board->forceRunning();
    board->raiseLine();   // nobody waits yet: the line is queued
    std::uint32_t word = 0;
    ASSERT_EQ(a->SetupCallbackEvent(&word, 1000, 0), 0);
    EXPECT_EQ(word, 1u);

    std::vector<std::uint8_t> buf(15308);
    // Without a set-up DMA block the board refuses the transfer.
    EXPECT_EQ(a->ReadDma(0x82014000, 1, 0, 15308, buf.data(), true), -1);
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Error"));
    EXPECT_TRUE(Notice::last().text.startsWith(QStringLiteral("ReadDma failed with error 31: A device attached")))
        << Notice::last().text.toStdString();

    const std::uint32_t setup[9] = {0, 0, 0, 1, 15308, 1, 1, 0, 1};
    ASSERT_EQ(a->SetupDMA(setup), 0);
    board->clearWrites();
    ASSERT_EQ(a->ReadDma(0x82014000, 1, 0, 15308, buf.data(), true), 0);
    // BAR 3 now shows DMA channel controller 1 at 0x02720000.
    const auto w = board->writes();
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.back().kind, SimBoard::Write::Bar0);
    EXPECT_EQ(w.back().address, 0x32Cu);
    EXPECT_EQ(w.back().value, 0x02720000u);
    ScanLineRec rec;
    std::memcpy(&rec, buf.data(), sizeof(rec) - 12);
    EXPECT_EQ(rec.lineIndex, 0u);
    EXPECT_FLOAT_EQ(rec.chnBGain, 1.0f);

    // The second record read fails as configured, with the system text.
    Notice::clearRecords();
    EXPECT_EQ(a->ReadDma(0x82014000, 1, 0, 15308, buf.data(), true), -1);
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().text,
              QStringLiteral("ReadDma failed with error 1117: The request could not be performed because of an I/O "
                             "device error."));
}

TEST_F(BoardAccessTest, CallbackWaitEndsWithTheEventOrTheTimeLimit)
{
    auto board = makeBoard();
    auto a = openBoard(board);
    board->forceRunning();

    // Time-out: -1 after about the time asked, nothing shown.
    const auto t0 = std::chrono::steady_clock::now();
    std::uint32_t word = 0;
    EXPECT_EQ(a->SetupCallbackEvent(&word, 50, 0), -1);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(45));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
    EXPECT_EQ(BoardAccess::lastError(), kErrorWaitTimeout);
    EXPECT_EQ(Notice::count(), 0);

    // Without a limit the wait returns when the board's event comes.
    auto result = std::async(std::launch::async, [&] {
        std::uint32_t w = 0;
        return a->SetupCallbackEvent(&w, -1, 1);
    });
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(150)), std::future_status::timeout);
    board->raiseLine();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(board->linesDelivered(), 1u);

    // A cancelled wait does not swallow a later line.
    EXPECT_EQ(a->SetupCallbackEvent(&word, 10, 0), -1);
    board->raiseLine();
    EXPECT_EQ(a->SetupCallbackEvent(&word, 1000, 0), 0);
    EXPECT_EQ(board->linesDelivered(), 2u);
}

TEST_F(BoardAccessTest, ErrorsOffTheGuiThreadAreShownByTheGuiThread)
{
    auto board = makeBoard();
    BoardAccess a(std::make_unique<SimDriverChannel>(board));   // never opened
    std::thread t([&] {
        const std::uint32_t setup[9] = {};
        EXPECT_EQ(a.SetupDMA(setup), -1);   // must not block on a box
    });
    t.join();
    EXPECT_EQ(Notice::count(), 0);
    QCoreApplication::processEvents();
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().text, QStringLiteral("SetupDMA failed with error 6: The handle is invalid."));
}

namespace {
// A channel whose interrupt request completes just as its wait runs out.
class LateEventChannel : public SimDriverChannel {
public:
    using SimDriverChannel::SimDriverChannel;
    std::unique_ptr<DriverRequest> issue(std::uint32_t code, const void *in, std::uint32_t inSize, void *data,
                                         std::uint32_t dataSize, bool autoReset) override
    {
        if (code != IOCTL_CALLBACK_EVENT_0)
            return SimDriverChannel::issue(code, in, inSize, data, dataSize, autoReset);
        struct Late : DriverRequest {
            void *out;
            explicit Late(void *o) : out(o) {}
            bool issueFailed() const override { return false; }
            bool waitEvent(int) override { return false; }   // the wait timed out ...
            void cancel() override {}
            bool result(std::uint32_t *bytes, std::uint32_t *) override
            {
                const std::uint32_t one = 1;   // ... but the request had completed
                std::memcpy(out, &one, 4);
                *bytes = 4;
                return true;
            }
            std::uint32_t error() const override { return 0; }
        };
        return std::make_unique<Late>(data);
    }
};
} // namespace

TEST_F(BoardAccessTest, EventArrivingAsTheWaitTimesOutIsNotLost)
{
    auto board = makeBoard();
    BoardAccess a(std::make_unique<LateEventChannel>(board));
    ASSERT_EQ(a.Open(), 0);
    std::uint32_t word = 0;
    EXPECT_EQ(a.SetupCallbackEvent(&word, 5, 0), 0);
    EXPECT_EQ(word, 1u);
}
