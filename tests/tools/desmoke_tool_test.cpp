// cindrel desmoke as a user runs it: a log with a smoke patch and lone fire
// pixels is desmoked in place with a curve learned from the log, the
// original is kept, and bad calls fail with their exit status.
#include "common/testsupport.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <memory>

using testsupport::run;

namespace {

constexpr int N = SAMPLES_PER_LINE;

// 30 lines of cold background (channel A about -3000, channel B about
// 1200), a warm 8 x 8 patch (smoke) and two lone hot pixels.
void writeSmokyLog(const QString &path)
{
    ColdCurve unused;
    CCindrelDspLog writer(&unused);
    ASSERT_TRUE(writer.OpenForWrite(path));
    auto r = std::make_unique<ScanLineRec>();
    for (int y = 0; y < 30; ++y) {
        r->clear();
        r->lineIndex = std::uint32_t(y);
        r->chnBGain = 1.0f;
        r->vhInterval = 1;
        r->fireThreshold = 200;
        r->altitude = 300000;
        r->heading = 9000;
        r->latitude = 45 * 3600 * 1000;
        r->longitude = -120 * 3600 * 1000;
        for (int i = 0; i < N; ++i) {
            r->chanA[i] = -3000 + (i * 7 + y * 3) % 40;
            r->chanB[i] = 1200 + (i % 3);
            r->pix[i] = 10;
        }
        if (y >= 10 && y < 18)
            for (int i = 500; i < 508; ++i)
                r->chanA[i] = 0;
        if (y == 5)
            r->chanA[100] = 0;
        if (y == 25)
            r->chanA[1500] = 0;
        writer.WriteRecord(*r);
    }
    writer.Close();
}

std::vector<std::unique_ptr<ScanLineRec>> readAll(const QString &path)
{
    ColdCurve unused;
    CCindrelDspLog log(&unused);
    log.OnFileOpen(path);
    std::vector<std::unique_ptr<ScanLineRec>> out;
    if (log.GetRecordsRead() == 0)
        return out;
    out.push_back(std::make_unique<ScanLineRec>(log.CurrentRecord()));
    for (;;) {
        auto r = std::make_unique<ScanLineRec>();
        if (!log.GetNextLine(r.get()))
            break;
        out.push_back(std::move(r));
    }
    return out;
}

TEST(ToolDesmoke, RemovesTheSmokePatchKeepsLoneFiresAndTheOriginal)
{
    const QString dir = testsupport::workDir() + QStringLiteral("/desmoke_tool");
    QDir().mkpath(dir);
    const QString log = dir + QStringLiteral("/20240715_1432_Fire12_1.plf");
    writeSmokyLog(log);
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();

    const auto r = run(testsupport::toolPath(), {QStringLiteral("desmoke"), log, QStringLiteral("--cold-limit"),
                                                 QStringLiteral("1000"), QStringLiteral("--a0"), QStringLiteral("0")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("30 lines"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("2 after"))) << r.out.toStdString();
    QFile o(dir + QStringLiteral("/20240715_1432_Fire12_1orig.plf"));
    ASSERT_TRUE(o.open(QIODevice::ReadOnly));
    EXPECT_EQ(o.readAll(), before);

    const auto lines = readAll(log);
    ASSERT_EQ(lines.size(), 30u);
    int fire = 0;
    for (const auto &l : lines)
        fire += int(std::count(l->pix, l->pix + N, FIRE_PIXEL));
    EXPECT_EQ(fire, 2);
    EXPECT_EQ(lines[5]->pix[N - 1 - 100], FIRE_PIXEL);
    EXPECT_EQ(lines[25]->pix[N - 1 - 1500], FIRE_PIXEL);
    EXPECT_EQ(lines[12]->pix[N - 1 - 503], (1200 + 503 % 3 + 32768) / 256);

    // A cold limit above every channel B value: no fire at all.
    const auto r2 = run(testsupport::toolPath(), {QStringLiteral("desmoke"), log, QStringLiteral("--cold-limit=5000")});
    ASSERT_EQ(r2.exitCode, 0) << r2.err.toStdString();
    EXPECT_TRUE(r2.out.contains(QStringLiteral("0 after"))) << r2.out.toStdString();
}

TEST(ToolDesmoke, BadCallsFail)
{
    const QString dir = testsupport::workDir();
    auto r = run(testsupport::toolPath(), {QStringLiteral("desmoke"), dir + QStringLiteral("/none.plf")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no such file"))) << r.err.toStdString();
    r = run(testsupport::toolPath(), {QStringLiteral("desmoke")});
    EXPECT_EQ(r.exitCode, 2);
    r = run(testsupport::toolPath(), {QStringLiteral("desmoke"), dir, QStringLiteral("--a0"), QStringLiteral("x")});
    EXPECT_EQ(r.exitCode, 2);
    r = run(testsupport::toolPath(), {QStringLiteral("desmoke"), dir});
    EXPECT_EQ(r.exitCode, 1);
    QFile plain(dir + QStringLiteral("/noextension"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write(QByteArray(8560, '\0'));
    plain.close();
    r = run(testsupport::toolPath(), {QStringLiteral("desmoke"), plain.fileName()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(QFileInfo(plain.fileName()).size(), 8560);
}

} // namespace

namespace {

// cindrel detect-report on a simulated data set: one row per pass and the
// totals, with the fires the truth lists; a folder without truth is refused.
TEST(ToolDetectReport, MeasuresASimulatedDataSetAgainstItsTruth)
{
    const QString d = testsupport::workDir() + QStringLiteral("/detectdemo");
    auto r = run(testsupport::toolPath(),
                 {QStringLiteral("simulate"), QStringLiteral("--out"), d, QStringLiteral("--region"),
                  QStringLiteral("0.05"), QStringLiteral("--passes"), QStringLiteral("2"), QStringLiteral("--lines"),
                  QStringLiteral("500"), QStringLiteral("--fires"), QStringLiteral("10")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile seen(d + QStringLiteral("/truth/sightings.csv"));
    ASSERT_TRUE(seen.open(QIODevice::ReadOnly | QIODevice::Text));
    const int sightings = QString::fromUtf8(seen.readAll()).trimmed().split(QLatin1Char('\n')).size() - 1;
    ASSERT_GT(sightings, 0);

    r = run(testsupport::toolPath(), {QStringLiteral("detect-report"), d, QStringLiteral("--auto"), QStringLiteral("2"),
                                      QStringLiteral("--details")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList rows = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(rows.size(), 7) << r.out.toStdString();   // header, two passes, details, totals, recall
    EXPECT_TRUE(rows[1].trimmed().startsWith(QLatin1String("1 "))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QLatin1String("\nlost sightings:"))) << r.out.toStdString();
    const QStringList all = rows[rows.size() - 2].split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_GE(all.size(), 6);
    EXPECT_EQ(all[0], QStringLiteral("all"));
    EXPECT_EQ(all[1].toInt(), sightings);
    EXPECT_LE(all[4].toInt(), sightings);   // found
    EXPECT_TRUE(rows.last().startsWith(QLatin1String("recall "))) << r.out.toStdString();

    r = run(testsupport::toolPath(), {QStringLiteral("detect-report"), d + QStringLiteral("/c-drive")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QLatin1String("passes.csv"))) << r.err.toStdString();
}

} // namespace
