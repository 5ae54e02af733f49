// cindrel log-info: what a flight log holds, as "key: value" lines.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "platform/notice.h"
#include "tools/command.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
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

    ColdCurve curve;
    curve.resetStartValues();
    CCindrelDspLog log(&curve);
    Notice::clearRecords();
    log.OnFileOpen(fi.absoluteFilePath());
    if (log.GetFileName().isEmpty() || log.GetFileVersion() == 0) {
        const QString why = Notice::count() ? Notice::last().text : QStringLiteral("cannot open");
        return in.error(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why));
    }
    const int version = log.GetFileVersion();
    const qint64 recSize = CCindrelDspLog::RecordSize(version);
    const qint64 size = fi.size();
    const qint64 records = size / recSize;
    if (records == 0)
        return in.error(QStringLiteral("%1: not a flight log (no complete record)").arg(QDir::toNativeSeparators(path)));

    long long accepted = 0, repaired = 0, rejected = 0, gaps = 0, missing = 0, fire = 0, slow = 0;
    std::uint32_t firstIndex = 0, lastIndex = 0, prevInterval = 0;
    double south = 90, north = -90, west = 180, east = -180;
    auto line = std::make_unique<ScanLineRec>();
    auto take = [&]() {
        const std::uint32_t n = log.GetNumNewImageLines();
        if (n == 0) {
            ++rejected;
            return;
        }
        for (std::uint32_t age = n; age-- > 0;) {
            log.GetPriorImageLine(age, line.get());
            if (accepted == 0) {
                firstIndex = line->lineIndex;
            } else if (line->lineFlags & LINE_GAP) {
                ++gaps;
                if (prevInterval > 0 && line->lineIndex > lastIndex)
                    missing += std::max<long long>(0, (line->lineIndex - lastIndex) / prevInterval - 1);
            }
            ++accepted;
            lastIndex = line->lineIndex;
            prevInterval = line->effectiveInterval();
            repaired += (line->lineFlags & NAV_REPAIRED) ? 1 : 0;
            slow += line->scanPeriod < 4750 ? 1 : 0;
            fire += std::count(line->pix, line->pix + SAMPLES_PER_LINE, FIRE_PIXEL);
            const double lat = milliArcSecToDeg(line->latitude), lon = milliArcSecToDeg(line->longitude);
            south = std::min(south, lat);
            north = std::max(north, lat);
            west = std::min(west, lon);
            east = std::max(east, lon);
        }
    };
    take();
    while (!log.DoNextFwdCycle(0, false, false))
        take();
    if (Notice::count() && Notice::last().kind == Notice::Kind::Critical)
        return in.error(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), Notice::last().text));
    if (accepted == 0)
        return in.error(QStringLiteral("%1: not a flight log (no record with sane navigation)")
                            .arg(QDir::toNativeSeparators(path)));

    QTextStream &o = in.out();
    const QDateTime start = log.GetDateTime();
    o << "file: " << QDir::toNativeSeparators(fi.absoluteFilePath()) << "\n";
    o << "version: " << version << "\n";
    o << "records: " << records << "\n";
    o << "trailing bytes: " << (size - records * recSize) << "\n";
    o << "first line index: " << firstIndex << "\n";
    o << "last line index: " << lastIndex << "\n";
    o << "start time: " << (start.isValid() ? start.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) : QStringLiteral("unknown")) << "\n";
    o << "south: " << QString::number(south, 'f', 6) << "\n";
    o << "north: " << QString::number(north, 'f', 6) << "\n";
    o << "west: " << QString::number(west, 'f', 6) << "\n";
    o << "east: " << QString::number(east, 'f', 6) << "\n";
    o << "line gaps: " << gaps << "\n";
    o << "missing lines: " << missing << "\n";
    o << "repaired records: " << repaired << "\n";
    o << "rejected records: " << rejected << "\n";
    o << "slow scan lines: " << slow << "\n";
    o << "fire pixels: " << fire << "\n";
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("log-info"), QStringLiteral("Describe a flight log"), QStringLiteral("LOG"),
     QStringLiteral("Reads every record of the log as a replay does (navigation check and one-word repair,\n"
                    "no fire test) and prints: version, records, trailing bytes (a partial record), first and\n"
                    "last line index, start time (from the file name), the latitude/longitude bounding box,\n"
                    "line gaps and missing lines, repaired and rejected records, lines with a scan period\n"
                    "below 4750 and the fire pixels of the image rows."),
     {}, 1, 1, run});
} // namespace
