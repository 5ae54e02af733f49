#include "ortho/logproductchain.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/firelimits.h"
#include "datasource/cutmconverter.h"
#include "geodata/celevationdata.h"
#include "geodata/cmosaic.h"
#include "geodata/desmoke.h"
#include "mission/ancillary.h"
#include "ortho/crectifiedstripchart.h"
#include "platform/settingskeys.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <memory>

QString LogOutcome::Summary() const
{
    const QString name = QFileInfo(path).fileName();
    if (Succeeded())
        return QStringLiteral("%1: %2 products, mosaic %3")
            .arg(name)
            .arg(products.size())
            .arg(mosaicSaved ? QStringLiteral("written") : QStringLiteral("not written"));
    return QStringLiteral("%1: no products - %2").arg(name, reason);
}

bool LogProductChain::RunAreaBox(const LogJob &v, double *west, double *north, double *east, double *south)
{
    // An area never grown keeps its start values (9.99e99 / -9.99e99):
    // converting those would ask for elevation of a meaningless box.
    const double xs[4] = {v.easting1, v.easting2, v.easting2, v.easting1};
    const double ys[4] = {v.northing1, v.northing1, v.northing2, v.northing2};
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(xs[i]) || !std::isfinite(ys[i]) || std::fabs(xs[i]) > 1e8 || std::fabs(ys[i]) > 1e8)
            return false;
    // The grid needs its meridian: 0 would read the area in no zone at all.
    if (v.centralMeridian == 0)
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

QString LogOutcome::RecordPath(const QString &logPath)
{
    const QFileInfo info(logPath);
    return info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral("_processing.json"));
}

bool LogOutcome::WriteRecord(bool mosaicLater, bool noScript) const
{
    QJsonObject o;
    o.insert(QStringLiteral("log"), QFileInfo(path).fileName());
    o.insert(QStringLiteral("succeeded"), Succeeded());
    // A batch builds the mosaic after its last log: not "not written".
    o.insert(QStringLiteral("summary"),
             mosaicLater && Succeeded() ? QStringLiteral("%1: %2 products, mosaic rebuilt after the last log")
                                              .arg(QFileInfo(path).fileName())
                                              .arg(products.size())
                                        : Summary());
    o.insert(QStringLiteral("reason"), reason);
    QJsonArray steps;
    auto step = [&steps](const QString &name, const QString &result, bool ok) {
        QJsonObject s;
        s.insert(QStringLiteral("step"), name);
        s.insert(QStringLiteral("result"), result);
        s.insert(QStringLiteral("ok"), ok);
        steps.append(s);
    };
    const bool reached = !logMissing && !elevationFailed;
    step(QStringLiteral("elevation"),
         elevationFailed ? reason
                         : (elevationExtracted ? QStringLiteral("extracted for the run area")
                                               : QStringLiteral("raster made before the run")),
         !elevationFailed);
    if (reached) {
        step(QStringLiteral("fire detection and desmoking"),
             desmoke == 0 ? QStringLiteral("fire pixels recomputed and desmoked")
                          : QStringLiteral("failed: the fire pixels of the flight were used"),
             desmoke == 0);
        step(QStringLiteral("ortho products"),
             Succeeded() ? QStringLiteral("%1 files written").arg(products.size()) : reason, Succeeded());
        if (mosaicLater)
            step(QStringLiteral("mosaic and fire points"), QStringLiteral("rebuilt once after the last log"), true);
        else
            step(QStringLiteral("mosaic and fire points"),
                 mosaicSaved ? QStringLiteral("%1 written").arg(QFileInfo(mosaicPath).fileName())
                             : QStringLiteral("mosaic not written"),
                 mosaicSaved);
        step(QStringLiteral("site script"),
             noScript ? QStringLiteral("left out") : (script == 1 ? QStringLiteral("started") : QStringLiteral("not started")),
             true);
    }
    o.insert(QStringLiteral("steps"), steps);
    QJsonArray files;
    for (const QString &p : products)
        files.append(QFileInfo(p).fileName());
    o.insert(QStringLiteral("products"), files);
    o.insert(QStringLiteral("mosaic"), mosaicSaved ? QFileInfo(mosaicPath).fileName() : QString());
    o.insert(QStringLiteral("firePoints"), QFileInfo(firePointsPath).fileName());
    QSaveFile f(RecordPath(path));
    return f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(o).toJson()) > 0 && f.commit();
}

bool LogProductChain::ExtractElevation(double west, double north, double east, double south,
                                       const QString &elevationName, LogOutcome *result)
{
    CElevationData extractor;
    const bool ok = extractor.ExtractArea(west, north, east, south, elevationName);
    // An area no tile meets is "extracted" without a file being written.
    if (!ok || !QFileInfo::exists(elevationName)) {
        result->elevationFailed = true;
        result->status = LogOutcome::Status::NoElevation;
        result->reason = !ok ? QStringLiteral("the elevation data of the run area could not be extracted")
                             : QStringLiteral("no elevation tile covers the run area");
        return false;
    }
    return true;
}

void LogProductChain::BuildMosaic(const QString &logPath, LogOutcome *result, int threads)
{
    auto mosaic = std::make_unique<CMosaic>(logPath, false, threads);
    result->mosaicSaved = mosaic->Saved();
    result->mosaicPath = mosaic->OutputPath();
    if (!mosaic->FirePointsBase().isEmpty())
        result->firePointsPath = mosaic->FirePointsBase() + QStringLiteral(".geojson");
}

int LogProductChain::RunScript(const QString &logPath)
{
    return RunAncillary(1, QStringList{QFileInfo(logPath).baseName()});
}

LogOutcome LogProductChain::Run(const LogJob &job) const
{
    bool record = true;
    const LogOutcome result = RunSteps(job, &record);
    if (record && !result.logMissing && !result.WriteRecord(!job.buildMosaic, !job.runScript))
        qWarning() << "cannot write" << LogOutcome::RecordPath(job.logPath);
    return result;
}

LogOutcome LogProductChain::RunSteps(const LogJob &job, bool *record) const
{
    LogOutcome result;
    result.path = job.logPath;
    const QFileInfo info(job.logPath);

    // A log that is gone or unreadable (moved by the operator, a name
    // queued twice) has nothing to desmoke, rectify or announce.
    if (!info.isFile() || !info.isReadable()) {
        result.logMissing = true;
        result.status = LogOutcome::Status::LogMissing;
        result.reason = QStringLiteral("the log cannot be read");
        return result;
    }

    // 1-2. The run's elevation raster, unless the caller made it; its name
    // is the one the rectifier opens beside the log.
    const QString elevationName = CCindrelDspLog::ElevationFileName(job.logPath);
    if (elevationName.isEmpty()) {
        result.elevationFailed = true;
        result.status = LogOutcome::Status::NoElevation;
        result.reason = QStringLiteral("the log name has no \"_\", so it names no elevation raster");
        return result;
    }
    if (!job.elevationReady) {
        double west = 0.0, north = 0.0, east = 0.0, south = 0.0;
        if (!RunAreaBox(job, &west, &north, &east, &south)) {
            result.elevationFailed = true;
            result.status = LogOutcome::Status::NoRunArea;
            result.reason = QStringLiteral("no run area to extract elevation data for");
            return result;
        }
        if (job.progress)
            job.progress(QStringLiteral("elevation"));
        if (!ExtractElevation(west, north, east, south, elevationName, &result))
            return result;
        result.elevationExtracted = true;
    }

    // The caller's raster, when it is still being made, is waited for
    // before anything in the log's folder changes.
    bool asked = false, elevationMade = true;
    const auto waitForElevation = [&]() {
        if (!asked) {
            asked = true;
            elevationMade = !job.elevationMade || job.elevationMade();
        }
        return elevationMade;
    };

    // 3-4. Fire pixels recomputed and desmoked with the stored parameters.
    if (job.progress)
        job.progress(QStringLiteral("desmoke"));
    {
        QSettings settings;
        const double a2 = settings.value(SettingsKey::FireDetectPolyA2, 0.0).toDouble();
        const double a1 = settings.value(SettingsKey::FireDetectPolyA1, 0.0).toDouble();
        const double a0 = settings.value(SettingsKey::FireDetectPolyA0, 0.0).toDouble();
        const int fireLimit = ChnBLimitFromSettings(settings.value(SettingsKey::FireDetectChnBFireLimit, kDefaultChnBFireLimit).toLongLong());
        const int coldLimit = ChnBLimitFromSettings(settings.value(SettingsKey::FireDetectChnBColdLimit, kDefaultChnBColdLimit).toLongLong());
        // A failed run leaves the log as recorded; the products are then
        // made from the fire pixels of the flight.
        DesmokeThreads threads;
        threads.count = job.desmokeThreads;
        threads.gate = job.desmokeGate;
        result.desmoke =
            DesmokeLog(job.logPath, a2, a1, a0, fireLimit, coldLimit, curve, nullptr, threads, waitForElevation);
    }
    if (!waitForElevation()) {
        *record = false;
        result.desmoke = -1;
        result.elevationFailed = true;
        result.status = LogOutcome::Status::NoElevation;
        result.reason = QStringLiteral("the elevation raster of the run was not made");
        return result;
    }

    // 5. The ortho products, into the log's folder.
    if (job.progress)
        job.progress(QStringLiteral("orthorectify"));
    {
        auto log = std::make_unique<CCindrelDspLog>(curve);
        log->OnFileOpen(job.logPath);
        auto rectifier = std::make_unique<CRectifiedStripChart>(log.get());
        rectifier->SetOutputDirectory(info.absolutePath());
        rectifier->SetProductVersion(job.productVersion);
        rectifier->SetTailNumber(job.tailNumber);
        rectifier->SetTechName(job.techName);
        if (job.rectifyProgress)
            rectifier->SetProgress(job.rectifyProgress);
        if (job.rectifierThreads > 0)
            rectifier->SetThreads(job.rectifierThreads);
        if (job.secondThreadGate)
            rectifier->SetSecondThreadGate(job.secondThreadGate);
        rectifier->Process(QString());
        result.outcome = int(rectifier->GetOutcome());
        result.products = rectifier->Products();
        rectifier.reset();
        log->Close();
    }
    const auto outcome = CRectifiedStripChart::Outcome(result.outcome);
    if (outcome == CRectifiedStripChart::Produced) {
        result.status = LogOutcome::Status::ProductsWritten;
    } else if (outcome == CRectifiedStripChart::NoElevation) {
        result.status = LogOutcome::Status::NoElevation;
        result.reason = QStringLiteral("no elevation data for the run (%1 missing)")
                            .arg(QFileInfo(elevationName).fileName());
    } else {
        result.status = LogOutcome::Status::RectifierFailed;
        result.reason = QStringLiteral("rectifier failed: %1").arg(CRectifiedStripChart::OutcomeText(outcome));
    }

    // 6. The mission mosaic, rebuilt from every pass in the folder (also
    // when this run produced nothing: earlier passes still make it).
    if (job.buildMosaic) {
        if (job.progress)
            job.progress(QStringLiteral("mosaic"));
        BuildMosaic(job.logPath, &result);
    }

    // 7. The site's script hears of the finished log.
    if (job.runScript) {
        if (job.progress)
            job.progress(QStringLiteral("script"));
        result.script = RunScript(job.logPath);
    }
    return result;
}
