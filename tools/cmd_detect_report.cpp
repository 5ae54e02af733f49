// cindrel detect-report: how many of the fires a simulated data set's passes
// saw survive the live fire test and the analyst's chain (re-detection and
// desmoke), measured against the data set's truth.
#include "datasource/ccindreldsplog.h"
#include "datasource/cdspdatabuffer.h"
#include "datasource/coldcurve.h"
#include "datasource/firelimits.h"
#include "display/dspsig.h"
#include "platform/paths.h"
#include "sim/detectmeasure.h"
#include "tools/command.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <map>
#include <memory>

namespace {
using namespace cindrel::tool;

// Rows of a truth table as maps from column name to text.
bool readCsv(const QString &path, std::vector<std::map<QString, QString>> *rows, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    QTextStream in(&f);
    const QStringList header = in.readLine().trimmed().split(QLatin1Char(','));
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QStringList cells = line.split(QLatin1Char(','));
        std::map<QString, QString> row;
        for (int i = 0; i < header.size() && i < cells.size(); ++i)
            row[header[i]] = cells[i];
        rows->push_back(row);
    }
    return true;
}

// The thresholds the panel's Auto* gives after `lines` lines of a pass
// flown with `flown`: the newest line's fire margin, channel B maximum and
// minimum, each plus the panel's stored amount.
sim::FireTestSettings autoSettings(const std::vector<ScanLineRec> &records, int lines, const sim::FireTestSettings &flown,
                                   ColdCurve &curve)
{
    CDspDataBuffer ring(&curve);
    ring.SetFireDetectParams(true, flown.fireLimit, flown.coldLimit, 0.0, 0.0, flown.a0);
    ring.SetFireThresholdOverride(std::uint32_t(flown.fireThreshold));
    ScanLineRec newest;
    newest.clear();
    for (int k = 0; k < lines && k < int(records.size()); ++k) {
        ScanLineRec r = records[std::size_t(k)];
        if (ring.AddLine(r))
            newest = r;
    }
    const DspSig::AutoAmounts amounts = DspSig::StoredAutoAmounts();
    sim::FireTestSettings s = flown;
    s.fireThreshold = newest.fireMargin + amounts.fire;
    s.fireLimit = newest.chnBMax + amounts.bMax;
    s.coldLimit = newest.chnBMin + amounts.bMin;
    return s;
}

int run(const Invocation &in)
{
    const QString dir = QDir(in.positional(0)).absolutePath();
    long long threshold, fireLimit, coldLimit;
    double autoSeconds = 0.0;
    if (!in.optInt(QStringLiteral("fire-threshold"), 100, &threshold, -32768, 32767)
        || !in.optInt(QStringLiteral("fire-limit"), kDefaultChnBFireLimit, &fireLimit, -100000, 100000)
        || !in.optInt(QStringLiteral("cold-limit"), kDefaultChnBColdLimit, &coldLimit, -100000, 100000)
        || !in.optDouble(QStringLiteral("auto"), 0.0, &autoSeconds, 0.0, 3600.0))
        return kUsage;
    const bool details = in.has(QStringLiteral("details"));
    sim::FireTestSettings flown;
    flown.fireThreshold = std::int32_t(threshold);
    flown.fireLimit = std::int32_t(fireLimit);
    flown.coldLimit = std::int32_t(coldLimit);

    QString error;
    std::vector<std::map<QString, QString>> passes, seen;
    if (!readCsv(dir + QStringLiteral("/truth/passes.csv"), &passes, &error)
        || !readCsv(dir + QStringLiteral("/truth/sightings.csv"), &seen, &error))
        return in.error(error);
    if (!seen.empty() && !seen.front().count(QStringLiteral("first_sample")))
        return in.error(QStringLiteral("%1 has no sample ranges; simulate the data set again")
                            .arg(QDir::toNativeSeparators(dir + QStringLiteral("/truth/sightings.csv"))));
    QTemporaryDir work;
    if (!work.isValid())
        return in.error(QStringLiteral("cannot create a work folder"));
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(dir + QStringLiteral("/c-drive")));
    const QString logDir = cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"));

    ColdCurve curve;
    curve.resetStartValues();
    sim::DetectionFigures total;
    QTextStream &out = in.out();
    out << "pass  sightings  live found  live false  found  false clusters  median shift (px)  max shift (px)"
           "  settings (threshold, fire limit, cold limit)\n";
    for (const auto &p : passes) {
        const QString pass = p.at(QStringLiteral("pass"));
        const QString log = logDir + QLatin1Char('/') + p.at(QStringLiteral("log_file"));
        std::vector<sim::FireSighting> sightings;
        for (const auto &s : seen) {
            if (s.at(QStringLiteral("pass")) != pass)
                continue;
            sim::FireSighting f;
            f.fireId = s.at(QStringLiteral("fire_id")).toInt();
            f.samples = s.at(QStringLiteral("samples")).toInt();
            f.firstLineIndex = s.at(QStringLiteral("first_line_index")).toUInt();
            f.lastLineIndex = s.at(QStringLiteral("last_line_index")).toUInt();
            f.firstSample = s.at(QStringLiteral("first_sample")).toInt();
            f.lastSample = s.at(QStringLiteral("last_sample")).toInt();
            sightings.push_back(f);
        }
        std::vector<ScanLineRec> records;
        {
            CCindrelDspLog reader(&curve);
            reader.OnFileOpen(log);
            auto r = std::make_unique<ScanLineRec>();
            while (reader.GetNextLine(r.get()))
                records.push_back(*r);
        }
        if (records.empty())
            return in.error(QStringLiteral("no records in %1").arg(QDir::toNativeSeparators(log)));
        sim::FireTestSettings settings = flown;
        if (autoSeconds > 0.0) {
            // Lines per second from the scan rate and the line interval of the first record.
            const ScanLineRec &first = records.front();
            const double scanRate = first.scanPeriod ? 1e6 / double(first.scanPeriod) : 200.0;
            const double lineRate = scanRate / std::max<std::uint32_t>(first.effectiveInterval(), 1);
            settings = autoSettings(records, int(autoSeconds * lineRate + 0.5), flown, curve);
        }
        sim::DetectionFigures f;
        if (!sim::measurePass(records, sightings, settings, curve, work.path(), &f, &error, nullptr, pass.toInt()))
            return in.error(error);
        total.add(f);
        out << QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8  %9, %10, %11\n")
                   .arg(pass, 4)
                   .arg(f.sightings, 9)
                   .arg(f.liveFound, 10)
                   .arg(f.liveFalse, 10)
                   .arg(f.found, 5)
                   .arg(f.falseClusters, 14)
                   .arg(f.medianShift(), 17, 'f', 2)
                   .arg(f.maxShift(), 14, 'f', 2)
                   .arg(settings.fireThreshold)
                   .arg(settings.fireLimit)
                   .arg(settings.coldLimit);
    }
    if (details) {
        // Every false cluster left after desmoke and every sighting lost,
        // with the stage that lost it.
        out << "\nfalse clusters after desmoke: pass, line, sample, pixels, peak margin over the curve, peak channel B, "
               "made by\n";
        for (const sim::ClusterDetail &d : total.falseDetails)
            out << QStringLiteral("  %1  %2  %3  %4  %5  %6  %7\n")
                       .arg(d.pass, 4)
                       .arg(d.line, 5)
                       .arg(d.sample, 5)
                       .arg(d.pixels, 6)
                       .arg(d.peakMargin, 6)
                       .arg(d.peakB, 6)
                       .arg(d.byFireLimit ? QStringLiteral("fire limit") : QStringLiteral("curve"));
        out << "lost sightings: pass, fire, lost in\n";
        for (const sim::LostSighting &l : total.lost)
            out << QStringLiteral("  %1  %2  %3\n").arg(l.pass, 4).arg(l.fireId, 5).arg(QString::fromLatin1(l.stage));
        out << "\n";
    }
    out << QStringLiteral("all   %1  %2  %3  %4  %5  %6  %7\n")
               .arg(total.sightings, 9)
               .arg(total.liveFound, 10)
               .arg(total.liveFalse, 10)
               .arg(total.found, 5)
               .arg(total.falseClusters, 14)
               .arg(total.medianShift(), 17, 'f', 2)
               .arg(total.maxShift(), 14, 'f', 2);
    out << QStringLiteral("recall %1 %, %2 false clusters per pass\n")
               .arg(100.0 * total.found / std::max(total.sightings, 1), 0, 'f', 1)
               .arg(double(total.falseClusters) / std::max<std::size_t>(passes.size(), 1), 0, 'f', 1);
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("detect-report"),
     QStringLiteral("Measure fire detection of a simulated data set against its truth"),
     QStringLiteral("DIR [--fire-threshold N] [--fire-limit B] [--cold-limit B] [--auto SECONDS] [--details]"),
     QStringLiteral(
         "DIR is a folder written by \"cindrel simulate\". Every pass's log goes through the live fire\n"
         "test and then re-detection and desmoke, with one detection curve learned over the passes in\n"
         "order. Per pass: the fires the truth says the pass saw (sightings), the fires the live test\n"
         "found and its false clusters, the fires left after desmoke and the false clusters left, and\n"
         "how far desmoke moved the centre of the fires it kept (pixels). The logs are not changed.\n"
         "Without --auto the given settings (default: the program's defaults) are used; with --auto the\n"
         "settings are those the threshold panel's Auto* gives after the first SECONDS of each pass.\n"
         "With --details every false cluster left (where, how large, its peak margin over the curve and\n"
         "channel B, and whether the fire limit or the curve made it) and every lost sighting (lost in\n"
         "the live test, in re-detection or by desmoke) are listed too."),
     {{QStringLiteral("fire-threshold"), QStringLiteral("N"), QStringLiteral("fire threshold (default 100)")},
      {QStringLiteral("fire-limit"), QStringLiteral("B"), QStringLiteral("channel B fire limit (default 10000)")},
      {QStringLiteral("cold-limit"), QStringLiteral("B"), QStringLiteral("channel B cold limit (default 1000)")},
      {QStringLiteral("auto"), QStringLiteral("SECONDS"), QStringLiteral("press Auto* after SECONDS of each pass")},
      {QStringLiteral("details"), QString(), QStringLiteral("list every false cluster and lost sighting")}},
     1, 1, run});
} // namespace
