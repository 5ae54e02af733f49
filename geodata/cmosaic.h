#pragma once
// The mission mosaic: one JPEG picture ("<mission>_mosaic.jpg") combining
// the palette ortho images ("<mission>_<pass>_ortho.tif") of every pass in
// a log folder, with road and river vertices from the GeoData shapefiles
// drawn over it, and a point shapefile "<mission>_RawHeatData" with one
// point (longitude, latitude) per fire pixel and the pass name in "Pass".
//
// Beside them, the mission's fire points for fire agencies
// ("<mission>_FirePoints.geojson", ".kml", ".csv"; see firepoints.h), one
// per fire pixel from the runs' fire pixel records; the heat points then
// carry the same fields after "Pass". A pass without a record (made before
// records were kept) gives one point per fire pixel of its ortho image
// with only the position and the pass. With clusters set, also one point
// per connected fire cluster ("<mission>_FireClusters.*").
//
// The whole build runs in the constructor, on up to `threads` threads (the
// caller's included; the outputs are the same whatever their number). Both
// outputs are rebuilt from all passes every time, each written under a
// temporary name and put in place only when whole (earlier outputs stay on
// a full disk). The picture gets a world file and the coordinate system
// (".prj", and a GDAL auxiliary file) beside it; the heat points a ".prj"
// (geographic, on the passes' datum).
// Nothing is shown to the user; Saved() and Error() tell
// a caller how it went.
#include "datasource/cutmconverter.h"
#include "geodata/firepoints.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

#include <shapefil.h>

#include <functional>
#include <string>
#include <vector>

class CBil;

class CMosaic {
public:
    explicit CMosaic(const QString &path, bool clusters = false, int threads = 1);
    ~CMosaic();
    CMosaic(const CMosaic &) = delete;
    CMosaic &operator=(const CMosaic &) = delete;

    // Appends one heat point (x = longitude, y = latitude) when both heat
    // files are open; an empty pass name means the current pass.
    void AddHeatPoint(double latitude, double longitude, const QString &passName);
    // The same with the fire pixel's fields.
    void AddHeatPoint(const firepoints::RunRecord &run, const firepoints::FirePixel &pixel);

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
    bool HeatFilesOpen() const { return (shp_ && dbf_) || heatWritten_; }
    // The fire point files ("" until written) and what went into them.
    QString FirePointsBase() const { return pointsBase_; }
    QString ClustersBase() const { return clustersBase_; }
    QString FirePointsError() const { return pointsError_; }
    const std::vector<firepoints::RunRecord> &Runs() const { return runs_; }
    int FirePointCount() const;
    int ClusterCount() const { return clusterCount_; }

private:
    // The point's shape record; its index, or -1 when the heat files are
    // not open or the record could not be written.
    int WriteHeatShape(double latitude, double longitude);
    void OpenHeatFiles(const QString &base);
    void BuildMosaic();
    // Closes the heat files written under their temporary name and puts
    // them in place when they hold every point. True when they were.
    bool CloseHeatFiles();

    CUtmConverter converter_;
    SHPHandle shp_ = nullptr;
    DBFHandle dbf_ = nullptr;
    QString heatBase_;       // final name of the heat files (no extension)
    QString heatPartBase_;   // the name they are written under
    QString passName_;

    QStringList inputs_;
    QString outputPath_;
    QString error_;
    bool saved_ = false;
    int heatPoints_ = 0;
    int heatDatum_ = 3;   // converter datum code of the heat points

    // One per input (same order); fieldsKnown false for a pass without a
    // record, whose points come from its ortho image.
    std::vector<firepoints::RunRecord> runs_;
    QString pointsBase_, clustersBase_, pointsError_;
    int clusterCount_ = 0;
    bool heatWritten_ = false;

    int threads_ = 1;

    // The heat point record being made, and the texts of its run.
    std::string record_;
    bool recordTextsSet_ = false;
    QString recordPass_, recordPlatform_, recordVersion_;
    std::string runPass_, runPlatform_, runVersion_;
    firepoints::AcquisitionText acquisition_;
};
