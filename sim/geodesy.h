#pragma once
// WGS 84 ellipsoid conversions used by the flight simulator: geodetic
// latitude/longitude/height to earth-centred earth-fixed (ECEF) coordinates
// and back, and the local east-north-up (ENU) frame at a point.
//
// Heights are above the ellipsoid. The simulator treats the elevation model
// and the recorded altitude as heights above the same surface.
namespace sim {

struct Ecef {
    double x = 0.0, y = 0.0, z = 0.0;
};

struct Geodetic {
    double latDeg = 0.0, lonDeg = 0.0, height = 0.0;
};

namespace wgs84 {
constexpr double a = 6378137.0;
constexpr double f = 1.0 / 298.257223563;
constexpr double b = a * (1.0 - f);
constexpr double e2 = f * (2.0 - f);
constexpr double ep2 = e2 / (1.0 - e2);
} // namespace wgs84

Ecef geodeticToEcef(double latDeg, double lonDeg, double height);
inline Ecef geodeticToEcef(const Geodetic &g) { return geodeticToEcef(g.latDeg, g.lonDeg, g.height); }

// Exact to well below a millimetre for any point near the earth's surface
// (Bowring's start value refined by Newton steps on the reduced latitude).
Geodetic ecefToGeodetic(const Ecef &p);

// Local east-north-up frame at a geodetic point: unit vectors in ECEF.
struct EnuFrame {
    Ecef origin;
    double east[3];
    double north[3];
    double up[3];

    EnuFrame(double latDeg, double lonDeg, double height);
    // ENU offset (metres) from the origin to ECEF.
    Ecef toEcef(double e, double n, double u) const;
    // ECEF direction of an ENU direction vector.
    void direction(double e, double n, double u, double out[3]) const;
    // ENU components of an ECEF point relative to the origin.
    void toEnu(const Ecef &p, double &e, double &n, double &u) const;
};

// Radii of curvature at a latitude: meridional (north-south) and in the
// prime vertical (east-west, before the cos(latitude) factor).
double meridionalRadius(double latDeg);
double primeVerticalRadius(double latDeg);

// Great-circle-free local distance in metres between two nearby geodetic
// points (tangent plane at the first point; exact enough below ~50 km).
double localDistance(double lat1, double lon1, double lat2, double lon2);

} // namespace sim
