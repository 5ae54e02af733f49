#include "sim/detectmeasure.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/cdspdatabuffer.h"
#include "datasource/coldcurve.h"
#include "geodata/desmoke.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <set>

namespace sim {

namespace {
bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

int findRoot(std::vector<int> &parent, int i)
{
    while (parent[std::size_t(i)] != i) {
        parent[std::size_t(i)] = parent[std::size_t(parent[std::size_t(i)])];
        i = parent[std::size_t(i)];
    }
    return i;
}


// Centroid (sample, line) of the mask's pixels within a fire's box and
// margin (only those with flame in their footprint, when that is known);
// false when none.
bool centroid(const FireMask &mask, const TruthBox &b, const std::vector<char> *flame, double *x, double *y)
{
    double sx = 0, sy = 0;
    long n = 0;
    const int l0 = std::max(0, b.firstLine - kTruthMargin), l1 = std::min(mask.lines - 1, b.lastLine + kTruthMargin);
    const int s0 = std::max(0, b.firstSample - kTruthMargin);
    const int s1 = std::min(SAMPLES_PER_LINE - 1, b.lastSample + kTruthMargin);
    for (int l = l0; l <= l1; ++l)
        for (int s = s0; s <= s1; ++s)
            if (mask.at(l, s) && (!flame || (*flame)[std::size_t(l) * SAMPLES_PER_LINE + std::size_t(s)])) {
                sx += s;
                sy += l;
                ++n;
            }
    if (n == 0)
        return false;
    *x = sx / double(n);
    *y = sy / double(n);
    return true;
}

bool readMask(const QString &path, int lines, FireMask *mask, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot read %1").arg(QDir::toNativeSeparators(path)));
    std::vector<std::uint16_t> row(SAMPLES_PER_LINE);
    mask->lines = lines;
    mask->fire.assign(std::size_t(lines) * SAMPLES_PER_LINE, 0);
    const qint64 rowBytes = qint64(row.size() * sizeof(std::uint16_t));
    for (int l = 0; l < lines; ++l) {
        if (f.read(reinterpret_cast<char *>(row.data()), rowBytes) != rowBytes)
            return fail(error, QStringLiteral("%1 is short").arg(QDir::toNativeSeparators(path)));
        for (int s = 0; s < SAMPLES_PER_LINE; ++s)
            mask->fire[std::size_t(l) * SAMPLES_PER_LINE + std::size_t(s)] = row[std::size_t(s)] == 255;
    }
    return true;
}
} // namespace

double DetectionFigures::medianShift() const
{
    if (shifts.empty())
        return 0.0;
    std::vector<double> v = shifts;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double DetectionFigures::maxShift() const
{
    return shifts.empty() ? 0.0 : *std::max_element(shifts.begin(), shifts.end());
}

const char *featureName(Feature f)
{
    switch (f) {
    case Feature::None:
        return "none";
    case Feature::Smoke:
        return "smoke";
    case Feature::HotGround:
        return "hot ground";
    case Feature::Flame:
        return "flame";
    default:
        return "?";
    }
}

void DetectionFigures::add(const DetectionFigures &o)
{
    sightings += o.sightings;
    liveFound += o.liveFound;
    liveFalse += o.liveFalse;
    redetectFound += o.redetectFound;
    redetectFalse += o.redetectFalse;
    found += o.found;
    falseClusters += o.falseClusters;
    missed.insert(missed.end(), o.missed.begin(), o.missed.end());
    shifts.insert(shifts.end(), o.shifts.begin(), o.shifts.end());
    falseDetails.insert(falseDetails.end(), o.falseDetails.begin(), o.falseDetails.end());
    lost.insert(lost.end(), o.lost.begin(), o.lost.end());
}

void countClusters(const FireMask &mask, const std::vector<TruthBox> &truth, int *found, int *falseClusters,
                   std::vector<int> *foundIds, std::vector<std::vector<std::size_t>> *clusters,
                   const std::vector<char> *flame)
{
    // A fire is found when a mask pixel lies in its box.
    std::set<int> ids;
    std::vector<char> inTruth = flame && flame->size() == mask.fire.size() ? *flame : std::vector<char>(mask.fire.size(), 0);
    for (const TruthBox &b : truth) {
        const int l0 = std::max(0, b.firstLine - kTruthMargin), l1 = std::min(mask.lines - 1, b.lastLine + kTruthMargin);
        const int s0 = std::max(0, b.firstSample - kTruthMargin);
        const int s1 = std::min(SAMPLES_PER_LINE - 1, b.lastSample + kTruthMargin);
        for (int l = l0; l <= l1; ++l)
            for (int s = s0; s <= s1; ++s) {
                inTruth[std::size_t(l) * SAMPLES_PER_LINE + std::size_t(s)] = 1;
                if (mask.at(l, s))
                    ids.insert(b.fireId);
            }
    }
    // False clusters: the mask outside every box, as clusters. Union-find;
    // a pixel joins every earlier pixel at most two samples and two lines
    // away (touching or one pixel apart).
    const int w = SAMPLES_PER_LINE;
    std::vector<int> label(mask.fire.size(), -1);
    std::vector<int> parent;
    for (int l = 0; l < mask.lines; ++l)
        for (int s = 0; s < w; ++s) {
            const std::size_t at = std::size_t(l) * w + std::size_t(s);
            if (!mask.at(l, s) || inTruth[at])
                continue;
            const int me = int(parent.size());
            parent.push_back(me);
            label[at] = me;
            for (int dl = -2; dl <= 0; ++dl) {
                const int ll = l + dl;
                if (ll < 0)
                    continue;
                for (int ds = -2; ds <= 2; ++ds) {
                    if (dl == 0 && ds >= 0)
                        break;
                    const int ss = s + ds;
                    if (ss < 0 || ss >= w)
                        continue;
                    const int other = label[std::size_t(ll) * w + std::size_t(ss)];
                    if (other < 0)
                        continue;
                    const int a = findRoot(parent, me), b = findRoot(parent, other);
                    if (a != b)
                        parent[std::size_t(std::max(a, b))] = std::min(a, b);
                }
            }
        }
    int falses = 0;
    std::vector<int> clusterOf(parent.size(), -1);
    for (int i = 0; i < int(parent.size()); ++i)
        if (findRoot(parent, i) == i)
            clusterOf[std::size_t(i)] = falses++;
    if (clusters) {
        clusters->assign(std::size_t(falses), {});
        for (std::size_t at = 0; at < label.size(); ++at)
            if (label[at] >= 0)
                (*clusters)[std::size_t(clusterOf[std::size_t(findRoot(parent, label[at]))])].push_back(at);
    }
    if (found)
        *found = int(ids.size());
    if (falseClusters)
        *falseClusters = falses;
    if (foundIds)
        foundIds->assign(ids.begin(), ids.end());
}

std::vector<TruthBox> truthBoxes(const std::vector<ScanLineRec> &records, const std::vector<FireSighting> &sightings)
{
    std::vector<TruthBox> out;
    for (const FireSighting &s : sightings) {
        TruthBox b;
        b.fireId = s.fireId;
        b.firstSample = s.firstSample;
        b.lastSample = s.lastSample;
        b.firstLine = -1;
        for (int k = 0; k < int(records.size()); ++k) {
            const std::uint32_t index = records[std::size_t(k)].lineIndex;
            if (b.firstLine < 0 && index >= s.firstLineIndex)
                b.firstLine = k;
            if (index <= s.lastLineIndex)
                b.lastLine = k;
        }
        if (b.firstLine >= 0 && b.lastLine >= b.firstLine)
            out.push_back(b);
    }
    return out;
}

bool measurePass(std::vector<ScanLineRec> &records, const std::vector<FireSighting> &sightings,
                 const FireTestSettings &settings, ColdCurve &curve, const QString &workDir,
                 DetectionFigures *figures, QString *error, const std::vector<Feature> *features, int pass)
{
    DetectionFigures f;
    std::vector<int> keptFrom;   // index in the given records of each kept record
    // The live fire test.
    {
        CDspDataBuffer ring(&curve);
        ring.SetFireDetectParams(true, settings.fireLimit, settings.coldLimit, 0.0, 0.0, settings.a0);
        ring.SetFireThresholdOverride(std::uint32_t(settings.fireThreshold));
        std::vector<ScanLineRec> kept;
        kept.reserve(records.size());
        for (std::size_t k = 0; k < records.size(); ++k) {
            ScanLineRec &r = records[k];
            if (ring.AddLine(r)) {
                ring.TakeNewLineCount();
                kept.push_back(r);
                keptFrom.push_back(int(k));
            }
        }
        records.swap(kept);
    }
    const std::vector<TruthBox> truth = truthBoxes(records, sightings);
    std::vector<char> flame;
    if (features) {
        flame.assign(records.size() * SAMPLES_PER_LINE, 0);
        for (std::size_t k = 0; k < records.size(); ++k)
            for (std::size_t s = 0; s < std::size_t(SAMPLES_PER_LINE); ++s) {
                const std::size_t given = std::size_t(keptFrom[k]) * SAMPLES_PER_LINE + s;
                flame[k * SAMPLES_PER_LINE + s] = given < features->size() && (*features)[given] == Feature::Flame;
            }
    }
    const std::vector<char> *flameMask = features ? &flame : nullptr;
    f.sightings = int(truth.size());
    FireMask live;
    live.lines = int(records.size());
    live.fire.assign(std::size_t(live.lines) * SAMPLES_PER_LINE, 0);
    for (int l = 0; l < live.lines; ++l)
        for (int s = 0; s < SAMPLES_PER_LINE; ++s)
            live.fire[std::size_t(l) * SAMPLES_PER_LINE + std::size_t(s)] =
                records[std::size_t(l)].pix[SAMPLES_PER_LINE - 1 - s] == FIRE_PIXEL;
    std::vector<int> liveIds;
    countClusters(live, truth, &f.liveFound, &f.liveFalse, &liveIds, nullptr, flameMask);

    // The chain: the recorded log, re-detected and desmoked.
    if (!QDir().mkpath(workDir))
        return fail(error, QStringLiteral("cannot create %1").arg(QDir::toNativeSeparators(workDir)));
    const QString logPath = workDir + QStringLiteral("/measure.plf");
    QFile::remove(logPath);
    {
        CCindrelDspLog writer(&curve);
        if (!writer.OpenForWrite(logPath))
            return fail(error, QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(logPath)));
        for (const ScanLineRec &r : records)
            if (!writer.WriteRecord(r))
                return fail(error, QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(logPath)));
        writer.Close();
    }
    const DesmokeFiles files(logPath);
    qint64 lines = 0;
    const bool ok = desmoke::SplitLog(files, DesmokeLayout::ForVersion(1), nullptr, &lines)
                    && desmoke::RedetectFire(files, settings.fireLimit, settings.coldLimit, settings.a0, curve, nullptr)
                    && desmoke::DesmokeClusters(files, settings.fireLimit, nullptr);
    FireMask before, after;
    const bool read = ok && readMask(files.fire, int(lines), &before, error) && readMask(files.noSmoke, int(lines), &after, error);
    for (const QString &work : files.workFiles())
        QFile::remove(work);
    QFile::remove(logPath);
    if (!ok)
        return fail(error, QStringLiteral("re-detection or desmoke failed in %1").arg(QDir::toNativeSeparators(workDir)));
    if (!read)
        return false;
    std::vector<int> redetectIds, ids;
    countClusters(before, truth, &f.redetectFound, &f.redetectFalse, &redetectIds, nullptr, flameMask);
    std::vector<std::vector<std::size_t>> clusters;
    countClusters(after, truth, &f.found, &f.falseClusters, &ids, &clusters, flameMask);
    for (const std::vector<std::size_t> &pixels : clusters) {
        ClusterDetail d;
        d.pass = pass;
        d.line = int(pixels.front() / SAMPLES_PER_LINE);
        d.sample = int(pixels.front() % SAMPLES_PER_LINE);
        d.pixels = int(pixels.size());
        d.peakMargin = std::numeric_limits<int>::min();
        d.peakB = std::numeric_limits<int>::min();
        int votes[3] = {0, 0, 0};
        for (std::size_t at : pixels) {
            const ScanLineRec &r = records[at / SAMPLES_PER_LINE];
            const int s = int(at % SAMPLES_PER_LINE);
            const int b = r.chanB[s];
            const int margin = r.chanA[s] + 32768 - std::min(curve.at(b + 32769), desmoke::kCurveCeiling) - int(settings.a0);
            d.peakMargin = std::max(d.peakMargin, margin);
            d.peakB = std::max(d.peakB, b);
            d.byFireLimit = d.byFireLimit || b > settings.fireLimit;
            if (features) {
                const std::size_t given = std::size_t(keptFrom[at / SAMPLES_PER_LINE]) * SAMPLES_PER_LINE + std::size_t(s);
                if (given < features->size() && int((*features)[given]) < 3)
                    ++votes[int((*features)[given])];
            }
        }
        if (features)
            d.feature = votes[2] > 0 ? Feature::HotGround : votes[1] > 0 ? Feature::Smoke : Feature::None;
        f.falseDetails.push_back(d);
    }
    for (const TruthBox &b : truth) {
        if (!std::binary_search(ids.begin(), ids.end(), b.fireId)) {
            f.missed.push_back(b.fireId);
            const char *stage = !std::binary_search(liveIds.begin(), liveIds.end(), b.fireId)            ? "live test"
                                : !std::binary_search(redetectIds.begin(), redetectIds.end(), b.fireId) ? "re-detection"
                                                                                                         : "desmoke";
            f.lost.push_back(LostSighting{pass, b.fireId, stage});
            continue;
        }
        double x0, y0, x1, y1;
        if (centroid(before, b, flameMask, &x0, &y0) && centroid(after, b, flameMask, &x1, &y1))
            f.shifts.push_back(std::hypot(x1 - x0, y1 - y0));
    }
    if (figures)
        *figures = f;
    return true;
}

} // namespace sim
