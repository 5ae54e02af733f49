// The simulated board's own contract: its settings text and the boot files
// it accepts.
#include "dsptestutil.h"

#include <QFile>

using namespace dsptest;

TEST(SimBoardConfigTest, ParsesFailureModes)
{
    SimBoardConfig c;
    QString err;
    EXPECT_TRUE(c.parse(QStringLiteral("two-boards, late-handshake,ins-down,bad-rbf,record-size=15400,dma-fail=7,"
                                       "psc-stuck,stall=12,rate=100,time-scale=0.5"),
                        &err))
        << err.toStdString();
    EXPECT_EQ(c.boards, 2);
    EXPECT_EQ(c.readyAtPoll, 50);
    EXPECT_TRUE(c.insLinkDown);
    EXPECT_TRUE(c.rejectRbf);
    EXPECT_EQ(c.recordSize, 15400u);
    EXPECT_EQ(c.dmaFailAfter, 7);
    EXPECT_TRUE(c.pscStuck);
    EXPECT_EQ(c.stallAfter, 12);
    EXPECT_DOUBLE_EQ(c.lineRateHz, 100.0);
    EXPECT_DOUBLE_EQ(c.timeScale, 0.5);

    SimBoardConfig d;
    EXPECT_FALSE(d.parse(QStringLiteral("no-board,frobnicate,dma-fail=x"), &err));
    EXPECT_EQ(d.boards, 0);
    EXPECT_TRUE(err.contains(QStringLiteral("frobnicate")));
    EXPECT_TRUE(err.contains(QStringLiteral("dma-fail=x")));
}

TEST(SimBootFilesTest, WritesPlausibleImagesAndPrograms)
{
    const QString dir = QDir::current().filePath(QStringLiteral("boot"));
    ASSERT_TRUE(writeSimulatedBootFiles(dir));
    QFile rbf(dir + QStringLiteral("/a.rbf"));
    ASSERT_TRUE(rbf.open(QIODevice::ReadOnly));
    const QByteArray image = rbf.readAll();
    simboot::RbfChecker check;
    for (char ch : image)
        check.push(std::uint8_t(ch));
    EXPECT_TRUE(check.complete());

    bool sawBss = false;
    for (int core = 0; core < 3; ++core) {
        QFile f(dir + QStringLiteral("/c%1.out").arg(core));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << core;
        const QByteArray e = f.readAll();
        ASSERT_GE(e.size(), 52);
        EXPECT_EQ(e.left(4), QByteArray("\x7F" "ELF"));
        EXPECT_EQ(e[4], 1);   // ELF32
        EXPECT_EQ(e[5], 1);   // little-endian
        auto u32 = [&](int at) {
            return std::uint32_t(std::uint8_t(e[at])) | (std::uint32_t(std::uint8_t(e[at + 1])) << 8)
                   | (std::uint32_t(std::uint8_t(e[at + 2])) << 16) | (std::uint32_t(std::uint8_t(e[at + 3])) << 24);
        };
        const std::uint32_t phoff = u32(28);
        const int phnum = std::uint8_t(e[44]);
        int loadable = 0;
        for (int i = 0; i < phnum; ++i) {
            const int ph = int(phoff) + 32 * i;
            ASSERT_LE(ph + 32, e.size());
            ASSERT_LE(u32(ph + 4) + u32(ph + 16), std::uint32_t(e.size()));   // segment inside the file
            if (u32(ph) == 1) {
                ++loadable;
                sawBss = sawBss || u32(ph + 20) > u32(ph + 16);
            }
        }
        EXPECT_GE(loadable, 2);
    }
    EXPECT_TRUE(sawBss);
    EXPECT_FALSE(writeSimulatedBootFiles(QStringLiteral("/proc/no/such/dir")));
}
