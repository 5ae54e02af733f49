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

struct DetectionFigures {
    int sightings = 0;
    int liveFound = 0, liveFalse = 0;           // live fire test (ring)
    int redetectFound = 0, redetectFalse = 0;   // chain, before desmoke
    int found = 0, falseClusters = 0;           // chain, after desmoke
    std::vector<int> missed;                    // fire ids lost after desmoke
    std::vector<double> shifts;                 // centre shift of each fire found after desmoke
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
void countClusters(const FireMask &mask, const std::vector<TruthBox> &truth, int *found, int *falseClusters,
                   std::vector<int> *foundIds = nullptr);

// Truth boxes of a pass's sightings in record positions of `records`.
std::vector<TruthBox> truthBoxes(const std::vector<ScanLineRec> &records, const std::vector<FireSighting> &sightings);

// Runs the records of one pass (modified in place) through the live fire
// test with `settings` and the curve (which learns unless locked), writes
// them as a flight log in workDir and runs re-detection and desmoke on it.
// False (with *error) when a work file cannot be written or read.
bool measurePass(std::vector<ScanLineRec> &records, const std::vector<FireSighting> &sightings,
                 const FireTestSettings &settings, ColdCurve &curve, const QString &workDir,
                 DetectionFigures *figures, QString *error);

} // namespace sim
