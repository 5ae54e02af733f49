// Fire points and the mission report on a simulated two-pass mission: pass 1
// made by `cindrel orthorectify`, pass 2 by the processing chain, a third
// log (another mission without elevation data) failing in the chain; then
// `cindrel mosaic --clusters` and `cindrel report`. GIS tools (OGR) must
// open every fire point file on WGS 84 with one feature per fire pixel of
// the logs, and a real browser must show the report with its picture.
#include "common/testsupport.h"
#include "datasource/coldcurve.h"
#include "ortho/logproductchain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

#include <gtest/gtest.h>

using testsupport::run;

namespace {

struct Mission {
    QString root, logDir, mission;
    QStringList logs;
    int firePixels = 0;   // as the log reader counts them
    QString failedLog;
    bool ready = false;
};

Mission *g_mission = nullptr;

class FirePointsReport : public ::testing::Test {
protected:
    // Made by the first test that runs (in SetUp, not SetUpTestSuite: a
    // failure there would skip the tests, and CTest would count them as
    // skipped rather than failed).
    static void MakeMission()
    {
        auto *m = new Mission;
        g_mission = m;
        const QString tool = testsupport::toolPath();
        m->root = testsupport::workDir() + QStringLiteral("/firepoints");
        auto r = run(tool, {QStringLiteral("simulate"), QStringLiteral("--out"), m->root, QStringLiteral("--region"),
                            QStringLiteral("0.1"), QStringLiteral("--passes"), QStringLiteral("2"),
                            QStringLiteral("--lines"), QStringLiteral("600"), QStringLiteral("--smoke"),
                            QStringLiteral("0"), QStringLiteral("--fires"), QStringLiteral("80")});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        m->logDir = m->root + QStringLiteral("/c-drive/CindrelData");
        for (const QString &n : QDir(m->logDir).entryList({QStringLiteral("*.plf")}, QDir::Files, QDir::Name))
            m->logs << m->logDir + QLatin1Char('/') + n;
        ASSERT_EQ(m->logs.size(), 2);
        const QString base = QFileInfo(m->logs.first()).completeBaseName();
        m->mission = base.left(base.lastIndexOf(QLatin1Char('_')));

        // The mission's drive for the tools and the chain, given back at the end.
        const QByteArray savedDrive = qgetenv("CINDREL_C_DRIVE");
        struct Restore {
            QByteArray drive;
            ~Restore()
            {
                qputenv("CINDREL_C_DRIVE", drive);
                QSettings().remove(QStringLiteral("LastUsed/FireDetectChnBFireLimit"));
            }
        } restore{savedDrive};
        qputenv("CINDREL_C_DRIVE", QFile::encodeName(m->root + QStringLiteral("/c-drive")));
        r = run(tool, {QStringLiteral("extract-dem"), QStringLiteral("-121.56"), QStringLiteral("44.56"),
                       QStringLiteral("-121.44"), QStringLiteral("44.44"), m->logDir + QLatin1Char('/') + m->mission},
                120000, m->root);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        r = run(tool, {QStringLiteral("orthorectify"), m->logs[0], QStringLiteral("--quiet")}, 120000, m->root);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

        // Pass 2 and the failing log through the chain the program runs,
        // with the fire limit the flight was recorded with.
        QSettings().setValue(QStringLiteral("LastUsed/FireDetectChnBFireLimit"), 30000);
        ColdCurve curve;
        LogJob job;
        job.logPath = m->logs[1];
        job.elevationReady = true;
        job.tailNumber = QStringLiteral("N123FP");
        job.productVersion = QStringLiteral("7.2");
        const LogOutcome ok = LogProductChain(&curve).Run(job);
        ASSERT_TRUE(ok.Succeeded()) << ok.Summary().toStdString();
        m->failedLog = m->logDir + QStringLiteral("/20240101_0000_Elsewhere_1.plf");
        ASSERT_TRUE(QFile::copy(m->logs[0], m->failedLog));
        job.logPath = m->failedLog;
        job.elevationReady = false;
        ASSERT_FALSE(LogProductChain(&curve).Run(job).Succeeded());

        // The fire pixels of the logs as they are now (the chain desmoked pass 2).
        for (const QString &log : m->logs) {
            const auto info = run(tool, {QStringLiteral("log-info"), log});
            const QRegularExpressionMatch f = QRegularExpression(QStringLiteral("fire pixels: (\\d+)")).match(info.out);
            ASSERT_TRUE(f.hasMatch()) << info.out.toStdString();
            m->firePixels += f.captured(1).toInt();
        }
        ASSERT_GT(m->firePixels, 0);
        r = run(tool, {QStringLiteral("mosaic"), m->logs[0], QStringLiteral("--clusters")}, 120000, m->root);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        ASSERT_TRUE(r.out.contains(QStringLiteral("fire points: %1").arg(m->firePixels))) << r.out.toStdString();
        m->ready = true;
    }
    static void TearDownTestSuite()
    {
        delete g_mission;
        g_mission = nullptr;
    }
    void SetUp() override
    {
        if (!g_mission) {
            MakeMission();
            if (HasFatalFailure())
                return;
        }
        if (!g_mission->ready)
            GTEST_FAIL() << "the mission could not be made";
    }
};

} // namespace

TEST_F(FirePointsReport, GisToolsOpenEveryFormatOnWgs84WithOnePointPerFirePixel)
{
    if (!testsupport::haveTool(QStringLiteral("ogrinfo")))
        GTEST_SKIP() << "ogrinfo is not installed";
    const Mission &m = *g_mission;
    const QString points = m.logDir + QLatin1Char('/') + m.mission + QStringLiteral("_FirePoints");
    const QString clusters = m.logDir + QLatin1Char('/') + m.mission + QStringLiteral("_FireClusters");
    const QStringList csvOptions{QStringLiteral("-oo"), QStringLiteral("X_POSSIBLE_NAMES=longitude"),
                                 QStringLiteral("-oo"), QStringLiteral("Y_POSSIBLE_NAMES=latitude")};
    const struct {
        QString file;
        QStringList options;
        int features;   // -1: at least one, at most the fire pixels
        const char *crs;
    } cases[] = {
        {points + QStringLiteral(".geojson"), {}, m.firePixels, "WGS 84"},
        {points + QStringLiteral(".kml"), {}, m.firePixels, "WGS 84"},
        {points + QStringLiteral(".csv"), csvOptions, m.firePixels, "WGS 84"},
        {m.logDir + QLatin1Char('/') + m.mission + QStringLiteral("_RawHeatData.shp"), {}, m.firePixels, "NAD83"},
        {clusters + QStringLiteral(".geojson"), {}, -1, "WGS 84"},
        {clusters + QStringLiteral(".csv"), csvOptions, -1, "WGS 84"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const auto info = run(QStringLiteral("ogrinfo"),
                              QStringList{QStringLiteral("-ro"), QStringLiteral("-al")}
                                  + c.options + QStringList{c.file});
        ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
        EXPECT_TRUE(info.out.contains(QLatin1String(c.crs))) << info.out.toStdString();
        const QRegularExpressionMatch n = QRegularExpression(QStringLiteral("Feature Count: (\\d+)")).match(info.out);
        ASSERT_TRUE(n.hasMatch()) << info.out.toStdString();
        // Every feature a point.
        EXPECT_EQ(info.out.count(QLatin1String("  POINT (")), n.captured(1).toInt());
        if (c.features >= 0)
            EXPECT_EQ(n.captured(1).toInt(), c.features);
        else
            EXPECT_TRUE(n.captured(1).toInt() >= 1 && n.captured(1).toInt() <= m.firePixels) << n.captured(1).toInt();
        // Longitude first: the points lie in the simulated region.
        const QRegularExpressionMatch e = QRegularExpression(QStringLiteral("Extent: \\(([-0-9.]+), ([-0-9.]+)\\) - "
                                                                            "\\(([-0-9.]+), ([-0-9.]+)\\)"))
                                              .match(info.out);
        ASSERT_TRUE(e.hasMatch()) << info.out.toStdString();
        for (int k : {1, 3})
            EXPECT_NEAR(e.captured(k).toDouble(), -121.5, 0.06);
        for (int k : {2, 4})
            EXPECT_NEAR(e.captured(k).toDouble(), 44.5, 0.06);
        // The incident team's fields, after "Pass" in the shapefile.
        for (const char *field : {"acq_date", "acq_time", "line", "sample", "chan_a", "chan_b", "cell_m"}) {
            if (c.features >= 0)
                EXPECT_TRUE(info.out.contains(QLatin1Char('\n') + QLatin1String(field) + QLatin1String(": "))) << field;
        }
    }
    // Pass 2 came through the chain: its platform and version are in its points.
    const QString csv = [&] {
        QFile f(points + QStringLiteral(".csv"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }();
    EXPECT_TRUE(csv.contains(QLatin1String(",N123FP,7.2\n"))) << csv.toStdString();
    EXPECT_TRUE(csv.contains(QRegularExpression(QStringLiteral("\n44\\.[0-9]+,-121\\.[0-9]+,20[0-9-]+,[0-9:]+,1,"))))
        << csv.left(600).toStdString();
}

TEST_F(FirePointsReport, ReportRendersInABrowserWithItsPictureAndPasses)
{
    const Mission &m = *g_mission;
    const auto r = run(testsupport::toolPath(), {QStringLiteral("report"), m.logDir});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Two missions in the folder: one page for both.
    const QString page = m.logDir + QStringLiteral("/report.html");
    ASSERT_EQ(QFileInfo(r.out.trimmed()).absoluteFilePath(), page);
    QFile f(page);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(f.readAll());
    f.close();
    EXPECT_TRUE(html.contains(QLatin1String("data:image/jpeg;base64,")));
    EXPECT_GT(html.count(QLatin1String("<circle ")), 0);
    EXPECT_TRUE(html.contains(QLatin1String("no run area to extract elevation data for")));
    EXPECT_TRUE(html.contains(QLatin1String("no processing record")));   // pass 1: cindrel orthorectify
    EXPECT_EQ(html.count(QLatin1String("<tr><td>1</td>")) + html.count(QLatin1String("<tr><td>2</td>")), 3);

    const QString chromium = QStringLiteral("/usr/bin/chromium");
    if (!QFileInfo::exists(chromium))
        GTEST_SKIP() << "Chromium is not installed (/usr/bin/chromium): the page was not rendered";
    // A copy of the page that writes how many of its pictures loaded.
    QString probeHtml = html;
    probeHtml.replace(QLatin1String("</body>"),
                      QLatin1String("<script>window.addEventListener('load',function(){var n=0,t=document.images.length;"
                                    "for(var i=0;i<t;i++)if(document.images[i].complete&&document.images[i].naturalWidth>0)"
                                    "n++;document.body.setAttribute('data-images',n+' of '+t);});</script></body>"));
    const QString probe = m.logDir + QStringLiteral("/report-probe.html");
    QFile pf(probe);
    ASSERT_TRUE(pf.open(QIODevice::WriteOnly));
    pf.write(probeHtml.toUtf8());
    pf.close();
    const QStringList common{QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                             QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"),
                             QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
                             QStringLiteral("--disable-sync"), QStringLiteral("--window-size=1400,1000"),
                             QStringLiteral("--virtual-time-budget=5000")};
    const QString profile = testsupport::workDir() + QStringLiteral("/chromium-profile");
    const auto dom = run(chromium, common + QStringList{QStringLiteral("--user-data-dir=") + profile + QStringLiteral("-1"),
                                                        QStringLiteral("--dump-dom"), QUrl::fromLocalFile(probe).toString()},
                         180000);
    ASSERT_EQ(dom.exitCode, 0) << dom.err.toStdString();
    EXPECT_TRUE(dom.out.contains(QLatin1String("data-images=\"1 of 1\""))) << dom.out.left(300).toStdString();
    EXPECT_TRUE(dom.out.contains(QLatin1String("<circle"))) ;

    // The screenshot is kept beside the build for a look.
    const QString shot = QStringLiteral(CINDREL_BINARY_DIR "/report-screenshot.png");
    QFile::remove(shot);
    const auto png = run(chromium, common + QStringList{QStringLiteral("--user-data-dir=") + profile + QStringLiteral("-2"),
                                                        QStringLiteral("--screenshot=") + shot,
                                                        QUrl::fromLocalFile(page).toString()},
                         180000);
    EXPECT_EQ(png.exitCode, 0) << png.err.toStdString();
    EXPECT_GT(QFileInfo(shot).size(), 10000) << shot.toStdString();
    std::printf("[ report ] %s\n[ screenshot ] %s\n", qPrintable(page), qPrintable(shot));
}
