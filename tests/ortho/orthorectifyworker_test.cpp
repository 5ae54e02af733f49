#include "datasource/coldcurve.h"
#include "ortho/orthorectifyworker.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {
// The worker on its own thread, started the way the main window starts it.
struct WorkerOnThread {
    ColdCurve curve;
    QThread thread;
    QPointer<OrthoRectifyWorker> worker;
    WorkerOnThread()
    {
        worker = new OrthoRectifyWorker(&curve);
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, worker.data(), &QObject::deleteLater);
        thread.start(QThread::InheritPriority);
        QTimer::singleShot(0, worker.data(), &OrthoRectifyWorker::doWork);
    }
    ~WorkerOnThread() { shutdown(); }
    void shutdown()
    {
        if (worker)
            worker->Stop();
        thread.quit();
        thread.wait();
    }
    bool waitProcessed(int n, int ms = 3000)
    {
        QElapsedTimer t;
        t.start();
        while (worker->Processed().size() < n && t.elapsed() < ms)
            QThread::msleep(2);
        return worker->Processed().size() >= n;
    }
};
} // namespace

TEST(OrthoWorkerQueue, FilesProcessedInOrderWithValuesOfTheirTime)
{
    WorkerOnThread w;
    QElapsedTimer t;
    t.start();
    while (!w.worker->IsRunning() && t.elapsed() < 2000)
        QThread::msleep(1);
    ASSERT_TRUE(w.worker->IsRunning());
    EXPECT_NE(w.thread.currentThread(), &w.thread);

    w.worker->SetProductVersion(QStringLiteral("1.0"));
    w.worker->SetTailNumber(QStringLiteral("N123"));
    w.worker->SetRunArea(1000.0, 5000.0, 2000.0, 4000.0, -117);
    w.worker->SetElevationReady(false);
    w.worker->AddFile(QStringLiteral("/tmp/a_1.plf"));
    w.worker->AddFile(QStringLiteral("/tmp/a_2.plf"));
    ASSERT_TRUE(w.waitProcessed(2));
    EXPECT_EQ(w.worker->Processed(), (QStringList{"/tmp/a_1.plf", "/tmp/a_2.plf"}));
    EXPECT_EQ(w.worker->PendingCount(), 0);
    auto v = w.worker->LastRunValues();
    EXPECT_EQ(v.productVersion, QStringLiteral("1.0"));
    EXPECT_EQ(v.tailNumber, QStringLiteral("N123"));
    EXPECT_DOUBLE_EQ(v.easting1, 1000.0);
    EXPECT_DOUBLE_EQ(v.northing2, 4000.0);
    EXPECT_EQ(v.centralMeridian, -117);
    EXPECT_FALSE(v.elevationReady);

    // A later file is taken with the values set before it was added.
    w.worker->SetElevationReady(true);
    w.worker->SetProductVersion(QStringLiteral("Cindrel64 1.0"));
    w.worker->AddFile(QStringLiteral("/tmp/b_1.plf"));
    ASSERT_TRUE(w.waitProcessed(3));
    v = w.worker->LastRunValues();
    EXPECT_TRUE(v.elevationReady);
    EXPECT_EQ(v.productVersion, QStringLiteral("Cindrel64 1.0"));
}

TEST(OrthoWorkerShutdown, StopWhileIdleEndsLoopAndThreadDeletesWorker)
{
    auto w = std::make_unique<WorkerOnThread>();
    QElapsedTimer started;
    started.start();
    while (!w->worker->IsRunning() && started.elapsed() < 2000)
        QThread::msleep(1);
    ASSERT_TRUE(w->worker->IsRunning());
    QElapsedTimer t;
    t.start();
    w->shutdown();
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(w->thread.isFinished());
    // The thread's finished signal deleted the worker on its way out.
    EXPECT_TRUE(w->worker.isNull());
}

TEST(OrthoWorkerShutdown, StopWithQueuedFilesEmptiesTheQueueFirst)
{
    WorkerOnThread w;
    QElapsedTimer started;
    started.start();
    while (!w.worker->IsRunning() && started.elapsed() < 2000)
        QThread::msleep(1);
    ASSERT_TRUE(w.worker->IsRunning());
    QStringList names;
    for (int i = 0; i < 50; ++i) {
        names << QStringLiteral("/tmp/q_%1.plf").arg(i);
        w.worker->AddFile(names.last());
    }
    QPointer<OrthoRectifyWorker> p = w.worker;
    OrthoRectifyWorker *raw = p.data();
    // Ask it to stop at once: every queued file is still taken.
    raw->Stop();
    // Wait for the loop to end without deleting it yet.
    QElapsedTimer t;
    t.start();
    while (raw->IsRunning() && t.elapsed() < 3000)
        QThread::msleep(1);
    EXPECT_FALSE(raw->IsRunning());
    EXPECT_EQ(raw->Processed(), names);
}
