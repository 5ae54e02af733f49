#include "ortho/orthorectifyworker.h"

#include <QDebug>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

OrthoRectifyWorker::OrthoRectifyWorker(ColdCurve *c) : QObject(nullptr), curve(c) {}

OrthoRectifyWorker::~OrthoRectifyWorker() = default;

void OrthoRectifyWorker::AddFile(const QString &path)
{
    QMutexLocker lock(&mutex);
    queue.append(path);
}

void OrthoRectifyWorker::SetRunArea(double easting1, double northing1, double easting2, double northing2,
                                    int centralMeridian)
{
    QMutexLocker lock(&mutex);
    values.easting1 = easting1;
    values.northing1 = northing1;
    values.easting2 = easting2;
    values.northing2 = northing2;
    values.centralMeridian = centralMeridian;
}

void OrthoRectifyWorker::SetProductVersion(const QString &text)
{
    QMutexLocker lock(&mutex);
    values.productVersion = text;
}

void OrthoRectifyWorker::SetTailNumber(const QString &text)
{
    QMutexLocker lock(&mutex);
    values.tailNumber = text;
}

void OrthoRectifyWorker::SetTechName(const QString &text)
{
    QMutexLocker lock(&mutex);
    values.techName = text;
}

void OrthoRectifyWorker::SetElevationReady(bool ready)
{
    QMutexLocker lock(&mutex);
    values.elevationReady = ready;
}

int OrthoRectifyWorker::PendingCount() const
{
    QMutexLocker lock(&mutex);
    return queue.size();
}

QStringList OrthoRectifyWorker::Processed() const
{
    QMutexLocker lock(&mutex);
    return processed;
}

bool OrthoRectifyWorker::ElevationReady() const
{
    QMutexLocker lock(&mutex);
    return values.elevationReady;
}

QString OrthoRectifyWorker::ProductVersion() const
{
    QMutexLocker lock(&mutex);
    return values.productVersion;
}

OrthoRectifyWorker::RunValues OrthoRectifyWorker::LastRunValues() const
{
    QMutexLocker lock(&mutex);
    return lastValues;
}

void OrthoRectifyWorker::doWork()
{
    running.store(true);
    do {
        for (;;) {
            QString path;
            RunValues taken;
            {
                QMutexLocker lock(&mutex);
                if (queue.isEmpty())
                    break;
                path = queue.takeFirst();
                taken = values;
            }
            ProcessFile(path, taken);
        }
        QThread::msleep(10);
        // A file queued during the sleep (the last run's log at shutdown)
        // is still taken before the loop ends.
    } while (!stopFlag.load() || PendingCount() > 0);
    running.store(false);
}

void OrthoRectifyWorker::ProcessFile(const QString &path, const RunValues &v)
{
    Q_UNUSED(curve);
    qDebug().noquote() << QStringLiteral("Orthorectify worker: took %1 (version %2, tail %3, tech %4, "
                                         "elevation %5); processing is not available in this build")
                              .arg(QFileInfo(path).fileName(), v.productVersion, v.tailNumber, v.techName,
                                   v.elevationReady ? QStringLiteral("ready") : QStringLiteral("to extract"));
    QMutexLocker lock(&mutex);
    processed.append(path);
    lastValues = v;
}
