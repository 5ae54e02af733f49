// The mission, import, strip image, orthorectify and transfer commands of
// the main window, driven as the operator does it: the dialogs' replies are
// scripted through the notice layer and the main window's dialog runner.
#include "app/imageviewer.h"
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "map/arcgisqtwidget.h"
#include "mission/ftpxferdlg.h"
#include "mission/missionstore.h"
#include "mission/newmsndlg.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "simlog.h"
#include "common/testsupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QThread>

namespace {

struct Commands : ::testing::Test {
    QString logPath;
    void SetUp() override
    {
        QSettings().clear();
        Notice::clearRecords();
        Notice::clearReplies();
        QDir(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"))).removeRecursively();
        QDir(QStringLiteral("logs")).removeRecursively();
        QDir().mkpath(QStringLiteral("logs"));
        logPath = QDir::current().absoluteFilePath(QStringLiteral("logs/20240715_1432_Demo_1.plf"));
    }
    void TearDown() override
    {
        ImageViewer::SetDialogRunner({});
        Notice::clearReplies();
    }
};

MissionRecord mission(const QString &name, float west, float north, float east, float south)
{
    MissionRecord m;
    m.name = name;
    m.westVal = west;
    m.northVal = north;
    m.eastVal = east;
    m.southVal = south;
    m.tailNum = name + QStringLiteral("-tail");
    m.irTech = name + QStringLiteral("-tech");
    return m;
}

// Picks row `row` of the missions table, enters `feet` as the ground
// elevation and confirms (or cancels).
ImageViewer::DialogRunner pickMission(int row, int feet, bool accept = true, int *shown = nullptr)
{
    return [=](QDialog &dialog) {
        if (shown)
            ++*shown;
        EXPECT_NE(qobject_cast<NewMsnDlg *>(&dialog), nullptr);
        auto *dlg = qobject_cast<NewMsnDlg *>(&dialog);
        if (auto *table = dialog.findChild<QTableWidget *>())
            table->selectRow(row);
        if (dlg)
            dlg->OnMsnSelect();   // "Load Selection"
        if (auto *spin = dialog.findChild<QSpinBox *>())
            spin->setValue(feet);
        return accept ? int(QDialog::Accepted) : int(QDialog::Rejected);
    };
}

bool hasBox(const QString &title, const QString &text)
{
    for (const auto &r : Notice::records())
        if (r.title == title && r.text == text)
            return true;
    return false;
}

int boxCount()
{
    int n = 0;
    for (const auto &r : Notice::records())
        n += (r.kind == Notice::Kind::Critical || r.kind == Notice::Kind::Warning
              || r.kind == Notice::Kind::Information || r.kind == Notice::Kind::Question);
    return n;
}

bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QThread::msleep(10);
    return done();
}

} // namespace

TEST(CommandsMeridian, NearestWholeDegreeWithTiesGoingDown)
{
    EXPECT_EQ(ImageViewer::MissionCentralMeridian(-121.3, -120.9), -121);
    EXPECT_EQ(ImageViewer::MissionCentralMeridian(-122.0, -121.0), -122);   // -121.5
    EXPECT_EQ(ImageViewer::MissionCentralMeridian(-121.2, -121.6), -121);   // -121.4
    EXPECT_EQ(ImageViewer::MissionCentralMeridian(-121.6, -121.8), -122);   // -121.7
    EXPECT_EQ(ImageViewer::MissionCentralMeridian(120.0, 121.0), 120);      // 120.5
    EXPECT_EQ(ImageViewer::MissionCentralMeridian(120.2, 121.0), 121);      // 120.6
}

TEST_F(Commands, MissionSetAdoptsTheChosenMission)
{
    ImageViewer w;
    MissionStore::Write(0, mission(QStringLiteral("First"), -119.0f, 46.0f, -118.0f, 45.0f));
    MissionStore::Write(1, mission(QStringLiteral("Ridge"), -122.0f, 44.5f, -121.0f, 44.0f));
    ASSERT_TRUE(w.mapWidget()->missionBoxes().isEmpty());   // stored after start-up

    w.ReportSwathEdges(500000.0, 4900000.0, 502000.0, 4901000.0, true);
    ASSERT_FALSE(w.passRecords().boxB.IsEmpty());
    w.recordingControl()->passNumber = 3;
    w.recordingControl()->segmentNumber = 2;

    int shown = 0;
    ImageViewer::SetDialogRunner(pickMission(1, 3281, true, &shown));
    w.OnMissionSet();
    EXPECT_EQ(shown, 1);

    EXPECT_DOUBLE_EQ(w.missionWest, -122.0);
    EXPECT_DOUBLE_EQ(w.missionNorth, 44.5);
    EXPECT_DOUBLE_EQ(w.missionEast, -121.0);
    EXPECT_DOUBLE_EQ(w.missionSouth, 44.0);
    EXPECT_EQ(w.GetMissionName(), QStringLiteral("Ridge"));
    EXPECT_EQ(w.GetTailNumber(), QStringLiteral("Ridge-tail"));
    EXPECT_EQ(w.GetTechName(), QStringLiteral("Ridge-tech"));
    EXPECT_NEAR(w.GetGroundElevation(), 3281 / 3.2808, 1e-9);   // feet to metres

    QSettings s;
    EXPECT_EQ(s.value(QStringLiteral("LastUsed/tailNumber")).toString(), QStringLiteral("Ridge-tail"));
    EXPECT_EQ(s.value(QStringLiteral("LastUsed/techName")).toString(), QStringLiteral("Ridge-tech"));
    EXPECT_EQ(s.value(QStringLiteral("LastUsed/MissionSelect")).toInt(), 1);

    // Middle -121.5: the tie goes down.
    EXPECT_EQ(w.GetCentralMeridian(), -122);
    EXPECT_EQ(w.GetConverter()->GetCentralMeridian(), -122);

    EXPECT_TRUE(w.passRecords().boxA.IsEmpty());
    EXPECT_TRUE(w.passRecords().boxB.IsEmpty());
    EXPECT_EQ(w.recordingControl()->passNumber, 0);
    EXPECT_EQ(w.recordingControl()->segmentNumber, 0);
    EXPECT_EQ(w.mapWidget()->missionBoxes().size(), 2);   // redrawn
}

TEST_F(Commands, MissionSetCancelledChangesNothing)
{
    MissionStore::Write(0, mission(QStringLiteral("First"), -119.0f, 46.0f, -118.0f, 45.0f));
    ImageViewer w;
    w.ReportSwathEdges(500000.0, 4900000.0, 502000.0, 4901000.0, true);
    w.recordingControl()->passNumber = 2;
    // The stored selection was adopted at start-up; a cancel keeps it.
    const QString name = w.GetMissionName();
    const int meridian = w.GetCentralMeridian();
    ImageViewer::SetDialogRunner(pickMission(0, 1000, false));
    w.OnMissionSet();
    EXPECT_EQ(w.recordingControl()->passNumber, 2);
    EXPECT_FALSE(w.passRecords().boxB.IsEmpty());
    EXPECT_EQ(w.GetMissionName(), name);
    EXPECT_EQ(w.GetCentralMeridian(), meridian);
    EXPECT_FALSE(QSettings().contains(QStringLiteral("LastUsed/tailNumber")));
}

TEST_F(Commands, ImportRedrawsTheStoredMissions)
{
    const QString plan = QDir::current().absoluteFilePath(QStringLiteral("plan.xml"));
    QFile f(plan);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<request-information>"
            "<request><name>Ridge Fire #1</name><p-number>P1</p-number><north>45.5</north>"
            "<south>45.25</south><east>-120.75</east><west>-121.1</west></request>"
            "<request><name>Creek</name><p-number>P2</p-number><north>44.5</north>"
            "<south>44.25</south><east>-119.75</east><west>-120.1</west></request>"
            "</request-information>");
    f.close();
    QSettings().setValue(QStringLiteral("LastUsed/MsnPlanXml"), plan);

    ImageViewer w;
    ASSERT_TRUE(w.mapWidget()->missionBoxes().isEmpty());
    w.OnImportXml();
    EXPECT_EQ(MissionStore::Count(), 2);
    ASSERT_EQ(w.mapWidget()->missionBoxes().size(), 2);
    EXPECT_NEAR(w.mapWidget()->missionBoxes().at(0).north, 45.5, 1e-6);
}

TEST_F(Commands, RecreateStripImageWritesTheImageAndDropsTheLog)
{
    ASSERT_TRUE(apptest::writeSimLog(logPath, 60));
    ImageViewer w;
    Notice::pushTextReply(logPath);
    w.OnRecreateStripImage();
    EXPECT_TRUE(hasBox(QStringLiteral("Strip File"), QStringLiteral("Finished second pass.")));
    EXPECT_EQ(w.displaySource(), nullptr);
    EXPECT_EQ(w.sourceType, 0);

    // The image is the log's, beside it; the rebuild was no run: no pass,
    // no flight log, nothing in the data folder.
    EXPECT_EQ(w.recordingControl()->passNumber, 0);
    EXPECT_FALSE(w.isLogOpen());
    EXPECT_FALSE(QDir(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"))).exists());
    EXPECT_TRUE(w.passRecords().Passes().empty() || w.passRecords().CurrentIndex() <= 0);
    QStringList tifs;
    QDirIterator it(QStringLiteral("logs"), {QStringLiteral("*.tif")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        tifs << it.next();
    ASSERT_EQ(tifs, QStringList{QStringLiteral("logs/20240715_1432_Demo_1_recreated.tif")});
    EXPECT_GT(QFileInfo(tifs.first()).size(), 1680);
    if (testsupport::haveTool(QStringLiteral("tiffinfo"))) {
        const auto r = testsupport::run(QStringLiteral("tiffinfo"), {tifs.first()});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    // The log itself is left as it was.
    EXPECT_EQ(apptest::readLog(logPath).size(), 60u);
}

TEST_F(Commands, RecreateStripImageCancelledLeavesNoSource)
{
    ImageViewer w;
    Notice::pushTextReply(QString());
    w.OnRecreateStripImage();
    EXPECT_EQ(w.displaySource(), nullptr);
    EXPECT_FALSE(hasBox(QStringLiteral("Strip File"), QStringLiteral("Finished second pass.")));
}

TEST_F(Commands, RectifyLogWithItsElevationRasterNeedsNoMission)
{
    ASSERT_TRUE(apptest::writeSimLog(logPath, 20));
    QFile bil(QStringLiteral("logs/20240715_1432_Demo.bil"));
    ASSERT_TRUE(bil.open(QIODevice::WriteOnly));
    bil.close();

    ImageViewer w;
    Notice::pushTextReply(logPath);
    w.OnFileRectifyLog();
    EXPECT_EQ(boxCount(), 0);
    EXPECT_EQ(w.displaySource(), nullptr);   // the log object is gone
    OrthoRectifyWorker *worker = w.orthoWorker();
    ASSERT_NE(worker, nullptr);
    ASSERT_TRUE(waitFor([&] { return worker->Processed().contains(logPath); }));
    const auto values = worker->LastRunValues();
    EXPECT_EQ(values.productVersion, QStringLiteral("Cindrel64 1.0"));
    EXPECT_TRUE(values.elevationReady);
    // The raster is empty: no products, and the operator hears why in the
    // status bar and in a box that does not wait.
    ASSERT_TRUE(waitFor([&] {
        QCoreApplication::processEvents();
        return w.statusText().contains(QStringLiteral("no products"));
    }));
    EXPECT_TRUE(w.lastRectifyOutcome().startsWith(QStringLiteral("20240715_1432_Demo_1.plf: no products - ")));
    ASSERT_GE(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Warning);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Orthorectify"));
    EXPECT_TRUE(Notice::last().text.startsWith(QStringLiteral("No ortho products were made for 20240715_1432_Demo_1.plf")));
}

TEST_F(Commands, RectifyLogWithoutRasterOrRunArea)
{
    ASSERT_TRUE(apptest::writeSimLog(logPath, 20));
    ImageViewer w;
    Notice::pushTextReply(logPath);
    w.OnFileRectifyLog();
    ASSERT_EQ(boxCount(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Critical);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Orthorectify Log"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("There is no boundary for NED data to use to extract."));
    EXPECT_EQ(w.orthoWorker()->PendingCount(), 0);

    // With a recorded run area the raster is extracted for it into the
    // data folder instead, and the log is queued. The worker takes files in
    // order, so a second log being the only file it processed shows that
    // the refused request queued nothing.
    const QString second = QDir::current().absoluteFilePath(QStringLiteral("logs/20240715_1432_Demo_2.plf"));
    ASSERT_TRUE(apptest::writeSimLog(second, 20));
    Notice::clearRecords();
    w.ReportSwathEdges(500000.0, 4900000.0, 502000.0, 4901000.0, true);
    Notice::pushTextReply(second);
    w.OnFileRectifyLog();
    EXPECT_EQ(boxCount(), 0);
    EXPECT_TRUE(waitFor([&] { return w.orthoWorker()->Processed().contains(second); }));
    EXPECT_EQ(w.orthoWorker()->Processed(), QStringList{second});
}

TEST_F(Commands, FtpOpensTheTransferDialogFromMenuAndToolBar)
{
    ImageViewer w;
    int shown = 0;
    ImageViewer::SetDialogRunner([&](QDialog &dialog) {
        EXPECT_NE(qobject_cast<FTPXferDlg *>(&dialog), nullptr);
        ++shown;
        return int(QDialog::Rejected);
    });
    w.OnFTP();
    EXPECT_EQ(shown, 1);
    w.ftpAction()->trigger();
    EXPECT_EQ(shown, 2);
    EXPECT_FALSE(hasBox(QStringLiteral("Transfer"), QStringLiteral("This command is not available in this build.")));
}

TEST_F(Commands, MissionSelectionAndGridSurviveARestart)
{
    // No mission ever set: a run's area is handed on in its own UTM zone.
    {
        ImageViewer w;
        EXPECT_EQ(w.GetCentralMeridian(), 0);
        w.ReplaceDataSource(new CCindrelDspLog(w.coldCurve()), 1);
        ASSERT_EQ(w.StartPass(600000.0, 4930000.0, 10, 90.0f, 2000.0f, QDateTime(QDate(2024, 7, 15), QTime(9, 5))), 1);
        EXPECT_EQ(w.GetCentralMeridian(), -123);
    }
    // A mission selected in an earlier session is the current one at the
    // next start, with its grid and ground elevation.
    MissionRecord m = mission(QStringLiteral("Ridge"), -121.6f, 44.6f, -121.4f, 44.4f);
    m.avgGndElev = 3281;
    MissionStore::ReplaceAll({mission(QStringLiteral("Other"), -100.f, 40.f, -99.f, 39.f), m});
    MissionStore::SetSelectedIndex(1);
    ImageViewer w;
    EXPECT_EQ(w.GetMissionName(), QStringLiteral("Ridge"));
    EXPECT_EQ(w.GetTailNumber(), QStringLiteral("Ridge-tail"));
    EXPECT_EQ(w.GetCentralMeridian(), -122);
    EXPECT_NEAR(w.GetGroundElevation(), 1000.0, 0.1);
    EXPECT_EQ(boxCount(), 0);
}
