// cindrel orthorectify: the ortho products of a flight log, as the
// orthorectify worker makes them (without desmoking and the mosaic).
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "ortho/crectifiedstripchart.h"
#include "tools/command.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

namespace {
using namespace cindrel::tool;

int run(const Invocation &in)
{
    const QFileInfo logInfo(in.positional(0));
    if (!logInfo.isFile())
        return in.error(QStringLiteral("%1: no such log file").arg(QDir::toNativeSeparators(in.positional(0))));
    const QString log = logInfo.absoluteFilePath();
    const QString out = QDir(in.value(QStringLiteral("out"), logInfo.absolutePath())).absolutePath();
    if (!QFileInfo(out).isDir())
        return in.error(QStringLiteral("%1: the folder does not exist").arg(QDir::toNativeSeparators(out)));
    if (CCindrelDspLog::ElevationFileName(log).isEmpty())
        return in.error(QStringLiteral("%1: the log name has no \"_\", so it names no elevation raster").arg(QDir::toNativeSeparators(log)));

    ColdCurve curve;
    CCindrelDspLog source(&curve);
    source.OnFileOpen(log);
    if (!source.isOpen)
        return in.error(QStringLiteral("%1: cannot be opened as a flight log").arg(QDir::toNativeSeparators(log)));
    CRectifiedStripChart rect(&source);
    rect.SetOutputDirectory(out);
    QElapsedTimer last;
    last.start();
    const bool quiet = in.has(QStringLiteral("quiet"));
    rect.SetProgress([&](int stage, int done, int total) {
        if (quiet || last.elapsed() < 1000)
            return;
        last.restart();
        static const char *names[] = {"survey", "extent pass 1", "extent pass 2", "main pass"};
        in.err() << "cindrel orthorectify: " << names[stage] << ": " << done;
        if (total > 0)
            in.err() << " of " << total;
        in.err() << " lines\n";
        in.err().flush();
    });
    QElapsedTimer clock;
    clock.start();
    rect.Process();
    if (rect.GetOutcome() != CRectifiedStripChart::Produced)
        return in.error(CRectifiedStripChart::OutcomeText(rect.GetOutcome()));
    const double secs = std::max<qint64>(clock.elapsed(), 1) / 1000.0;
    in.out() << "lines " << rect.LinesProcessed() << ", cell " << QString::number(rect.CellSize(), 'f', 2)
             << " m, mean track " << rect.MeanTrack() << ", central meridian " << rect.CentralMeridian()
             << (rect.IsAlaska() ? ", NAD27 (Alaska)" : ", NAD83") << ", rows " << rect.RowsEmitted() << ", "
             << QString::number(rect.LinesProcessed() / secs, 'f', 0) << " lines/s\n";
    for (const QString &p : rect.Products())
        in.out() << QDir::toNativeSeparators(p) << "\n";
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("orthorectify"), QStringLiteral("Orthorectify a flight log into the ortho, colour and fire images"),
     QStringLiteral("LOG [--out DIR] [--quiet]"),
     QStringLiteral("Projects every sample of LOG onto the terrain of its elevation raster (the log's path cut\n"
                    "before its last \"_\", as written by extract-dem) and writes BASE_ortho.tif, BASE_color.tif and\n"
                    "BASE_fire.tif with JPEG copies in DIR/jpeg (DIR: the log's folder unless given). The\n"
                    "orthorectification settings come from the settings store (LastUsed/...)."),
     {{QStringLiteral("out"), QStringLiteral("DIR"), QStringLiteral("folder of the products")},
      {QStringLiteral("quiet"), QString(), QStringLiteral("no progress messages")}},
     1, 1, run});
} // namespace
