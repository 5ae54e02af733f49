#pragma once
// CNadcon: shifts a geographic position from the navigation datum into the
// datum of the Alaska NADCON grids before it is projected. The grids
// (AlaskaLatShift and AlaskaLonShift BIL rasters in the working directory)
// hold at each node the shift in arc-seconds from the grid datum to the
// navigation datum (latitude positive north, longitude positive west); the
// inverse is found by iteration. Missing grids make the shift the identity.
#include <memory>

class CBil;

class CNadcon {
public:
    static constexpr int kMaxPasses = 10;
    static constexpr double kTolerance = 1e-9;   // degrees

    // Opens both grids from the current directory and sets them up from
    // the latitude grid's header.
    CNadcon();
    ~CNadcon();
    CNadcon(const CNadcon &) = delete;
    CNadcon &operator=(const CNadcon &) = delete;

    // Degrees, east-positive longitude. Within the outer half cell of the
    // grids the edge nodes' shifts apply; a position outside the grids'
    // cells comes back unchanged. Always true.
    bool ShiftToGridDatum(double latitude, double longitude, double *latitudeOut,
                          double *longitudeOut);

    bool HasGrids() const { return latGrid_ && lonGrid_; }
    // Iterations of the last ShiftToGridDatum.
    int LastPassCount() const { return lastPasses_; }

private:
    std::unique_ptr<CBil> latGrid_;
    std::unique_ptr<CBil> lonGrid_;
    int lastPasses_ = 0;
};
