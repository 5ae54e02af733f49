// cindrel utm / cindrel latlon: the coordinate converter from the command line.
#include "datasource/cutmconverter.h"
#include "tools/command.h"

#include <cmath>

namespace {
using namespace cindrel::tool;

bool converterOptions(const Invocation &in, CUtmConverter &conv, int *datum)
{
    long long d = 2;
    double cm = 0.0;
    if (!in.optInt(QStringLiteral("datum"), 2, &d, 1, 3) || !in.optDouble(QStringLiteral("cm"), 0.0, &cm, -180.0, 180.0))
        return false;
    if (in.has(QStringLiteral("cm"))) {
        if (cm != std::floor(cm)) {
            in.usageError(QStringLiteral("--cm: the central meridian is a whole degree"));
            return false;
        }
        conv.SetCentralMeridian(int(cm));
    }
    *datum = int(d);
    return true;
}

int runUtm(const Invocation &in)
{
    double lat, lon;
    if (!in.toDouble(in.positional(0), QStringLiteral("LAT"), &lat, -90.0, 90.0)
        || !in.toDouble(in.positional(1), QStringLiteral("LON"), &lon, -180.0, 180.0))
        return kUsage;
    CUtmConverter conv;
    int datum = 2;
    if (!converterOptions(in, conv, &datum))
        return kUsage;
    double n = 0, e = 0;
    std::int32_t zone = 0;
    conv.LatLonToUtm(lat, lon, &n, &e, &zone, datum);
    in.out() << zone << " " << QString::number(n, 'f', 3) << " " << QString::number(e, 'f', 3) << "\n";
    return kSuccess;
}

int runLatLon(const Invocation &in)
{
    long long zone;
    double n, e;
    if (!in.toInt(in.positional(0), QStringLiteral("ZONE"), &zone, 0, 60)
        || !in.toDouble(in.positional(1), QStringLiteral("NORTHING"), &n, -1e7, 2e7)
        || !in.toDouble(in.positional(2), QStringLiteral("EASTING"), &e, -1e7, 1e7))
        return kUsage;
    CUtmConverter conv;
    int datum = 2;
    if (!converterOptions(in, conv, &datum))
        return kUsage;
    if (zone == 0 && !in.has(QStringLiteral("cm")))
        return in.usageError(QStringLiteral("ZONE 0 needs --cm"));
    double lat = 0, lon = 0;
    conv.UtmToLatLon(n, e, int(zone), &lat, &lon, datum);
    in.out() << QString::number(lat, 'f', 9) << " " << QString::number(lon, 'f', 9) << "\n";
    return kSuccess;
}

const std::vector<Option> kOptions = {
    {QStringLiteral("datum"), QStringLiteral("N"), QStringLiteral("ellipsoid: 1 Clarke 1866, 2 WGS 84 (default), 3 GRS 80")},
    {QStringLiteral("cm"), QStringLiteral("DEG"), QStringLiteral("fixed central meridian, whole degrees (west negative)")}};

const bool registeredUtm = registerCommand(
    {QStringLiteral("utm"), QStringLiteral("Convert latitude/longitude to UTM"), QStringLiteral("[--datum N] [--cm DEG] LAT LON"),
     QStringLiteral("Prints \"zone northing easting\" (metres to the millimetre). Degrees, north and east positive."),
     kOptions, 2, 2, runUtm});
const bool registeredLatLon = registerCommand(
    {QStringLiteral("latlon"), QStringLiteral("Convert UTM to latitude/longitude"),
     QStringLiteral("[--datum N] [--cm DEG] ZONE NORTHING EASTING"),
     QStringLiteral("Prints \"lat lon\" in degrees to 1e-9 (northern hemisphere). ZONE may be 0 with --cm."),
     kOptions, 3, 3, runLatLon});
} // namespace
