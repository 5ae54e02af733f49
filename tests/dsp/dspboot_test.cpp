// The boot routines against the simulated board, which records every
// register write in order.
#include "dsp/dspboot.h"
#include "dsptestutil.h"

#include <QFile>

#include <algorithm>

using namespace dsptest;
using namespace dspboot;

namespace {

struct DspBootTest : DspFixture {};

void writeBytes(const QString &name, const QByteArray &data)
{
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(data), data.size());
}

std::string bootError(const std::function<void()> &f)
{
    try {
        f();
    } catch (const DspBootError &e) {
        return e.what();
    }
    return "(no error)";
}

// A minimal ELF32 little-endian file with the given program headers; the
// segment data follows the headers.
struct Seg {
    std::uint32_t type, paddr, memsz;
    QByteArray data;
};
QByteArray elf(std::uint32_t entry, const std::vector<Seg> &segs)
{
    QByteArray out(52, '\0');
    auto put = [](QByteArray &a, int at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            a[at + i] = char((v >> (8 * i)) & 0xFF);
    };
    out[0] = 0x7F;
    out[1] = 'E';
    out[2] = 'L';
    out[3] = 'F';
    out[4] = 1;
    out[5] = 1;
    out[6] = 1;
    put(out, 16, 2, 2);
    put(out, 24, entry, 4);
    put(out, 28, 52, 4);
    put(out, 40, 52, 2);
    put(out, 42, 32, 2);
    put(out, 44, std::uint32_t(segs.size()), 2);
    std::uint32_t offset = 52 + 32 * std::uint32_t(segs.size());
    for (const Seg &s : segs) {
        QByteArray ph(32, '\0');
        put(ph, 0, s.type, 4);
        put(ph, 4, offset, 4);
        put(ph, 8, s.paddr, 4);
        put(ph, 12, s.paddr, 4);
        put(ph, 16, std::uint32_t(s.data.size()), 4);
        put(ph, 20, s.memsz, 4);
        out += ph;
        offset += std::uint32_t(s.data.size());
    }
    for (const Seg &s : segs)
        out += s.data;
    return out;
}

QByteArray pattern(int n, int seed)
{
    QByteArray a(n, '\0');
    for (int i = 0; i < n; ++i)
        a[i] = char((i * 31 + seed) & 0xFF);
    return a;
}

std::vector<SimBoard::Write> boardWrites(const std::shared_ptr<SimBoard> &b, SimBoard::Write::Kind kind)
{
    std::vector<SimBoard::Write> out;
    for (const auto &w : b->writes())
        if (w.kind == kind)
            out.push_back(w);
    return out;
}

QByteArray memory(const std::shared_ptr<SimBoard> &b, std::uint32_t address, int n)
{
    QByteArray a;
    for (int i = 0; i < n; i += 4) {
        const std::uint32_t w = b->peek(address + std::uint32_t(i));
        a.append(reinterpret_cast<const char *>(&w), 4);
    }
    return a.left(n);
}

} // namespace

TEST_F(DspBootTest, FpgaImageIsClockedInBlocksWithProgressAndExtraClocks)
{
    struct Case {
        int size;
        std::vector<std::uint32_t> staticBytes;   // data bytes of each clocking request
        std::string progress;
    };
    const Case cases[] = {
        {25000, {640000, 640000, 320000, 128}, "1 of 2 loaded. \r2 of 2 loaded. \r"},
        {9999, {9999u * 64, 128}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        auto board = makeBoard();
        auto a = openBoard(board);
        const QByteArray rbf = simboot::makeRbf(c.size, 7);
        writeBytes(QStringLiteral("t.rbf"), rbf);
        board->clearRequests();
        board->clearWrites();
        dspconsole::takeCapture();

        configureFPGA_GPIO(*a, "t.rbf");

        std::vector<std::uint32_t> sizes;
        for (const auto &r : board->requests())
            if (r.code == dspdrv::IOCTL_WRITE_ADDRESS_STATIC)
                sizes.push_back(r.dataSize);
        EXPECT_EQ(sizes, c.staticBytes);
        const std::string out = dspconsole::takeCapture();
        EXPECT_NE(out.find("Programming file: t.rbf opened...\n"), std::string::npos);
        const auto p = out.find(" loaded. ");
        if (c.progress.empty())
            EXPECT_EQ(p, std::string::npos) << out;
        else
            EXPECT_NE(out.find(c.progress), std::string::npos) << out;

        // The FPGA saw the file bit by bit, then two zero bytes, and is done.
        std::vector<std::uint8_t> expect(rbf.begin(), rbf.end());
        expect.push_back(0);
        expect.push_back(0);
        EXPECT_EQ(board->fpgaBytes(), expect);
        EXPECT_TRUE(board->fpgaConfigured());

        // GPIO set-up and the nCONFIG pulse, in this order.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> gpio;
        for (const auto &w : boardWrites(board, SimBoard::Write::Board))
            if ((w.address & 0xFFFFFF00u) == 0x02320000u)
                gpio.emplace_back(w.address, w.value);
        const std::vector<std::pair<std::uint32_t, std::uint32_t>> expectGpio = {
            {kGpioSet, 1}, {kGpioDir, 0xFFCE}, {kGpioSet, 1}, {kGpioClear, 1}, {kGpioSet, 1}};
        EXPECT_EQ(gpio, expectGpio);
    }
}

TEST_F(DspBootTest, FpgaFailuresRaiseTheirTexts)
{
    SimBoardConfig cfg;
    cfg.rejectRbf = true;
    auto board = makeBoard(cfg);
    auto a = openBoard(board);
    writeBytes(QStringLiteral("t.rbf"), simboot::makeRbf(3000));
    EXPECT_EQ(bootError([&] { configureFPGA_GPIO(*a, "t.rbf"); }), "startCONFIG:Done bit failed to go high!");
    EXPECT_EQ(bootError([&] { configureFPGA_GPIO(*a, "missing.rbf"); }), "no input file!");

    // A corrupt image (one payload byte changed) never raises the done bit.
    auto good = makeBoard();
    auto b = openBoard(good);
    QByteArray rbf = simboot::makeRbf(3000);
    rbf[200] = char(rbf[200] ^ 0x10);
    writeBytes(QStringLiteral("bad.rbf"), rbf);
    EXPECT_EQ(bootError([&] { configureFPGA_GPIO(*b, "bad.rbf"); }), "startCONFIG:Done bit failed to go high!");
}

TEST_F(DspBootTest, LocalAddressTranslation)
{
    EXPECT_EQ(translateLocalAddress(0x0087FFFF, 0), 0x0087FFFFu);
    EXPECT_EQ(translateLocalAddress(0x0087FFFE, 0), 0x1087FFFEu);
    EXPECT_EQ(translateLocalAddress(0x0087FFFE, 1), 0x1187FFFEu);
    EXPECT_EQ(translateLocalAddress(0x00800000, 7), 0x17800000u);
    EXPECT_EQ(translateLocalAddress(0x007FFFFF, 2), 0x007FFFFFu);
    EXPECT_EQ(translateLocalAddress(0x0C000000, 2), 0x0C000000u);
}

TEST_F(DspBootTest, ElfSegmentsAreWrittenInWindowSizedChunksAndTailsCleared)
{
    SimBoardConfig cfg;
    cfg.barSize[1] = 0x1000;   // 4096-byte window: chunks of 4092
    auto board = makeBoard(cfg);
    auto a = openBoard(board);

    const QByteArray big = pattern(10000, 3);
    const QByteArray odd = pattern(5000, 9);
    const QByteArray ddr = pattern(64, 5);
    writeBytes(QStringLiteral("p.out"),
               elf(0x00820000, {{1, 0x00820000, 10000, big},
                                {1, 0x00840000, 256, QByteArray()},    // file size 0: cleared only
                                {1, 0x00830080, 5000, odd},            // not window aligned
                                {4, 0x00848000, 16, pattern(16, 1)},   // not loadable
                                {1, 0x80100000, 64, ddr}}));          // above 0x80000000: not loaded
    board->clearWrites();
    board->clearRequests();
    EXPECT_EQ(loadEABI(*a, "p.out", 1), 0x00820000u);

    const auto blocks = boardWrites(board, SimBoard::Write::Block);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
    for (const auto &w : blocks)
        got.emplace_back(w.address, w.count);
    const std::uint32_t base = 0x11820000;
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expect = {
        // Chunks of window - 4 bytes, address and data advancing together;
        // a chunk never runs past the end of the window, which starts at the
        // address with its low 8 bits cleared (0x...FFC leaves 3844 bytes).
        {base, 4092}, {base + 4092, 3844}, {base + 7936, 2064},
        {0x11840000, 256},                                       // DMA clear of the empty segment
        {0x11830080, 3968}, {0x11830080 + 3968, 1032},           // stays inside the window
    };
    EXPECT_EQ(got, expect);
    EXPECT_EQ(memory(board, base, 10000), big);
    EXPECT_EQ(memory(board, 0x11830080, 5000), odd);
    EXPECT_EQ(memory(board, 0x11840000, 256), QByteArray(256, '\0'));
    EXPECT_TRUE(board->diagnostics().empty());

    // The clear used the DMA set-up block and controller 0.
    bool sawSetup = false;
    for (const auto &r : board->requests())
        if (r.code == dspdrv::IOCTL_SETUP_DMA)
            sawSetup = true;
    EXPECT_TRUE(sawSetup);
    for (const auto &w : board->writes())
        EXPECT_FALSE(w.kind == SimBoard::Write::Block && w.address >= 0x80000000u);
}

TEST_F(DspBootTest, BadProgramFilesRaiseTheirTexts)
{
    auto board = makeBoard();
    auto a = openBoard(board);
    EXPECT_EQ(bootError([&] { loadEABI(*a, "none.out", 0); }), "loadEABI: No input file!");
    writeBytes(QStringLiteral("text.out"), QByteArray(200, 'x'));
    EXPECT_EQ(bootError([&] { loadEABI(*a, "text.out", 0); }), "loadEABI: Not an ELF32 little-endian file!");
    QByteArray cut = elf(0x00820000, {{1, 0x00820000, 4096, pattern(4096, 1)}});
    cut.chop(100);
    writeBytes(QStringLiteral("cut.out"), cut);
    EXPECT_EQ(bootError([&] { loadEABI(*a, "cut.out", 0); }), "loadPhdr: Unable to read segment!");
    QByteArray headers = elf(0x00820000, {{1, 0x00820000, 16, pattern(16, 1)}});
    headers[44] = char(40);   // 40 program headers claimed
    writeBytes(QStringLiteral("hdr.out"), headers);
    EXPECT_EQ(bootError([&] { loadEABI(*a, "hdr.out", 0); }), "loadEABI: Unable to read program header!");
}

TEST_F(DspBootTest, PowerControllerSequencesAndTimeouts)
{
    auto board = makeBoard();
    auto a = openBoard(board);
    board->clearWrites();
    coreLocalReset(*a, 2, true);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> seq;
    for (const auto &w : board->writes())
        if (w.kind != SimBoard::Write::Config && !(w.kind == SimBoard::Write::Bar0 && w.address >= 0x300))
            seq.emplace_back(w.address, w.value);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expect = {
        {0x3C, 0x10000}, {0x02350A44, 0x103}, {0x02350120, 1u << 10}, {0x3C, 0}};
    EXPECT_EQ(seq, expect);

    board->clearWrites();
    setPscState(*a, 2, 9, 0);
    seq.clear();
    for (const auto &w : board->writes())
        if (w.kind == SimBoard::Write::Board)
            seq.emplace_back(w.address, w.value);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expectPsc = {
        {0x02350308, 1}, {0x02350A24, 0x100}, {0x02350120, 4}};
    EXPECT_EQ(seq, expectPsc);

    SimBoardConfig stuck;
    stuck.pscStuck = true;
    auto sb = makeBoard(stuck);
    auto s = openBoard(sb);
    EXPECT_EQ(bootError([&] { coreLocalReset(*s, 1, false); }), "coreLocalReset: Transition timeout: pid 9 core 1 state: 3\n");
    EXPECT_EQ(bootError([&] { coreLocalReset(*s, 1, false); }),
              "coreLocalReset: Previous transition check timeout: pid 9 core 1 state: 3\n");
    EXPECT_EQ(bootError([&] { setPscState(*s, 0, 3, 0); }), "Error: setPscState: Current transition timeout: pid 0 state: 0\n");
}

TEST_F(DspBootTest, AssertStepWithOneCoreStopsAfterThePacketAccelerator)
{
    auto board = makeBoard();
    auto a = openBoard(board);
    board->poke(0x02001300, 0x7);
    board->clearWrites();
    dspAssertLocalReset(*a, 0, 1);
    std::vector<std::uint32_t> mdctlCores;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pa;
    for (const auto &w : boardWrites(board, SimBoard::Write::Board)) {
        if (w.address >= 0x02350A3C && w.address <= 0x02350A48)
            mdctlCores.push_back((w.address - 0x02350A3C) / 4);
        else if ((w.address & 0xFFFF0000u) == 0x02000000u)
            pa.emplace_back(w.address, w.value);
        else
            EXPECT_EQ(w.address, 0x02350120u) << std::hex << w.address;   // only PTCMD besides
    }
    EXPECT_EQ(mdctlCores, (std::vector<std::uint32_t>{3, 2, 1, 0}));
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expectPa = {
        {0x02004400, 0x40000000}, {0x02004800, 0x40000000}, {0x02001000, 0}, {0x02001100, 0},
        {0x02001200, 0},          {0x02001300, 0x5},        {0x02001400, 0}, {0x02001500, 0}};
    EXPECT_EQ(pa, expectPa);
    EXPECT_EQ(bootError([&] { dspAssertLocalReset(*a, 0, 0); }), "dspAssertLocalReset: Invalid parameters!");
    EXPECT_EQ(bootError([&] { dspAssertLocalReset(*a, 4, 5); }), "dspAssertLocalReset: Invalid parameters!");
    EXPECT_EQ(bootError([&] { dspDeAssertLocalReset(*a, 7, 2, 0); }), "dspDeAssertLocalReset: Invalid parameters!");
}

TEST_F(DspBootTest, ResetCycleLoadsTheBootImageAndStartsPrograms)
{
    auto board = makeBoard();
    auto a = openBoard(board);
    dspAssertLocalReset(*a, 0, 8);
    dspDeAssertLocalReset(*a, 0, 8, 0);
    const std::string out = dspconsole::takeCapture();
    std::size_t n = 0;
    for (std::size_t p = out.find("Entry point: 0x878000"); p != std::string::npos;
         p = out.find("Entry point: 0x878000", p + 1))
        ++n;
    EXPECT_EQ(n, 8u);
    // The idle loop went to shared memory; the image's first section to each core.
    for (std::uint32_t i = 0; i < 8; ++i)
        EXPECT_EQ(board->peek(0x0C000000 + 4 * i), 0x0001E000u);
    const auto &img = bootImage();
    const std::uint32_t firstData = (std::uint32_t(img[12]) << 24) | (img[13] << 16) | (img[14] << 8) | img[15];
    EXPECT_EQ(board->peek(0x10872DC0), firstData);
    EXPECT_EQ(board->peek(0x17872DC0), firstData);

    // Start a program: boot address and magic word, then the wake-up.
    writeBytes(QStringLiteral("c1.out"), simboot::makeProgram({1}));
    board->clearWrites();
    const std::uint32_t entry = loadEABI(*a, "c1.out", 1);
    startDSP(*a, 1, entry);
    EXPECT_TRUE(board->coreRunning(1)) << (board->diagnostics().empty() ? "" : board->diagnostics().back());
    std::vector<std::pair<std::uint32_t, std::uint32_t>> regs;
    for (const auto &w : board->writes())
        if ((w.kind == SimBoard::Write::Board && (w.address & 0xFFFF0000u) != 0x02700000u)
            || (w.kind == SimBoard::Write::Bar0 && w.address == 0x3C))
            regs.emplace_back(w.address, w.value);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expect = {
        {0x3C, 0x10000},   {kKick0, kKick0Unlock}, {kKick1, kKick1Unlock}, {0x02620044, 0x11820000},
        {0x1187FFFC, 0x11820000}, {0x3C, 0},       {0x3C, 0x10000},        {0x02620244, 1},
        {0x3C, 0}};
    EXPECT_EQ(regs, expect);

    // Core 0 is woken through BAR 0 offset 0x54 instead.
    writeBytes(QStringLiteral("c0.out"), simboot::makeProgram({0}));
    board->clearWrites();
    startDSP(*a, 0, loadEABI(*a, "c0.out", 0));
    EXPECT_TRUE(board->coreRunning(0));
    bool msi = false;
    for (const auto &w : board->writes())
        msi = msi || (w.kind == SimBoard::Write::Bar0 && w.address == 0x54 && w.value == 0);
    EXPECT_TRUE(msi);
}

TEST_F(DspBootTest, ProgramWithoutClearedTailDoesNotRun)
{
    // The simulated core refuses a program whose uninitialised data was not
    // cleared: loading the same program without its DMA clear must fail.
    auto board = makeBoard();
    auto a = openBoard(board);
    dspAssertLocalReset(*a, 0, 8);
    dspDeAssertLocalReset(*a, 0, 8, 0);
    simboot::ProgramOptions o;
    o.core = 2;
    QByteArray prog = simboot::makeProgram(o);
    // Make the data segment's memory size equal its file size: no clear.
    const std::uint32_t ph1 = 52 + 32;
    const std::uint32_t filesz = std::uint8_t(prog[ph1 + 16]) | (std::uint8_t(prog[ph1 + 17]) << 8);
    prog[ph1 + 20] = char(filesz & 0xFF);
    prog[ph1 + 21] = char(filesz >> 8);
    prog[ph1 + 22] = 0;
    prog[ph1 + 23] = 0;
    writeBytes(QStringLiteral("c2.out"), prog);
    startDSP(*a, 2, loadEABI(*a, "c2.out", 2));
    EXPECT_FALSE(board->coreRunning(2));
    ASSERT_FALSE(board->diagnostics().empty());
    EXPECT_EQ(board->diagnostics().back(), "core 2: uninitialised data not cleared");
}
