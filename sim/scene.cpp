#include "sim/scene.h"

#include "sim/demodata.h"
#include "sim/geodesy.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
constexpr double kDeg = M_PI / 180.0;

std::uint64_t splitmix(std::uint64_t &x)
{
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

std::int16_t toCell(double h)
{
    const double r = std::floor(h + 0.5);
    return std::int16_t(std::clamp(r, -32768.0, 32767.0));
}

inline double ridgeOf(double c) { return 0.5 * (1.0 + c) * (1.0 + c) - 1.0; }
} // namespace

std::uint64_t mixSeed(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t x = a ^ rotl(b, 29) ^ 0x6A09E667F3BCC909ull;
    splitmix(x);
    return splitmix(x) ^ b;
}

Rng::Rng(std::uint64_t seed)
{
    std::uint64_t x = seed;
    for (auto &s : s_)
        s = splitmix(x);
}

std::uint64_t Rng::next()
{
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

Scene::Scene(const SceneParams &params) : p_(params)
{
    p_.regionDeg = std::clamp(p_.regionDeg, 0.01, 4.0);
    mx_ = primeVerticalRadius(p_.centerLat) * std::cos(p_.centerLat * kDeg) * kDeg;
    my_ = meridionalRadius(p_.centerLat) * kDeg;

    // Elevation cell size: two arc-seconds only when every tile of the
    // region lies north of 51 degrees and west of -129.75.
    const double half = p_.regionDeg / 2.0;
    const bool north = std::floor(p_.centerLat - half) >= 51.0;
    const bool west = std::floor(p_.centerLon + half - 1e-9) + 1.0 <= -129.75;
    cpd_ = (north && west) ? 1800 : 3600;

    Rng rng(mixSeed(p_.seed, 0x7E77A1));
    // Terrain: two ridge systems and two rolling wave trains, 9..30 km long.
    const double weights[4] = {0.45, 0.25, 0.18, 0.12};
    for (int k = 0; k < 4; ++k) {
        Wave w;
        const double len = rng.uniform(9000.0, 30000.0);
        const double dir = rng.uniform(0.0, M_PI);
        w.kx = 2.0 * M_PI / len * std::cos(dir);
        w.ky = 2.0 * M_PI / len * std::sin(dir);
        w.phase = rng.uniform(0.0, 2.0 * M_PI);
        w.weight = weights[k];
        w.ridge = k < 2;
        waves_.push_back(w);
    }
    for (int k = 0; k < 2; ++k) {
        const double len = rng.uniform(4000.0, 15000.0);
        const double dir = rng.uniform(0.0, M_PI);
        tkx_[k] = 2.0 * M_PI / len * std::cos(dir);
        tky_[k] = 2.0 * M_PI / len * std::sin(dir);
        tphase_[k] = rng.uniform(0.0, 2.0 * M_PI);
    }

    // Fires: mostly small, a few large; the first is always strong.
    Rng frng(mixSeed(p_.seed, 0xF1AE5));
    auto placeNear = [&](Rng &r, double spread, double &lat, double &lon) {
        const double rad = spread * std::sqrt(r.uniform());
        const double ang = r.uniform(0.0, 2.0 * M_PI);
        lat = p_.centerLat + rad * std::cos(ang) / my_;
        lon = p_.centerLon + rad * std::sin(ang) / mx_;
    };
    for (int i = 0; i < p_.fireCount; ++i) {
        Fire f;
        f.id = i + 1;
        placeNear(frng, p_.fireSpreadM, f.lat, f.lon);
        const double u = frng.uniform();
        f.radiusM = 2.5 + 9.5 * u * u;
        f.intensity = i == 0 ? 0.95 : frng.uniform(0.3, 1.0);
        fires_.push_back(f);
    }
    Rng srng(mixSeed(p_.seed, 0x5770CE));
    for (int i = 0; i < p_.smokeCount; ++i) {
        WarmPatch w;
        placeNear(srng, p_.fireSpreadM, w.lat, w.lon);
        w.radiusM = srng.uniform(150.0, 600.0);
        // Smoke plumes and hot ground in turn, 15..37 K warmer at the centre.
        w.deltaK = srng.uniform(15.0, 37.5);
        w.kind = i % 2 ? PatchKind::HotGround : PatchKind::Smoke;
        patches_.push_back(w);
    }

    // Stored cells around the centre (where the flights are), at most half a
    // degree across plus a margin; cells farther out are computed when asked.
    const double m = 0.02, held = std::min(half, 0.25) + m;
    const double west0 = p_.centerLon - held, east0 = p_.centerLon + held;
    const double south0 = p_.centerLat - held, north0 = p_.centerLat + held;
    gridX0_ = long(std::floor(west0 * cpd_));
    const long gx1 = long(std::ceil(east0 * cpd_));
    gridYTop_ = long(std::ceil(north0 * cpd_));
    const long gy1 = long(std::floor(south0 * cpd_));
    gridW_ = int(gx1 - gridX0_ + 1);
    gridH_ = int(gridYTop_ - gy1 + 1);
    grid_.resize(size_t(gridW_) * size_t(gridH_));
    fillCells(gridX0_, gridYTop_, gridW_, gridH_, grid_.data());
}

double Scene::waveSum(double x, double y) const
{
    double s = 0.0;
    for (const Wave &w : waves_) {
        const double u = w.kx * x + w.ky * y + w.phase;
        s += w.weight * (w.ridge ? ridgeOf(std::cos(u)) : std::sin(u));
    }
    return s;
}

double Scene::modelHeight(double lat, double lon) const
{
    if (p_.relief == 0.0)
        return p_.baseElevation;
    return p_.baseElevation + 0.5 * p_.relief * waveSum(xOf(lon), yOf(lat));
}

std::int16_t Scene::cell(long gx, long gy) const
{
    const long c = gx - gridX0_, r = gridYTop_ - gy;
    if (c >= 0 && c < gridW_ && r >= 0 && r < gridH_)
        return grid_[size_t(r) * size_t(gridW_) + size_t(c)];
    return toCell(modelHeight(double(gy) / cpd_, double(gx) / cpd_));
}

double Scene::elevation(double lat, double lon) const
{
    if (alaskaGridDatum()) {
        double glat, glon;
        navToAlaskaGrid(lat, lon, &glat, &glon);
        return gridElevation(glat, glon);
    }
    return gridElevation(lat, lon);
}

double Scene::gridElevation(double lat, double lon) const
{
    const double fx = lon * cpd_, fy = lat * cpd_;
    const double ix = std::floor(fx), iy = std::floor(fy);
    const double tx = fx - ix, ty = fy - iy;
    const long gx = long(ix), gy = long(iy);
    const long c = gx - gridX0_, r = gridYTop_ - gy;   // r: row of gy; gy + 1 is row r - 1
    double s00, s10, s01, s11;   // sXY: X east step, Y north step
    if (c >= 0 && c + 1 < gridW_ && r - 1 >= 0 && r < gridH_) {
        const std::int16_t *row0 = grid_.data() + size_t(r) * size_t(gridW_) + size_t(c);
        const std::int16_t *row1 = row0 - gridW_;
        s00 = row0[0];
        s10 = row0[1];
        s01 = row1[0];
        s11 = row1[1];
    } else {
        s00 = cell(gx, gy);
        s10 = cell(gx + 1, gy);
        s01 = cell(gx, gy + 1);
        s11 = cell(gx + 1, gy + 1);
    }
    const double south = s00 + (s10 - s00) * tx;
    const double northv = s01 + (s11 - s01) * tx;
    return south + (northv - south) * ty;
}

void Scene::fillCells(long gx0, long gyTop, int w, int h, std::int16_t *out) const
{
    if (p_.relief == 0.0) {
        std::fill(out, out + size_t(w) * size_t(h), toCell(p_.baseElevation));
        return;
    }
    // The waves are separable in x and y: sin(a + b) and cos(a + b) from
    // per-column and per-row tables.
    const int nw = int(waves_.size());
    std::vector<double> cs(size_t(w) * nw * 2), rs(size_t(h) * nw * 2);
    for (int c = 0; c < w; ++c) {
        const double x = xOf(double(gx0 + c) / cpd_);
        for (int k = 0; k < nw; ++k) {
            const double a = waves_[k].kx * x + waves_[k].phase;
            cs[(size_t(c) * nw + k) * 2] = std::sin(a);
            cs[(size_t(c) * nw + k) * 2 + 1] = std::cos(a);
        }
    }
    for (int r = 0; r < h; ++r) {
        const double y = yOf(double(gyTop - r) / cpd_);
        for (int k = 0; k < nw; ++k) {
            const double b = waves_[k].ky * y;
            rs[(size_t(r) * nw + k) * 2] = std::sin(b);
            rs[(size_t(r) * nw + k) * 2 + 1] = std::cos(b);
        }
    }
    const double scale = 0.5 * p_.relief;
    for (int r = 0; r < h; ++r) {
        const double *rr = &rs[size_t(r) * nw * 2];
        std::int16_t *o = out + size_t(r) * size_t(w);
        for (int c = 0; c < w; ++c) {
            const double *cc = &cs[size_t(c) * nw * 2];
            double s = 0.0;
            for (int k = 0; k < nw; ++k) {
                const double sa = cc[2 * k], ca = cc[2 * k + 1], sb = rr[2 * k], cb = rr[2 * k + 1];
                const Wave &wv = waves_[k];
                s += wv.weight * (wv.ridge ? ridgeOf(ca * cb - sa * sb) : sa * cb + ca * sb);
            }
            o[c] = toCell(p_.baseElevation + scale * s);
        }
    }
}

std::vector<DemTile> Scene::tiles() const
{
    const double half = p_.regionDeg / 2.0;
    const int lat0 = int(std::floor(p_.centerLat - half)), lat1 = int(std::floor(p_.centerLat + half - 1e-9));
    const int lon0 = int(std::floor(p_.centerLon - half)), lon1 = int(std::floor(p_.centerLon + half - 1e-9));
    std::vector<DemTile> out;
    for (int la = lat0; la <= lat1; ++la)
        for (int lo = lon0; lo <= lon1; ++lo)
            out.push_back(DemTile{la, lo, cpd_});
    return out;
}

double Scene::backgroundTemperature(double lat, double lon, double elevation) const
{
    const double x = xOf(lon), y = yOf(lat);
    return p_.backgroundK - 0.0065 * (elevation - p_.baseElevation)
           + 2.0 * std::sin(tkx_[0] * x + tky_[0] * y + tphase_[0])
           + 1.2 * std::sin(tkx_[1] * x + tky_[1] * y + tphase_[1]);
}

void Scene::backgroundLevels(double lat, double lon, double elevation, double &a, double &b) const
{
    using namespace radiometry;
    const double t = backgroundTemperature(lat, lon, elevation) - kReferenceK;
    a = kCountsA + kPerKelvinA * t;
    b = kCountsB + kPerKelvinB * t;
}

namespace radiometry {
namespace {
// Spectral radiance at one wavelength up to a constant factor, which the
// channel gain absorbs: 1 / (exp(c2 / (lambda T)) - 1).
double planck(double lambda, double t)
{
    constexpr double c2 = 1.438776877e-2;   // second radiation constant (m K)
    return 1.0 / std::expm1(c2 / (lambda * t));
}

// Counts per unit of planck() for a band whose response at the reference
// temperature is perKelvin counts per kelvin.
double gainOf(double lambda, double perKelvin)
{
    const double h = 0.01;
    const double slope = (planck(lambda, kReferenceK + h) - planck(lambda, kReferenceK - h)) / (2.0 * h);
    return perKelvin / slope;
}

} // namespace

double addedA(double backgroundK, double hotK, double fraction)
{
    static const double gain = gainOf(kBandA, kPerKelvinA);
    return fraction * gain * (planck(kBandA, hotK) - planck(kBandA, backgroundK));
}

double addedB(double backgroundK, double hotK, double fraction)
{
    static const double gain = gainOf(kBandB, kPerKelvinB);
    return fraction * gain * (planck(kBandB, hotK) - planck(kBandB, backgroundK));
}

std::int32_t toCount(double counts)
{
    if (!(counts > double(kSampleMin)))
        return kSampleMin;
    if (counts >= double(kSampleMax))
        return kSampleMax;
    return std::int32_t(std::lround(counts));
}
} // namespace radiometry

void alaskaGridToNav(double lat, double lon, double *navLat, double *navLon)
{
    double a, b;
    alaskaShiftAt(lat, lon, a, b);
    *navLat = lat + a / 3600.0;
    *navLon = lon - b / 3600.0;
}

void navToAlaskaGrid(double navLat, double navLon, double *lat, double *lon)
{
    // Fixed point: the shifts change by far less than a part in a thousand
    // over their own size, so a few passes reach the double's resolution.
    double la = navLat, lo = navLon;
    for (int k = 0; k < 6; ++k) {
        double a, b;
        alaskaShiftAt(la, lo, a, b);
        la = navLat - a / 3600.0;
        lo = navLon + b / 3600.0;
    }
    *lat = la;
    *lon = lo;
}

} // namespace sim
