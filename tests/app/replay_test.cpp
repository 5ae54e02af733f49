// A simulated flight log replayed through the main window's tick loop, as
// the operator does it: Replay, Play, Run, Stop Run, Stop.
#include "app/imageviewer.h"
#include "app/replaycontrols.h"
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "display/waterfall.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "simlog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSlider>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

using apptest::readLog;

namespace {

struct Replay : ::testing::Test {
    QString source;
    void SetUp() override
    {
        QSettings().clear();
        Notice::clearRecords();
        Notice::clearReplies();
        QDir(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"))).removeRecursively();
        QDir().mkpath(QStringLiteral("logs"));
        source = QDir::current().absoluteFilePath(QStringLiteral("logs/20240715_1432_Demo_1.plf"));
    }
    void TearDown() override
    {
        qInstallMessageHandler(nullptr);
        Notice::clearReplies();
    }
};

void tick(ImageViewer &w)
{
    QMetaObject::invokeMethod(w.processingTimer(), "timeout", Qt::DirectConnection);
}

} // namespace

TEST_F(Replay, OneLinePerTickReachingTheDisplayOneTickLater)
{
    const int n = 40;
    ASSERT_TRUE(apptest::writeSimLog(source, n));
    ImageViewer w;
    Notice::pushTextReply(source);
    w.OnFileReplay();
    ASSERT_NE(w.displaySource(), nullptr);
    EXPECT_EQ(w.sourceType, 1);
    EXPECT_TRUE(w.playAction()->isEnabled());
    auto *log = static_cast<CCindrelDspLog *>(w.displaySource());
    auto *wf = w.waterfall();
    ASSERT_NE(wf, nullptr);
    QSignalSpy painted(wf, &WaterFall::linesPainted);

    w.doData();
    ASSERT_TRUE(w.processingTimer()->isActive());
    w.processingTimer()->setInterval(3600 * 1000);   // ticks come from the test only

    // Opening took line 1 in. Tick t paints line t and reads line t + 1.
    for (int t = 1; t <= n; ++t) {
        tick(w);
        ASSERT_EQ(painted.count(), t) << t;
        EXPECT_EQ(painted.last().at(0).toInt(), 1);
        EXPECT_EQ(int(log->GetRecordsRead()), std::min(t + 1, n)) << t;
    }
    EXPECT_TRUE(w.statusText().contains(QStringLiteral("line %1 of %2").arg(n).arg(n)))
        << w.statusText().toStdString();
    // The end: nothing new, the cycle keeps reporting the end, the timer runs.
    for (int t = 0; t < 5; ++t)
        tick(w);
    EXPECT_EQ(painted.count(), n);
    EXPECT_TRUE(log->DoNextFwdCycle(0, false, true));
    EXPECT_TRUE(w.processingTimer()->isActive());
    // The file dialog was the only box.
    ASSERT_EQ(Notice::count(), 1) << Notice::last().title.toStdString() << ": " << Notice::last().text.toStdString();
    EXPECT_EQ(Notice::records()[0].kind, Notice::Kind::OpenFile);
    w.stopData();
    EXPECT_FALSE(w.processingTimer()->isActive());
}

TEST_F(Replay, RunRecordsTheReplayedLinesToANewLog)
{
    const int n = 120;
    ASSERT_TRUE(apptest::writeSimLog(source, n));
    const std::vector<ScanLineRec> original = readLog(source);
    ASSERT_EQ(int(original.size()), n);

    ImageViewer w;
    Notice::pushTextReply(source);
    w.OnFileReplay();
    ASSERT_NE(w.displaySource(), nullptr);
    w.doData();
    w.processingTimer()->setInterval(3600 * 1000);
    for (int t = 0; t < 10; ++t)
        tick(w);

    w.startRecData();
    ASSERT_TRUE(w.isRunRequested());
    EXPECT_FALSE(w.isLogOpen());
    tick(w);   // the strip chart starts, the pass opens its log with the first line
    ASSERT_TRUE(w.isLogOpen()) << Notice::count();
    EXPECT_EQ(w.recordingControl()->passNumber, 1);
    const QString recorded = w.recordingControl()->currentLogPath;
    EXPECT_EQ(QFileInfo(recorded).fileName(), QStringLiteral("20240715_1432__1.plf"));
    EXPECT_EQ(QFileInfo(recorded).absolutePath(),
              QFileInfo(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"))).absoluteFilePath());
    EXPECT_TRUE(w.statusText().contains(QFileInfo(recorded).fileName())) << w.statusText().toStdString();

    for (int t = 0; t < 50; ++t)
        tick(w);
    w.stopRecData();
    EXPECT_FALSE(w.isRunRequested());
    tick(w);   // the log closes and goes to the worker
    EXPECT_FALSE(w.isLogOpen());

    // Lines 11..61 of the source (0-based 10..60) were recorded: the first
    // by the strip chart when the log opened, the rest tick by tick.
    const std::vector<ScanLineRec> got = readLog(recorded);
    ASSERT_EQ(got.size(), 51u);
    for (std::size_t i = 0; i < got.size(); ++i) {
        const ScanLineRec &a = original[10 + i];
        const ScanLineRec &b = got[i];
        ASSERT_EQ(b.lineIndex, a.lineIndex) << i;
        EXPECT_EQ(b.latitude, a.latitude) << i;
        EXPECT_EQ(b.longitude, a.longitude) << i;
        EXPECT_EQ(b.altitude, a.altitude) << i;
        EXPECT_EQ(b.heading, a.heading) << i;
        EXPECT_EQ(0, std::memcmp(b.chanA, a.chanA, sizeof(a.chanA))) << i;
        EXPECT_EQ(0, std::memcmp(b.chanB, a.chanB, sizeof(a.chanB))) << i;
    }
    // The source log was not touched.
    EXPECT_EQ(QFileInfo(source).size(), qint64(n) * CCindrelDspLog::kRecordSizeV1);
}

TEST_F(Replay, ReplacingTheSourceDuringARunEndsTheRunFirst)
{
    ASSERT_TRUE(apptest::writeSimLog(source, 60));
    ImageViewer w;
    Notice::pushTextReply(source);
    w.OnFileReplay();
    w.doData();
    w.processingTimer()->setInterval(3600 * 1000);
    tick(w);
    w.startRecData();
    for (int t = 0; t < 10; ++t)
        tick(w);
    ASSERT_TRUE(w.isLogOpen());
    auto *wf = w.waterfall();
    ASSERT_TRUE(wf->stripChartActive());
    const QString recorded = w.recordingControl()->currentLogPath;

    Notice::pushTextReply(QString());   // another replay, cancelled
    w.OnFileReplay();
    EXPECT_EQ(w.displaySource(), nullptr);
    EXPECT_FALSE(w.isRunRequested());
    EXPECT_FALSE(w.isLogOpen());
    EXPECT_FALSE(wf->stripChartActive());
    EXPECT_FALSE(wf->recording());
    EXPECT_EQ(readLog(recorded).size(), 10u);
    // Ticks without a source do nothing; a later replay starts cleanly.
    tick(w);
    Notice::pushTextReply(source);
    w.OnFileReplay();
    ASSERT_NE(w.displaySource(), nullptr);
    tick(w);
    EXPECT_FALSE(wf->stripChartActive());
    EXPECT_FALSE(w.isLogOpen());
}

TEST_F(Replay, ControlsSetSpeedPauseSeekAndShowTheEnd)
{
    const int n = 400;
    ASSERT_TRUE(apptest::writeSimLog(source, n));
    const std::vector<ScanLineRec> original = readLog(source);
    ImageViewer w;
    ReplayControls *rc = w.replayControls();
    ASSERT_NE(rc, nullptr);
    EXPECT_FALSE(rc->isEnabled());
    Notice::pushTextReply(source);
    w.OnFileReplay();
    ASSERT_TRUE(rc->isEnabled());
    auto *log = static_cast<CCindrelDspLog *>(w.displaySource());
    QSignalSpy painted(w.waterfall(), &WaterFall::linesPainted);
    w.doData();
    w.processingTimer()->setInterval(3600 * 1000);

    // Records read per tick at each speed; the next tick paints them all.
    struct Step {
        int speed;
        bool paused;
        int read;
    };
    for (const Step &s : {Step{0, false, 1}, Step{1, false, 2}, Step{2, false, 4}, Step{3, false, 8},
                          Step{3, true, 0}, Step{4, false, ReplayControls::kSpeeds[4]}, Step{0, false, 1}}) {
        rc->setSpeedIndex(s.speed);
        rc->setPaused(s.paused);
        const std::uint32_t before = log->GetRecordsRead();
        tick(w);
        EXPECT_EQ(int(log->GetRecordsRead() - before), s.read) << s.speed << s.paused;
        if (s.paused)
            EXPECT_TRUE(w.statusText().contains(QStringLiteral("(paused)"))) << w.statusText().toStdString();
    }
    tick(w);
    ASSERT_GE(painted.count(), 2);
    EXPECT_EQ(painted.last().at(0).toInt(), 1);

    // A run records on across a jump: the lines after it are the log's
    // lines from the new position on.
    w.startRecData();
    for (int t = 0; t < 4; ++t)
        tick(w);
    ASSERT_TRUE(w.isLogOpen());
    rc->positionSlider()->setValue(300);   // as a click on the slider does
    EXPECT_EQ(log->GetRecordsRead(), 300u);
    for (int t = 0; t < 6; ++t)
        tick(w);
    EXPECT_TRUE(w.statusText().contains(QStringLiteral("line 306 of 400"))) << w.statusText().toStdString();
    EXPECT_EQ(rc->positionSlider()->value(), 306);
    EXPECT_EQ(rc->positionLabel()->text(), QStringLiteral("line 306 / 400"));
    const QString recorded = w.recordingControl()->currentLogPath;
    w.stopRecData();
    tick(w);
    const std::vector<ScanLineRec> got = readLog(recorded);
    auto jump = std::find_if(got.begin(), got.end(),
                             [&](const ScanLineRec &r) { return r.lineIndex == original[300].lineIndex; });
    ASSERT_NE(jump, got.end());
    ASSERT_GE(got.end() - jump, 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(jump[i].lineIndex, original[300 + i].lineIndex) << i;
    EXPECT_LT((jump - 1)->lineIndex, original[300].lineIndex);

    // As fast as the tick allows to the end: the status bar says so.
    rc->setSpeedIndex(4);
    for (int t = 0; t < 3 && !log->AtEnd(); ++t)
        tick(w);
    tick(w);
    EXPECT_TRUE(log->AtEnd());
    EXPECT_TRUE(w.statusText().contains(QStringLiteral("End of log: line 400 of 400"))) << w.statusText().toStdString();
    EXPECT_EQ(rc->positionLabel()->text(), QStringLiteral("end of log 400 / 400"));
    // Back to the start from the end.
    rc->positionSlider()->setValue(0);
    EXPECT_FALSE(log->AtEnd());
    tick(w);
    EXPECT_EQ(log->GetRecordsRead(), std::uint32_t(ReplayControls::kSpeeds[4]));

    // Without a log the controls are off.
    Notice::pushTextReply(QString());
    w.OnFileReplay();
    EXPECT_FALSE(rc->isEnabled());
}

TEST_F(Replay, ClosingWhileRecordingAsksFirst)
{
    ASSERT_TRUE(apptest::writeSimLog(source, 60));
    ImageViewer w;
    w.show();
    Notice::pushTextReply(source);
    w.OnFileReplay();
    w.doData();
    w.processingTimer()->setInterval(3600 * 1000);
    tick(w);
    w.startRecData();
    tick(w);
    ASSERT_TRUE(w.isLogOpen());
    const int boxes = Notice::count();
    Notice::pushButtonReply(QMessageBox::No);
    EXPECT_FALSE(w.close());
    EXPECT_EQ(Notice::count(), boxes + 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Question);
    EXPECT_TRUE(w.isRunRequested());
    EXPECT_TRUE(w.isLogOpen());
    tick(w);
    EXPECT_TRUE(w.isLogOpen());
    Notice::pushButtonReply(QMessageBox::Yes);
    EXPECT_TRUE(w.close());
    // Without a run the window closes without asking.
    w.stopRecData();
    tick(w);
    w.show();
    const int after = Notice::count();
    EXPECT_TRUE(w.close());
    EXPECT_EQ(Notice::count(), after);
}
