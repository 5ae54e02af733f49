// The cindrel command-line tool as a user runs it: simulate a small demo
// working directory, describe its logs and rasters, convert coordinates, and
// the exit statuses and messages of bad calls.
#include "common/testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

using testsupport::run;

namespace {
QString tool() { return testsupport::toolPath(); }

QMap<QString, QString> keyValues(const QString &text)
{
    QMap<QString, QString> m;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int colon = line.indexOf(QLatin1String(": "));
        if (colon > 0)
            m.insert(line.left(colon), line.mid(colon + 2).trimmed());
    }
    return m;
}

QByteArray digest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result();
}

const QStringList kSmall = {QStringLiteral("--region"), QStringLiteral("0.05"), QStringLiteral("--center"),
                            QStringLiteral("44.525,-121.475"), QStringLiteral("--passes"), QStringLiteral("2"),
                            QStringLiteral("--lines"), QStringLiteral("120"), QStringLiteral("--agl"), QStringLiteral("600")};

// One simulated directory shared by the tests of this file.
QString demoDir()
{
    static QString dir;
    if (dir.isEmpty()) {
        const QString d = testsupport::workDir() + QStringLiteral("/demo");
        const auto r = run(tool(), QStringList{QStringLiteral("simulate"), QStringLiteral("--out"), d} + kSmall
                                       + QStringList{QStringLiteral("--faults"),
                                                     QStringLiteral("shift-left:10,shift-right:20,insane:30,gap:40,partial"),
                                                     QStringLiteral("--mission"), QStringLiteral("Fire 12")});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        dir = d;
    }
    return dir;
}
} // namespace

TEST(ToolSimulate, WritesTheDemoWorkingDirectory)
{
    const QString d = demoDir();
    for (const char *f : {"Cindrel_ElevationTileBoundaries.dat", "AlaskaLatShift.hdr", "AlaskaLonShift.bil",
                          "GeoData/highways.shp", "GeoData/interst.prj", "GeoData/hydrolin.dbf", "buttons/Play.bmp",
                          "buttons/Stop.bmp", "buttons/RunP.bmp", "buttons/StopP.bmp", "buttons/Ftp.bmp",
                          "NewOrvekLogoJetGray.bmp", "CindrelTransparentLogoGrayDark.bmp", "a.rbf", "c0.out",
                          "c1.out", "c2.out",
                          "c-drive/demdata/cd01/demimage.hdr", "c-drive/demdata/cd01/demimage.bil",
                          "c-drive/CindrelData/20240715_1432_Fire12_1.plf", "c-drive/CindrelData/20240715_1432_Fire12_2.plf",
                          "truth/fires.csv", "truth/passes.csv", "truth/sightings.csv"})
        EXPECT_TRUE(QFile::exists(d + QLatin1Char('/') + QLatin1String(f))) << f;

    QFile fires(d + QStringLiteral("/truth/fires.csv"));
    ASSERT_TRUE(fires.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList rows = QString::fromUtf8(fires.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(rows.value(0), QStringLiteral("id,latitude,longitude,radius_m,intensity"));
    EXPECT_EQ(rows.size(), 13);   // 12 fires by default
    QFile passes(d + QStringLiteral("/truth/passes.csv"));
    ASSERT_TRUE(passes.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList prow = QString::fromUtf8(passes.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(prow.size(), 3);
    EXPECT_TRUE(prow[1].startsWith(QLatin1String("1,20240715_1432_Fire12_1.plf,"))) << prow[1].toStdString();
    EXPECT_TRUE(prow[2].contains(QLatin1String(",180.00,"))) << prow[2].toStdString();   // the return pass
}

TEST(ToolSimulate, SameSeedGivesIdenticalFilesOtherSeedDiffers)
{
    const QString a = testsupport::workDir() + QStringLiteral("/seedA"), b = testsupport::workDir() + QStringLiteral("/seedB"),
                  c = testsupport::workDir() + QStringLiteral("/seedC");
    const QStringList small = {QStringLiteral("--region"), QStringLiteral("0.05"), QStringLiteral("--center"),
                               QStringLiteral("44.525,-121.475"), QStringLiteral("--passes"), QStringLiteral("1"),
                               QStringLiteral("--lines"), QStringLiteral("40"), QStringLiteral("--agl"), QStringLiteral("600")};
    for (const auto &[dir, seed] : {std::pair{a, "7"}, std::pair{b, "7"}, std::pair{c, "8"}}) {
        const auto r = run(tool(), QStringList{QStringLiteral("simulate"), QStringLiteral("--out"), dir,
                                               QStringLiteral("--seed"), QLatin1String(seed)} + small);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    for (const char *f : {"c-drive/CindrelData/20240715_1432_Demo_1.plf", "c-drive/demdata/cd01/demimage.bil",
                          "GeoData/highways.shp", "truth/fires.csv"}) {
        const QByteArray da = digest(a + QLatin1Char('/') + QLatin1String(f));
        ASSERT_FALSE(da.isEmpty()) << f;
        EXPECT_EQ(da, digest(b + QLatin1Char('/') + QLatin1String(f))) << f;
        EXPECT_NE(da, digest(c + QLatin1Char('/') + QLatin1String(f))) << f;
    }
}

TEST(ToolLogInfo, ReportsLinesAndTheInjectedFaults)
{
    const QString d = demoDir();
    const auto r = run(tool(), {QStringLiteral("log-info"), d + QStringLiteral("/c-drive/CindrelData/20240715_1432_Fire12_1.plf")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto kv = keyValues(r.out);
    EXPECT_EQ(kv.value(QStringLiteral("version")), QStringLiteral("1"));
    EXPECT_EQ(kv.value(QStringLiteral("records")), QStringLiteral("120"));
    EXPECT_EQ(kv.value(QStringLiteral("trailing bytes")), QStringLiteral("4280"));
    EXPECT_EQ(kv.value(QStringLiteral("first line index")), QStringLiteral("1000"));
    EXPECT_EQ(kv.value(QStringLiteral("start time")), QStringLiteral("2024-07-15T14:32:00"));
    EXPECT_EQ(kv.value(QStringLiteral("repaired records")), QStringLiteral("2"));
    EXPECT_EQ(kv.value(QStringLiteral("rejected records")), QStringLiteral("1"));
    // The rejected record and the three lost lines: two gaps, four lines missing.
    EXPECT_EQ(kv.value(QStringLiteral("line gaps")), QStringLiteral("2"));
    EXPECT_EQ(kv.value(QStringLiteral("missing lines")), QStringLiteral("4"));
    const double south = kv.value(QStringLiteral("south")).toDouble(), north = kv.value(QStringLiteral("north")).toDouble();
    EXPECT_GT(north, south);
    EXPECT_NEAR((south + north) / 2, 44.525, 0.01);
    EXPECT_NEAR(kv.value(QStringLiteral("west")).toDouble(), -121.475, 0.05);

    // A clean pass has none of them.
    const auto r2 = run(tool(), {QStringLiteral("log-info"), d + QStringLiteral("/c-drive/CindrelData/20240715_1432_Fire12_2.plf")});
    ASSERT_EQ(r2.exitCode, 0);
    EXPECT_EQ(keyValues(r2.out).value(QStringLiteral("records")), QStringLiteral("120"));
    EXPECT_GT(keyValues(r2.out).value(QStringLiteral("slow scan lines")).toInt(), 0);   // the second pass has slow scans
}

TEST(ToolLogInfo, RefusesMissingAndForeignFiles)
{
    auto r = run(tool(), {QStringLiteral("log-info"), testsupport::workDir() + QStringLiteral("/none.plf")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("no such file"))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());

    QFile text(testsupport::workDir() + QStringLiteral("/notes.plf"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(20000, 'x'));
    text.close();
    r = run(tool(), {QStringLiteral("log-info"), text.fileName()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("not a flight log"))) << r.err.toStdString();

    QFile small(testsupport::workDir() + QStringLiteral("/tiny.plf"));
    ASSERT_TRUE(small.open(QIODevice::WriteOnly));
    small.write("hello");
    small.close();
    r = run(tool(), {QStringLiteral("log-info"), small.fileName()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("no complete record"))) << r.err.toStdString();

    r = run(tool(), {QStringLiteral("log-info"), testsupport::workDir()});
    EXPECT_EQ(r.exitCode, 1);
}

TEST(ToolBilInfo, DescribesTilesAndGrids)
{
    const QString d = demoDir();
    auto r = run(tool(), {QStringLiteral("bil-info"), d + QStringLiteral("/c-drive/demdata/cd01/demimage.hdr")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    auto kv = keyValues(r.out);
    // Cell centres on whole arc-seconds, from one whole-degree line to the next.
    EXPECT_EQ(kv.value(QStringLiteral("ncols")), QStringLiteral("3601"));
    EXPECT_EQ(kv.value(QStringLiteral("pixel type")), QStringLiteral("Int16"));
    EXPECT_DOUBLE_EQ(kv.value(QStringLiteral("ulxmap")).toDouble(), -122.0);
    EXPECT_NEAR(kv.value(QStringLiteral("left")).toDouble(), -122.0 - 0.5 / 3600, 1e-9);
    EXPECT_EQ(kv.value(QStringLiteral("zero samples")), QStringLiteral("0"));
    EXPECT_GT(kv.value(QStringLiteral("maximum")).toDouble(), kv.value(QStringLiteral("minimum")).toDouble());

    r = run(tool(), {QStringLiteral("bil-info"), d + QStringLiteral("/AlaskaLatShift")});
    ASSERT_EQ(r.exitCode, 0);
    kv = keyValues(r.out);
    EXPECT_EQ(kv.value(QStringLiteral("pixel type")), QStringLiteral("Float32"));
    EXPECT_EQ(kv.value(QStringLiteral("ulxmap")), QStringLiteral("-180"));

    r = run(tool(), {QStringLiteral("bil-info"), d + QStringLiteral("/missing")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("cannot open the BIL raster"))) << r.err.toStdString();
}

TEST(ToolCoordinates, AgreesWithProjAndRoundTrips)
{
    auto r = run(tool(), {QStringLiteral("utm"), QStringLiteral("44.5"), QStringLiteral("-121.5")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList f = r.out.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_EQ(f.size(), 3);
    EXPECT_EQ(f[0], QStringLiteral("10"));
    if (testsupport::haveTool(QStringLiteral("cs2cs"))) {
        QProcess p;
        p.start(QStringLiteral("cs2cs"), {QStringLiteral("-f"), QStringLiteral("%.3f"), QStringLiteral("+proj=latlong"),
                                          QStringLiteral("+datum=WGS84"), QStringLiteral("+to"), QStringLiteral("+proj=utm"),
                                          QStringLiteral("+zone=10"), QStringLiteral("+datum=WGS84")});
        ASSERT_TRUE(p.waitForStarted());
        p.write("-121.5 44.5\n");
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForFinished());
        const QStringList ref = QString::fromLatin1(p.readAllStandardOutput()).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        ASSERT_GE(ref.size(), 2);
        EXPECT_NEAR(f[2].toDouble(), ref[0].toDouble(), 0.002);   // easting
        EXPECT_NEAR(f[1].toDouble(), ref[1].toDouble(), 0.002);   // northing
    }
    r = run(tool(), {QStringLiteral("latlon"), f[0], f[1], f[2].trimmed()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList g = r.out.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_EQ(g.size(), 2);
    EXPECT_NEAR(g[0].toDouble(), 44.5, 1e-8);
    EXPECT_NEAR(g[1].toDouble(), -121.5, 1e-8);

    // A fixed central meridian moves the grid.
    r = run(tool(), {QStringLiteral("utm"), QStringLiteral("--cm"), QStringLiteral("-120"), QStringLiteral("44.5"),
                     QStringLiteral("-121.5")});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_LT(r.out.split(QLatin1Char(' ')).value(2).toDouble(), 500000.0);
}

TEST(ToolUsage, ExitStatusAndMessagesOfBadCalls)
{
    struct Case {
        QStringList args;
        int status;
        const char *message;
    };
    const QList<Case> cases = {
        {{}, 2, "Usage: cindrel COMMAND"},
        {{QStringLiteral("frobnicate")}, 2, "unknown command \"frobnicate\""},
        {{QStringLiteral("simulate")}, 2, "--out DIR is required"},
        {{QStringLiteral("simulate"), QStringLiteral("--out")}, 2, "needs a value"},
        {{QStringLiteral("simulate"), QStringLiteral("--out"), QStringLiteral("x"), QStringLiteral("--lines"), QStringLiteral("many")}, 2, "is not a whole number"},
        {{QStringLiteral("simulate"), QStringLiteral("--out"), QStringLiteral("x"), QStringLiteral("--passes"), QStringLiteral("0")}, 2, "outside"},
        {{QStringLiteral("simulate"), QStringLiteral("--out"), QStringLiteral("x"), QStringLiteral("--center"), QStringLiteral("44.5")}, 2, "LAT,LON"},
        {{QStringLiteral("simulate"), QStringLiteral("--out"), QStringLiteral("x"), QStringLiteral("--faults"), QStringLiteral("meteor")}, 2, "unknown fault"},
        {{QStringLiteral("simulate"), QStringLiteral("--out"), QStringLiteral("x"), QStringLiteral("--start"), QStringLiteral("yesterday")}, 2, "yyyy-MM-ddTHH:mm"},
        {{QStringLiteral("simulate"), QStringLiteral("--out"), QStringLiteral("x"), QStringLiteral("--colour"), QStringLiteral("red")}, 2, "unknown option --colour"},
        {{QStringLiteral("utm"), QStringLiteral("44.5")}, 2, "missing arguments"},
        {{QStringLiteral("utm"), QStringLiteral("91"), QStringLiteral("0")}, 2, "outside"},
        {{QStringLiteral("utm"), QStringLiteral("north"), QStringLiteral("0")}, 2, "is not a number"},
        {{QStringLiteral("latlon"), QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")}, 2, "needs --cm"},
        {{QStringLiteral("log-info")}, 2, "missing arguments"},
        {{QStringLiteral("log-info"), QStringLiteral("a"), QStringLiteral("b")}, 2, "too many arguments"},
        {{QStringLiteral("bil-info"), QStringLiteral("-x")}, 2, "unknown option -x"},
    };
    for (const Case &c : cases) {
        const auto r = run(tool(), c.args);
        EXPECT_EQ(r.exitCode, c.status) << c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(c.message)))
            << c.args.join(QLatin1Char(' ')).toStdString() << " -> " << r.err.toStdString();
    }
    EXPECT_FALSE(QDir(testsupport::workDir() + QStringLiteral("/x")).exists());   // nothing written on bad usage

    for (const char *cmd : {"simulate", "log-info", "utm", "latlon", "bil-info"}) {
        const auto r = run(tool(), {QLatin1String(cmd), QStringLiteral("--help")});
        EXPECT_EQ(r.exitCode, 0) << cmd;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: cindrel %1").arg(QLatin1String(cmd)))) << r.out.toStdString();
    }
    const auto r = run(tool(), {QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QLatin1String("simulate")));
}

TEST(ToolExtractDem, CutsTheBoxOutOfTheDemoTiles)
{
    const QString d = demoDir();
    const QByteArray savedDrive = qgetenv("CINDREL_C_DRIVE");
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(d + QStringLiteral("/c-drive")));
    const QString out = testsupport::workDir() + QStringLiteral("/area");
    auto r = run(tool(), {QStringLiteral("extract-dem"), QStringLiteral("-121.49"), QStringLiteral("44.535"),
                          QStringLiteral("-121.46"), QStringLiteral("44.515"), out},
                 120000, d);
    const auto tooBig = run(tool(), {QStringLiteral("extract-dem"), QStringLiteral("-124"), QStringLiteral("44.535"),
                                     QStringLiteral("-121.46"), QStringLiteral("44.515"), out + QStringLiteral("2")},
                            120000, d);
    const auto noTiles = run(tool(), {QStringLiteral("extract-dem"), QStringLiteral("-121.49"), QStringLiteral("44.535"),
                                      QStringLiteral("-121.46"), QStringLiteral("44.515"), out + QStringLiteral("3")},
                             120000, testsupport::workDir());
    qputenv("CINDREL_C_DRIVE", savedDrive);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QLatin1String("from 1 tile(s)"))) << r.out.toStdString();
    EXPECT_EQ(tooBig.exitCode, 1);
    EXPECT_TRUE(tooBig.err.contains(QLatin1String("larger than 2 degrees"))) << tooBig.err.toStdString();
    EXPECT_FALSE(QFile::exists(out + QStringLiteral("2.bil")));
    EXPECT_EQ(noTiles.exitCode, 1);
    EXPECT_TRUE(noTiles.err.contains(QLatin1String("no elevation tiles"))) << noTiles.err.toStdString();

    // The cut-out: one arc-second cells with a 75-cell margin, filled from the tile.
    r = run(tool(), {QStringLiteral("bil-info"), out});
    ASSERT_EQ(r.exitCode, 0);
    const auto kv = keyValues(r.out);
    EXPECT_NEAR(kv.value(QStringLiteral("xdim")).toDouble(), 1.0 / 3600, 1e-12);
    EXPECT_NEAR(kv.value(QStringLiteral("left")).toDouble(), -121.49 - 75.5 / 3600, 1.5 / 3600);
    EXPECT_EQ(kv.value(QStringLiteral("zero samples")), QStringLiteral("0"));
    const auto tile = keyValues(run(tool(), {QStringLiteral("bil-info"), d + QStringLiteral("/c-drive/demdata/cd01/demimage")}).out);
    EXPECT_GE(kv.value(QStringLiteral("minimum")).toDouble(), tile.value(QStringLiteral("minimum")).toDouble());
    EXPECT_LE(kv.value(QStringLiteral("maximum")).toDouble(), tile.value(QStringLiteral("maximum")).toDouble());
}
