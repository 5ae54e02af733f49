// The main window without the real data sources: start-up, menus, tool bar
// states, settings, the tick's re-centring, the pass services and the
// recording control, with a scripted stand-in data source.
#include "app/imageviewer.h"
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "display/waterfall.h"
#include "dsp/dspconsole.h"
#include "dsp/dsptiming.h"
#include "dsp/simbootfiles.h"
#include "geodata/cbil.h"
#include "geodata/celevationdata.h"
#include "map/arcgisqtwidget.h"
#include "map/mapgraphicsview.h"
#include "ortho/orthorectifyworker.h"
#include "platform/notice.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QGraphicsPolygonItem>
#include <QGraphicsPathItem>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMenuBar>
#include <QPointer>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include <cmath>
#include <memory>

namespace {

// A data source that counts what the window asks of it.
class FakeSource : public CDataSource {
public:
    int cycles = 0;
    int starts = 0;
    int stops = 0;
    int positionReads = 0;
    double lat = 0.0, lon = 0.0;
    std::uint32_t groundElevation = 0xFFFFFFFF;
    bool *deleted = nullptr;
    ~FakeSource() override
    {
        if (deleted)
            *deleted = true;
    }
    bool DoNextFwdCycle(int, bool, bool) override
    {
        ++cycles;
        return false;
    }
    void GetPosition(double *la, double *lo) override
    {
        ++positionReads;
        *la = lat;
        *lo = lon;
    }
    std::uint32_t GetNumNewImageLines() override { return 0; }
    void GetVOverH(std::uint32_t *interval, bool *on, std::uint32_t *value) override
    {
        *interval = 5;
        *on = false;
        *value = 0;
    }
    using CDataSource::GetVOverH;
    float GetAltitude() override { return 1500.0f; }
    float GetPitch() override { return 0.0f; }
    float GetRoll() override { return 0.0f; }
    float GetSpeed() override { return 70.0f; }
    float GetHeading() override { return 90.0f; }
    float GetTrack() override { return 90.0f; }
    std::uint32_t GetLineIndex() override { return 1; }
    void GetPosition(float *la, float *lo) override
    {
        *la = float(lat);
        *lo = float(lon);
    }
    std::uint32_t GetFireThreshold() override { return 140; }
    void Start() override { ++starts; }
    void Stop() override { ++stops; }
    void SetGroundElevation(std::uint32_t m) override { groundElevation = m; }
};

struct Window : ::testing::Test {
    void SetUp() override
    {
        QSettings().clear();
        Notice::clearRecords();
        Notice::clearReplies();
    }
    void TearDown() override
    {
        qInstallMessageHandler(nullptr);
        Notice::clearReplies();
    }
};

// The enabled state of Play, Stop, Run, Stop Run and transfer.
std::string buttons(const ImageViewer &w)
{
    std::string s;
    for (QAction *a : {w.playAction(), w.stopAction(), w.runAction(), w.stopRunAction(), w.ftpAction()})
        s += a->isEnabled() ? '1' : '0';
    return s;
}

QStringList menuTexts(const QMenu *menu)
{
    QStringList out;
    for (const QAction *a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("--") : a->text());
    return out;
}

void fireTick(ImageViewer &w)
{
    QMetaObject::invokeMethod(w.processingTimer(), "timeout", Qt::DirectConnection);
}

} // namespace

TEST_F(Window, StartUpSettingsDefaultsAndLogPathReset)
{
    QSettings().setValue(QStringLiteral("LastUsed/logPath"), QStringLiteral("D:\\Elsewhere"));
    {
        ImageViewer w;
        EXPECT_TRUE(w.usePoly);
        EXPECT_EQ(w.bMax, 65000);
        EXPECT_EQ(w.bMin, 1000);
        EXPECT_EQ(w.a2, 0.0);
        EXPECT_FLOAT_EQ(w.chnBGain, 1.0f);
        EXPECT_EQ(w.chnBOffset, 100);
        EXPECT_EQ(w.vOverH, 5);
        EXPECT_EQ(w.fireZoomIdx(), 2);
        EXPECT_EQ(w.fireZoomExp(), 1);
        EXPECT_EQ(w.bMaxZoomIdx(), 5);
        EXPECT_EQ(w.bMaxZoomExp(), 1);
        EXPECT_EQ(w.fireDetAutoAmt, 50);
        EXPECT_EQ(w.bMaxAutoAmt, 200);
        EXPECT_EQ(w.bMinAutoAmt, 1);
        EXPECT_EQ(QSettings().value(QStringLiteral("LastUsed/logPath")).toString(), QStringLiteral("C:\\CindrelData"));

        // Mission and recording state, the curve's start values.
        EXPECT_EQ(w.displaySource(), nullptr);
        EXPECT_EQ(w.recordingControl()->passNumber, 0);
        EXPECT_FALSE(w.isLogOpen());
        EXPECT_TRUE(w.isRecordArmed());
        EXPECT_FALSE(w.isMapMode());
        EXPECT_FALSE(w.passRecords().boxB.EverGrown());
        EXPECT_EQ(w.recordingControl()->dataRoot, QDir::toNativeSeparators(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"))));
        EXPECT_EQ(w.coldCurve()->at(0), 0);
        EXPECT_EQ(w.coldCurve()->at(1), 32768);
        EXPECT_EQ(w.coldCurve()->at(32768), 32768);
        EXPECT_FALSE(w.processingTimer()->isActive());
        EXPECT_EQ(w.processingTimer()->interval(), 33);
        EXPECT_NE(w.recorder(), nullptr);
    }
    // Stored values come back; the polynomial is read but never written.
    QSettings s;
    s.setValue(QStringLiteral("LastUsed/FireDetectUsePoly"), false);
    s.setValue(QStringLiteral("LastUsed/FireDetectPolyA1"), 2.5);
    s.setValue(QStringLiteral("LastUsed/FireDetectChnBFireLimit"), 4321);
    s.setValue(QStringLiteral("LastUsed/ChannelBGain"), 2.5);
    s.setValue(QStringLiteral("LastUsed/BMaxZoomExp"), 3);
    s.remove(QStringLiteral("LastUsed/BMinAutoAmt"));
    s.sync();
    {
        ImageViewer w;
        EXPECT_FALSE(w.usePoly);
        EXPECT_DOUBLE_EQ(w.a1, 2.5);
        EXPECT_EQ(w.bMax, 4321);
        EXPECT_FLOAT_EQ(w.chnBGain, 2.5f);
        EXPECT_EQ(w.bMaxZoomExp(), 3);
        w.bMin = 777;
        w.setFireZoom(5, 2);
        w.fireDetAutoAmt = 60;
    }
    QSettings after;
    EXPECT_EQ(after.value(QStringLiteral("LastUsed/FireDetectChnBColdLimit")).toInt(), 777);
    // The threshold is the panel's (its default with no source).
    EXPECT_EQ(after.value(QStringLiteral("LastUsed/FireDetectThreshold")).toInt(), 100);
    EXPECT_EQ(after.value(QStringLiteral("LastUsed/FireDetectZoomIdx")).toInt(), 5);
    EXPECT_EQ(after.value(QStringLiteral("LastUsed/FireDetectZoomExp")).toInt(), 2);
    EXPECT_EQ(after.value(QStringLiteral("LastUsed/FireDetAutoAmt")).toInt(), 60);
    EXPECT_EQ(after.value(QStringLiteral("LastUsed/BMinAutoAmt")).toInt(), 1);
    EXPECT_FALSE(after.value(QStringLiteral("LastUsed/FireDetectUsePoly")).toBool());
    EXPECT_DOUBLE_EQ(after.value(QStringLiteral("LastUsed/FireDetectPolyA1")).toDouble(), 2.5);
    EXPECT_FALSE(after.contains(QStringLiteral("LastUsed/FireDetectPolyA2")));
}

TEST_F(Window, MenuTreeAndToolBarAsBuilt)
{
    // Tool bar bitmaps in the working directory become the icons.
    QDir().mkpath(QStringLiteral("buttons"));
    for (const char *n : {"Play", "Stop", "RunP", "StopP", "Ftp"}) {
        QImage img(64, 64, QImage::Format_RGB32);
        img.fill(Qt::darkGreen);
        ASSERT_TRUE(img.save(QStringLiteral("buttons/%1.bmp").arg(QLatin1String(n))));
    }
    ImageViewer w;
    QStringList top;
    for (const QAction *a : w.menuBar()->actions())
        top << a->text();
    EXPECT_EQ(top, (QStringList{"&System", "&Mission", "&Data", "&View", "&Image", "&Printer", "&Admin", "&Help"}));
    const auto menus = w.menuBar()->actions();
    EXPECT_EQ(menuTexts(menus[0]->menu()),
              (QStringList{"&1. Set Tech Name", "&2. Delete Missions from Registry", "&3. Import Mission Plan XML",
                           "--", "&4. Initialize DSP Hardware"}));
    EXPECT_EQ(menuTexts(menus[1]->menu()), (QStringList{"Set", "--", "Replay &Cindrel Log...",
                                                        "Recreate Strip Image...", "--", "Orthorectify Log"}));
    for (int i = 2; i < menus.size(); ++i)
        EXPECT_TRUE(menus[i]->menu()->actions().isEmpty());
    for (const QAction *a : menus[0]->menu()->actions() + menus[1]->menu()->actions())
        EXPECT_TRUE(a->shortcut().isEmpty());

    QToolBar *tb = w.toolBar();
    EXPECT_EQ(tb->windowTitle(), QStringLiteral("Cindrel64"));
    EXPECT_EQ(tb->iconSize(), QSize(64, 64));
    QStringList texts;
    for (const QAction *a : tb->actions())
        texts << (a->isSeparator() ? QStringLiteral("--") : a->text());
    EXPECT_EQ(texts, (QStringList{"&New", "&New", "--", "&New", "&New", "--", "&Ftp"}));
    for (QAction *a : {w.playAction(), w.stopAction(), w.runAction(), w.stopRunAction(), w.ftpAction()})
        EXPECT_FALSE(a->icon().isNull()) << a->objectName().toStdString();
    EXPECT_EQ(w.playAction()->objectName(), QStringLiteral("buttons/Play.bmp"));
    EXPECT_EQ(w.ftpAction()->objectName(), QStringLiteral("buttons/Ftp.bmp"));
    EXPECT_EQ(buttons(w), "00001");
    QDir(QStringLiteral("buttons")).removeRecursively();
}

TEST_F(Window, ToolBarStateTable)
{
    ImageViewer w;
    // Without a source every data command does nothing.
    w.doData();
    w.stopData();
    w.startRecData();
    EXPECT_EQ(buttons(w), "00001");
    EXPECT_FALSE(w.processingTimer()->isActive());
    EXPECT_FALSE(w.isRunRequested());

    auto *src = new FakeSource;
    w.ReplaceDataSource(src, 1);
    w.playAction()->setEnabled(true);   // as a replay that opened its log

    // Run while the timer is stopped: nothing happens.
    w.startRecData();
    EXPECT_FALSE(w.isRunRequested());
    EXPECT_EQ(buttons(w), "10001");

    w.doData();
    EXPECT_EQ(src->starts, 1);
    EXPECT_TRUE(w.processingTimer()->isActive());
    EXPECT_EQ(buttons(w), "01101");

    w.startRecData();
    EXPECT_TRUE(w.isRunRequested());
    EXPECT_TRUE(w.isMapMode());
    EXPECT_EQ(buttons(w), "00010");

    // Stopping the flow during a run keeps the run flags.
    w.stopData();
    EXPECT_EQ(src->stops, 1);
    EXPECT_FALSE(w.processingTimer()->isActive());
    EXPECT_EQ(buttons(w), "10000");
    EXPECT_TRUE(w.isRunRequested());
    w.doData();
    EXPECT_EQ(buttons(w), "01100");
    EXPECT_TRUE(w.isRunRequested());

    w.stopRecData();
    EXPECT_FALSE(w.isRunRequested());
    EXPECT_FALSE(w.isMapMode());
    EXPECT_EQ(buttons(w), "01101");

    // Stop Run with a log open disarms nothing and clears logOpen.
    w.recordingControl()->logOpen = true;
    w.recordingControl()->recordArmed = false;
    w.stopRecData();
    EXPECT_FALSE(w.isLogOpen());
    EXPECT_TRUE(w.isRecordArmed());
}

TEST_F(Window, CancelledReplayLeavesNoSourceAndAToolBarThatSaysSo)
{
    // Cancelled while stopped and while playing: the source is gone, the
    // timer stands and only the transfer button is offered.
    for (const bool playing : {false, true}) {
        ImageViewer w;
        bool deleted = false;
        auto *src = new FakeSource;
        src->deleted = &deleted;
        w.ReplaceDataSource(src, 1);
        w.playAction()->setEnabled(true);
        if (playing)
            w.doData();
        Notice::pushTextReply(QString());   // the file dialog is cancelled
        w.OnFileReplay();
        EXPECT_TRUE(deleted) << playing;
        EXPECT_EQ(w.displaySource(), nullptr) << playing;
        EXPECT_EQ(buttons(w), "00001") << playing;
        EXPECT_FALSE(w.processingTimer()->isActive()) << playing;
    }
}

TEST_F(Window, SetTechAndDeleteMissions)
{
    ImageViewer w;
    Notice::pushTextReply(QString());
    w.OnSetTech();
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Set Tech Name"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("Tech name:"));
    EXPECT_FALSE(QSettings().contains(QStringLiteral("LastUsed/techName")));
    Notice::pushTextReply(QStringLiteral(""));
    w.OnSetTech();
    EXPECT_FALSE(QSettings().contains(QStringLiteral("LastUsed/techName")));
    Notice::pushTextReply(QStringLiteral("Robin Hale"));
    w.OnSetTech();
    EXPECT_EQ(QSettings().value(QStringLiteral("LastUsed/techName")).toString(), QStringLiteral("Robin Hale"));
    EXPECT_EQ(w.recordingControl()->techName, QString());   // the running mission keeps its name

    {
        QSettings s;
        s.beginWriteArray(QStringLiteral("MsnList"), 2);
        s.setArrayIndex(1);
        s.setValue(QStringLiteral("Msn_Name"), QStringLiteral("Two"));
        s.endArray();
    }
    Notice::clearRecords();
    Notice::pushButtonReply(QMessageBox::No);
    w.OnDeleteXml();
    ASSERT_EQ(Notice::count(), 2);
    EXPECT_EQ(Notice::records()[0].kind, Notice::Kind::Question);
    EXPECT_EQ(Notice::records()[0].title, QStringLiteral("Deletes Mission"));
    EXPECT_EQ(Notice::records()[0].text, QStringLiteral("Delete all missions from registry?"));
    EXPECT_EQ(Notice::records()[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(Notice::records()[1].kind, Notice::Kind::Information);
    EXPECT_EQ(Notice::records()[1].text, QStringLiteral("Delete missions from registry aborted."));
    EXPECT_EQ(QSettings().beginReadArray(QStringLiteral("MsnList")), 2);

    Notice::pushButtonReply(QMessageBox::Yes);
    w.OnDeleteXml();
    QSettings s;
    EXPECT_EQ(s.beginReadArray(QStringLiteral("MsnList")), 0);
    s.endArray();
    EXPECT_TRUE(s.childGroups().indexOf(QStringLiteral("MsnList")) < 0);
}

TEST_F(Window, EverySeventhTickRecentresTheMap)
{
    ImageViewer w;
    auto *src = new FakeSource;
    src->lat = 44.5;
    src->lon = -120.25;
    w.ReplaceDataSource(src, 1);
    w.mapWidget()->resize(400, 300);
    auto centre = [&] { return w.mapWidget()->view()->currentCenter(); };
    // No mission box fitted: the first position brings the view to the
    // aircraft, which the symbol marks.
    fireTick(w);
    EXPECT_NEAR(centre().x(), -120.25, 1e-6);
    EXPECT_TRUE(w.mapWidget()->aircraftItem()->isVisible());
    src->lon = -120.0;
    for (int i = 0; i < 6; ++i)
        fireTick(w);
    EXPECT_EQ(src->cycles, 7);
    EXPECT_NEAR(centre().x(), -120.25, 1e-9);
    fireTick(w);   // the counter reads 7: re-centre
    EXPECT_NEAR(centre().y(), 44.5, 1e-6);
    EXPECT_NEAR(centre().x(), -120.0, 1e-6);

    src->lat = 45.0;
    for (int i = 0; i < 6; ++i)
        fireTick(w);
    EXPECT_NEAR(centre().y(), 44.5, 1e-6);
    fireTick(w);   // every 7th tick from then on
    EXPECT_NEAR(centre().y(), 45.0, 1e-6);

    // Before the first line the position is 0, 0: the view stays.
    src->lat = src->lon = 0.0;
    for (int i = 0; i < 14; ++i)
        fireTick(w);
    EXPECT_NEAR(centre().y(), 45.0, 1e-6);
    EXPECT_EQ(src->cycles, 29);
    EXPECT_EQ(Notice::count(), 0) << Notice::last().text.toStdString();
}

TEST_F(Window, PassServicesNameLogsAndDrawFootprints)
{
    ImageViewer w;
    const QDateTime start(QDate(2024, 7, 15), QTime(14, 32, 10));
    EXPECT_EQ(w.StartPass(500000, 5000000, 11, 90.0f, 600.0f, start), -1);
    auto *src = new FakeSource;
    w.ReplaceDataSource(src, 1);
    w.recordingControl()->missionName = QStringLiteral("Fire 12");
    w.recordingControl()->groundElevation = 1234.5;
    QDir(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"))).removeRecursively();

    // Work in the zone of the converter's choice around 44.5 N 117.5 W.
    CUtmConverter *conv = w.GetConverter();
    double n0 = 0, e0 = 0;
    std::int32_t zone = 0;
    ASSERT_TRUE(conv->LatLonToUtm(44.5, -117.5, &n0, &e0, &zone, 3));
    EXPECT_EQ(w.StartPass(e0, n0, zone, 90.0f, 600.0f, start), 1);
    EXPECT_EQ(src->groundElevation, 1235u);
    EXPECT_TRUE(QDir(w.recordingControl()->dataRoot).exists());
    EXPECT_EQ(w.recordingControl()->pathPrefix, w.recordingControl()->dataRoot + QDir::separator() + QStringLiteral("20240715_1432_Fire12"));

    ASSERT_TRUE(w.ManipulateLogFile(1, false));
    EXPECT_TRUE(w.isLogOpen());
    EXPECT_EQ(QFileInfo(w.recordingControl()->currentLogPath).fileName(), QStringLiteral("20240715_1432_Fire12_1.plf"));
    EXPECT_TRUE(QFileInfo::exists(w.recordingControl()->currentLogPath));
    // A second segment of the same pass.
    ASSERT_TRUE(w.ManipulateLogFile(2, true));
    ASSERT_TRUE(w.ManipulateLogFile(1, false));
    EXPECT_EQ(QFileInfo(w.recordingControl()->currentLogPath).fileName(), QStringLiteral("20240715_1432_Fire12_197.plf"));

    w.UpdatePass(e0 + 3000.0, n0, zone, 90.0f, 600.0f);
    w.ReportSwathEdges(e0, n0 + 600, e0, n0 - 600, false);
    EXPECT_FALSE(w.passRecords().boxB.EverGrown());
    w.ReportSwathEdges(e0 + 100, n0 + 600, e0 + 100, n0 - 600, true);
    w.ReportSwathEdges(e0 + 3000, n0 + 600, e0 + 3000, n0 - 600, true);
    EXPECT_TRUE(w.passRecords().boxB.EverGrown());
    EXPECT_DOUBLE_EQ(w.passRecords().boxA.minX, e0);
    EXPECT_DOUBLE_EQ(w.passRecords().boxB.minX, e0 + 100);
    EXPECT_EQ(w.GetPassHeading(0), 90);
    EXPECT_EQ(w.GetPassHeading(1), 90);

    w.EndPass(e0 + 3000.0, n0, zone, 90.0f, 600.0f, true);
    EXPECT_TRUE(w.mapWidget()->footprints().isEmpty());
    w.EndPass(e0 + 3000.0, n0, zone, 90.0f, 600.0f, false);
    ASSERT_EQ(w.mapWidget()->footprints().size(), 1);
    const auto &fp = w.mapWidget()->footprints()[0];
    // Heading east: start-left lies north of the start, end-right south of
    // the end, about 3 km further east.
    EXPECT_NEAR(fp.corners[0], -117.5, 0.001);
    EXPECT_GT(fp.corners[1], 44.5);
    EXPECT_GT(fp.corners[4], fp.corners[0] + 0.03);
    EXPECT_LT(fp.corners[5], 44.5);

    // Closing queues the log on the worker with the recorded swath.
    ASSERT_TRUE(w.ManipulateLogFile(2, false));
    EXPECT_FALSE(w.isLogOpen());
    QElapsedTimer t;
    t.start();
    while (w.orthoWorker()->Processed().isEmpty() && t.elapsed() < 3000)
        QThread::msleep(2);
    ASSERT_EQ(w.orthoWorker()->Processed().size(), 1);
    EXPECT_EQ(w.orthoWorker()->Processed()[0], QFileInfo(w.recordingControl()->currentLogPath).absoluteFilePath());
    const auto v = w.orthoWorker()->LastRunValues();
    EXPECT_EQ(v.productVersion, QStringLiteral("1.0"));
    EXPECT_DOUBLE_EQ(v.easting1, e0 + 100);
    EXPECT_DOUBLE_EQ(v.northing1, n0 + 600);
    EXPECT_DOUBLE_EQ(v.easting2, e0 + 3000);
    EXPECT_DOUBLE_EQ(v.northing2, n0 - 600);
    EXPECT_FALSE(v.elevationReady);

    // An unknown operation is refused with its message.
    Notice::clearRecords();
    EXPECT_FALSE(w.ManipulateLogFile(3, false));
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Manipulate Log File"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("PROGRAMMING ERROR: invalid file log OpCode"));
}

TEST_F(Window, UncreatableLogIsReported)
{
    ImageViewer w;
    w.ReplaceDataSource(new FakeSource, 1);
    w.recordingControl()->pathPrefix = QStringLiteral("/nonexistent-folder/deeper/x");
    w.recordingControl()->passNumber = 1;
    EXPECT_FALSE(w.ManipulateLogFile(1, false));
    EXPECT_FALSE(w.isLogOpen());
    ASSERT_GE(Notice::count(), 1);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Manipulate Log File"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("ERROR: manipulating log file"));
}

TEST_F(Window, ShutdownSavesSettingsAndJoinsTheWorkerThread)
{
    auto w = std::make_unique<ImageViewer>();
    QPointer<OrthoRectifyWorker> worker = w->orthoWorker();
    QThread *thread = w->orthoThread();
    QElapsedTimer t;
    t.start();
    while (!worker->IsRunning() && t.elapsed() < 2000)
        QThread::msleep(1);
    ASSERT_TRUE(worker->IsRunning());
    EXPECT_TRUE(thread->isRunning());
    bool finished = false;
    bool sourceDeleted = false;
    bool sourceGoneFirst = false;
    int savedWhenJoined = 0;
    QObject::connect(
        thread, &QThread::finished, thread,
        [&] {
            finished = true;
            sourceGoneFirst = sourceDeleted;
            savedWhenJoined = QSettings().value(QStringLiteral("LastUsed/FireDetectChnBFireLimit")).toInt();
        },
        Qt::DirectConnection);
    auto *src = new FakeSource;
    src->deleted = &sourceDeleted;
    w->ReplaceDataSource(src, 1);
    w->bMax = 60001;
    w.reset();
    EXPECT_TRUE(finished);
    EXPECT_TRUE(sourceDeleted);
    // Settings saved, then the source deleted, then the worker's thread ended.
    EXPECT_TRUE(sourceGoneFirst);
    EXPECT_EQ(savedWhenJoined, 60001);
    EXPECT_TRUE(worker.isNull());
    EXPECT_EQ(QSettings().value(QStringLiteral("LastUsed/FireDetectChnBFireLimit")).toInt(), 60001);
}

TEST_F(Window, PrefersTheAvailableScreenAndFitsSmallerOnes)
{
    ImageViewer w;
    EXPECT_EQ(w.sizeHint(), QGuiApplication::primaryScreen()->availableSize());
    // The panels can shrink to a 1366 x 768 laptop screen.
    const QSize min = w.minimumSizeHint();
    EXPECT_LE(min.width(), 1366);
    EXPECT_LE(min.height(), 740);
}

TEST_F(Window, RunElevationExtractedForTheRecordedSwath)
{
    ImageViewer w;
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("elev-out"));
    QDir().mkpath(folder);
    // Nothing recorded since start-up: no area, no raster.
    // The raster is named by the log, as the rectifier looks for it.
    const QString log = folder + QStringLiteral("/20240715_0905_Fire_1.plf");
    EXPECT_FALSE(w.ExtractRunElevation(log));

    // One flat tile (1500 m) around 44.5 N 121.5 W.
    const double cell = 1.0 / 3600.0;
    const double left = -121.6, top = 44.6, right = -121.4, bottom = 44.4;
    {
        CBil tile;
        const int ncols = int(std::lround((right - left) / cell));
        const int nrows = int(std::lround((top - bottom) / cell));
        tile.SetDimensions(ncols, nrows, 1, Int16);
        tile.SetGeoReference(cell, cell, 0, 0, left + cell / 2, top - cell / 2, 0, 0.0, 1);
        ASSERT_TRUE(tile.Allocate());
        for (int r = 0; r < nrows; ++r) {
            unsigned char *row = tile.MutableRowData(r);
            for (int c = 0; c < ncols; ++c) {
                row[2 * c] = uchar(1500 >> 8);
                row[2 * c + 1] = uchar(1500 & 0xff);
            }
        }
        const QString name = CElevationData::TileName(1);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(name).path()));
        ASSERT_TRUE(tile.Write(name));
        QFile f(CElevationData::BoundaryFilePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("1,-121.6,44.6,-121.4,44.4\n");
    }

    auto *src = new FakeSource;
    w.ReplaceDataSource(src, 1);
    CUtmConverter *conv = w.GetConverter();
    double n0 = 0, e0 = 0;
    std::int32_t zone = 0;
    ASSERT_TRUE(conv->LatLonToUtm(44.5, -121.5, &n0, &e0, &zone, 2));
    ASSERT_EQ(w.StartPass(e0, n0, zone, 0.0f, 2000.0f, QDateTime(QDate(2024, 7, 15), QTime(9, 5))), 1);
    w.ReportSwathEdges(e0 - 2000, n0, e0 + 2000, n0, true);
    w.ReportSwathEdges(e0 - 2000, n0 + 3000, e0 + 2000, n0 + 3000, true);
    ASSERT_TRUE(w.ExtractRunElevation(log));

    const QString raster = folder + QStringLiteral("/20240715_0905_Fire");
    EXPECT_TRUE(QFileInfo::exists(raster + QStringLiteral(".bil")));
    CBil out;
    ASSERT_TRUE(out.Open(raster));
    // The raster covers the swath's corners (about 2 km either side of
    // 121.5 W, from 44.5 N to 3 km north of it) and not much more.
    EXPECT_LT(out.GetLeft(), -121.525);
    EXPECT_GT(out.GetRight(), -121.475);
    EXPECT_LT(out.GetBottom(), 44.5);
    EXPECT_GT(out.GetTop(), 44.527);
    EXPECT_GT(out.GetLeft(), -121.56);
    EXPECT_LT(out.GetTop(), 44.56);
    double lo = 0, hi = 0, mean = 0;
    ASSERT_TRUE(out.ComputeStatistics(&lo, &hi, &mean));
    EXPECT_EQ(lo, 1500.0);
    EXPECT_EQ(hi, 1500.0);
}

TEST_F(Window, InitializeDspHardwareOnTheSimulatedBoard)
{
    dsptiming::setScale(0.001);
    dspconsole::startCapture();
    dspconsole::setInputProvider([](int *) { return false; });
    const QString bootDir = QDir::current().absoluteFilePath(QStringLiteral("dsp-boot"));
    QDir().mkpath(bootDir);
    const QString saved = QDir::currentPath();
    QDir::setCurrent(bootDir);
    {
        // Without the boot files the start-up fails with its own boxes and
        // then the window's.
        ImageViewer w;
        w.playAction()->setEnabled(true);
        w.stopAction()->setEnabled(true);
        w.OnSystemInitialize();
        EXPECT_EQ(w.displaySource(), nullptr);
        EXPECT_EQ(buttons(w), "00001");
        ASSERT_GE(Notice::count(), 1);
        EXPECT_EQ(Notice::last().kind, Notice::Kind::Critical);
        EXPECT_EQ(Notice::last().title, QStringLiteral("DSP INIT ERROR"));
        EXPECT_EQ(Notice::last().text, QStringLiteral("Unable to initialize DSP interface."));
    }
    Notice::clearRecords();
    ASSERT_TRUE(writeSimulatedBootFiles(bootDir));
    {
        ImageViewer w;
        w.bMax = 41000;
        w.OnSystemInitialize();
        ASSERT_NE(w.displaySource(), nullptr);
        EXPECT_EQ(w.sourceType, 6);
        EXPECT_EQ(buttons(w), "10001");
        // The operator is told the board is not the real one.
        EXPECT_TRUE(w.windowTitle().endsWith(QStringLiteral("simulated board"))) << w.windowTitle().toStdString();
        EXPECT_TRUE(w.statusText().startsWith(QStringLiteral("simulated board"))) << w.statusText().toStdString();
        // Only the start-up's own information boxes.
        for (const auto &r : Notice::records())
            EXPECT_EQ(r.kind, Notice::Kind::Information) << r.text.toStdString();
        w.doData();
        w.processingTimer()->setInterval(3600 * 1000);
        auto *wf = w.waterfall();
        QSignalSpy painted(wf, &WaterFall::linesPainted);
        QElapsedTimer t;
        t.start();
        while (painted.isEmpty() && t.elapsed() < 5000) {
            QThread::msleep(50);
            fireTick(w);
        }
        EXPECT_FALSE(painted.isEmpty());
        w.stopData();
        EXPECT_EQ(buttons(w), "10001");
    }
    QDir::setCurrent(saved);
    dspconsole::stopCapture();
    dsptiming::setScale(1.0);
}

TEST_F(Window, StoredMissionsOnTheMapAtStartUp)
{
    {
        QSettings s;
        s.beginWriteArray(QStringLiteral("MsnList"), 3);
        for (int i = 0; i < 3; ++i) {
            s.setArrayIndex(i);
            s.setValue(QStringLiteral("North_Val"), 45.0 + i);
            s.setValue(QStringLiteral("South_Val"), 44.5 + i);
            s.setValue(QStringLiteral("East_Val"), -120.0);
            s.setValue(QStringLiteral("West_Val"), -121.0);
        }
        s.endArray();
        s.setValue(QStringLiteral("LastUsed/MissionSelect"), 2);
    }
    ImageViewer w;
    const auto &boxes = w.mapWidget()->missionBoxes();
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_DOUBLE_EQ(boxes[2].north, 47.0);
    const auto items = w.mapWidget()->view()->graphicItems();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[2]->pen().color(), QColor(Qt::yellow));
    EXPECT_EQ(items[0]->pen().color(), QColor(Qt::white));
}
