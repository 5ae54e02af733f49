#include "ortho/orthorectifyworker.h"

#include "datasource/ccindreldsplog.h"
#include "geodata/cbil.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QThread>

#include <utility>

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

QList<OrthoRectifyWorker::FileResult> OrthoRectifyWorker::Results() const
{
    QMutexLocker lock(&mutex);
    return results;
}

QString OrthoRectifyWorker::ElevationName(const QString &logPath)
{
    const QString file = CCindrelDspLog::ElevationFileName(logPath);
    return file.isEmpty() ? QString() : QDir::toNativeSeparators(CBil::BaseName(file));
}

bool OrthoRectifyWorker::RunAreaBox(const RunValues &v, double *west, double *north, double *east, double *south)
{
    LogJob job;
    job.easting1 = v.easting1;
    job.northing1 = v.northing1;
    job.easting2 = v.easting2;
    job.northing2 = v.northing2;
    job.centralMeridian = v.centralMeridian;
    return LogProductChain::RunAreaBox(job, west, north, east, south);
}

void OrthoRectifyWorker::SetOutcomeHandler(OutcomeHandler handler)
{
    QMutexLocker lock(&mutex);
    outcomeHandler = std::move(handler);
}

void OrthoRectifyWorker::ProcessFile(const QString &path, const RunValues &v)
{
    LogJob job;
    job.logPath = path;
    job.productVersion = v.productVersion;
    job.tailNumber = v.tailNumber;
    job.techName = v.techName;
    job.easting1 = v.easting1;
    job.northing1 = v.northing1;
    job.easting2 = v.easting2;
    job.northing2 = v.northing2;
    job.centralMeridian = v.centralMeridian;
    job.elevationReady = v.elevationReady;
    const LogOutcome result = LogProductChain(curve).Run(job);

    qDebug().noquote() << QStringLiteral("Orthorectify worker: %1 (desmoke %2, script %3)")
                              .arg(result.Summary(),
                                   result.desmoke == 0 ? QStringLiteral("done") : QStringLiteral("not done"),
                                   result.script == 1 ? QStringLiteral("ran") : QStringLiteral("not run"));
    OutcomeHandler handler;
    {
        QMutexLocker lock(&mutex);
        processed.append(path);
        results.append(result);
        lastValues = v;
        handler = outcomeHandler;
    }
    if (handler)
        handler(result);
}
