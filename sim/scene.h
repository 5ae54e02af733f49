#pragma once
// The synthetic world the flight simulator flies over: terrain, fires,
// smoke and hot ground, and the background temperature field. Everything is
// a deterministic function of the parameters (the seed included), so the
// same parameters give the same scene, the same tiles and the same lines.
//
// Terrain: smooth relief (ridges and valleys from a few oriented waves) over
// a square region around the centre. The elevation the simulator traces
// rays against is exactly what the DEM tiles store: whole metres per cell,
// cell centres on whole multiples of the cell size (one arc-second, two
// arc-seconds north of 51 degrees and west of -129.75), as in real 1 degree
// elevation tiles, interpolated bilinearly between cell centres.
//
// Datums: positions of the aircraft, the rays and the fires are in the
// navigation datum (WGS 84). The elevation tiles of Alaska (two arc-second
// cells) are on the grid datum of the Alaska shift grids (NAD27), as such
// tiles are published; elsewhere tiles and navigation share one datum. The
// relation between the two is the one the demo shift grids tabulate
// (alaskaGridToNav / navToAlaskaGrid below).
//
// Radiometry: a two-channel line scanner, channel A in the mid-wave
// infrared (band centre 3.9 um) and channel B in the long-wave infrared
// (10.8 um), each sample one square instantaneous field of view of
// 120/1680 degrees (1.25 mrad). Counts are offset + gain x band radiance
// (Planck's law at the band centre), with offset and gain set so that a
// 295 K surface reads A = 2500 and B = 3500 counts with 40 and 120 counts
// per kelvin; the detector's full scale is the record's signed 16-bit range,
// so a reading clips at -32768 and 32767 (A reaches full scale at a
// brightness of about 410 K, B at about 445 K). The background field (a few
// kelvin either side of 295 K) uses the straight-line form of that response;
// everything hotter adds its exact radiance difference:
// - a fire (temperature 450 + 750 x intensity K, a disc of radiusM) adds the
//   share of the sample's ground footprint it covers times the radiance
//   difference to the background. A fire a tenth of a pixel in area drives
//   A to full scale and raises B by thousands of counts (sub-pixel fires
//   are seen); a pixel mostly filled by flame saturates both channels;
// - hot ground (bare rock, a cooling burn scar) is a Gaussian patch whose
//   surface is deltaK warmer at its centre: both channels rise, A by
//   hundreds to a few thousand counts, well short of full scale;
// - smoke scatters sunlight in the mid-wave band and is nearly transparent
//   in the long-wave band: A rises as if the surface were deltaK warmer,
//   B by a twentieth of that.
// Each channel then gets its own detector noise (noiseA, noiseB counts).
#include <cstdint>
#include <vector>

namespace sim {

struct SceneParams {
    std::uint64_t seed = 1;
    double centerLat = 44.5;        // degrees
    double centerLon = -121.5;      // degrees, east positive
    double regionDeg = 1.0;         // side of the square region (degrees)
    double baseElevation = 1100.0;  // metres
    double relief = 700.0;          // metres, 0 = flat terrain at baseElevation
    int fireCount = 12;
    int smokeCount = 4;             // smoke plumes and hot-ground patches
    double fireSpreadM = 3000.0;    // fires and patches lie within this distance of the centre
    double backgroundK = 295.0;     // mean background temperature
    double noiseA = 12.0;           // counts (1 sigma)
    double noiseB = 25.0;
};

struct Fire {
    int id = 0;
    double lat = 0.0, lon = 0.0;
    double radiusM = 5.0;
    double intensity = 0.5;         // 0..1: flame temperature 450 K (0) to 1200 K (1)
    double temperatureK() const { return 450.0 + 750.0 * intensity; }
};

enum class PatchKind { Smoke, HotGround };

// A large warm patch: smoke plume or hot ground (Gaussian profile,
// exp(-(d / radiusM)^2), cut off at three radii).
struct WarmPatch {
    double lat = 0.0, lon = 0.0;
    double radiusM = 300.0;
    double deltaK = 20.0;           // apparent warming at the centre (kelvin)
    PatchKind kind = PatchKind::Smoke;
};

// The scanner's radiometric response (see the header comment).
namespace radiometry {
constexpr double kBandA = 3.9e-6, kBandB = 10.8e-6;   // band centres (m)
constexpr double kReferenceK = 295.0;
constexpr double kCountsA = 2500.0, kCountsB = 3500.0;   // at the reference temperature
constexpr double kPerKelvinA = 40.0, kPerKelvinB = 120.0;
// Counts added to channel A (B) when a share `fraction` of a sample's
// footprint at temperature backgroundK is replaced by a surface at hotK.
double addedA(double backgroundK, double hotK, double fraction = 1.0);
double addedB(double backgroundK, double hotK, double fraction = 1.0);
// The count a channel reads, clipped to the detector's range.
std::int32_t toCount(double counts);
} // namespace radiometry

constexpr int kSampleMax = 32767;
constexpr int kSampleMin = -32768;

// A 1 x 1 degree elevation tile: south-west corner and cell size. Its
// cpd + 1 columns and rows have their centres on the tile's whole-degree
// lines and every cell between them (neighbouring tiles share their edge
// rows and columns).
struct DemTile {
    int lat0 = 0, lon0 = 0;
    int cellsPerDegree = 3600;
};

class Scene {
public:
    explicit Scene(const SceneParams &params);

    const SceneParams &params() const { return p_; }

    // --- terrain ---
    // Cells per degree of the elevation model (3600 or 1800).
    int cellsPerDegree() const { return cpd_; }
    double cellDeg() const { return 1.0 / cpd_; }
    // Continuous model surface (metres) before it is stored in whole metres.
    double modelHeight(double lat, double lon) const;
    // Stored elevation of the cell with global indices (gx, gy): its centre
    // is at longitude gx / cpd and latitude gy / cpd.
    std::int16_t cell(long gx, long gy) const;
    // Bilinear elevation between cell centres at a tile position (grid
    // datum): what a reader of the tiles sees there.
    double gridElevation(double lat, double lon) const;
    // Terrain height under a position in the navigation datum: the tiles'
    // surface at the same ground point.
    double elevation(double lat, double lon) const;
    // Whether the tiles are on the Alaska grid datum.
    bool alaskaGridDatum() const { return cpd_ == 1800; }
    // Fills w x h cells, row-major from the north-west cell (gx0, gy0) going
    // east and south (gy decreasing): the order of a BIL tile.
    void fillCells(long gx0, long gyTop, int w, int h, std::int16_t *out) const;
    // Tiles that cover the region, south-west first, west to east then south to north.
    std::vector<DemTile> tiles() const;

    // --- fires, smoke, background ---
    const std::vector<Fire> &fires() const { return fires_; }
    void setFires(const std::vector<Fire> &fires) { fires_ = fires; }
    void addFire(const Fire &f) { fires_.push_back(f); }
    const std::vector<WarmPatch> &warmPatches() const { return patches_; }
    void setWarmPatches(const std::vector<WarmPatch> &p) { patches_ = p; }

    double backgroundTemperature(double lat, double lon, double elevation) const;
    // Noise-free background channel levels at a ground point.
    void backgroundLevels(double lat, double lon, double elevation, double &a, double &b) const;

private:
    struct Wave {
        double kx, ky, phase, weight;
        bool ridge;
    };
    double waveSum(double x, double y) const;
    double xOf(double lon) const { return (lon - p_.centerLon) * mx_; }
    double yOf(double lat) const { return (lat - p_.centerLat) * my_; }

    SceneParams p_;
    int cpd_ = 3600;
    double mx_ = 0.0, my_ = 0.0;    // metres per degree at the centre
    std::vector<Wave> waves_;
    double tkx_[2] = {0, 0}, tky_[2] = {0, 0}, tphase_[2] = {0, 0};
    std::vector<Fire> fires_;
    std::vector<WarmPatch> patches_;

    // Stored cells of the region (plus a margin), row-major, north row first.
    long gridX0_ = 0, gridYTop_ = 0;
    int gridW_ = 0, gridH_ = 0;
    std::vector<std::int16_t> grid_;
};

// Deterministic pseudo-random numbers (splitmix64 seeding, xoshiro256**).
class Rng {
public:
    explicit Rng(std::uint64_t seed);
    std::uint64_t next();
    double uniform() { return (next() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Approximately normal (sum of four uniforms), mean 0, sigma 1.
    double gauss()
    {
        const std::uint64_t r = next();
        const double s = double(r & 0xFFFF) + double((r >> 16) & 0xFFFF) + double((r >> 32) & 0xFFFF)
                         + double(r >> 48);
        return (s - 2.0 * 65535.0) * (1.7320508075688772 / 65535.0);
    }

private:
    std::uint64_t s_[4];
};

std::uint64_t mixSeed(std::uint64_t a, std::uint64_t b);

// The Alaska grid datum (NAD27) against the navigation datum: a grid
// position (lat, lon) is the navigation position (lat + a / 3600,
// lon - b / 3600) with a, b the shifts (arc-seconds, latitude north and
// longitude west positive) at the grid position. navToAlaskaGrid inverts
// that to well below a millimetre.
void alaskaGridToNav(double lat, double lon, double *navLat, double *navLon);
void navToAlaskaGrid(double navLat, double navLon, double *lat, double *lon);

} // namespace sim
