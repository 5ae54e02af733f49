#include "stripchart/stripimagerebuild.h"

#include "datasource/cdatasource.h"
#include "stripchart/cstripchartimagery.h"
#include "stripchart/passservices.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <memory>

std::uint8_t StripStretch::apply(std::int32_t b) const
{
    const double v = std::trunc(b * scale + offset);
    return static_cast<std::uint8_t>(std::min(254.0, std::max(0.0, v)));
}

StripStretch computeStripStretch(double sum, double sumSquares, std::uint64_t count)
{
    StripStretch s;
    if (count == 0)
        return s;
    s.mean = sum / double(count);
    const double variance = sumSquares / double(count) - s.mean * s.mean;
    s.sd = variance > 0.0 ? std::sqrt(variance) : 0.0;
    const double lo = s.mean - 3.0 * s.sd;
    const double hi = s.mean + 3.0 * s.sd;
    if (!(hi - lo > 0.0) || !std::isfinite(hi - lo)) {
        // Every sample alike: a flat mid-grey swath instead of a division
        // by zero.
        s.sd = 0.0;
        return s;
    }
    s.scale = 254.0 / (hi - lo);
    s.offset = 254.0 - s.scale * hi + 0.5;
    s.degenerate = false;
    return s;
}

namespace {

// Calls f for every line the log delivers, oldest first, until its end.
template <typename F>
std::uint64_t forEachLine(CDataSource *log, F f)
{
    std::uint64_t lines = 0;
    ScanLineRec line;
    do {
        const std::uint32_t n = log->GetNumNewImageLines();
        for (std::uint32_t age = n; age-- > 0;) {
            log->GetPriorImageLine(age, &line);
            f(line);
            ++lines;
        }
    } while (!log->DoNextFwdCycle(0, false, true));
    return lines;
}

} // namespace

StripRebuildResult RebuildStripImage(PassServices &services, const QString &outputTmpPath,
                                     const std::function<void()> &secondPassDone)
{
    StripRebuildResult result;
    CDataSource *log = services.GetDataSource();
    if (!log || !log->isOpen)
        return result;

    // First pass: channel B of every pixel that is not fire.
    double sum = 0.0, sumSquares = 0.0;
    std::uint64_t count = 0;
    forEachLine(log, [&](const ScanLineRec &line) {
        for (int j = 0; j < SAMPLES_PER_LINE; ++j) {
            if (line.pix[j] == FIRE_PIXEL)
                continue;
            const double b = line.chanB[SAMPLES_PER_LINE - 1 - j];
            sum += b;
            sumSquares += b * b;
            ++count;
        }
    });
    result.samples = count;
    result.stretch = computeStripStretch(sum, sumSquares, count);

    log->RewindLog();

    auto chart = std::make_unique<CStripChartImagery>(&services);
    chart->SetFireDilation(true);
    chart->SetMapMode(false);
    chart->SetFileOutput(true);
    if (!outputTmpPath.isEmpty())
        chart->SetOutputPath(outputTmpPath);

    // Second pass: the stretched samples become the image bytes.
    const StripStretch stretch = result.stretch;
    result.lines = forEachLine(log, [&](ScanLineRec &line) {
        for (int j = 0; j < SAMPLES_PER_LINE; ++j) {
            if (line.pix[j] != FIRE_PIXEL)
                line.pix[j] = stretch.apply(line.chanB[SAMPLES_PER_LINE - 1 - j]);
        }
        chart->AddLine(line, false);
    });

    if (secondPassDone)
        secondPassDone();

    chart->FinishRun();
    result.runNumber = chart->RunNumber();
    const QString image = chart->FinalPath();
    const QString jpeg = chart->JpegPath();
    const bool written = chart->CompleteImage();
    const bool jpegWritten = chart->JpegWritten();
    chart.reset();
    // Only files written now count (an earlier image of the name is no
    // result of this rebuild).
    if (written && !image.isEmpty())
        result.imagePath = image;
    if (jpegWritten && !jpeg.isEmpty())
        result.jpegPath = jpeg;
    result.ok = result.lines > 0;
    return result;
}
