#pragma once
// How many of the fires a simulated pass saw survive the fire detection:
// the live fire test of the scan line buffer, then the analyst's chain
// (re-detection and desmoke of the recorded log), each compared with the
// truth of where the pass saw each fire.
//
// A fire is found when the mask has a pixel within kTruthMargin pixels of
// the fire's truth box. The mask's pixels outside every such box are false
// alarms, counted as clusters: pixels joined when they touch (eight
// neighbours) or lie one pixel apart; smoke or hot ground that merges with
// a fire thus still counts as a false cluster. The centre shift of a fire
// is how far desmoke moves the centroid of its pixels (those within its
// truth box and margin), in pixels (samples and lines).
#include "datasource/scanline.h"
#include "sim/demodata.h"

#include <QString>

#include <cstdint>
#include <vector>

class ColdCurve;

namespace sim {

// The operator's fire test settings: the fire threshold (given to every
// line, as the threshold panel does), the channel B fire and cold limits
// and the coefficient a0.
struct FireTestSettings {
    std::int32_t fireThreshold = 100;
    std::int32_t fireLimit = 0;
    std::int32_t coldLimit = 1000;
    double a0 = 0.0;
};

// What the truth has under a sample. Flame: the footprint holds part of a
// fire (perhaps too small a part for the truth to count a sighting); a
// detection there is never false.
enum class Feature : std::uint8_t { None = 0, Smoke = 1, HotGround = 2, Flame = 3, Unknown = 255 };
const char *featureName(Feature f);

// One false cluster left after desmoke: where it lies (its first pixel, as
// record position and sample), its size, the highest margin of its pixels
// over the curve (offset channel A - curve - a0, as re-detection compares
// it with the fire threshold), its warmest channel B, whether a pixel fired
// by channel B above the fire limit (else the curve test made all of it),
// and what the truth has there (when the caller gives a feature map).
struct ClusterDetail {
    int pass = 0;
    int line = 0, sample = 0;
    int pixels = 0;
    int peakMargin = 0;
    int peakB = 0;
    bool byFireLimit = false;
    Feature feature = Feature::Unknown;
};

// A sighting lost on the way, and where: the live fire test, re-detection
// or desmoke.
struct LostSighting {
    int pass = 0;
    int fireId = 0;
    const char *stage = "";
};

struct DetectionFigures {
    int sightings = 0;
    int liveFound = 0, liveFalse = 0;           // live fire test (ring)
    int redetectFound = 0, redetectFalse = 0;   // chain, before desmoke
    int found = 0, falseClusters = 0;           // chain, after desmoke
    std::vector<int> missed;                    // fire ids lost after desmoke
    std::vector<double> shifts;                 // centre shift of each fire found after desmoke
    std::vector<ClusterDetail> falseDetails;    // the false clusters after desmoke
    std::vector<LostSighting> lost;             // every sighting not found after desmoke
    double medianShift() const;
    double maxShift() const;
    void add(const DetectionFigures &other);
};

constexpr int kTruthMargin = 2;

// One fire mask over a pass: lines x 1680 samples, sample order, non-zero = fire.
struct FireMask {
    int lines = 0;
    std::vector<std::uint8_t> fire;
    bool at(int line, int sample) const { return fire[std::size_t(line) * SAMPLES_PER_LINE + std::size_t(sample)] != 0; }
};

// Counts one mask against the truth boxes (lines given as record positions).
struct TruthBox {
    int fireId = 0;
    int firstLine = 0, lastLine = 0, firstSample = 0, lastSample = 0;
};
// `clusters`, when given, receives the pixels (line * 1680 + sample) of
// each false cluster; pixels where `flame` is non-zero are never false.
void countClusters(const FireMask &mask, const std::vector<TruthBox> &truth, int *found, int *falseClusters,
                   std::vector<int> *foundIds = nullptr, std::vector<std::vector<std::size_t>> *clusters = nullptr,
                   const std::vector<char> *flame = nullptr);

// Truth boxes of a pass's sightings in record positions of `records`.
std::vector<TruthBox> truthBoxes(const std::vector<ScanLineRec> &records, const std::vector<FireSighting> &sightings);

// Runs the records of one pass (modified in place) through the live fire
// test with `settings` and the curve (which learns unless locked), writes
// them as a flight log in workDir and runs re-detection and desmoke on it.
// `features`, when given, holds what the truth has under every sample of
// the records as given (line * 1680 + sample, a Feature each); the false
// clusters are then told apart by it, pixels with flame in their footprint
// are never false, and the centre shift of a fire counts only such pixels
// (not smoke or hot ground around it). `pass` numbers the details.
// False (with *error) when a work file cannot be written or read.
bool measurePass(std::vector<ScanLineRec> &records, const std::vector<FireSighting> &sightings,
                 const FireTestSettings &settings, ColdCurve &curve, const QString &workDir,
                 DetectionFigures *figures, QString *error, const std::vector<Feature> *features = nullptr,
                 int pass = 0);

} // namespace sim
