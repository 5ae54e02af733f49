#include "sim/geodesy.h"

#include <cmath>

namespace sim {

namespace {
constexpr double kDeg = M_PI / 180.0;
}

Ecef geodeticToEcef(double latDeg, double lonDeg, double height)
{
    const double lat = latDeg * kDeg, lon = lonDeg * kDeg;
    const double sl = std::sin(lat), cl = std::cos(lat);
    const double n = wgs84::a / std::sqrt(1.0 - wgs84::e2 * sl * sl);
    Ecef p;
    p.x = (n + height) * cl * std::cos(lon);
    p.y = (n + height) * cl * std::sin(lon);
    p.z = (n * (1.0 - wgs84::e2) + height) * sl;
    return p;
}

Geodetic ecefToGeodetic(const Ecef &p)
{
    using namespace wgs84;
    Geodetic g;
    const double r = std::hypot(p.x, p.y);
    g.lonDeg = std::atan2(p.y, p.x) / kDeg;
    if (r < 1e-9) {
        g.latDeg = p.z >= 0 ? 90.0 : -90.0;
        g.height = std::fabs(p.z) - b;
        return g;
    }
    // Bowring: the reduced latitude from the point, then the geodetic
    // latitude in one step (sub-millimetre for points near the surface).
    // Sines and cosines come from normalised tangents, not trigonometry.
    const double sz = a * p.z, cz = b * r;
    const double nb = 1.0 / std::sqrt(sz * sz + cz * cz);
    const double sb = sz * nb, cb = cz * nb;
    const double num = p.z + ep2 * b * sb * sb * sb;
    const double den = r - e2 * a * cb * cb * cb;
    const double nl = 1.0 / std::sqrt(num * num + den * den);
    const double sl = num * nl, cl = den * nl;
    const double n = a / std::sqrt(1.0 - e2 * sl * sl);
    // Height along the normal; the form is stable at any latitude.
    g.height = r * cl + (p.z + e2 * n * sl) * sl - n;
    g.latDeg = std::atan2(num, den) / kDeg;
    return g;
}

EnuFrame::EnuFrame(double latDeg, double lonDeg, double height)
{
    origin = geodeticToEcef(latDeg, lonDeg, height);
    const double lat = latDeg * kDeg, lon = lonDeg * kDeg;
    const double sl = std::sin(lat), cl = std::cos(lat), so = std::sin(lon), co = std::cos(lon);
    east[0] = -so;
    east[1] = co;
    east[2] = 0.0;
    north[0] = -sl * co;
    north[1] = -sl * so;
    north[2] = cl;
    up[0] = cl * co;
    up[1] = cl * so;
    up[2] = sl;
}

Ecef EnuFrame::toEcef(double e, double n, double u) const
{
    Ecef p;
    p.x = origin.x + e * east[0] + n * north[0] + u * up[0];
    p.y = origin.y + e * east[1] + n * north[1] + u * up[1];
    p.z = origin.z + e * east[2] + n * north[2] + u * up[2];
    return p;
}

void EnuFrame::direction(double e, double n, double u, double out[3]) const
{
    for (int k = 0; k < 3; ++k)
        out[k] = e * east[k] + n * north[k] + u * up[k];
}

void EnuFrame::toEnu(const Ecef &p, double &e, double &n, double &u) const
{
    const double dx = p.x - origin.x, dy = p.y - origin.y, dz = p.z - origin.z;
    e = dx * east[0] + dy * east[1] + dz * east[2];
    n = dx * north[0] + dy * north[1] + dz * north[2];
    u = dx * up[0] + dy * up[1] + dz * up[2];
}

double meridionalRadius(double latDeg)
{
    const double s = std::sin(latDeg * kDeg);
    const double w = 1.0 - wgs84::e2 * s * s;
    return wgs84::a * (1.0 - wgs84::e2) / (w * std::sqrt(w));
}

double primeVerticalRadius(double latDeg)
{
    const double s = std::sin(latDeg * kDeg);
    return wgs84::a / std::sqrt(1.0 - wgs84::e2 * s * s);
}

double localDistance(double lat1, double lon1, double lat2, double lon2)
{
    const double dn = (lat2 - lat1) * kDeg * meridionalRadius(lat1);
    const double de = (lon2 - lon1) * kDeg * primeVerticalRadius(lat1) * std::cos(lat1 * kDeg);
    return std::hypot(dn, de);
}

} // namespace sim
