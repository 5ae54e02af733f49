#pragma once
// The mission mosaic: one JPEG picture ("<mission>_mosaic.jpg") combining
// the palette ortho images ("<mission>_<pass>_ortho.tif") of every pass in
// a log folder, with road and river vertices from the GeoData shapefiles
// drawn over it, and a point shapefile "<mission>_RawHeatData" with one
// point (longitude, latitude) per fire pixel and the pass name in "Pass".
//
// The whole build runs in the constructor. Both outputs are rebuilt from all
// passes every time. The picture gets a world file and the coordinate
// system (".prj", and a GDAL auxiliary file) beside it; the heat points a
// ".prj" (geographic, on the passes' datum). Nothing is shown to the user; Saved() and Error() tell
// a caller how it went.
#include "datasource/cutmconverter.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

#include <shapefil.h>

class CBil;

class CMosaic {
public:
    explicit CMosaic(const QString &path);
    ~CMosaic();
    CMosaic(const CMosaic &) = delete;
    CMosaic &operator=(const CMosaic &) = delete;

    // Appends one heat point (x = longitude, y = latitude) when both heat
    // files are open; an empty pass name means the current pass.
    void AddHeatPoint(double latitude, double longitude, const QString &passName);

    // Marks the vertices of the GeoData map lines ("highways" green,
    // "interst" blue, "hydrolin" cyan) on the picture.
    void DrawGeoOverlays(const CBil &grid, QImage &image);
    void DrawShapefileVertices(const CBil &grid, QImage &image, const QColor &colour, const QString &path,
                               bool thick);

    // Name rules ("_" separates mission, pass and product).
    static QString MissionBaseName(const QString &path);   // X_3.plf, X_3_ortho.tif -> X
    static QString PassName(const QString &orthoPath);     // X_3_ortho.tif -> 3

    // Outcome of the build.
    bool Saved() const { return saved_; }
    QString Error() const { return error_; }
    QString OutputPath() const { return outputPath_; }
    QStringList Inputs() const { return inputs_; }
    int HeatPointCount() const { return heatPoints_; }
    bool HeatFilesOpen() const { return shp_ && dbf_; }

private:
    void OpenHeatFiles(const QString &base);
    void BuildMosaic();

    CUtmConverter converter_;
    SHPHandle shp_ = nullptr;
    DBFHandle dbf_ = nullptr;
    QString passName_;

    QStringList inputs_;
    QString outputPath_;
    QString error_;
    bool saved_ = false;
    int heatPoints_ = 0;
    int heatDatum_ = 3;   // converter datum code of the heat points
};
