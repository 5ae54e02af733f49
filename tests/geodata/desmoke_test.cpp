// Offline fire processing: the cluster pass on hand-made blocks (counts,
// gap bridging, suppression spans, marks that carry across lines and
// blocks), and whole logs desmoked in place: re-detection at its
// boundaries, image rows rebuilt, the original kept, the three record
// layouts, partial records, and failures that must leave the log alone.
#include "geodata/desmoke.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "tests/common/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int N = SAMPLES_PER_LINE;

// ---------------------------------------------------------------------------
// Cluster pass on blocks

struct Block : ::testing::Test {
    static constexpr int kFireLimit = 1000;
    CDesmokeBlock block{kFireLimit};

    void clear(int lines = CDesmokeBlock::kBlockLines)
    {
        for (int y = 0; y < CDesmokeBlock::kBlockLines; ++y)
            for (int x = 0; x < N; ++x) {
                block.fire(x, y) = 0;
                block.chanB(x, y) = 0;
            }
        block.StartBlock(lines);
    }
    void fireAt(int x, int y, int b = 0)
    {
        block.fire(x, y) = 255;
        block.chanB(x, y) = std::int16_t(b);
    }
    void rect(int x0, int y0, int w, int h)
    {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                fireAt(x, y);
    }
};

TEST_F(Block, ALoneFirePixelCountsItsRingOfGapsAndSurvives)
{
    clear();
    fireAt(100, 10);
    fireAt(0, 3);
    fireAt(N - 1, 0);
    // The seed and the eight non-fire positions around it (each crossed as
    // the path's one gap); at the edges only the neighbours inside count.
    EXPECT_EQ(block.CountCluster(100, 10), 9);
    EXPECT_EQ(block.CountCluster(0, 3), 6);
    EXPECT_EQ(block.CountCluster(N - 1, 0), 4);
    block.Process();
    for (auto [x, y] : {std::pair{100, 10}, std::pair{0, 3}, std::pair{N - 1, 0}}) {
        EXPECT_EQ(block.noSmoke(x, y), 255) << x;
        EXPECT_EQ(block.sparkle(x, y), 255) << x;
    }
}

TEST_F(Block, APathCrossesOneGapButNotTwo)
{
    clear();
    fireAt(100, 10);
    fireAt(102, 10);   // one non-fire sample between: reached through it
    fireAt(300, 10);
    fireAt(303, 10);   // two between: not reached
    EXPECT_EQ(block.CountCluster(100, 10), 10);
    EXPECT_EQ(block.CountCluster(102, 10), 10);
    EXPECT_EQ(block.CountCluster(300, 10), 9);
    // A thin line of fire is no cluster, however long; the search stays
    // within its 19 x 19 window even when everything is fire.
    clear();
    rect(400, 12, 200, 1);
    EXPECT_LT(block.CountCluster(500, 12), CDesmokeBlock::kLargeCluster);
    clear();
    rect(0, 0, N, CDesmokeBlock::kBlockLines);
    const int all = block.CountCluster(800, 12);
    EXPECT_GE(all, CDesmokeBlock::kLargeCluster);
    EXPECT_LE(all, 19 * 19);
    // Lines beyond the block do not exist for the search.
    clear(1);
    fireAt(700, 0);
    EXPECT_EQ(block.CountCluster(700, 0), 3);
}

TEST_F(Block, ALargeClusterIsRemovedFromSparkleAndBelowTheFireLimitFromNoSmoke)
{
    clear();
    rect(200, 5, 6, 6);                 // 36 fire pixels
    fireAt(202, 7, kFireLimit);         // at the limit: not below, stays in NoSmoke
    fireAt(203, 8, 20000);              // above the limit
    fireAt(204, 9, kFireLimit - 1);     // below: removed
    fireAt(215, 7);                     // 10 samples beyond the cluster's edge: in its span
    fireAt(226, 8);                     // out of every span and search window
    EXPECT_GE(block.CountCluster(200, 5), CDesmokeBlock::kLargeCluster);
    block.Process();
    for (int y = 5; y < 11; ++y)
        for (int x = 200; x < 206; ++x) {
            EXPECT_EQ(block.sparkle(x, y), 0) << x << "," << y;
            const bool hot = (x == 202 && y == 7) || (x == 203 && y == 8);
            EXPECT_EQ(block.noSmoke(x, y), hot ? 255 : 0) << x << "," << y;
        }
    EXPECT_EQ(block.sparkle(215, 7), 0);
    EXPECT_EQ(block.noSmoke(215, 7), 0);
    EXPECT_EQ(block.sparkle(226, 8), 255);
    EXPECT_EQ(block.noSmoke(226, 8), 255);
    // Nothing that was not fire became fire.
    for (int y = 0; y < CDesmokeBlock::kBlockLines; ++y)
        for (int x = 0; x < N; ++x)
            if (block.fire(x, y) != 255) {
                ASSERT_EQ(block.noSmoke(x, y), 0);
                ASSERT_EQ(block.sparkle(x, y), 0);
            }
}

TEST_F(Block, MarksCarryIntoTheNextBlockUntilALineWithoutFireThere)
{
    clear();
    rect(300, 19, 6, 6);   // a large cluster in the block's last six lines
    block.Process();
    EXPECT_EQ(block.sparkle(300, 24), 0);
    for (int x = 300; x < 306; ++x)
        EXPECT_EQ(block.mark(x), 's') << x;
    EXPECT_EQ(block.mark(299), '0');

    // Next block: a lone pixel under the marked samples is suppressed
    // without a cluster count (alone it would count 9 and survive); a line
    // without fire there resets the mark, so the same lone pixel two lines
    // further down survives. A lone pixel away from the marks survives.
    clear();
    fireAt(302, 0);
    fireAt(340, 0);
    fireAt(302, 2);
    block.Process();
    EXPECT_EQ(block.sparkle(302, 0), 0);
    EXPECT_EQ(block.noSmoke(302, 0), 0);
    EXPECT_EQ(block.sparkle(340, 0), 255);
    EXPECT_EQ(block.sparkle(302, 2), 255);
    EXPECT_EQ(block.noSmoke(302, 2), 255);
    for (int x = 290; x < 316; ++x)
        EXPECT_EQ(block.mark(x), '0') << x;
}

// A removal carries up the lines as it carries down, across the boundary
// of two blocks too, and ends at a line without fire there; a hot fire
// beside the plume stays in NoSmoke and a lone pixel far away survives.
TEST(DesmokeClusters, RemovalsCarryUpThePlumesEdge)
{
    constexpr int kLines = 50, kFireLimit = 20000;
    std::vector<std::uint16_t> fire(std::size_t(kLines) * N, 0);
    std::vector<std::int16_t> chanB(fire.size(), 0);
    auto put = [&](int x, int y, int b) {
        fire[std::size_t(y) * N + std::size_t(x)] = 255;
        chanB[std::size_t(y) * N + std::size_t(x)] = std::int16_t(b);
    };
    for (int y = 12; y < 18; ++y)   // a plume in the first block
        for (int x = 500; x < 506; ++x)
            put(x, y, 0);
    for (int y = 25; y < 31; ++y)   // a plume at the top of the second block
        for (int x = 700; x < 706; ++x)
            put(x, y, 0);
    struct Case {
        const char *what;
        int x, y, b;
        bool noSmoke, sparkle;
    } cases[] = {
        {"touching the plume's top", 503, 11, 0, false, false},
        {"a line above, within the span", 512, 10, 0, false, false},
        {"two lines above, the reach widened", 521, 9, 0, false, false},
        {"above a line without fire there", 505, 7, 0, true, true},
        {"hot fire beside the plume's top", 493, 10, kFireLimit, true, false},
        {"lone pixel far away", 900, 10, 0, true, true},
        {"last line of a block, over the next block's plume", 702, 24, 0, false, false},
        {"and the line above it", 710, 23, 0, false, false},
    };
    for (const Case &c : cases)
        put(c.x, c.y, c.b);

    const QString dir = testsupport::workDir() + QStringLiteral("/desmoke_up");
    QDir(dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir));
    const DesmokeFiles files(dir + QStringLiteral("/run.plf"));
    auto save = [](const QString &path, const void *data, qint64 bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(static_cast<const char *>(data), bytes) == bytes;
    };
    ASSERT_TRUE(save(files.fire, fire.data(), qint64(fire.size() * 2)));
    ASSERT_TRUE(save(files.b, chanB.data(), qint64(chanB.size() * 2)));
    ASSERT_TRUE(desmoke::DesmokeClusters(files, kFireLimit, nullptr));
    auto load = [](const QString &path) {
        QFile f(path);
        std::vector<std::uint16_t> v(std::size_t(kLines) * N, 0);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.read(reinterpret_cast<char *>(v.data()), qint64(v.size() * 2)), qint64(v.size() * 2));
        return v;
    };
    const std::vector<std::uint16_t> noSmoke = load(files.noSmoke), sparkle = load(files.sparkle);
    for (const Case &c : cases) {
        const std::size_t at = std::size_t(c.y) * N + std::size_t(c.x);
        EXPECT_EQ(noSmoke[at] == 255, c.noSmoke) << c.what;
        EXPECT_EQ(sparkle[at] == 255, c.sparkle) << c.what;
    }
}

TEST(DesmokeFire, TestBoundariesAndImageValues)
{
    ColdCurve curve;
    curve.resetStartValues();
    curve.set(1500 + 32769, 30000);
    curve.set(1499 + 32769, 10);     // the neighbouring entries must not be used
    curve.set(1501 + 32769, 10);
    const int fire = 20000, cold = 1000;
    const double a0 = 50.5;
    // a > 30000 + 50.5 + 100 - 32768 = -2617.5
    EXPECT_TRUE(desmoke::IsFire(-2617, 1500, 100, fire, cold, a0, curve));
    EXPECT_FALSE(desmoke::IsFire(-2618, 1500, 100, fire, cold, a0, curve));
    EXPECT_FALSE(desmoke::IsFire(-2617, 1500, 101, fire, cold, a0, curve));   // threshold counts
    EXPECT_FALSE(desmoke::IsFire(32767, 999, 100, fire, cold, a0, curve));    // below the cold limit
    EXPECT_TRUE(desmoke::IsFire(-32768, 20001, 0, fire, cold, a0, curve));    // above the fire limit
    EXPECT_FALSE(desmoke::IsFire(-32768, 20000, 0, fire, cold, a0, curve));

    EXPECT_EQ(desmoke::MergedPixel(255, -32768), 255);
    EXPECT_EQ(desmoke::MergedPixel(0, -32768), 0);
    EXPECT_EQ(desmoke::MergedPixel(0, 0), 128);
    EXPECT_EQ(desmoke::MergedPixel(0, -1), 127);
    EXPECT_EQ(desmoke::MergedPixel(0, 32511), 254);
    // Hot but not fire: never 255, which means fire to every reader.
    EXPECT_EQ(desmoke::MergedPixel(0, 32512), 254);
    EXPECT_EQ(desmoke::MergedPixel(0, 32767), 254);
}

TEST(DesmokeFiles, NamesComeFromTheLogFileName)
{
    const DesmokeFiles f(QStringLiteral("/data/v1.2/run07.plf"));
    ASSERT_TRUE(f.valid);
    EXPECT_EQ(f.a, QStringLiteral("/data/v1.2/run07A.dat"));
    EXPECT_EQ(f.sparkle, QStringLiteral("/data/v1.2/run07Sparkle.dat"));
    EXPECT_EQ(f.desmoked, QStringLiteral("/data/v1.2/run07desmoked.plf"));
    EXPECT_EQ(f.orig, QStringLiteral("/data/v1.2/run07orig.plf"));
    EXPECT_EQ(f.workFiles().size(), 7);
    // A dot in a folder name is not the log's extension.
    EXPECT_FALSE(DesmokeFiles(QStringLiteral("/data/v1.2/run07")).valid);
}

// ---------------------------------------------------------------------------
// Whole logs

// Sane navigation, background samples that are never fire, grey pix.
std::unique_ptr<ScanLineRec> baseLine(std::uint32_t index)
{
    auto r = std::make_unique<ScanLineRec>();
    r->clear();
    r->lineIndex = index;
    r->chnBGain = 1.0f;
    r->vhInterval = 1;
    r->fireThreshold = std::int32_t(100 + index);
    r->latitude = 45 * 3600 * 1000;
    r->longitude = -120 * 3600 * 1000;
    r->altitude = 300000;
    r->heading = 9000;
    r->scanPeriod = 5000;
    for (int i = 0; i < N; ++i) {
        r->chanA[i] = -32768;
        r->chanB[i] = (i * 37) % 20000 - 10000;
        r->pix[i] = std::uint8_t(i % 200);
    }
    for (int i = 0; i < 12; ++i)
        r->pixExtra[i] = std::uint8_t(0xA0 + i);
    return r;
}

struct DesmokeRun : ::testing::Test {
    static constexpr int kFireLimit = 32700;
    static constexpr int kColdLimit = 1000;
    static constexpr double kA0 = 50.0;
    static constexpr int kCurveB = 1500;
    static constexpr int kCurveValue = 30000;
    ColdCurve curve;
    QString dir;
    std::FILE *progress = nullptr;

    void SetUp() override
    {
        curve.resetStartValues();
        curve.set(kCurveB + 32769, kCurveValue);
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = testsupport::workDir() + QStringLiteral("/desmoke_") + QString::fromLatin1(info->name());
        QDir(dir).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir));
        progress = std::tmpfile();
        ASSERT_NE(progress, nullptr);
    }
    void TearDown() override { std::fclose(progress); }

    QString path(const QString &name) const { return dir + QLatin1Char('/') + name; }

    std::string progressText() const
    {
        std::fflush(progress);
        std::rewind(progress);
        std::string s;
        int c;
        while ((c = std::fgetc(progress)) != EOF)
            s.push_back(char(c));
        return s;
    }

    // The smallest channel A value that the re-detection calls fire for a
    // sample with channel B kCurveB on a line with threshold t.
    static int fireA(std::int32_t t) { return int(kCurveValue + kA0 + t - 32768) + 1; }

    void writeLog(const QString &file, int lines, const std::function<void(ScanLineRec &, int)> &shape)
    {
        ColdCurve unused;
        CCindrelDspLog writer(&unused);
        ASSERT_TRUE(writer.OpenForWrite(file));
        for (int y = 0; y < lines; ++y) {
            auto r = baseLine(std::uint32_t(y));
            shape(*r, y);
            ASSERT_TRUE(writer.WriteRecord(*r));
        }
        writer.Close();
    }

    static QByteArray bytes(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    std::vector<std::unique_ptr<ScanLineRec>> readBack(const QString &file, int *version = nullptr)
    {
        ColdCurve unused;
        CCindrelDspLog log(&unused);
        log.OnFileOpen(file);
        std::vector<std::unique_ptr<ScanLineRec>> out;
        if (version)
            *version = log.GetFileVersion();
        if (!log.isOpen)
            return out;
        // The first record was read at opening.
        out.push_back(std::make_unique<ScanLineRec>(log.CurrentRecord()));
        if (log.GetRecordsRead() == 0)
            out.clear();
        for (;;) {
            auto r = std::make_unique<ScanLineRec>();
            if (!log.GetNextLine(r.get()))
                break;
            out.push_back(std::move(r));
        }
        return out;
    }

    int run(const QString &file) { return DesmokeLog(file, 0.0, 0.0, kA0, kFireLimit, kColdLimit, &curve, progress); }

    void expectOnlyLogs(const QStringList &names)
    {
        QStringList present = QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        QStringList want = names;
        want.sort();
        EXPECT_EQ(present, want);
    }
};

// Shapes of the main test log: fire pixels that the re-detection must find
// exactly at its boundaries, isolated from each other so that each is its
// own small cluster; a 6 x 6 cluster; a hot sample that is not fire.
void shapeLine(ScanLineRec &r, int y)
{
    const std::int32_t t = r.fireThreshold;
    if (y % 3 == 0) {
        for (int i = 40; i < 1200; i += 40) {
            r.chanB[i] = DesmokeRun::kCurveB;
            switch ((i / 40 + y) % 5) {
            case 0: r.chanA[i] = DesmokeRun::fireA(t); break;                     // fire
            case 1: r.chanA[i] = DesmokeRun::fireA(t) - 1; break;                 // exactly at the threshold
            case 2: r.chanB[i] = DesmokeRun::kColdLimit - 1; r.chanA[i] = 32767; break;   // too cold
            case 3: r.chanB[i] = DesmokeRun::kFireLimit + 1; break;               // hard limit
            case 4: r.chanB[i] = DesmokeRun::kFireLimit; break;                   // at the hard limit
            }
        }
    }
    if (y >= 20 && y < 26) {
        for (int i = 1400; i < 1406; ++i) {
            r.chanB[i] = DesmokeRun::kCurveB;
            r.chanA[i] = DesmokeRun::fireA(t);
        }
        r.chanB[1402] = DesmokeRun::kFireLimit + 5;   // a hot core stays fire
    }
    r.chanB[1600] = 32600;   // hot, yet below the fire limit and not fire by the curve
}

// The curve of every run in this group.
const ColdCurve &runCurve()
{
    static const ColdCurve *curve = [] {
        auto *c = new ColdCurve;
        c->resetStartValues();
        c->set(DesmokeRun::kCurveB + 32769, DesmokeRun::kCurveValue);
        return c;
    }();
    return *curve;
}

bool expectedFire(const ScanLineRec &r, int i)
{
    return desmoke::IsFire(r.chanA[i], r.chanB[i], r.fireThreshold, DesmokeRun::kFireLimit, DesmokeRun::kColdLimit,
                           DesmokeRun::kA0, runCurve());
}

TEST_F(DesmokeRun, RebuildsTheImageRowsAndKeepsTheOriginal)
{
    const int lines = 40;
    const QString log = path(QStringLiteral("20240715_1432_Fire12_3.plf"));
    writeLog(log, lines, shapeLine);
    const QByteArray before = bytes(log);
    ASSERT_EQ(before.size(), lines * 8560);

    ASSERT_EQ(run(log), 0) << progressText();

    // The untouched log is kept; the work files are gone.
    EXPECT_EQ(bytes(path(QStringLiteral("20240715_1432_Fire12_3orig.plf"))), before);
    expectOnlyLogs({QStringLiteral("20240715_1432_Fire12_3.plf"), QStringLiteral("20240715_1432_Fire12_3orig.plf")});
    const std::string text = progressText();
    EXPECT_NE(text.find("calling desmoke"), std::string::npos);
    EXPECT_NE(text.find("\ncomplete"), std::string::npos);
    EXPECT_NE(text.find("to the end"), std::string::npos);

    // Only the image rows changed.
    const QByteArray after = bytes(log);
    ASSERT_EQ(after.size(), before.size());
    for (int y = 0; y < lines; ++y) {
        const int at = y * 8560;
        ASSERT_EQ(after.mid(at, 6864), before.mid(at, 6864)) << "line " << y;
        ASSERT_EQ(after.mid(at + 6864 + N, 8560 - 6864 - N), before.mid(at + 6864 + N, 8560 - 6864 - N));
    }

    int version = 0;
    const auto got = readBack(log, &version);
    EXPECT_EQ(version, 1);
    ASSERT_EQ(int(got.size()), lines);
    int fires = 0, boundaries = 0;
    for (int y = 0; y < lines; ++y) {
        auto want = baseLine(std::uint32_t(y));
        shapeLine(*want, y);
        const ScanLineRec &r = *got[std::size_t(y)];
        for (int i = 0; i < N; ++i) {
            const std::uint8_t p = r.pix[N - 1 - i];
            const bool cluster = y >= 20 && y < 26 && i >= 1400 && i < 1406;
            if (cluster) {
                // Smoke: removed, except the core above the fire limit and
                // the fire's edge within two samples of it.
                ASSERT_EQ(p, std::abs(i - 1402) <= 2 ? 255 : desmoke::MergedPixel(0, want->chanB[i])) << y << "," << i;
            } else if (expectedFire(*want, i)) {
                ASSERT_EQ(p, 255) << y << "," << i;
                ++fires;
            } else {
                ASSERT_EQ(p, std::min((want->chanB[i] + 32768) / 256, 254)) << y << "," << i;
                if (y % 3 == 0 && i % 40 == 0 && i < 1200)
                    ++boundaries;
            }
        }
    }
    // Both kinds of fire and all three kinds of near miss occurred.
    EXPECT_GE(fires, 14 * 2);
    EXPECT_GE(boundaries, 14 * 3);
    EXPECT_EQ(got[0]->pix[N - 1 - 1600], 254);
}

TEST_F(DesmokeRun, APartialRecordAtTheEndIsLeftOutAndKeptInTheOriginal)
{
    const QString log = path(QStringLiteral("run07.plf"));
    writeLog(log, 5, shapeLine);
    {
        QFile f(log);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(QByteArray(100, '\x7f'));
    }
    const QByteArray before = bytes(log);
    ASSERT_EQ(run(log), 0) << progressText();
    EXPECT_EQ(QFileInfo(log).size(), 5 * 8560);
    EXPECT_EQ(bytes(path(QStringLiteral("run07orig.plf"))), before);
    EXPECT_EQ(readBack(log).size(), 5u);
}

TEST_F(DesmokeRun, AVersion3LogKeepsItsLayout)
{
    // Version 3 records from version 1 ones: without header bytes 72..87.
    const QString v1 = path(QStringLiteral("v1.tmp"));
    const int lines = 5;
    writeLog(v1, lines, shapeLine);
    const QByteArray src = bytes(v1);
    QFile::remove(v1);
    QByteArray v3;
    for (int y = 0; y < lines; ++y) {
        const QByteArray rec = src.mid(y * 8560, 8560);
        v3 += rec.left(72) + rec.mid(88, 8556 - 88) + QByteArray(4, '\0');
    }
    ASSERT_EQ(v3.size(), lines * 8544);
    const QString log = path(QStringLiteral("old.log"));
    {
        QFile f(log);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(v3);
    }
    ASSERT_EQ(run(log), 0) << progressText();
    EXPECT_EQ(QFileInfo(log).size(), v3.size());
    EXPECT_EQ(bytes(path(QStringLiteral("oldorig.plf"))), v3);
    int version = 0;
    const auto got = readBack(log, &version);
    EXPECT_EQ(version, 3);
    ASSERT_EQ(int(got.size()), lines);
    auto want = baseLine(0);
    shapeLine(*want, 0);
    EXPECT_EQ(got[0]->fireThreshold, want->fireThreshold);
    for (int i = 0; i < N; ++i) {
        ASSERT_EQ(got[0]->chanB[i], want->chanB[i]);
        ASSERT_EQ(got[0]->pix[N - 1 - i], expectedFire(*want, i) ? 255 : desmoke::MergedPixel(0, want->chanB[i]))
            << i;
    }
}

TEST_F(DesmokeRun, ASecondRunKeepsTheFirstOriginal)
{
    const QString log = path(QStringLiteral("run07.plf"));
    writeLog(log, 6, shapeLine);
    const QByteArray before = bytes(log);
    ASSERT_EQ(run(log), 0);
    const QByteArray first = bytes(log);
    // Learned curve moved: everything at kCurveB is fire now.
    curve.set(kCurveB + 32769, 0);
    ASSERT_EQ(run(log), 0) << progressText();
    EXPECT_EQ(bytes(path(QStringLiteral("run07orig.plf"))), before);
    EXPECT_NE(bytes(log), first);
    expectOnlyLogs({QStringLiteral("run07.plf"), QStringLiteral("run07orig.plf")});
}

TEST_F(DesmokeRun, FailuresLeaveTheLogAsItWasAndTheProgramRunning)
{
    const QString log = path(QStringLiteral("run07.plf"));
    writeLog(log, 30, shapeLine);
    const QByteArray before = bytes(log);

    // A work file that cannot be created, early and late in the work.
    for (const QString &blocker : {QStringLiteral("run07Fire.dat"), QStringLiteral("run07Sparkle.dat"),
                                   QStringLiteral("run07desmoked.plf")}) {
        ASSERT_TRUE(QDir().mkpath(path(blocker)));
        EXPECT_EQ(run(log), -1) << blocker.toStdString();
        EXPECT_EQ(bytes(log), before) << blocker.toStdString();
        expectOnlyLogs({QStringLiteral("run07.plf"), blocker});
        ASSERT_TRUE(QDir(path(blocker)).removeRecursively());
    }
    EXPECT_NE(progressText().find("could not open"), std::string::npos);

    // A log that grew after it was split (still being written) is not
    // replaced by the shorter new one.
    const DesmokeFiles files(log);
    ASSERT_TRUE(QFile::copy(log, files.desmoked));
    EXPECT_FALSE(desmoke::ReplaceLog(files, before.size() - 8560, progress));
    EXPECT_EQ(bytes(log), before);
    EXPECT_FALSE(QFileInfo::exists(files.orig));
    QFile::remove(files.desmoked);

    // An unusable name, a missing log, no curve.
    const QString noDot = path(QStringLiteral("run08"));
    ASSERT_TRUE(QFile::copy(log, noDot));
    EXPECT_EQ(run(noDot), -1);
    EXPECT_NE(progressText().find("Error: invalid file name"), std::string::npos);
    EXPECT_EQ(bytes(noDot), before);
    EXPECT_EQ(run(path(QStringLiteral("missing.plf"))), -1);
    EXPECT_EQ(DesmokeLog(log, 0, 0, kA0, kFireLimit, kColdLimit, nullptr, progress), -1);
    EXPECT_EQ(bytes(log), before);
    expectOnlyLogs({QStringLiteral("run07.plf"), QStringLiteral("run08")});

    // And afterwards the same log still desmokes.
    EXPECT_EQ(run(log), 0);
    EXPECT_EQ(bytes(path(QStringLiteral("run07orig.plf"))), before);
}

// The per-line steps write the same files with a second thread, whether it
// takes every round of lines or only the rounds its gate allows, and the
// gate hears when each step is done.
TEST_F(DesmokeRun, TwoThreadsWriteTheSameFilesAsOne)
{
    const int lines = 2100;   // whole rounds and a short last one
    const QString log = path(QStringLiteral("run09.plf"));
    writeLog(log, lines, shapeLine);
    const DesmokeFiles files(log);
    const DesmokeLayout layout = DesmokeLayout::ForFileSize(QFileInfo(log).size());
    struct Case {
        const char *what;
        int count;
        bool gated;
    } cases[] = {{"one thread", 1, false}, {"two threads", 2, false}, {"two threads, every other round", 2, true}};
    QList<QByteArray> want;
    for (const Case &c : cases) {
        DesmokeThreads threads;
        threads.count = c.count;
        int asked = 0, done = 0;
        if (c.gated)
            threads.gate = [&](bool wanted) { return wanted ? ++asked % 2 == 1 : (++done, false); };
        qint64 split = 0;
        ASSERT_TRUE(desmoke::SplitLog(files, layout, progress, &split, threads)) << c.what << progressText();
        EXPECT_EQ(split, lines) << c.what;
        ASSERT_TRUE(desmoke::RedetectFire(files, kFireLimit, kColdLimit, kA0, curve, progress, threads)) << c.what;
        ASSERT_TRUE(desmoke::DesmokeClusters(files, kFireLimit, progress)) << c.what;
        ASSERT_TRUE(desmoke::MergeDesmoked(files, layout, lines, progress, threads)) << c.what;
        const QStringList made = files.workFiles() << files.desmoked;
        for (int i = 0; i < made.size(); ++i) {
            const QByteArray got = bytes(made[i]);
            if (want.size() < made.size()) {
                EXPECT_FALSE(got.isEmpty()) << made[i].toStdString();
                want.append(got);
            } else {
                EXPECT_TRUE(got == want[i]) << c.what << ": " << made[i].toStdString();
            }
        }
        if (c.gated) {
            EXPECT_EQ(asked, 3 * 3) << "three rounds in each of the three steps";
            EXPECT_EQ(done, 3);
        }
    }
}

TEST_F(DesmokeRun, AnEmptyLogStaysEmpty)
{
    const QString log = path(QStringLiteral("empty.plf"));
    {
        QFile f(log);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(run(log), 0) << progressText();
    EXPECT_EQ(QFileInfo(log).size(), 0);
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("emptyorig.plf"))));
}

} // namespace
