#pragma once
// Transverse Mercator (UTM) conversion between geographic positions and the
// mission grid, on three ellipsoids selected by a datum code on every call:
//   1 = Clarke 1866, 2 = WGS 84, 3 = GRS 80; any other code keeps the
//   ellipsoid of the previous conversion (WGS 84 before the first one).
// Zones are 6 degrees wide, k0 = 0.9996, false easting 500000 m. A mission
// may pin the central meridian to a whole degree west so that all its runs
// share one grid; then no zone-edge move happens and the zone number is
// informative only.
//
// Positions are decimal degrees, north and east positive. Northern
// hemisphere: false northing 0. A southern latitude is projected with the
// usual false northing of 10,000,000 m; the inverse always assumes the
// northern hemisphere (the converter serves North America).
//
// The converter remembers the results of its last conversion (zone,
// northing, easting, latitude, longitude, grid convergence and point scale)
// and keeps running statistics of every convergence it computed.
#include <cstdint>

class CUtmConverter {
public:
    CUtmConverter();

    // Forward conversion. Returns the service-area check of the input.
    bool LatLonToUtm(double lat, double lon, double *northing, double *easting, std::int32_t *zone, int datum);
    // Inverse conversion; longitude negative west. Zone 0 is allowed when a
    // central meridian is fixed. Returns true when northing and easting are
    // both 0 or zone is 0, otherwise the service-area check of the result.
    bool UtmToLatLon(double northing, double easting, int zone, double *lat, double *lon, int datum);
    // The position alone, on the ellipsoid of the last conversion: no
    // convergence, scale, statistics or remembered results, so it changes
    // nothing and may run on several threads at once. The multiple angles
    // of the footpoint series come from one sine and cosine; the result
    // agrees with UtmToLatLon to the last bits. For inner loops that
    // convert many points of one grid.
    void GridToLatLon(double northing, double easting, int zone, double *lat, double *lon) const;
    // GridToLatLon for many points near one northing: the reference holds
    // the sine and cosine there (on the ellipsoid of the last conversion),
    // and a point within about 13 km of it takes its own by the angle sum,
    // without a sine or cosine. Within a few units of the last bit of
    // GridToLatLon; a point farther away (or another ellipsoid) is
    // converted as by GridToLatLon.
    struct GridReference {
        double invK0A = 0.0, mu = 0.0, sinMu = 0.0, cosMu = 1.0;
    };
    GridReference ReferenceAt(double northing) const;
    void GridToLatLon(double northing, double easting, int zone, const GridReference &ref, double *lat,
                      double *lon) const;

    // Fix the central meridian to |degrees| west. 0 removes a fixed meridian
    // (0 is what GetCentralMeridian reports when none is fixed). A value
    // beyond 180 degrees either way is refused (false, nothing changes).
    bool SetCentralMeridian(int degrees);
    // 0 when none is fixed, otherwise signed degrees (negative west).
    int GetCentralMeridian() const;

    // Mean and standard deviation of every convergence (radians) computed so
    // far; both 0 before the first conversion.
    void GetConvergenceStats(double *mean, double *sd) const;

    static bool IsInServiceArea(double lat, double lon);

    // Results of the last conversion.
    std::int32_t GetZone() const { return zone_; }
    double GetNorthing() const { return northing_; }
    double GetEasting() const { return easting_; }
    double GetLatitude() const { return lat_; }
    double GetLongitude() const { return lon_; }
    double GetConvergence() const { return gamma_; }     // radians
    double GetScaleFactor() const { return scale_; }
    int GetDatum() const { return datum_; }

    // Process-wide number of this converter (1 for the first one built).
    int GetInstanceNumber() const { return instance_; }

    // Central meridian of a zone in degrees west (0..360), as used
    // internally: 183 - 6 * zone for zones below 31, else 543 - 6 * zone.
    static double ZoneCentralMeridianWest(int zone);

private:
    struct Ellipsoid {
        double a = 0, e2 = 0, ep2 = 0, n = 0, A = 0;
        // GridToLatLon's: 1 / (k0 A), 1 / (k0 a) and the footpoint
        // series' coefficients of sin 2mu, 4mu, 6mu and 8mu.
        double invK0A = 0, invK0a = 0, f2 = 0, f4 = 0, f6 = 0, f8 = 0;
    };
    void SelectEllipsoid(int datum);
    // GridToLatLon from the rectifying latitude mu and its sine and cosine.
    void FootpointToLatLon(double mu, double sm, double cm, double easting, int zone, double *lat,
                           double *lon) const;
    // One forward projection on central meridian lambda0 (degrees west).
    void Project(double phi, double w, double lambda0, bool north, double *northing, double *easting);
    void AddConvergence(double g);

    int instance_;
    bool fixedMeridian_ = false;
    int fixedMeridianWest_ = 0;
    int datum_ = 2;
    Ellipsoid ell_;
    std::int32_t zone_ = 0;
    double northing_ = 0, easting_ = 0, lat_ = 0, lon_ = 0;
    double gamma_ = 0, scale_ = 0;
    double sumGamma_ = 0, sumGamma2_ = 0;
    std::uint64_t countGamma_ = 0;
};
