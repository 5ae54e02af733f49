#pragma once
// CElevationData: cuts the elevation raster of a latitude/longitude box out
// of the DEM tiles (16-bit BIL rasters "C:\demdata\cdNN\demimage") listed in
// "Cindrel_ElevationTileBoundaries.dat" in the working directory, and
// writes it as a BIL trio. One object per task; nothing is cached.
//
// The output grid has one arc-second cells (two arc-seconds in Alaska),
// cell centres on whole multiples of the cell size, and a margin of 75
// cells around the box. Cells that no tile covers are 0; a listed tile that
// meets the box but cannot be read fails the whole extraction.
#include <QString>

#include "geodata/cbil.h"

struct TileBox {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
};

class CElevationData {
public:
    static constexpr int kMaxTiles = 250;
    static constexpr int kMarginCells = 75;
    static constexpr double kMaxExtentDegrees = 2.0;
    static constexpr int kStageBeforeTile = 6413;
    static constexpr int kStageAfterTile = 6414;
    static constexpr int kStageDone = 6417;

    CElevationData();   // loads the tile table

    // Reads the boundary file; a missing file leaves no tiles.
    void LoadTileBoundaries();

    // Builds the raster of the box (degrees: west = smallest longitude,
    // north = largest latitude, ...) and writes it under outputName.
    // Fails when the box with its margin exceeds 2 degrees either way.
    bool ExtractArea(double west, double north, double east, double south,
                     const QString &outputName);
    // Copies the part (west, north, east, south) of tile i into the output;
    // a tile of another cell size is resampled (bilinear at each
    // output cell's centre).
    bool ReadTileWindow(int tile, double west, double north, double east, double south);
    // Why the last ExtractArea failed (empty after success).
    QString LastError() const { return lastError_; }

    int TileCount() const { return tileCount_; }
    bool IsTileListed(int i) const { return i >= 1 && i <= kMaxTiles && listed_[i]; }
    const TileBox &Tile(int i) const { return tiles_[i]; }
    // Tiles read by the last ExtractArea.
    int TilesRead() const { return tilesRead_; }
    const CBil &Output() const { return output_; }

    // 1/1800 degree when south >= 51.0 and east <= -129.75, else 1/3600.
    static double CellSizeFor(double south, double east);
    // The tile's raster name (through the C: drive mapping).
    static QString TileName(int i);
    static QString BoundaryFilePath();

private:
    bool ResampleTile(const CBil &tile, double west, double north, double east, double south);

    QString lastError_;
    TileBox tiles_[kMaxTiles + 1];
    bool listed_[kMaxTiles + 1] = {};
    int tileCount_ = 0;
    int tilesRead_ = 0;
    CBil output_;
};
