#include "datasource/cutmconverter.h"

#include <atomic>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kRadToDeg = 180.0 / kPi;
constexpr double k0 = 0.9996;
constexpr double kFalseEasting = 500000.0;
constexpr double kSouthFalseNorthing = 10000000.0;
// A point this close to a zone's edge (5 arcminutes) is projected in the
// neighbour zone.
constexpr double kZoneEdgeMargin = 0.0833333;

std::atomic<int> g_instances{0};

} // namespace

CUtmConverter::CUtmConverter() : instance_(++g_instances)
{
    SelectEllipsoid(2);
}

void CUtmConverter::SelectEllipsoid(int datum)
{
    double a = 0.0, invF = 0.0;
    switch (datum) {
    case 1: a = 6378206.4; invF = 294.9786982; break;
    case 2: a = 6378137.0; invF = 298.257223563; break;
    case 3: a = 6378137.0; invF = 298.257222101; break;
    default: return;   // keep the previous ellipsoid
    }
    datum_ = datum;
    const double f = 1.0 / invF;
    const double e2 = 2.0 * f - f * f;
    const double b = a * (1.0 - f);
    const double n = (a - b) / (a + b);
    const double n2 = n * n;
    ell_.a = a;
    ell_.e2 = e2;
    ell_.ep2 = e2 / (1.0 - e2);
    ell_.n = n;
    ell_.A = a * (1.0 - n) * (1.0 - n2) * (1.0 + 9.0 * n2 / 4.0 + 225.0 * n2 * n2 / 64.0);
    const double n3 = n2 * n, n4 = n2 * n2;
    ell_.invK0A = 1.0 / (k0 * ell_.A);
    ell_.invK0a = 1.0 / (k0 * a);
    ell_.f2 = 3.0 * n / 2.0 - 27.0 * n3 / 32.0;
    ell_.f4 = 21.0 * n2 / 16.0 - 55.0 * n4 / 32.0;
    ell_.f6 = 151.0 * n3 / 96.0;
    ell_.f8 = 1097.0 * n4 / 512.0;
}

double CUtmConverter::ZoneCentralMeridianWest(int zone)
{
    return zone < 31 ? 183.0 - 6.0 * zone : 543.0 - 6.0 * zone;
}

bool CUtmConverter::IsInServiceArea(double lat, double lon)
{
    if (std::fabs(lat) <= 1e-6 && std::fabs(lon) <= 1e-6)
        return true;
    return lat >= 24.0 && lat <= 71.5 && lon >= -170.0 && lon <= -66.0;
}

bool CUtmConverter::SetCentralMeridian(int degrees)
{
    // No meridian lies beyond 180 degrees (and -INT_MIN has no value).
    if (degrees < -180 || degrees > 180)
        return false;
    const int west = degrees < 0 ? -degrees : degrees;
    fixedMeridian_ = west != 0;
    fixedMeridianWest_ = west;
    return true;
}

int CUtmConverter::GetCentralMeridian() const
{
    return fixedMeridian_ ? -fixedMeridianWest_ : 0;
}

void CUtmConverter::AddConvergence(double g)
{
    sumGamma_ += g;
    sumGamma2_ += g * g;
    ++countGamma_;
}

void CUtmConverter::GetConvergenceStats(double *mean, double *sd) const
{
    double m = 0.0, s = 0.0;
    if (countGamma_ > 0) {
        const double count = double(countGamma_);
        m = sumGamma_ / count;
        const double var = sumGamma2_ / count - m * m;
        s = var > 0.0 ? std::sqrt(var) : 0.0;   // rounding may leave a tiny negative
    }
    if (mean)
        *mean = m;
    if (sd)
        *sd = s;
}

void CUtmConverter::Project(double phi, double w, double lambda0, bool north, double *northing, double *easting)
{
    const double a = ell_.a, e2 = ell_.e2, ep2 = ell_.ep2, n = ell_.n, A = ell_.A;
    const double n2 = n * n, n3 = n2 * n, n4 = n2 * n2;
    const double s = std::sin(phi), c = std::cos(phi), t = std::tan(phi);
    const double T = t * t;
    const double C = ep2 * c * c;
    const double L = (w - lambda0) * kDegToRad * c;
    const double L2 = L * L, L4 = L2 * L2, L6 = L4 * L2;
    const double nu = a / std::sqrt(1.0 - e2 * s * s);
    const double M = A * (phi - (3.0 * n / 2.0 - 9.0 * n3 / 16.0) * std::sin(2.0 * phi)
                          + (15.0 * n2 / 16.0 - 15.0 * n4 / 32.0) * std::sin(4.0 * phi)
                          - (35.0 * n3 / 48.0) * std::sin(6.0 * phi));
    const double fn = north ? 0.0 : kSouthFalseNorthing;

    double y = k0 * M
               + k0 * nu * t * (L2 / 2.0)
                     * (1.0 + (5.0 - T + 9.0 * C + 4.0 * C * C) * L2 / 12.0
                        + (61.0 - 58.0 * T + T * T + 270.0 * C - 330.0 * T * C) * L4 / 360.0)
               - fn;
    *northing = std::fabs(y);
    *easting = kFalseEasting
               - k0 * nu * L
                     * (1.0 + (1.0 - T + C) * L2 / 6.0
                        + (5.0 - 18.0 * T + T * T + 14.0 * C - 58.0 * T * C) * L4 / 120.0
                        + (61.0 - 479.0 * T + 179.0 * T * T - T * T * T) * L6 / 5040.0);
    gamma_ = -t * L * (1.0 + (1.0 + 3.0 * C + 2.0 * C * C) * L2 / 3.0 + (2.0 - T) * L4 / 15.0);
    scale_ = k0 * (1.0 + (1.0 + C) * (L2 / 2.0) * (1.0 + (5.0 - 4.0 * T + 9.0 * C - 24.0 * T * C) * L2 / 12.0));
    AddConvergence(gamma_);
}

bool CUtmConverter::LatLonToUtm(double lat, double lon, double *northing, double *easting, std::int32_t *zone,
                                int datum)
{
    const bool inArea = IsInServiceArea(lat, lon);
    SelectEllipsoid(datum);
    lat_ = lat;
    lon_ = lon;
    if (!std::isfinite(lat) || !std::isfinite(lon)) {
        zone_ = 0;
        northing_ = easting_ = gamma_ = 0.0;
        scale_ = k0;
        if (northing) *northing = 0.0;
        if (easting) *easting = 0.0;
        if (zone) *zone = 0;
        return false;
    }

    const double phi = std::fabs(lat) * kDegToRad;
    const bool north = lat >= 0.0;
    double w = lon <= 0.0 ? std::fabs(lon) : 360.0 - lon;
    w = std::fmod(w, 360.0);   // longitudes beyond a full turn
    if (w < 0.0)
        w += 360.0;

    const int d = int(w);
    std::int32_t z = w < 180.0 ? 30 - d / 6 : 90 - d / 6;
    double lambda0 = fixedMeridian_ ? double(fixedMeridianWest_) : (w < 180.0 ? 183.0 - 6.0 * z : 543.0 - 6.0 * z);

    double y = 0.0, x = 0.0;
    Project(phi, w, lambda0, north, &y, &x);

    if (!fixedMeridian_) {
        if (std::fabs((lambda0 + 3.0) - w) <= kZoneEdgeMargin) {
            z = z - 1 == 0 ? 60 : z - 1;
            lambda0 += 6.0;
            Project(phi, w, lambda0, north, &y, &x);
        } else if (std::fabs((lambda0 - 3.0) - w) <= kZoneEdgeMargin) {
            z = z + 1 == 61 ? 1 : z + 1;
            lambda0 -= 6.0;
            Project(phi, w, lambda0, north, &y, &x);
        }
    }

    zone_ = z;
    northing_ = y;
    easting_ = x;
    if (northing) *northing = y;
    if (easting) *easting = x;
    if (zone) *zone = z;
    return inArea;
}

namespace {
// Sine and cosine of an angle below 0.003 rad: the series end below the
// last bit.
inline void smallSinCos(double x, double *s, double *c)
{
    const double xx = x * x;
    *s = x * (1.0 - xx * (1.0 / 6.0) * (1.0 - xx * (1.0 / 20.0)));
    *c = 1.0 - xx * 0.5 * (1.0 - xx * (1.0 / 12.0));
}
// The largest distance of a northing from a GridReference's (rad of mu,
// about 13 km) for the angle sum.
constexpr double kReferenceReach = 0.002;
} // namespace

void CUtmConverter::GridToLatLon(double northing, double easting, int zone, double *lat, double *lon) const
{
    const double mu = northing * ell_.invK0A;
    FootpointToLatLon(mu, std::sin(mu), std::cos(mu), easting, zone, lat, lon);
}

CUtmConverter::GridReference CUtmConverter::ReferenceAt(double northing) const
{
    GridReference ref;
    ref.invK0A = ell_.invK0A;
    ref.mu = northing * ell_.invK0A;
    ref.sinMu = std::sin(ref.mu);
    ref.cosMu = std::cos(ref.mu);
    return ref;
}

void CUtmConverter::GridToLatLon(double northing, double easting, int zone, const GridReference &ref, double *lat,
                                 double *lon) const
{
    const double mu = northing * ell_.invK0A;
    // Two close values: their difference is exact.
    const double dmu = mu - ref.mu;
    if (ref.invK0A != ell_.invK0A || !(std::fabs(dmu) <= kReferenceReach)) {
        FootpointToLatLon(mu, std::sin(mu), std::cos(mu), easting, zone, lat, lon);
        return;
    }
    double sd, cd;
    smallSinCos(dmu, &sd, &cd);
    FootpointToLatLon(mu, ref.sinMu * cd + ref.cosMu * sd, ref.cosMu * cd - ref.sinMu * sd, easting, zone, lat, lon);
}

void CUtmConverter::FootpointToLatLon(double mu, double sm, double cm, double easting, int zone, double *lat,
                                      double *lon) const
{
    const Ellipsoid &g = ell_;
    const double lambda0 = fixedMeridian_ ? double(fixedMeridianWest_) : ZoneCentralMeridianWest(zone);
    const bool western = fixedMeridian_ || zone < 31;

    // The footpoint latitude phi1 = mu + delta by the series of UtmToLatLon,
    // with every sine and cosine from those of mu (sm, cm): the multiple
    // angles by the double-angle and angle-sum rules, phi1's by the angle
    // sum with delta (below 0.003 rad).
    // Divisions by constants are multiplications by their reciprocals.
    const double s2 = 2.0 * sm * cm, c2 = 1.0 - 2.0 * sm * sm;
    const double s4 = 2.0 * s2 * c2, c4 = 1.0 - 2.0 * s2 * s2;
    const double s6 = s4 * c2 + c4 * s2, s8 = 2.0 * s4 * c4;
    const double delta = g.f2 * s2 + g.f4 * s4 + g.f6 * s6 + g.f8 * s8;
    const double phi1 = mu + delta;
    double sd, cd;
    smallSinCos(delta, &sd, &cd);
    const double s1 = sm * cd + cm * sd, c1 = cm * cd - sm * sd;
    const double inverseC1 = 1.0 / c1, t1 = s1 * inverseC1;
    const double T1 = t1 * t1;
    const double C1 = g.ep2 * c1 * c1;
    // D = (E - E0) / (k0 nu1), nu1 = a / sqrt(1 - e2 sin^2 phi1).
    const double D = (easting - kFalseEasting) * std::sqrt(1.0 - g.e2 * s1 * s1) * g.invK0a;
    const double D2 = D * D, D4 = D2 * D2, D6 = D4 * D2;

    const double phi = phi1
                       - t1 * (1.0 + C1) * (D2 * 0.5)
                             * (1.0 - (5.0 + 3.0 * T1 + C1 - 9.0 * T1 * C1 - 4.0 * C1 * C1) * D2 * (1.0 / 12.0)
                                + (61.0 + 90.0 * T1 + 45.0 * T1 * T1 + 46.0 * C1 - 252.0 * T1 * C1
                                   - 60.0 * T1 * T1 * C1)
                                      * D4 * (1.0 / 360.0));
    const double w = lambda0
                     - (D * inverseC1)
                           * (1.0 - (1.0 + 2.0 * T1 + C1) * D2 * (1.0 / 6.0)
                              + (5.0 + 28.0 * T1 + 24.0 * T1 * T1 + 6.0 * C1 + 8.0 * T1 * C1) * D4 * (1.0 / 120.0)
                              - (61.0 + 662.0 * T1 + 1320.0 * T1 * T1 + 720.0 * T1 * T1 * T1) * D6 * (1.0 / 5040.0))
                           * kRadToDeg;
    double outLon = western ? -w : 360.0 - w;
    if (outLon > 180.0)
        outLon -= 360.0;
    else if (outLon <= -180.0)
        outLon += 360.0;
    *lat = phi * kRadToDeg;
    *lon = outLon;
}

bool CUtmConverter::UtmToLatLon(double northing, double easting, int zone, double *lat, double *lon, int datum)
{
    SelectEllipsoid(datum);
    zone_ = zone;
    northing_ = northing;
    easting_ = easting;

    const double a = ell_.a, e2 = ell_.e2, ep2 = ell_.ep2, n = ell_.n, A = ell_.A;
    const double n2 = n * n, n3 = n2 * n, n4 = n2 * n2;
    const double lambda0 = fixedMeridian_ ? double(fixedMeridianWest_) : ZoneCentralMeridianWest(zone);
    const bool western = fixedMeridian_ || zone < 31;

    const double mu = northing / (k0 * A);
    const double phi1 = mu + (3.0 * n / 2.0 - 27.0 * n3 / 32.0) * std::sin(2.0 * mu)
                        + (21.0 * n2 / 16.0 - 55.0 * n4 / 32.0) * std::sin(4.0 * mu)
                        + (151.0 * n3 / 96.0) * std::sin(6.0 * mu) + (1097.0 * n4 / 512.0) * std::sin(8.0 * mu);
    const double s1 = std::sin(phi1), c1 = std::cos(phi1), t1 = std::tan(phi1);
    const double T1 = t1 * t1;
    const double C1 = ep2 * c1 * c1;
    const double nu1 = a / std::sqrt(1.0 - e2 * s1 * s1);
    const double D = (easting - kFalseEasting) / (k0 * nu1);
    const double D2 = D * D, D4 = D2 * D2, D6 = D4 * D2;

    const double phi = phi1
                       - t1 * (1.0 + C1) * (D2 / 2.0)
                             * (1.0 - (5.0 + 3.0 * T1 + C1 - 9.0 * T1 * C1 - 4.0 * C1 * C1) * D2 / 12.0
                                + (61.0 + 90.0 * T1 + 45.0 * T1 * T1 + 46.0 * C1 - 252.0 * T1 * C1
                                   - 60.0 * T1 * T1 * C1)
                                      * D4 / 360.0);
    const double w = lambda0
                     - (D / c1)
                           * (1.0 - (1.0 + 2.0 * T1 + C1) * D2 / 6.0
                              + (5.0 + 28.0 * T1 + 24.0 * T1 * T1 + 6.0 * C1 + 8.0 * T1 * C1) * D4 / 120.0
                              - (61.0 + 662.0 * T1 + 1320.0 * T1 * T1 + 720.0 * T1 * T1 * T1) * D6 / 5040.0)
                           * kRadToDeg;

    const double L = (w - lambda0) * kDegToRad * std::cos(phi);
    const double L2 = L * L, L4 = L2 * L2;
    const double T = std::tan(phi) * std::tan(phi);
    gamma_ = -std::tan(phi) * L * (1.0 + (1.0 + 3.0 * C1 + 2.0 * C1 * C1) * L2 / 3.0 + (2.0 - T) * L4 / 15.0);
    scale_ = k0 * (1.0 + (1.0 + C1) * (L2 / 2.0) * (1.0 + (5.0 - 4.0 * T + 9.0 * C1 - 24.0 * T * C1) * L2 / 12.0));
    AddConvergence(gamma_);

    double outLat = phi * kRadToDeg;
    double outLon = western ? -w : 360.0 - w;
    if (outLon > 180.0)
        outLon -= 360.0;
    else if (outLon <= -180.0)
        outLon += 360.0;
    lat_ = outLat;
    lon_ = outLon;
    if (lat) *lat = outLat;
    if (lon) *lon = outLon;

    if ((northing == 0.0 && easting == 0.0) || zone == 0)
        return true;
    return IsInServiceArea(outLat, outLon);
}
