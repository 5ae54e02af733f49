#include "geodata/cnadcon.h"

#include "geodata/cbil.h"

#include <QDir>

#include <algorithm>
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

// Bilinear value between the cell centres of a one-band grid, with the
// position held inside the outermost centres: in the outer half cell the
// edge nodes' values carry on. Unless beyond is set, false outside the
// grid's cells.
bool sampleClamped(const CBil &grid, double lon, double lat, bool beyond, double *value)
{
    double column, row;
    grid.GeoToPixel(lon, lat, &column, &row);
    const int ncols = grid.GetNCols(), nrows = grid.GetNRows();
    if (ncols < 1 || nrows < 1 || !std::isfinite(column) || !std::isfinite(row))
        return false;
    if (!beyond && !(column >= 0 && row >= 0 && column <= ncols && row <= nrows))
        return false;
    column = std::min(std::max(column - 0.5, 0.0), double(ncols - 1));
    row = std::min(std::max(row - 0.5, 0.0), double(nrows - 1));
    const double c0 = std::min(std::floor(column), double(std::max(ncols - 2, 0)));
    const double r0 = std::min(std::floor(row), double(std::max(nrows - 2, 0)));
    const double c1 = std::min(c0 + 1, double(ncols - 1)), r1 = std::min(r0 + 1, double(nrows - 1));
    double s00, s01, s10, s11;
    if (!grid.GetValue(c0, r0, 0, &s00) || !grid.GetValue(c0, r1, 0, &s01) || !grid.GetValue(c1, r0, 0, &s10)
        || !grid.GetValue(c1, r1, 0, &s11))
        return false;
    const double fx = column - c0, fy = row - r0;
    const double upper = s00 + (s10 - s00) * fx;
    const double lower = s01 + (s11 - s01) * fx;
    *value = upper + (lower - upper) * fy;
    return std::isfinite(*value);
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
            // A position outside the grids is not shifted. Near the edge the
            // estimate may step off the grid on a later pass; the edge
            // values carry on there (re-applying the last good shift on
            // every pass would walk the position away).
            double a = 0.0, b = 0.0;
            const bool beyond = passes > 1;
            if (!sampleClamped(*latGrid_, lon, lat, beyond, &a) || !sampleClamped(*lonGrid_, lon, lat, beyond, &b)) {
                lastPasses_ = passes;
                *latOut = lat0;
                *lonOut = lon0;
                return true;
            }
            latShifted = lat + a / 3600.0;
            lonShifted = lon - b / 3600.0;
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
