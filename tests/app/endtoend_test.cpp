// The whole program under a real X server, as a crew uses it: started on a
// demo data set written by "cindrel simulate", a log replayed, Run, Stop
// Run, the products on disk; then a restart (no Mission > Set) flown with
// the simulated board; then Recreate Strip Image and Orthorectify Log on
// the first run's log. Every start of the program is a process of its own
// (a child run of this test program on Xvfb) that drives the main window
// through its menu and tool bar actions; file choices are answered through
// the notice layer.
#include "app/imageviewer.h"
#include "datasource/ccindreldsplog.h"
#include "display/waterfall.h"
#include "mission/missionstore.h"
#include "ortho/orthorectifyworker.h"
#include "platform/notice.h"
#include "platform/settingskeys.h"
#include "common/testsupport.h"
#include "simlog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QSettings>
#include <QTextStream>

#include <functional>

namespace {

// Runs the event loop until the condition holds (false after the limit).
bool waitUntil(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A menu entry by its text, as the operator finds it.
QAction *menuAction(ImageViewer &w, const QString &menu, const QString &entry)
{
    for (QAction *top : w.menuBar()->actions()) {
        if (top->text() != menu || !top->menu())
            continue;
        for (QAction *a : top->menu()->actions())
            if (a->text() == entry)
                return a;
    }
    return nullptr;
}

QStringList files(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList({pattern}, QDir::Files, QDir::Name);
}

// Logs the recorder wrote (not the demo's, not the desmoker's originals).
QStringList recordedLogs(const QString &folder)
{
    QStringList out;
    for (const QString &f : files(folder, QStringLiteral("*.plf")))
        if (!f.startsWith(QStringLiteral("20240715_1432_Demo_")) && !f.endsWith(QStringLiteral("orig.plf")))
            out << f;
    return out;
}

// The products of one recorded log: strip chart, ortho images, mosaic and
// heat points of its mission prefix.
void expectProducts(const QString &folder, const QString &log)
{
    const QString base = QFileInfo(log).completeBaseName();
    const QString prefix = base.left(base.lastIndexOf(QLatin1Char('_')));
    EXPECT_TRUE(QFileInfo::exists(folder + QLatin1Char('/') + base + QStringLiteral(".tif"))) << base.toStdString();
    EXPECT_FALSE(files(folder, base + QStringLiteral("*_ortho.tif")).isEmpty()) << base.toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder + QLatin1Char('/') + prefix + QStringLiteral("_mosaic.jpg")))
        << prefix.toStdString();
    for (const char *ext : {".shp", ".shx", ".dbf"})
        EXPECT_TRUE(QFileInfo::exists(folder + QLatin1Char('/') + prefix + QStringLiteral("_RawHeatData") + QLatin1String(ext)))
            << prefix.toStdString() << ext;
}

} // namespace

// One start of the program; runs only as a child of the test below.
TEST(EndToEndChild, OneSession)
{
    const QString dir = qEnvironmentVariable("CINDREL_E2E_DIR");
    const QString step = qEnvironmentVariable("CINDREL_E2E_STEP");
    if (dir.isEmpty())
        GTEST_SKIP() << "runs under Xvfb from EndToEnd.RunsYieldProductsAcrossARestart";
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    // The demo data set is the program's working folder, drive and settings.
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(dir + QStringLiteral("/c-drive")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir + QStringLiteral("/config")));
    ASSERT_TRUE(QDir::setCurrent(dir));
    const QString data = dir + QStringLiteral("/c-drive/CindrelData");
    const QString demoLog = data + QStringLiteral("/20240715_1432_Demo_1.plf");

    ImageViewer w;
    w.showMaximized();
    ASSERT_TRUE(waitUntil([&] { return w.isVisible(); }, 5000));
    OrthoRectifyWorker *worker = w.orthoWorker();
    ASSERT_NE(worker, nullptr);
    const int before = recordedLogs(data).size();

    // Flies one run on the current source: Play, Run, Stop Run, and waits
    // for the worker's outcome.
    auto flyRun = [&](const std::function<qint64()> &lines, qint64 runFrom, qint64 runTo) {
        ASSERT_TRUE(w.playAction()->isEnabled());
        w.playAction()->trigger();
        ASSERT_TRUE(waitUntil([&] { return lines() >= runFrom; }, 20000));
        ASSERT_TRUE(w.runAction()->isEnabled());
        w.runAction()->trigger();
        ASSERT_TRUE(waitUntil([&] { return w.isLogOpen(); }, 10000));
        ASSERT_TRUE(waitUntil([&] { return lines() >= runTo; }, 20000));
        const int results = worker->Results().size();
        w.stopRunAction()->trigger();
        ASSERT_TRUE(waitUntil([&] { return worker->Results().size() > results; }, 40000));
        w.stopAction()->trigger();
        const LogOutcome outcome = worker->Results().last();
        EXPECT_TRUE(outcome.Succeeded()) << outcome.Summary().toStdString();
        // The operator saw it in the status bar.
        ASSERT_TRUE(waitUntil([&] { return w.statusText().contains(outcome.Summary()); }, 5000));
    };

    if (step == QLatin1String("replay")) {
        Notice::pushTextReply(demoLog);
        QAction *replay = menuAction(w, QStringLiteral("&Mission"), QStringLiteral("Replay &Cindrel Log..."));
        ASSERT_NE(replay, nullptr);
        replay->trigger();
        auto *log = qobject_cast<CCindrelDspLog *>(w.displaySource());
        ASSERT_NE(log, nullptr);
        flyRun([&] { return qint64(log->GetRecordsRead()); }, 20, 200);
        // A mission around the scene was imported and selected in this
        // session; the next start must adopt it without Mission > Set.
        MissionRecord m;
        m.name = QStringLiteral("Demo");
        m.northVal = 44.6f;
        m.southVal = 44.4f;
        m.westVal = -121.6f;
        m.eastVal = -121.4f;
        m.avgGndElev = 3600;
        MissionStore::ReplaceAll({m});
        MissionStore::SetSelectedIndex(0);
    } else if (step == QLatin1String("board")) {
        QAction *init = menuAction(w, QStringLiteral("&System"), QStringLiteral("&4. Initialize DSP Hardware"));
        ASSERT_NE(init, nullptr);
        init->trigger();
        ASSERT_NE(w.displaySource(), nullptr) << "the simulated board did not start";
        // Lines the waterfall has taken from the board.
        qint64 painted = 0;
        QObject::connect(w.waterfall(), &WaterFall::linesPainted, [&](int n) { painted += n; });
        EXPECT_EQ(w.GetMissionName(), QStringLiteral("Demo"));
        EXPECT_EQ(w.GetCentralMeridian(), -122);
        flyRun([&] { return painted; }, 50, 400);
    } else if (step == QLatin1String("rebuild")) {
        const QStringList logs = recordedLogs(data);
        ASSERT_FALSE(logs.isEmpty());
        const QString first = data + QLatin1Char('/') + logs.first();
        Notice::pushTextReply(first);
        menuAction(w, QStringLiteral("&Mission"), QStringLiteral("Recreate Strip Image..."))->trigger();
        const QString base = QFileInfo(first).completeBaseName();
        EXPECT_TRUE(QFileInfo::exists(data + QLatin1Char('/') + base + QStringLiteral("_recreated.tif")));

        const int results = worker->Results().size();
        Notice::pushTextReply(first);
        menuAction(w, QStringLiteral("&Mission"), QStringLiteral("Orthorectify Log"))->trigger();
        ASSERT_TRUE(waitUntil([&] { return worker->Results().size() > results; }, 40000));
        const LogOutcome outcome = worker->Results().last();
        EXPECT_EQ(outcome.path, first);
        EXPECT_TRUE(outcome.Succeeded()) << outcome.Summary().toStdString();
    }
    // Nothing went wrong that the operator was told of.
    for (const Notice::Record &r : Notice::records())
        EXPECT_NE(r.kind, Notice::Kind::Critical) << r.title.toStdString() << ": " << r.text.toStdString();
    for (const Notice::Record &r : Notice::records())
        EXPECT_NE(r.kind, Notice::Kind::Warning) << r.title.toStdString() << ": " << r.text.toStdString();
    const int expected = step == QLatin1String("rebuild") ? before : before + 1;
    EXPECT_EQ(recordedLogs(data).size(), expected) << recordedLogs(data).join(QLatin1Char(' ')).toStdString();
    w.close();
}

TEST(EndToEnd, RunsYieldProductsAcrossARestart)
{
    if (!testsupport::haveTool(QStringLiteral("Xvfb")))
        GTEST_SKIP() << "Xvfb is not installed";
    const QString dir = QDir::current().absoluteFilePath(QStringLiteral("e2e"));
    QDir(dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir + QStringLiteral("/config")));
    // The demo data set: one short pass over the scene's fires.
    const auto sim = testsupport::run(testsupport::toolPath(),
                                      {QStringLiteral("simulate"), QStringLiteral("--out"), dir,
                                       QStringLiteral("--passes"), QStringLiteral("1"), QStringLiteral("--lines"),
                                       QStringLiteral("600")});
    ASSERT_EQ(sim.exitCode, 0) << sim.err.toStdString();

    QProcess xvfb;
    const QString display = apptest::startXvfb(xvfb, QStringLiteral("1280x1024"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    auto session = [&](const QString &step) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("CINDREL_E2E_DIR"), dir);
        env.insert(QStringLiteral("CINDREL_E2E_STEP"), step);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=EndToEndChild.OneSession")});
        EXPECT_TRUE(child.waitForStarted(10000));
        const bool finished = child.waitForFinished(90000);
        const QString out = QString::fromLocal8Bit(child.readAll());
        EXPECT_TRUE(finished && child.exitCode() == 0) << step.toStdString() << ":\n" << out.toStdString();
    };
    // First start: no mission was ever set; a replayed run.
    session(QStringLiteral("replay"));
    session(QStringLiteral("board"));
    session(QStringLiteral("rebuild"));
    xvfb.terminate();
    xvfb.waitForFinished(5000);

    const QString data = dir + QStringLiteral("/c-drive/CindrelData");
    const QStringList logs = recordedLogs(data);
    ASSERT_EQ(logs.size(), 2) << logs.join(QLatin1Char(' ')).toStdString();
    for (const QString &log : logs)
        expectProducts(data, log);
    // The rebuilt strip image is the first log's, and no stray log exists.
    EXPECT_TRUE(QFileInfo::exists(data + QLatin1Char('/') + QFileInfo(logs.first()).completeBaseName()
                                  + QStringLiteral("_recreated.tif")));
}
