#include "ortho/orthorectifyworker.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/firelimits.h"
#include "datasource/cutmconverter.h"
#include "geodata/celevationdata.h"
#include "geodata/cmosaic.h"
#include "geodata/desmoke.h"
#include "mission/ancillary.h"
#include "ortho/crectifiedstripchart.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <memory>

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
    const QFileInfo info(logPath);
    QString base = info.baseName();
    const int cut = base.lastIndexOf(QLatin1Char('_'));
    if (cut >= 0)
        base = base.left(cut);
    return QDir::toNativeSeparators(info.path() + QLatin1Char('/') + base);
}

bool OrthoRectifyWorker::RunAreaBox(const RunValues &v, double *west, double *north, double *east, double *south)
{
    // An area never grown keeps its start values (9.99e99 / -9.99e99):
    // converting those would ask for elevation of a meaningless box.
    const double xs[4] = {v.easting1, v.easting2, v.easting2, v.easting1};
    const double ys[4] = {v.northing1, v.northing1, v.northing2, v.northing2};
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(xs[i]) || !std::isfinite(ys[i]) || std::fabs(xs[i]) > 1e8 || std::fabs(ys[i]) > 1e8)
            return false;
    CUtmConverter converter;
    converter.SetCentralMeridian(v.centralMeridian);
    double w = 1e9, e = -1e9, n = -1e9, s = 1e9;
    for (int i = 0; i < 4; ++i) {
        double lat = 0.0, lon = 0.0;
        converter.UtmToLatLon(ys[i], xs[i], 0, &lat, &lon, 2);
        if (!std::isfinite(lat) || !std::isfinite(lon))
            return false;
        w = std::min(w, lon);
        e = std::max(e, lon);
        n = std::max(n, lat);
        s = std::min(s, lat);
    }
    *west = w;
    *north = n;
    *east = e;
    *south = s;
    return true;
}

void OrthoRectifyWorker::ProcessFile(const QString &path, const RunValues &v)
{
    FileResult result;
    result.path = path;
    const QFileInfo info(path);
    const QString base = info.baseName();
    auto finish = [&](const QString &what) {
        qDebug().noquote() << QStringLiteral("Orthorectify worker: %1: %2").arg(info.fileName(), what);
        QMutexLocker lock(&mutex);
        processed.append(path);
        results.append(result);
        lastValues = v;
    };

    // A log that is gone or unreadable (moved by the operator, a name
    // queued twice) has nothing to desmoke, rectify or announce.
    if (!info.isFile() || !info.isReadable()) {
        result.logMissing = true;
        finish(QStringLiteral("the log cannot be read; skipped"));
        return;
    }

    // 1-2. The run's elevation raster, unless the caller made it.
    const QString elevationName = ElevationName(path);
    if (!v.elevationReady) {
        double west = 0.0, north = 0.0, east = 0.0, south = 0.0;
        bool ok = RunAreaBox(v, &west, &north, &east, &south);
        if (ok) {
            CElevationData extractor;
            ok = extractor.ExtractArea(west, north, east, south, elevationName);
        }
        if (!ok) {
            result.elevationFailed = true;
            finish(QStringLiteral("no elevation data for the run area; skipped"));
            return;
        }
        result.elevationExtracted = true;
    }

    // 3-4. Fire pixels recomputed and desmoked with the stored parameters.
    {
        QSettings settings;
        const double a2 = settings.value(QStringLiteral("LastUsed/FireDetectPolyA2"), 0.0).toDouble();
        const double a1 = settings.value(QStringLiteral("LastUsed/FireDetectPolyA1"), 0.0).toDouble();
        const double a0 = settings.value(QStringLiteral("LastUsed/FireDetectPolyA0"), 0.0).toDouble();
        const int fireLimit = ChnBLimitFromSettings(
            settings.value(QStringLiteral("LastUsed/FireDetectChnBFireLimit"), kDefaultChnBFireLimit).toLongLong());
        const int coldLimit = ChnBLimitFromSettings(
            settings.value(QStringLiteral("LastUsed/FireDetectChnBColdLimit"), kDefaultChnBColdLimit).toLongLong());
        // A failed run leaves the log as recorded; the products are then
        // made from the fire pixels of the flight.
        result.desmoke = DesmokeLog(path, a2, a1, a0, fireLimit, coldLimit, curve, nullptr);
    }

    // 5. The ortho products, into the log's folder.
    {
        auto log = std::make_unique<CCindrelDspLog>(curve);
        log->OnFileOpen(path);
        auto rectifier = std::make_unique<CRectifiedStripChart>(log.get());
        rectifier->SetOutputDirectory(info.absolutePath());
        rectifier->SetProductVersion(v.productVersion);
        rectifier->SetTailNumber(v.tailNumber);
        rectifier->SetTechName(v.techName);
        rectifier->Process(QString());
        result.outcome = int(rectifier->GetOutcome());
        result.products = rectifier->Products();
        rectifier.reset();
        log->Close();
    }

    // 6. The mission mosaic, rebuilt from every pass in the folder (also
    // when this run produced nothing: earlier passes still make it).
    {
        auto mosaic = std::make_unique<CMosaic>(path);
        result.mosaicSaved = mosaic->Saved();
        result.mosaicPath = mosaic->OutputPath();
    }

    // 7. The site's script hears of the finished log.
    result.script = RunAncillary(1, QStringList{base});

    finish(QStringLiteral("desmoke %1, %2, %3 products, mosaic %4, script %5")
               .arg(result.desmoke == 0 ? QStringLiteral("done") : QStringLiteral("failed"),
                    CRectifiedStripChart::OutcomeText(CRectifiedStripChart::Outcome(result.outcome)))
               .arg(result.products.size())
               .arg(result.mosaicSaved ? QStringLiteral("written") : QStringLiteral("not written"))
               .arg(result.script == 1 ? QStringLiteral("ran") : QStringLiteral("not run")));
}
