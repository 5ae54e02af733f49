// The main window under a real X server, at 1366 x 768 and 1920 x 1080: a
// child run of this test program shows the window as the program does on
// Xvfb, replays 100 lines of a simulated log with the real 33 ms timer and
// grabs the screen from the server; the test then checks that the window
// lies on the screen with the map and the status bar visible, and that the
// replayed rows are on screen in the waterfall's place.
#include "app/imageviewer.h"
#include "app/replaycontrols.h"
#include "app/startup.h"
#include "map/arcgisqtwidget.h"
#include "datasource/ccindreldsplog.h"
#include "display/waterfall.h"
#include "platform/notice.h"
#include "simlog.h"
#include "common/testsupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QGraphicsPolygonItem>
#include <QStatusBar>
#include <QSettings>
#include <QTextStream>
#include <QThread>
#include <QTimer>

namespace {
constexpr int kLines = 100;
} // namespace

// Runs only as the child of the test below.
TEST(XServerChild, ReplayAndGrabScreen)
{
    const QString log = qEnvironmentVariable("CINDREL_XTEST_LOG");
    const QString out = qEnvironmentVariable("CINDREL_XTEST_OUT");
    if (log.isEmpty() || out.isEmpty())
        GTEST_SKIP() << "runs under Xvfb from XServer.ReplayShowsRowsInTheWaterfall";
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));

    // Tool bar bitmaps and a stored mission around the pass, as on a
    // workstation.
    QDir().mkpath(QStringLiteral("buttons"));
    const char *names[] = {"Play", "Stop", "RunP", "StopP", "Ftp"};
    for (int i = 0; i < 5; ++i) {
        QImage icon(64, 64, QImage::Format_RGB32);
        icon.fill(QColor(230, 230, 230));
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(i == 2 || i == 3 ? QColor(200, 30, 30) : QColor(30, 120, 40));
        if (i == 0 || i == 2)
            p.drawPolygon(QPolygonF({QPointF(18, 12), QPointF(52, 32), QPointF(18, 52)}));
        else if (i == 1 || i == 3)
            p.drawRect(16, 16, 32, 32);
        else
            p.drawEllipse(12, 12, 40, 40);
        p.end();
        ASSERT_TRUE(icon.save(QStringLiteral("buttons/%1.bmp").arg(QLatin1String(names[i]))));
    }
    {
        QSettings s;
        s.beginWriteArray(QStringLiteral("MsnList"), 1);
        s.setArrayIndex(0);
        s.setValue(QStringLiteral("Msn_Name"), QStringLiteral("Demo"));
        s.setValue(QStringLiteral("North_Val"), 44.56);
        s.setValue(QStringLiteral("South_Val"), 44.44);
        s.setValue(QStringLiteral("West_Val"), -121.56);
        s.setValue(QStringLiteral("East_Val"), -121.40);
        s.endArray();
        s.setValue(QStringLiteral("LastUsed/MissionSelect"), 0);
    }

    ImageViewer w;
    cindrel::showMainWindow(&w);
    Notice::pushTextReply(log);
    w.OnFileReplay();
    ASSERT_NE(w.displaySource(), nullptr);
    auto *src = static_cast<CCindrelDspLog *>(w.displaySource());
    w.replayControls()->setSpeedIndex(1);   // 2x
    w.doData();
    QElapsedTimer t;
    t.start();
    // The real timer: one line per 33 ms tick. A run from line 20 to line
    // 80 leaves its footprint on the map.
    bool runStarted = false, runStopped = false;
    while (src->GetRecordsRead() < kLines && t.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!runStarted && src->GetRecordsRead() >= 20) {
            w.startRecData();
            runStarted = true;
        }
        if (!runStopped && src->GetRecordsRead() >= 80) {
            w.stopRecData();
            runStopped = true;
        }
    }
    // One more tick paints the last line; then let the window settle.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 600)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    w.stopData();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    ASSERT_TRUE(shot.save(out + QStringLiteral("/screen.png")));
    const QRect view(w.waterfallView()->mapToGlobal(QPoint(0, 0)), w.waterfallView()->size());
    QFile f(out + QStringLiteral("/view.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QTextStream(&f) << view.x() << ' ' << view.y() << ' ' << view.width() << ' ' << view.height() << ' '
                    << src->GetRecordsRead() << ' ' << w.mapWidget()->footprints().size() << '\n';
    // Where the window, the map and the status bar are on the screen.
    auto globalRect = [](const QWidget *widget) {
        return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    };
    const QRect frame = w.frameGeometry();
    const QRect map = globalRect(w.mapWidget());
    const QRect status = globalRect(w.statusBar());
    QTextStream(&f) << frame.x() << ' ' << frame.y() << ' ' << frame.width() << ' ' << frame.height() << ' '
                    << map.x() << ' ' << map.y() << ' ' << map.width() << ' ' << map.height() << ' ' << status.x()
                    << ' ' << status.y() << ' ' << status.width() << ' ' << status.height() << ' '
                    << (w.statusBar()->isVisible() ? 1 : 0) << ' '
                    << (w.mapWidget()->aircraftItem()->isVisible() ? 1 : 0) << ' '
                    << w.mapWidget()->trackPointCount() << '\n';
}

namespace {
void checkScreen(const QSize &screenSize, const QString &name)
{
    const QString dir = QDir::current().absoluteFilePath(QStringLiteral("xserver-") + name);
    QDir(dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString log = dir + QStringLiteral("/20240715_1432_Demo_1.plf");
    ASSERT_TRUE(apptest::writeSimLog(log, 3 * kLines));

    QProcess xvfb;
    const QString display = apptest::startXvfb(xvfb, name);
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("CINDREL_XTEST_LOG"), log);
    env.insert(QStringLiteral("CINDREL_XTEST_OUT"), dir);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=XServerChild.ReplayAndGrabScreen")});
    ASSERT_TRUE(child.waitForStarted(10000));
    const bool finished = child.waitForFinished(60000);
    const QString childOut = QString::fromLocal8Bit(child.readAllStandardOutput() + child.readAllStandardError());
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    ASSERT_TRUE(finished) << childOut.toStdString();
    ASSERT_EQ(child.exitCode(), 0) << childOut.toStdString();

    QImage shot(dir + QStringLiteral("/screen.png"));
    ASSERT_FALSE(shot.isNull()) << childOut.toStdString();
    // Kept beside the build for a look (the 1920 x 1080 one is the
    // README's picture).
    const QString kept = QStringLiteral(CINDREL_BINARY_DIR "/xserver-screen-%1.png").arg(name);
    QFile::remove(kept);
    QFile::copy(dir + QStringLiteral("/screen.png"), kept);
    EXPECT_EQ(shot.size(), screenSize);
    QFile f(dir + QStringLiteral("/view.txt"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    int x = 0, y = 0, wv = 0, hv = 0, read = 0, footprints = 0;
    QTextStream in(&f);
    in >> x >> y >> wv >> hv >> read >> footprints;
    EXPECT_EQ(footprints, 1);
    int r[12] = {};
    int statusVisible = 0, aircraftShown = 0, trackPoints = 0;
    for (int &v : r)
        in >> v;
    in >> statusVisible >> aircraftShown >> trackPoints;
    const QRect screen(QPoint(0, 0), screenSize);
    const QRect frame(r[0], r[1], r[2], r[3]), map(r[4], r[5], r[6], r[7]), status(r[8], r[9], r[10], r[11]);
    EXPECT_TRUE(screen.contains(frame)) << "frame " << r[0] << ',' << r[1] << ' ' << r[2] << 'x' << r[3];
    EXPECT_TRUE(screen.contains(map)) << "map " << r[4] << ',' << r[5] << ' ' << r[6] << 'x' << r[7];
    EXPECT_GE(map.width(), 240);
    EXPECT_GE(map.height(), 120);
    EXPECT_EQ(statusVisible, 1);
    EXPECT_TRUE(screen.contains(status)) << "status " << r[8] << ',' << r[9] << ' ' << r[10] << 'x' << r[11];
    EXPECT_GT(status.height(), 10);
    EXPECT_EQ(aircraftShown, 1);
    EXPECT_GT(trackPoints, 1);
    ASSERT_GT(wv, 100);
    ASSERT_GT(hv, 100);
    EXPECT_GE(read, kLines);
    const QImage view = shot.copy(x, y, wv, hv).convertToFormat(QImage::Format_RGB32);
    // The view may reach below the screen (its label asks for the whole
    // screen height); only its rows on the screen are looked at.
    const int onScreen = qMin(hv, shot.height() - y);
    ASSERT_GT(onScreen, 300);

    // The newest rows are at the top of the view: about read/1024 of its
    // height shows the replayed swath in grey; below it the picture is
    // still empty (red). Only the columns left of the status overlay's
    // drawing are looked at.
    const int columns = qMin(wv, screenSize.width() / 7 - 10);
    auto greyRow = [&](int row) {
        int grey = 0;
        for (int c = 0; c < columns; ++c) {
            const QColor p = view.pixelColor(c, row);
            if (qAbs(p.red() - p.green()) < 12 && qAbs(p.green() - p.blue()) < 12)
                ++grey;
        }
        return grey > columns * 9 / 10;
    };
    auto redRow = [&](int row) {
        int red = 0;
        for (int c = 0; c < columns; ++c) {
            const QColor p = view.pixelColor(c, row);
            if (p.red() > 200 && p.green() < 40 && p.blue() < 40)
                ++red;
        }
        return red > columns * 9 / 10;
    };
    const int band = int(double(read) / WaterFall::kViewRows * hv);
    int grey = 0;
    for (int r = 1; r < band - 2; ++r)
        grey += greyRow(r) ? 1 : 0;
    EXPECT_GE(grey, band - 4) << "band " << band;
    int red = 0, looked = 0;
    for (int r = band + 3; r < onScreen - 1; r += 5, ++looked)
        red += redRow(r) ? 1 : 0;
    EXPECT_EQ(red, looked);
    // The swath's rows differ from one another (real lines, not one row
    // repeated): the grey level changes down the band somewhere.
    int changes = 0;
    for (int r = 2; r < band - 2; ++r)
        changes += qAbs(qGray(view.pixel(columns / 2, r)) - qGray(view.pixel(columns / 2, r - 1))) > 0 ? 1 : 0;
    EXPECT_GT(changes, 0);
}
} // namespace

TEST(XServer, WindowFitsTheScreenAndReplayShowsRows)
{
    if (!testsupport::haveTool(QStringLiteral("Xvfb")))
        GTEST_SKIP() << "Xvfb is not installed";
    for (const QSize screenSize : {QSize(1366, 768), QSize(1920, 1080)}) {
        const QString name = QStringLiteral("%1x%2").arg(screenSize.width()).arg(screenSize.height());
        SCOPED_TRACE(name.toStdString());
        checkScreen(screenSize, name);
    }
}
