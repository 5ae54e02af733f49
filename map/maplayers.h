#pragma once
// Layers, basemap and map of the map layer.
//
// The vector tile package format cannot be read here: an
// ArcGISVectorTiledLayer reports FailedToLoad (with the reason) and draws
// nothing, so a map whose only layer is such a package has no basemap. The
// ShapefileLineLayer draws the line shapes of an ESRI shapefile in
// geographic coordinates (road and hydrography overlays) in one colour.
#include "map/mapgeometry.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <QUrl>

#include <vector>

class QPainter;

namespace cindrelmap {

enum class LoadStatus { NotLoaded, Loaded, FailedToLoad };

class Layer : public QObject {
    Q_OBJECT
public:
    LoadStatus loadStatus() const { return status_; }
    QString loadError() const { return error_; }
    // Extent in scene coordinates (empty when unknown).
    virtual QRectF fullExtent() const { return {}; }
    // Draws the part of the layer inside the scene rectangle.
    virtual void draw(QPainter *painter, const QRectF &sceneRect) const = 0;

protected:
    explicit Layer(QObject *parent) : QObject(parent) {}
    void setLoadResult(LoadStatus status, const QString &error = QString());

private:
    LoadStatus status_ = LoadStatus::NotLoaded;
    QString error_;
};

class ArcGISVectorTiledLayer : public Layer {
    Q_OBJECT
public:
    ArcGISVectorTiledLayer(const QUrl &url, QObject *parent = nullptr);
    QUrl url() const { return url_; }
    void draw(QPainter *, const QRectF &) const override {}

private:
    QUrl url_;
};

class ShapefileLineLayer : public Layer {
    Q_OBJECT
public:
    // path: the shapefile's name with or without ".shp".
    ShapefileLineLayer(const QString &path, const QColor &color, QObject *parent = nullptr);
    QRectF fullExtent() const override { return extent_; }
    void draw(QPainter *painter, const QRectF &sceneRect) const override;
    int shapeCount() const { return int(shapes_.size()); }
    QColor color() const { return color_; }

private:
    struct Shape {
        QRectF bounds;
        QPainterPath path;
    };
    QColor color_;
    std::vector<Shape> shapes_;
    QRectF extent_;
};

class Basemap : public QObject {
    Q_OBJECT
public:
    explicit Basemap(Layer *layer, QObject *parent = nullptr);
    const QList<Layer *> &baseLayers() const { return layers_; }
    void appendBaseLayer(Layer *layer);

private:
    QList<Layer *> layers_;
};

class Map : public QObject {
    Q_OBJECT
public:
    explicit Map(Basemap *basemap, QObject *parent = nullptr);
    Basemap *basemap() const { return basemap_; }
    QColor backgroundColor() const { return background_; }
    void setBackgroundColor(const QColor &c) { background_ = c; }
    // Union of the extents of the loaded layers (empty when none has one).
    QRectF fullExtent() const;

private:
    Basemap *basemap_;
    QColor background_{24, 26, 30};
};

} // namespace cindrelmap
