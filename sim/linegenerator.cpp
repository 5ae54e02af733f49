#include "sim/linegenerator.h"

#include "sim/geodesy.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {

namespace {
constexpr double kDeg = M_PI / 180.0;
constexpr double kIfovRad = (120.0 / 1680.0) * kDeg;
constexpr double kMasPerDeg = 3600.0 * 1000.0;

double wrap360(double d)
{
    d = std::fmod(d, 360.0);
    if (d < 0)
        d += 360.0;
    return d;
}

std::uint16_t angleField(double deg)
{
    long v = std::lround(wrap360(deg) * 100.0);
    if (v >= 36000)
        v -= 36000;
    return std::uint16_t(v);
}

std::int16_t smallAngleField(double deg)
{
    return std::int16_t(std::clamp(std::lround(deg * 100.0), -32768L, 32767L));
}

bool contains(const std::vector<int> &v, int k) { return std::find(v.begin(), v.end(), k) != v.end(); }
} // namespace

LookState LookState::fromRecord(const ScanLineRec &r)
{
    LookState s;
    s.lat = milliArcSecToDeg(r.latitude);
    s.lon = milliArcSecToDeg(r.longitude);
    s.altitude = r.altitude * 0.01;
    s.headingDeg = r.heading * 0.01;
    s.pitchDeg = r.pitch * 0.01;
    s.rollDeg = r.roll * 0.01;
    return s;
}

// ---------------------------------------------------------------- RayTracer

RayTracer::RayTracer(const Scene &scene, const LookState &state) : scene_(scene), s_(state)
{
    EnuFrame f(state.lat, state.lon, state.altitude);
    for (int k = 0; k < 3; ++k) {
        frame_[k] = f.east[k];
        frame_[3 + k] = f.north[k];
        frame_[6 + k] = f.up[k];
    }
    p0_[0] = f.origin.x;
    p0_[1] = f.origin.y;
    p0_[2] = f.origin.z;
    cr_ = std::cos(state.rollDeg * kDeg);
    sr_ = std::sin(state.rollDeg * kDeg);
    cp_ = std::cos(state.pitchDeg * kDeg);
    sp_ = std::sin(state.pitchDeg * kDeg);
    ch_ = std::cos(state.headingDeg * kDeg);
    sh_ = std::sin(state.headingDeg * kDeg);
    nadirElevation_ = scene.elevation(state.lat, state.lon);
}

void RayTracer::lookEnu(double scanAngleDeg, double &e, double &n, double &u) const
{
    const double th = scanAngleDeg * kDeg;
    // Body frame: forward, left, up.
    const double l0 = std::sin(th), u0 = -std::cos(th);
    // Roll about the forward axis (positive tilts the look left).
    const double l1 = l0 * cr_ - u0 * sr_;
    const double u1 = l0 * sr_ + u0 * cr_;
    // Pitch about the lateral axis (positive tilts the look forward).
    const double f2 = -u1 * sp_;
    const double u2 = u1 * cp_;
    // Heading about the vertical, clockwise from north.
    e = f2 * sh_ - l1 * ch_;
    n = f2 * ch_ + l1 * sh_;
    u = u2;
}

GroundPoint RayTracer::trace(double scanAngleDeg, double heightGuess) const
{
    double e, n, u;
    lookEnu(scanAngleDeg, e, n, u);
    double d[3];
    for (int k = 0; k < 3; ++k)
        d[k] = e * frame_[k] + n * frame_[3 + k] + u * frame_[6 + k];

    GroundPoint gp;
    auto g = [&](double t) {
        Ecef p{p0_[0] + t * d[0], p0_[1] + t * d[1], p0_[2] + t * d[2]};
        const Geodetic q = ecefToGeodetic(p);
        gp.lat = q.latDeg;
        gp.lon = q.lonDeg;
        gp.height = scene_.elevation(q.latDeg, q.lonDeg);
        gp.range = t;
        return q.height - gp.height;
    };

    // Start on a level surface at the guessed height, step as if the
    // terrain were level there, then secant steps.
    const double down = std::max(-u, 0.02);
    const double zGuess = heightGuess == heightGuess ? heightGuess : nadirElevation_;
    double t0 = (s_.altitude - zGuess) / down;
    if (!(t0 > 0.0))
        t0 = 1.0;
    double g0 = g(t0);
    bool ok = std::fabs(g0) < 0.005;
    double t1 = t0;
    if (!ok) {
        t1 = t0 + g0 / down;
        if (t1 <= 0.0)
            t1 = t0 * 0.5;
        double g1 = g(t1);
        for (int it = 0; it < 40; ++it) {
            if (std::fabs(g1) < 0.005) {
                ok = true;
                break;
            }
            const double den = g1 - g0;
            if (den == 0.0)
                break;
            const double t2 = t1 - g1 * (t1 - t0) / den;
            if (!std::isfinite(t2) || t2 <= 0.0)
                break;
            t0 = t1;
            g0 = g1;
            t1 = t2;
            g1 = g(t1);
        }
    }
    if (ok && t1 > 0.0)
        return gp;

    // Fallback: march down the ray to the first crossing, then bisect.
    double lo = 0.0, hi = 0.0;
    const double step = 20.0;
    double glo = g(0.0);
    for (double t = step; t < 200000.0; t += step) {
        const double gv = g(t);
        if (gv <= 0.0) {
            hi = t;
            break;
        }
        lo = t;
        glo = gv;
    }
    (void)glo;
    if (hi == 0.0)
        return gp;   // the ray never meets the ground (looks above the horizon)
    for (int it = 0; it < 60 && hi - lo > 0.001; ++it) {
        const double mid = 0.5 * (lo + hi);
        if (g(mid) > 0.0)
            lo = mid;
        else
            hi = mid;
    }
    g(hi);
    return gp;
}

// ------------------------------------------------------------ LineGenerator

LineGenerator::LineGenerator(const Scene &scene, const PassParams &pass)
    : scene_(scene), pass_(pass), gain_(pass.chnBGain), offset_(pass.chnBOffset), threshold_(pass.fireThreshold),
      vhOverride_(pass.vhOverride), vhOverrideOn_(pass.vhOverrideOn)
{
    if (pass_.lineCount < 0)
        pass_.lineCount = 0;
    pass_.groundSpeed = std::clamp(pass_.groundSpeed, 1.0, 320.0);
    pass_.agl = std::max(pass_.agl, 10.0);
    trackRad_ = wrap360(pass_.headingDeg + pass_.crabDeg) * kDeg;

    EnuFrame f(pass_.startLat, pass_.startLon, 0.0);
    for (int k = 0; k < 3; ++k) {
        startE_[k] = f.east[k];
        startN_[k] = f.north[k];
    }
    startP_[0] = f.origin.x;
    startP_[1] = f.origin.y;
    startP_[2] = f.origin.z;

    // Lines abut at nadir when the line rate matches V/H.
    lineRate_ = pass_.lineRateHz > 0.0 ? pass_.lineRateHz : pass_.groundSpeed / (pass_.agl * kIfovRad);
    const double scanRate = 1e6 / pass_.nominalScanPeriod;
    interval_ = std::uint32_t(std::clamp(std::lround(scanRate / lineRate_), 1L, 100L));

    // Constant flight altitude: the mean terrain along the path plus the height above it.
    const double duration = std::max(pass_.lineCount, 1) / lineRate_;
    double sum = 0.0;
    const int probes = 33;
    for (int k = 0; k < probes; ++k) {
        double lat, lon;
        nominalPosition(duration * k / (probes - 1), lat, lon);
        sum += scene_.elevation(lat, lon);
    }
    altitude_ = sum / probes + pass_.agl;
    nextIndex_ = pass_.firstLineIndex;
    ground_.resize(SAMPLES_PER_LINE);
}

void LineGenerator::setChannelB(float gain, std::int32_t offset)
{
    gain_.store(gain);
    offset_.store(offset);
}

void LineGenerator::setVhOverride(std::uint32_t value, bool on)
{
    vhOverride_.store(value);
    vhOverrideOn_.store(on);
}

double LineGenerator::trackDeg() const { return trackRad_ / kDeg; }

void LineGenerator::nominalPosition(double t, double &lat, double &lon) const
{
    const double dist = pass_.groundSpeed * t;
    const double e = dist * std::sin(trackRad_), n = dist * std::cos(trackRad_);
    Ecef p{startP_[0] + e * startE_[0] + n * startN_[0], startP_[1] + e * startE_[1] + n * startN_[1],
           startP_[2] + e * startE_[2] + n * startN_[2]};
    const Geodetic g = ecefToGeodetic(p);
    lat = g.latDeg;
    lon = g.lonDeg;
}

std::uint8_t LineGenerator::pixValue(std::int32_t b, float gain, std::int32_t offset)
{
    const double v = (double(b) - double(offset)) * double(gain) + 127.0;
    if (!(v > 0.0))
        return 0;
    if (v >= 254.0)
        return 254;
    return std::uint8_t(v);
}

bool LineGenerator::next(ScanLineRec &out)
{
    if (delivered_ >= pass_.lineCount)
        return false;
    // Lines lost before this one (a gap): time and line index move on.
    if (contains(pass_.faults.gaps, delivered_)) {
        for (int g = 0; g < pass_.faults.gapLength; ++g) {
            nextIndex_ += vhOverrideOn_.load() ? vhOverride_.load() : interval_;
            ++produced_;
        }
    }
    makeLine(produced_, out);
    applyRecordFaults(pass_.faults, delivered_, out);
    ++produced_;
    ++delivered_;
    return true;
}

void LineGenerator::makeLine(int k, ScanLineRec &r)
{
    const SceneParams &sp = scene_.params();
    Rng rng(mixSeed(mixSeed(sp.seed, std::uint64_t(pass_.passNumber) * 0x10001ull + 17), std::uint64_t(k)));
    Rng phase(mixSeed(sp.seed, std::uint64_t(pass_.passNumber) * 0x9E37ull + 3));
    const double phR = phase.uniform(0, 2 * M_PI), phP = phase.uniform(0, 2 * M_PI), phY = phase.uniform(0, 2 * M_PI);
    const double phZ = phase.uniform(0, 2 * M_PI);

    const double t = timeOfLine(k);
    double lat, lon;
    nominalPosition(t, lat, lon);
    const double noise = pass_.attitudeNoiseDeg;
    const double roll = pass_.rollAmpDeg * std::sin(2 * M_PI * t / pass_.rollPeriodS + phR) + noise * rng.gauss();
    const double pitch = pass_.pitchAmpDeg * std::sin(2 * M_PI * t / pass_.pitchPeriodS + phP) + noise * rng.gauss();
    const double heading = pass_.headingDeg + pass_.yawAmpDeg * std::sin(2 * M_PI * t / pass_.yawPeriodS + phY)
                           + noise * rng.gauss();
    const double alt = altitude_ + 0.6 * std::sin(2 * M_PI * t / 23.0 + phZ) + pass_.altitudeNoiseM * rng.gauss();

    r.clear();
    r.lineIndex = nextIndex_;
    r.chnBGain = gain_.load();
    r.chnBOffset = offset_.load();
    r.vhInterval = interval_;
    r.vhOverride = vhOverride_.load();
    r.vhOverrideOn = vhOverrideOn_.load() ? 1u : 0u;
    r.fireThreshold = threshold_.load();
    r.latitude = std::int32_t(std::lround(lat * kMasPerDeg));
    r.longitude = std::int32_t(std::lround(lon * kMasPerDeg));
    r.altitude = std::int32_t(std::lround(alt * 100.0));
    r.pitch = smallAngleField(pitch);
    r.roll = smallAngleField(roll);
    r.speed = std::int16_t(std::clamp(std::lround((pass_.groundSpeed + 0.05 * rng.gauss()) * 100.0), 0L, 32767L));
    r.heading = angleField(heading);
    r.track = angleField(trackRad_ / kDeg + 0.02 * rng.gauss());
    if (pass_.lowScanPeriodFraction > 0.0 && rng.uniform() < pass_.lowScanPeriodFraction)
        r.scanPeriod = std::uint32_t(4700 + rng.next() % 50);
    else
        r.scanPeriod = std::uint32_t(std::lround(pass_.nominalScanPeriod) - 2 + std::int64_t(rng.next() % 5));
    nextIndex_ += r.effectiveInterval();

    // Trace from exactly what the record says.
    lastState_ = LookState::fromRecord(r);
    RayTracer tracer(scene_, lastState_);

    // Fires and patches within reach of this line.
    const double reach = (lastState_.altitude - tracer.trace(0.0).height + std::max(sp.relief, 0.0)) * 2.5 + 200.0;
    nearFires_.clear();
    nearPatches_.clear();
    const auto &fires = scene_.fires();
    for (int i = 0; i < int(fires.size()); ++i)
        if (localDistance(lastState_.lat, lastState_.lon, fires[i].lat, fires[i].lon) < reach + fires[i].radiusM)
            nearFires_.push_back(i);
    const auto &patches = scene_.warmPatches();
    for (int i = 0; i < int(patches.size()); ++i)
        if (localDistance(lastState_.lat, lastState_.lon, patches[i].lat, patches[i].lon)
            < reach + 3.0 * patches[i].radiusM)
            nearPatches_.push_back(i);
    const double mLat = meridionalRadius(lastState_.lat) * kDeg;
    const double mLon = primeVerticalRadius(lastState_.lat) * std::cos(lastState_.lat * kDeg) * kDeg;

    const float gain = r.chnBGain;
    const std::int32_t offset = r.chnBOffset;
    const double cosH = std::cos(lastState_.headingDeg * kDeg), sinH = std::sin(lastState_.headingDeg * kDeg);
    std::int32_t bMin = kSampleMax, bMax = kSampleMin;
    std::uint32_t saturated = 0;
    hits_.clear();
    double guess = std::nan("");
    for (int s = 0; s < SAMPLES_PER_LINE; ++s) {
        const int pixIndex = SAMPLES_PER_LINE - 1 - s;
        const GroundPoint gp = tracer.trace(scanAngleOfPix(pixIndex), guess);
        guess = gp.height;
        ground_[size_t(s)] = gp;

        double a, b;
        scene_.backgroundLevels(gp.lat, gp.lon, gp.height, a, b);
        double tBg = 0.0;
        bool haveT = false;
        auto background = [&]() {
            if (!haveT) {
                tBg = scene_.backgroundTemperature(gp.lat, gp.lon, gp.height);
                haveT = true;
            }
            return tBg;
        };
        for (int i : nearPatches_) {
            const WarmPatch &w = patches[size_t(i)];
            const double dn = (gp.lat - w.lat) * mLat, de = (gp.lon - w.lon) * mLon;
            const double q = (dn * dn + de * de) / (w.radiusM * w.radiusM);
            if (q < 9.0) {
                const double t0 = background(), t1 = t0 + w.deltaK * std::exp(-q);
                a += radiometry::addedA(t0, t1);
                const double addB = radiometry::addedB(t0, t1);
                b += w.kind == PatchKind::HotGround ? addB : 0.05 * addB;
            }
        }
        if (!nearFires_.empty()) {
            // The sample's ground footprint: one IFOV along the heading, one
            // IFOV stretched by the slant across it (level ground assumed).
            double le, ln, lu;
            tracer.lookEnu(scanAngleOfPix(pixIndex), le, ln, lu);
            const double along = gp.range * kIfovRad;
            const double across = along / std::max(std::fabs(lu), 0.05);
            for (int i : nearFires_) {
                const Fire &f = fires[size_t(i)];
                const double dn = (f.lat - gp.lat) * mLat, de = (f.lon - gp.lon) * mLon;
                const double dx = de * cosH - dn * sinH, dy = de * sinH + dn * cosH;
                if (std::fabs(dx) > f.radiusM + across || std::fabs(dy) > f.radiusM + along)
                    continue;
                // Share of the footprint the disc covers, the disc taken as
                // the square of the same area.
                const double side = f.radiusM * std::sqrt(M_PI);
                auto overlap = [](double c, double half, double size) {
                    return std::max(0.0, std::min(c + half, size / 2) - std::max(c - half, -size / 2));
                };
                const double share = overlap(dx, side / 2, across) * overlap(dy, side / 2, along) / (across * along);
                // The sample sees the fire when its ground point lies in it,
                // its footprint holds the fire's centre, or (a fire smaller
                // than the footprint) flame fills a quarter of it: footprints
                // of wobbling lines need not tile the ground, so a small
                // fire's centre may fall between them.
                const bool inside = dx * dx + dy * dy <= f.radiusM * f.radiusM;
                const bool centreSeen = std::fabs(dx) <= across / 2 && std::fabs(dy) <= along / 2;
                if (inside || centreSeen || (share >= 0.25 && f.radiusM < along))
                    hits_.emplace_back(s, f.id);
                if (share > 0.0) {
                    const double t0 = background();
                    a += radiometry::addedA(t0, f.temperatureK(), share);
                    b += radiometry::addedB(t0, f.temperatureK(), share);
                }
            }
        }
        a += sp.noiseA * rng.gauss();
        b += sp.noiseB * rng.gauss();
        const std::int32_t ia = radiometry::toCount(a);
        const std::int32_t ib = radiometry::toCount(b);
        r.chanA[s] = ia;
        r.chanB[s] = ib;
        bMin = std::min(bMin, ib);
        bMax = std::max(bMax, ib);
        if (ib == kSampleMax)
            ++saturated;
        r.pix[pixIndex] = pixValue(ib, gain, offset);
    }
    r.chnBMin = bMin;
    r.chnBMax = bMax;
    r.statWord1 = saturated;
    r.statWord2 = std::uint32_t(k);
}

void LineGenerator::applyRecordFaults(const PassFaults &f, int k, ScanLineRec &r)
{
    auto *bytes = reinterpret_cast<unsigned char *>(&r);
    if (contains(f.insane, k)) {
        // Insane as delivered and in either one-word shift.
        r.roll = 9500;
        r.chnBOffset = 0;
    }
    if (contains(f.shiftLeft, k)) {
        std::memmove(bytes, bytes + 4, sizeof(ScanLineRec) - 4);
        std::memset(bytes + sizeof(ScanLineRec) - 4, 0, 4);
    } else if (contains(f.shiftRight, k)) {
        std::memmove(bytes + 4, bytes, sizeof(ScanLineRec) - 4);
        std::memset(bytes, 0, 4);
    }
}

} // namespace sim
