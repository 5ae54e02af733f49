// cindrel desmoke: re-detect fire and remove smoke clusters in flight logs,
// in place, keeping each untouched log as "<name>orig.plf".
#include "datasource/ccindreldsplog.h"
#include "datasource/firelimits.h"
#include "platform/settingskeys.h"
#include "datasource/coldcurve.h"
#include "geodata/desmoke.h"
#include "platform/notice.h"
#include "tools/command.h"
#include "tools/logscan.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {
using namespace cindrel::tool;

int run(const Invocation &in)
{
    // The stored detection parameters, as the orthorectify worker uses them.
    QSettings settings;
    double a2 = settings.value(SettingsKey::FireDetectPolyA2, 0.0).toDouble();
    double a1 = settings.value(SettingsKey::FireDetectPolyA1, 0.0).toDouble();
    double a0 = 0.0;
    long long fireLimit = 0, coldLimit = 0;
    if (!in.optDouble(QStringLiteral("a0"), settings.value(SettingsKey::FireDetectPolyA0, 0.0).toDouble(),
                      &a0, -1e6, 1e6))
        return kUsage;
    if (!in.optInt(QStringLiteral("fire-limit"),
                   ChnBLimitFromSettings(settings.value(SettingsKey::FireDetectChnBFireLimit, kDefaultChnBFireLimit).toLongLong()), &fireLimit,
                   -100000, 100000))
        return kUsage;
    if (!in.optInt(QStringLiteral("cold-limit"),
                   ChnBLimitFromSettings(settings.value(SettingsKey::FireDetectChnBColdLimit, kDefaultChnBColdLimit).toLongLong()), &coldLimit,
                   -100000, 100000))
        return kUsage;
    const bool verbose = in.has(QStringLiteral("verbose"));

    int status = kSuccess;
    for (const QString &arg : in.positionals()) {
        const QFileInfo fi(arg);
        const QString shown = QDir::toNativeSeparators(arg);
        if (!fi.exists()) {
            status = in.error(QStringLiteral("%1: no such file").arg(shown));
            continue;
        }
        if (!fi.isFile()) {
            status = in.error(QStringLiteral("%1: not a file").arg(shown));
            continue;
        }
        if (!fi.fileName().contains(QLatin1Char('.'))) {
            status = in.error(QStringLiteral("%1: a flight log's name needs an extension such as .plf").arg(shown));
            continue;
        }
        const QString path = fi.absoluteFilePath();

        // A fresh curve learned from the log itself.
        auto curve = std::make_unique<ColdCurve>();
        curve->resetStartValues();
        const LogScan before = scanLog(path, curve.get());
        if (!before.ok) {
            status = in.error(QStringLiteral("%1: %2").arg(shown, before.why));
            continue;
        }
        in.err() << "cindrel desmoke: " << shown << ": " << before.lines << " lines\n";
        in.err().flush();
        const int rc = DesmokeLog(path, a2, a1, a0, int(fireLimit), int(coldLimit), curve.get(),
                                  verbose ? stderr : nullptr);
        if (verbose)
            std::fputc('\n', stderr);
        if (rc != 0) {
            status = in.error(QStringLiteral("%1: desmoke failed; the log is unchanged").arg(shown));
            continue;
        }
        const LogScan after = scanLog(path, nullptr);
        const QString orig = DesmokeFiles(path).orig;
        in.out() << shown << ": " << after.lines << " lines, fire pixels " << before.firePixels << " before, "
                 << after.firePixels << " after; original kept as " << QDir::toNativeSeparators(orig) << "\n";
        in.out().flush();
    }
    return status;
}

const bool registered = registerCommand({
    QStringLiteral("desmoke"),
    QStringLiteral("Re-detect fire and remove smoke clusters in flight logs"),
    QStringLiteral("LOG... [--a0 A0] [--fire-limit B] [--cold-limit B] [--verbose]"),
    QStringLiteral("Recomputes every line's fire pixels from the raw channel samples with the stored detection\n"
                   "parameters and a detection curve learned from the log itself, removes pixels of large\n"
                   "connected clusters that never reach the fire limit in channel B (smoke, hot ground), and\n"
                   "writes the result into the log's image rows. The untouched log is kept beside it as\n"
                   "<name>orig.plf (a second run keeps the first original). A failure leaves the log unchanged.\n"
                   "Defaults come from the settings store (LastUsed/FireDetectPolyA0,\n"
                   "LastUsed/FireDetectChnBFireLimit, LastUsed/FireDetectChnBColdLimit), else 0, 10000 and 1000."),
    {{QStringLiteral("a0"), QStringLiteral("A0"), QStringLiteral("offset of the detection curve")},
     {QStringLiteral("fire-limit"), QStringLiteral("B"), QStringLiteral("channel B above which a pixel is always fire")},
     {QStringLiteral("cold-limit"), QStringLiteral("B"), QStringLiteral("channel B below which a pixel is never fire")},
     {QStringLiteral("verbose"), QString(), QStringLiteral("show the processing's progress texts")}},
    1,
    -1,
    run});

} // namespace
