#include "map/maplayers.h"

#include <QFileInfo>
#include <QPainter>

#include <shapefil.h>

namespace cindrelmap {

void Layer::setLoadResult(LoadStatus status, const QString &error)
{
    status_ = status;
    error_ = error;
}

ArcGISVectorTiledLayer::ArcGISVectorTiledLayer(const QUrl &url, QObject *parent) : Layer(parent), url_(url)
{
    const QString file = url.isLocalFile() ? url.toLocalFile() : url.toString();
    if (!QFileInfo(file).isFile())
        setLoadResult(LoadStatus::FailedToLoad, QStringLiteral("File not found: %1").arg(file));
    else
        setLoadResult(LoadStatus::FailedToLoad,
                      QStringLiteral("Vector tile packages cannot be drawn by this map layer: %1").arg(file));
}

ShapefileLineLayer::ShapefileLineLayer(const QString &path, const QColor &color, QObject *parent)
    : Layer(parent), color_(color)
{
    QString name = path;
    if (name.endsWith(QStringLiteral(".shp"), Qt::CaseInsensitive))
        name.chop(4);
    SHPHandle shp = SHPOpen(QFile::encodeName(name).constData(), "rb");
    if (!shp) {
        setLoadResult(LoadStatus::FailedToLoad, QStringLiteral("Cannot open shapefile %1").arg(path));
        return;
    }
    int count = 0;
    int type = 0;
    SHPGetInfo(shp, &count, &type, nullptr, nullptr);
    for (int i = 0; i < count; ++i) {
        SHPObject *obj = SHPReadObject(shp, i);
        if (!obj)
            continue;
        const bool lines = obj->nSHPType == SHPT_ARC || obj->nSHPType == SHPT_ARCZ || obj->nSHPType == SHPT_ARCM
                           || obj->nSHPType == SHPT_POLYGON || obj->nSHPType == SHPT_POLYGONZ
                           || obj->nSHPType == SHPT_POLYGONM;
        if (lines && obj->nVertices > 1) {
            QPainterPath path;
            for (int part = 0; part < qMax(1, obj->nParts); ++part) {
                const int begin = obj->nParts > 0 ? obj->panPartStart[part] : 0;
                const int end = (obj->nParts > 0 && part + 1 < obj->nParts) ? obj->panPartStart[part + 1]
                                                                             : obj->nVertices;
                for (int v = begin; v < end; ++v) {
                    const QPointF p = mercator::toScene(obj->padfX[v], obj->padfY[v]);
                    if (v == begin)
                        path.moveTo(p);
                    else
                        path.lineTo(p);
                }
            }
            Shape s{path.boundingRect(), path};
            extent_ = extent_.isNull() ? s.bounds : extent_.united(s.bounds);
            shapes_.push_back(std::move(s));
        }
        SHPDestroyObject(obj);
    }
    SHPClose(shp);
    setLoadResult(LoadStatus::Loaded);
}

void ShapefileLineLayer::draw(QPainter *painter, const QRectF &sceneRect) const
{
    QPen pen(color_);
    pen.setCosmetic(true);
    pen.setWidthF(1.0);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    for (const Shape &s : shapes_) {
        // Widened so that straight north-south or east-west lines count.
        if (sceneRect.intersects(s.bounds.adjusted(-1, -1, 1, 1)))
            painter->drawPath(s.path);
    }
}

Basemap::Basemap(Layer *layer, QObject *parent) : QObject(parent)
{
    if (layer)
        layers_.append(layer);
}

void Basemap::appendBaseLayer(Layer *layer)
{
    if (layer)
        layers_.append(layer);
}

Map::Map(Basemap *basemap, QObject *parent) : QObject(parent), basemap_(basemap) {}

QRectF Map::fullExtent() const
{
    QRectF r;
    if (!basemap_)
        return r;
    for (const Layer *l : basemap_->baseLayers()) {
        if (l->loadStatus() != LoadStatus::Loaded || l->fullExtent().isNull())
            continue;
        r = r.isNull() ? l->fullExtent() : r.united(l->fullExtent());
    }
    return r;
}

} // namespace cindrelmap
