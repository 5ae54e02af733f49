#include "geodata/cnadcon.h"

#include "geodata/cbil.h"

#include <QDir>

#include <cmath>

namespace {

std::unique_ptr<CBil> openGrid(const QString &fileName)
{
    auto grid = std::make_unique<CBil>();
    const QString name = QDir::toNativeSeparators(QDir::currentPath() + QLatin1Char('/') + fileName);
    if (!grid->Open(name))
        return nullptr;
    return grid;
}

} // namespace

CNadcon::CNadcon()
{
    latGrid_ = openGrid(QStringLiteral("AlaskaLatShift.bil"));
    lonGrid_ = openGrid(QStringLiteral("AlaskaLonShift.bil"));
    if (!latGrid_ || !lonGrid_)
        return;

    // Both grids take the latitude grid's layout: float nodes at
    // (ulxmap + c * xdim, ulymap - r * ydim), no half-cell offset. Samples
    // are interpolated between cell centres, so each node is registered
    // as the centre of its cell.
    const int ncols = latGrid_->GetNCols();
    const int nrows = latGrid_->GetNRows();
    const double xdim = latGrid_->GetXDim();
    const double ydim = latGrid_->GetYDim();
    const double ulx = latGrid_->GetULXMap();
    const double uly = latGrid_->GetULYMap();
    for (CBil *g : {latGrid_.get(), lonGrid_.get()}) {
        g->SetDimensions(ncols, nrows, 1, Float32);
        g->SetGeoReference(xdim, -ydim, 0, 0, ulx, uly, 0, 0.0, 0);
    }
}

CNadcon::~CNadcon() = default;

bool CNadcon::ShiftToGridDatum(double lat0, double lon0, double *latOut, double *lonOut)
{
    double lat = lat0, lon = lon0;
    double latShifted = lat0, lonShifted = lon0;
    double dLat = 9.9, dLon = 9.9;
    int passes = 0;
    while ((std::fabs(dLat) > kTolerance || std::fabs(dLon) > kTolerance) && passes < kMaxPasses) {
        ++passes;
        if (!HasGrids()) {
            latShifted = lat;
            lonShifted = lon;
        } else {
            double a = 0.0, b = 0.0;
            const bool okA = latGrid_->Interpolate(lon, lat, 0, &a);
            const bool okB = lonGrid_->Interpolate(lon, lat, 0, &b);
            if (okA && okB) {
                latShifted = lat + a / 3600.0;
                lonShifted = lon - b / 3600.0;
            }
        }
        dLat = lat0 - latShifted;
        dLon = lon0 - lonShifted;
        if (std::fabs(dLat) > kTolerance)
            lat += dLat;
        if (std::fabs(dLon) > kTolerance)
            lon += dLon;
    }
    lastPasses_ = passes;
    *latOut = lat;
    *lonOut = lon;
    return true;
}
