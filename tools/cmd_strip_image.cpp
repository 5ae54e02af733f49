// cindrel strip-image: rebuilds the strip chart image of a flight log in two
// passes (channel B statistics, then the stretched image), written as
// <log base name>.tif beside the log with its JPEG copy in "jpeg" there.
#include "datasource/ccindreldsplog.h"
#include "datasource/firelimits.h"
#include "platform/settingskeys.h"
#include "datasource/coldcurve.h"
#include "platform/notice.h"
#include "stripchart/standalonepassservices.h"
#include "stripchart/stripimagerebuild.h"
#include "tools/command.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <memory>

namespace {
using namespace cindrel::tool;

int run(const Invocation &in)
{
    const QString path = in.positional(0);
    const QFileInfo fi(path);
    if (!fi.exists())
        return in.error(QStringLiteral("%1: no such file").arg(QDir::toNativeSeparators(path)));
    if (!fi.isFile())
        return in.error(QStringLiteral("%1: not a file").arg(QDir::toNativeSeparators(path)));
    double elevation = 0.0;
    if (!in.optDouble(QStringLiteral("elevation"), 0.0, &elevation, -500.0, 9000.0))
        return kUsage;

    // The fire detection settings the operator last used, as a replay takes them.
    QSettings settings;
    const bool usePoly = settings.value(SettingsKey::FireDetectUsePoly, true).toBool();
    const long long bMax = ChnBLimitFromSettings(settings.value(SettingsKey::FireDetectChnBFireLimit, kDefaultChnBFireLimit).toLongLong());
    const long long bMin = ChnBLimitFromSettings(settings.value(SettingsKey::FireDetectChnBColdLimit, kDefaultChnBColdLimit).toLongLong());
    const double a2 = settings.value(SettingsKey::FireDetectPolyA2, 0.0).toDouble();
    const double a1 = settings.value(SettingsKey::FireDetectPolyA1, 0.0).toDouble();
    const double a0 = settings.value(SettingsKey::FireDetectPolyA0, 0.0).toDouble();

    auto curve = std::make_unique<ColdCurve>();
    curve->resetStartValues();
    CCindrelDspLog log(curve.get());
    log.SetFireDetectParams(usePoly, std::uint32_t(bMax), std::uint32_t(bMin), a2, a1, a0);
    Notice::clearRecords();
    log.OnFileOpen(fi.absoluteFilePath());
    if (!log.isOpen) {
        const QString why = Notice::count() ? Notice::last().text : QStringLiteral("cannot open");
        return in.error(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why));
    }

    StandalonePassServices services(&log);
    services.groundElevation = elevation;
    services.missionName = in.value(QStringLiteral("mission"));
    services.tailNumber = in.value(QStringLiteral("tail"));
    services.techName = in.value(QStringLiteral("tech"));
    const QString tmp = fi.absolutePath() + QLatin1Char('/') + fi.completeBaseName() + QStringLiteral(".tmp");

    in.err() << "cindrel strip-image: " << QDir::toNativeSeparators(fi.absoluteFilePath())
             << ": two passes over the log\n";
    in.err().flush();
    const StripRebuildResult r = RebuildStripImage(services, tmp);
    if (Notice::count() && Notice::last().kind == Notice::Kind::Critical)
        in.err() << "cindrel strip-image: " << Notice::last().title << ": " << Notice::last().text << "\n";
    if (!r.ok)
        return in.error(QStringLiteral("%1: no line with sane navigation").arg(QDir::toNativeSeparators(path)));
    if (r.imagePath.isEmpty())
        return in.error(QStringLiteral("%1: the image could not be written").arg(QDir::toNativeSeparators(tmp)));

    in.out() << "image: " << QDir::toNativeSeparators(r.imagePath) << "\n";
    in.out() << "jpeg: " << (r.jpegPath.isEmpty() ? QStringLiteral("(none)") : QDir::toNativeSeparators(r.jpegPath))
             << "\n";
    in.out() << "lines: " << r.lines << "\n";
    if (r.stretch.degenerate)
        in.out() << "stretch: none (channel B without spread; swath mid-grey)\n";
    else
        in.out() << "stretch: mean " << QString::number(r.stretch.mean, 'f', 1) << " sd "
                 << QString::number(r.stretch.sd, 'f', 1) << "\n";
    return kSuccess;
}

const bool registered = registerCommand({
    QStringLiteral("strip-image"),
    QStringLiteral("Rebuild the strip chart image of a flight log"),
    QStringLiteral("LOG [--elevation METRES] [--mission NAME] [--tail NUMBER] [--tech NAME]"),
    QStringLiteral("Reads the log twice: the first pass measures channel B over the pixels that are not fire, "
                   "the second stretches channel B to three standard deviations either side of its mean and "
                   "draws every line, fire pixels in red and widened by one pixel. Writes <log base name>.tif "
                   "beside the log and its JPEG copy in the folder \"jpeg\" there. The fire detection limits "
                   "are the operator's last used settings."),
    {{QStringLiteral("elevation"), QStringLiteral("METRES"),
      QStringLiteral("ground elevation of the run (default 0): the image scale in the labels")},
     {QStringLiteral("mission"), QStringLiteral("NAME"), QStringLiteral("mission name for the image description")},
     {QStringLiteral("tail"), QStringLiteral("NUMBER"), QStringLiteral("aircraft tail number for the footer")},
     {QStringLiteral("tech"), QStringLiteral("NAME"), QStringLiteral("IR technician for the run texts")}},
    1,
    1,
    run});

} // namespace
