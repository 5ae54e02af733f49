#pragma once
// Synthetic scan lines of one straight pass over a Scene: navigation in the
// units of the scan line record, INS-like attitude motion, ray-traced ground
// points and the two channels with noise, fires, smoke and hot ground.
//
// Scanner and attitude conventions (shared with the rectifier):
// - 1680 samples over 120 degrees. `pix` element i looks at the scan angle
//   theta = -(i - 840 + 0.5) / 14 degrees, positive to the LEFT of the
//   heading; `pix` element i belongs to sample 1679 - i (so sample 0 looks
//   59.96 degrees right, sample 1679 59.96 degrees left).
// - Body axes: forward along the heading, left, up. At zero attitude a
//   sample looks along (forward 0, left sin theta, up -cos theta): the scan
//   plane is across the heading, not across the track, so crab shows.
// - The look vector is turned by the roll about the forward axis (positive
//   roll tilts the look to the LEFT), then by the pitch about the lateral
//   axis (positive pitch tilts the look FORWARD along the heading), then by
//   the heading about the vertical (clockwise from north).
// - The aircraft moves along the track (heading + crab) at the ground
//   speed; the recorded heading is where the nose points.
//
// Geometry is independent of the rectifier: each sample's ray is traced
// from the aircraft (WGS 84 geodetic position, altitude as height) through
// the local east-north-up frame into ECEF and intersected with the terrain
// by a secant search on (height above ellipsoid - terrain elevation), to a
// few centimetres along the ray.
//
// Thread use: one generator belongs to one thread; only setChannelB,
// setFireThreshold and setVhOverride may be called from another thread
// (they take effect at the next line).
#include "datasource/scanline.h"
#include "sim/scene.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace sim {

// Record faults injected on request, by line number within the pass (0-based).
struct PassFaults {
    std::vector<int> shiftLeft;    // record arrives one 32-bit word early (first word lost)
    std::vector<int> shiftRight;   // record arrives one 32-bit word late (one word inserted)
    std::vector<int> insane;       // navigation insane beyond a one-word repair
    std::vector<int> gaps;         // before this line, gapLength lines are lost
    int gapLength = 3;
    bool trailingPartial = false;  // the log ends with a partial record (log writers)
    bool any() const
    {
        return !shiftLeft.empty() || !shiftRight.empty() || !insane.empty() || !gaps.empty() || trailingPartial;
    }
};

struct PassParams {
    int passNumber = 1;
    double startLat = 44.5;        // aircraft position at the first line (degrees)
    double startLon = -121.5;
    double headingDeg = 0.0;       // nose heading (degrees from north)
    double crabDeg = 2.5;          // track = heading + crab
    double groundSpeed = 75.0;     // m/s
    double agl = 1500.0;           // metres above the terrain along the pass
    double lineRateHz = 0.0;       // delivered lines per second; 0: lines abut at nadir (V/H)
    int lineCount = 2000;
    std::uint32_t firstLineIndex = 1000;

    // INS-like motion: sinusoids plus noise (degrees, seconds, metres).
    double rollAmpDeg = 1.2, rollPeriodS = 9.0;
    double pitchAmpDeg = 0.5, pitchPeriodS = 13.0;
    double yawAmpDeg = 0.4, yawPeriodS = 17.0;
    double attitudeNoiseDeg = 0.03;
    double altitudeNoiseM = 0.5;

    // Acquisition settings.
    float chnBGain = 0.1f;
    std::int32_t chnBOffset = 3500;
    std::int32_t fireThreshold = 300;
    std::uint32_t vhOverride = 5;
    bool vhOverrideOn = false;
    double nominalScanPeriod = 5000.0;   // scan period count (2e7 / count = scan rate x 20)
    double lowScanPeriodFraction = 0.0;  // share of lines with a scan period below 4750

    PassFaults faults;
};

// Where one sample's ray meets the terrain.
struct GroundPoint {
    double lat = 0.0, lon = 0.0, height = 0.0;
    double range = 0.0;     // metres along the ray
};

// The aircraft state one line is traced from.
struct LookState {
    double lat = 0.0, lon = 0.0, altitude = 0.0;   // degrees, metres (height)
    double headingDeg = 0.0, pitchDeg = 0.0, rollDeg = 0.0;

    // From the navigation fields of a record.
    static LookState fromRecord(const ScanLineRec &r);
};

// Scan angle (degrees, positive left) of `pix` element i.
inline double scanAngleOfPix(int i) { return -(i - 840 + 0.5) / 14.0; }

// Traces rays of one aircraft state onto a scene's terrain.
class RayTracer {
public:
    RayTracer(const Scene &scene, const LookState &state);
    // Ground point of the ray at the scan angle (degrees, positive left).
    // heightGuess: the terrain height expected there (metres), e.g. the
    // neighbouring sample's; NaN = the terrain under the aircraft.
    GroundPoint trace(double scanAngleDeg, double heightGuess = std::nan("")) const;
    // The look direction in east-north-up components (unit vector).
    void lookEnu(double scanAngleDeg, double &e, double &n, double &u) const;

private:
    const Scene &scene_;
    LookState s_;
    double frame_[9];   // east, north, up unit vectors in ECEF
    double p0_[3];
    double cr_, sr_, cp_, sp_, ch_, sh_;
    double nadirElevation_;
};

class LineGenerator {
public:
    LineGenerator(const Scene &scene, const PassParams &pass);

    // The pass's next record; false after the last line.
    bool next(ScanLineRec &out);

    double lineRateHz() const { return lineRate_; }
    int lineCount() const { return pass_.lineCount; }
    int linesDelivered() const { return delivered_; }
    const PassParams &pass() const { return pass_; }

    // Channel B display gain and offset written by the host (take effect at the next line).
    void setChannelB(float gain, std::int32_t offset);
    float chnBGain() const { return gain_.load(); }
    std::int32_t chnBOffset() const { return offset_.load(); }
    void setFireThreshold(std::int32_t t) { threshold_.store(t); }
    // V/H override: value and on/off.
    void setVhOverride(std::uint32_t value, bool on);

    // Aircraft state and ground points (sample order) of the last line produced.
    const LookState &lastState() const { return lastState_; }
    const std::vector<GroundPoint> &groundPoints() const { return ground_; }
    // Fires the last line saw: (sample index, fire id) for every sample whose
    // ground point lies within a fire's radius, whose footprint holds the
    // fire's centre (so a fire smaller than a pixel is seen too) or, for a
    // fire smaller than the footprint, a quarter of whose footprint it covers.
    const std::vector<std::pair<int, int>> &fireHits() const { return hits_; }

    // Position and time of line k on the nominal path (before faults).
    double timeOfLine(int k) const { return k / lineRate_; }
    void nominalPosition(double t, double &lat, double &lon) const;
    double trackDeg() const;
    double flightAltitude() const { return altitude_; }

    // Applies the record faults (shifts, insane navigation) requested for
    // line k of a pass; gaps are not record faults and are left out.
    static void applyRecordFaults(const PassFaults &faults, int k, ScanLineRec &rec);

    // The channel B display row value for a channel B sample.
    static std::uint8_t pixValue(std::int32_t b, float gain, std::int32_t offset);

private:
    void makeLine(int k, ScanLineRec &out);

    const Scene &scene_;
    PassParams pass_;
    double lineRate_ = 0.0;
    std::uint32_t interval_ = 5;
    double altitude_ = 0.0;
    double trackRad_ = 0.0;
    double startE_[3], startN_[3], startP_[3];   // ECEF frame at the start point (ground level)
    int produced_ = 0;      // line slots consumed (delivered or lost in gaps)
    int delivered_ = 0;
    std::uint32_t nextIndex_ = 0;
    std::uint32_t prevEffective_ = 0;
    std::atomic<float> gain_;
    std::atomic<std::int32_t> offset_;
    std::atomic<std::int32_t> threshold_;
    std::atomic<std::uint32_t> vhOverride_;
    std::atomic<bool> vhOverrideOn_;
    LookState lastState_;
    std::vector<GroundPoint> ground_;
    std::vector<int> nearFires_, nearPatches_;
    std::vector<std::pair<int, int>> hits_;
};

} // namespace sim
