// The worker's processing of real logs: elevation, desmoking, products and
// the site script, with a simulated run and DEM.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "geodata/desmoke.h"
#include "mission/ancillary.h"
#include "ortho/crectifiedstripchart.h"
#include "ortho/orthorectifyworker.h"
#include "orthofixtures.h"
#include "common/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPointer>
#include <QSettings>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

using namespace orthotest;

namespace {

// Same scene as the rectifier checks (one set of tiles per test program).
RunRecipe workerRun(const QString &name, int lines = 80)
{
    RunRecipe recipe = eastboundRun(name, lines);
    recipe.extractElevation = false;   // the worker extracts it
    return recipe;
}

// The worker on its own thread, as the main window runs it.
struct Worker {
    ColdCurve curve;
    QThread thread;
    QPointer<OrthoRectifyWorker> worker;
    Worker()
    {
        worker = new OrthoRectifyWorker(&curve);
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, worker.data(), &QObject::deleteLater);
        thread.start(QThread::InheritPriority);
        QTimer::singleShot(0, worker.data(), &OrthoRectifyWorker::doWork);
    }
    ~Worker()
    {
        if (worker)
            worker->Stop();
        thread.quit();
        thread.wait();
    }
    bool waitResults(int n, int ms = 25000)
    {
        QElapsedTimer t;
        t.start();
        while (worker->Results().size() < n && t.elapsed() < ms)
            QThread::msleep(5);
        return worker->Results().size() >= n;
    }
};

// The grid area round the start of the pass, in the grid of meridian -121.
void setAreaAroundStart(OrthoRectifyWorker *w, double halfMetres = 3000.0)
{
    CUtmConverter c;
    c.SetCentralMeridian(-121);
    double n = 0.0, e = 0.0;
    std::int32_t zone = 0;
    c.LatLonToUtm(44.50, -121.50, &n, &e, &zone, 2);
    w->SetRunArea(e - halfMetres, n + halfMetres, e + halfMetres, n - halfMetres, -121);
}

class OrthoWorkerProcessing : public ::testing::Test {
protected:
    QString scripts;
    void SetUp() override
    {
        scripts = testsupport::workDir() + QStringLiteral("/ancillaries");
        QDir().mkpath(scripts);
        QFile f(scripts + QStringLiteral("/int.sh"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("echo \"$1\" >> int_calls.txt\n");
        f.close();
        QFile::remove(scripts + QStringLiteral("/int_calls.txt"));
        ancillary::SetFolder(scripts);
    }
    void TearDown() override { ancillary::SetFolder(QString()); }
    QStringList scriptCalls() const
    {
        QFile f(scripts + QStringLiteral("/int_calls.txt"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

} // namespace

TEST(OrthoWorkerNames, ElevationNameCutsBaseNameAtLastUnderscore)
{
    EXPECT_EQ(OrthoRectifyWorker::ElevationName(QStringLiteral("/data/m/20240715_1432_Demo_3.plf")),
              QDir::toNativeSeparators(QStringLiteral("/data/m/20240715_1432_Demo")));
    // One rule with the rectifier: a dotted name keeps its dots, and an
    // underscore in the folder is not taken for the pass separator.
    for (const QString &log : {QStringLiteral("/data/m/20240715_1432_Demo.v2_3.plf"),
                               QStringLiteral("/data/my_m/run07.plf"), QStringLiteral("/data/m/a.b_1.plf")}) {
        const QString bil = CCindrelDspLog::ElevationFileName(log);
        EXPECT_EQ(OrthoRectifyWorker::ElevationName(log),
                  bil.isEmpty() ? QString() : QDir::toNativeSeparators(bil.left(bil.size() - 4)));
    }
    EXPECT_EQ(OrthoRectifyWorker::ElevationName(QStringLiteral("/data/m/20240715_1432_Demo.v2_3.plf")),
              QDir::toNativeSeparators(QStringLiteral("/data/m/20240715_1432_Demo.v2")));
    EXPECT_TRUE(OrthoRectifyWorker::ElevationName(QStringLiteral("/data/my_m/run07.plf")).isEmpty());
}

TEST(OrthoWorkerNames, RunAreaBoxRejectsUnsetAreaAndOrdersCorners)
{
    OrthoRectifyWorker::RunValues v;   // never set: start values
    double w = 0, n = 0, e = 0, s = 0;
    EXPECT_FALSE(OrthoRectifyWorker::RunAreaBox(v, &w, &n, &e, &s));

    CUtmConverter c;
    c.SetCentralMeridian(-121);
    double north = 0.0, east = 0.0;
    std::int32_t zone = 0;
    c.LatLonToUtm(44.5, -121.5, &north, &east, &zone, 2);
    // Corners given the other way round still give west < east, south < north.
    v.easting1 = east + 1000.0;
    v.northing1 = north - 1000.0;
    v.easting2 = east - 1000.0;
    v.northing2 = north + 1000.0;
    v.centralMeridian = -121;
    ASSERT_TRUE(OrthoRectifyWorker::RunAreaBox(v, &w, &n, &e, &s));
    EXPECT_LT(w, -121.5);
    EXPECT_GT(e, -121.5);
    EXPECT_LT(s, 44.5);
    EXPECT_GT(n, 44.5);
    EXPECT_NEAR(n - s, 2000.0 / 111000.0, 2e-3);
}

TEST_F(OrthoWorkerProcessing, QueuedLogIsDesmokedRectifiedAndAnnounced)
{
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(workerRun(QStringLiteral("wfull")), &run, &error)) << error.toStdString();
    const qint64 recordedSize = QFileInfo(run.log).size();
    QFile::remove(run.folder + QStringLiteral("/20240715_1432_Demo.bil"));

    Worker w;
    w.worker->SetProductVersion(QStringLiteral("1.0"));
    w.worker->SetTailNumber(QStringLiteral("N350CR"));
    w.worker->SetTechName(QStringLiteral("Tech"));
    setAreaAroundStart(w.worker);
    w.worker->SetElevationReady(false);
    w.worker->AddFile(run.log);
    ASSERT_TRUE(w.waitResults(1));

    const OrthoRectifyWorker::FileResult r = w.worker->Results().first();
    EXPECT_FALSE(r.logMissing);
    EXPECT_TRUE(r.elevationExtracted);
    EXPECT_FALSE(r.elevationFailed);
    // The raster under the name the rectifier looks for.
    EXPECT_TRUE(QFileInfo::exists(run.folder + QStringLiteral("/20240715_1432_Demo.bil")));
    EXPECT_TRUE(QFileInfo::exists(run.folder + QStringLiteral("/20240715_1432_Demo.hdr")));
    // Desmoked in place; the untouched recording kept beside it.
    EXPECT_EQ(r.desmoke, 0);
    const QString orig = run.folder + QLatin1Char('/') + run.base + QStringLiteral("orig.plf");
    ASSERT_TRUE(QFileInfo::exists(orig));
    EXPECT_EQ(QFileInfo(orig).size(), recordedSize);
    EXPECT_EQ(QFileInfo(run.log).size(), recordedSize);
    // The products in the log's folder.
    EXPECT_EQ(r.outcome, int(CRectifiedStripChart::Produced));
    EXPECT_EQ(r.products.size(), 6);
    for (const QString &suffix : {QStringLiteral("_ortho"), QStringLiteral("_color"), QStringLiteral("_fire")}) {
        EXPECT_TRUE(QFileInfo::exists(run.folder + QLatin1Char('/') + run.base + suffix + QStringLiteral(".tif")))
            << suffix.toStdString();
        EXPECT_TRUE(QFileInfo::exists(run.folder + QStringLiteral("/jpeg/") + run.base + suffix + QStringLiteral(".jpg")))
            << suffix.toStdString();
    }
    EXPECT_TRUE(r.mosaicSaved);
    // The mission mosaic and its heat points beside them, of this pass.
    const QString mission = run.base.left(run.base.lastIndexOf(QLatin1Char('_')));
    EXPECT_FALSE(QImage(run.folder + QLatin1Char('/') + mission + QStringLiteral("_mosaic.jpg")).isNull());
    for (const char *ext : {".shp", ".shx", ".dbf"})
        EXPECT_TRUE(QFileInfo::exists(run.folder + QLatin1Char('/') + mission + QStringLiteral("_RawHeatData")
                                      + QLatin1String(ext)))
            << ext;
    // The site script heard of it, with the base name, once.
    EXPECT_EQ(r.script, 1);
    EXPECT_EQ(scriptCalls(), QStringList{run.base});
    EXPECT_EQ(w.worker->LastRunValues().tailNumber, QStringLiteral("N350CR"));
}

TEST_F(OrthoWorkerProcessing, ElevationReadyNeverExtractsButStillDesmokesAndAnnounces)
{
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(workerRun(QStringLiteral("wready"), 40), &run, &error)) << error.toStdString();
    QFile::remove(run.folder + QStringLiteral("/20240715_1432_Demo.bil"));

    Worker w;
    setAreaAroundStart(w.worker);
    w.worker->SetElevationReady(true);
    w.worker->AddFile(run.log);
    ASSERT_TRUE(w.waitResults(1));
    const auto r = w.worker->Results().first();
    EXPECT_FALSE(r.elevationExtracted);
    EXPECT_FALSE(QFileInfo::exists(run.folder + QStringLiteral("/20240715_1432_Demo.bil")));
    EXPECT_EQ(r.desmoke, 0);
    EXPECT_EQ(r.outcome, int(CRectifiedStripChart::NoElevation));
    EXPECT_TRUE(r.products.isEmpty());
    // Nothing produced: the later steps still run (no ortho image in the
    // folder, so no mosaic picture).
    EXPECT_FALSE(r.mosaicSaved);
    EXPECT_EQ(scriptCalls(), QStringList{run.base});
}

TEST_F(OrthoWorkerProcessing, FailedExtractionOrMissingLogSkipsTheFileAndTheQueueGoesOn)
{
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(workerRun(QStringLiteral("wskip"), 40), &run, &error)) << error.toStdString();
    const QString orig = run.folder + QLatin1Char('/') + run.base + QStringLiteral("orig.plf");

    Worker w;
    // An area wider than the elevation extraction allows (3 degrees).
    w.worker->SetRunArea(200000.0, 5100000.0, 440000.0, 4900000.0, -121);
    w.worker->SetElevationReady(false);
    w.worker->AddFile(run.log);
    // Each file is taken with the values of its time: wait before changing them.
    ASSERT_TRUE(w.waitResults(1));
    // An area never set.
    w.worker->SetRunArea(9.99e99, 9.99e99, -9.99e99, -9.99e99, -121);
    w.worker->AddFile(run.log);
    ASSERT_TRUE(w.waitResults(2));
    // A log that is not there, with everything else in order.
    setAreaAroundStart(w.worker);
    w.worker->SetElevationReady(true);
    w.worker->AddFile(run.folder + QStringLiteral("/20240715_1432_Demo_9.plf"));
    ASSERT_TRUE(w.waitResults(3));
    const auto results = w.worker->Results();
    EXPECT_TRUE(results[0].elevationFailed);
    EXPECT_TRUE(results[1].elevationFailed);
    EXPECT_TRUE(results[2].logMissing);
    for (const auto &r : results) {
        EXPECT_EQ(r.desmoke, -1);
        EXPECT_EQ(r.outcome, int(CRectifiedStripChart::NotRun));
        EXPECT_EQ(r.script, 0);
        EXPECT_FALSE(r.mosaicSaved);
    }
    // The skipped log was not touched, and nobody was told of it.
    EXPECT_FALSE(QFileInfo::exists(orig));
    EXPECT_TRUE(scriptCalls().isEmpty());
}

TEST_F(OrthoWorkerProcessing, StopWithLogsQueuedFinishesEveryLogInOrder)
{
    SimRun a, b;
    QString error;
    ASSERT_TRUE(makeRun(workerRun(QStringLiteral("wstopA"), 40), &a, &error)) << error.toStdString();
    ASSERT_TRUE(makeRun(workerRun(QStringLiteral("wstopB"), 40), &b, &error)) << error.toStdString();
    // Give the second log a base name of its own for the script's record.
    const QString bLog = b.folder + QStringLiteral("/20240715_1432_Demo_2.plf");
    ASSERT_TRUE(QFile::rename(b.log, bLog));

    auto w = std::make_unique<Worker>();
    QElapsedTimer started;
    started.start();
    while (!w->worker->IsRunning() && started.elapsed() < 2000)
        QThread::msleep(1);
    ASSERT_TRUE(w->worker->IsRunning());
    w->worker->SetElevationReady(false);
    setAreaAroundStart(w->worker);
    w->worker->AddFile(a.log);
    w->worker->AddFile(bLog);
    w->worker->Stop();
    // Shutdown as the main window does it: the thread ends only after the
    // queue has been emptied, and takes the worker with it.
    QPointer<OrthoRectifyWorker> p = w->worker;
    OrthoRectifyWorker *raw = p.data();
    QElapsedTimer t;
    t.start();
    while (raw->IsRunning() && t.elapsed() < 30000)
        QThread::msleep(5);
    ASSERT_FALSE(raw->IsRunning());
    EXPECT_EQ(raw->Processed(), (QStringList{a.log, bLog}));
    const auto results = raw->Results();
    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[0].outcome, int(CRectifiedStripChart::Produced));
    EXPECT_EQ(results[1].outcome, int(CRectifiedStripChart::Produced));
    EXPECT_EQ(scriptCalls(), (QStringList{a.base, QStringLiteral("20240715_1432_Demo_2")}));
    w.reset();
    EXPECT_TRUE(p.isNull());
}

TEST_F(OrthoWorkerProcessing, FireDetectionUsesTheStoredDetectionSettings)
{
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(workerRun(QStringLiteral("wsettings"), 30), &run, &error)) << error.toStdString();
    // A fire limit below every channel B value: every sample is fire, and
    // no cluster is thinned (they all reach the limit).
    {
        QSettings settings;
        settings.setValue(QStringLiteral("LastUsed/FireDetectChnBFireLimit"), -40000);
        settings.setValue(QStringLiteral("LastUsed/FireDetectChnBColdLimit"), -40000);
        settings.sync();
    }
    Worker w;
    w.worker->SetElevationReady(true);
    w.worker->AddFile(run.log);
    ASSERT_TRUE(w.waitResults(1));
    {
        QSettings settings;
        settings.remove(QStringLiteral("LastUsed/FireDetectChnBFireLimit"));
        settings.remove(QStringLiteral("LastUsed/FireDetectChnBColdLimit"));
    }
    EXPECT_EQ(w.worker->Results().first().desmoke, 0);

    QFile log(run.log);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const DesmokeLayout layout = DesmokeLayout::ForFileSize(log.size());
    ASSERT_EQ(log.size() % layout.recordSize, 0);
    const QByteArray all = log.readAll();
    int notFire = 0;
    for (qint64 r = 0; r < log.size() / layout.recordSize; ++r)
        for (int j = 0; j < desmoke::kSamples; ++j)
            if (quint8(all[int(r * layout.recordSize + layout.pixOffset + j)]) != 255)
                ++notFire;
    EXPECT_EQ(notFire, 0);
}
