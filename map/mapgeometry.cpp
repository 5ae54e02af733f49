#include "map/mapgeometry.h"

#include <QtMath>

#include <algorithm>
#include <cmath>

namespace cindrelmap {

PolygonBuilder::PolygonBuilder(const SpatialReference &sr, QObject *parent) : QObject(parent), sr_(sr) {}

void PolygonBuilder::addPoint(const Point &p)
{
    points_.append(p);
}

void PolygonBuilder::addPoints(const QList<Point> &points)
{
    points_.append(points);
}

Geometry PolygonBuilder::toGeometry() const
{
    return Geometry(Geometry::Type::Polygon, points_, sr_);
}

namespace mercator {

QPointF forward(double lon, double lat)
{
    const double clamped = std::clamp(lat, -kMaxLatitude, kMaxLatitude);
    const double x = kRadius * qDegreesToRadians(lon);
    const double y = kRadius * std::log(std::tan(M_PI / 4.0 + qDegreesToRadians(clamped) / 2.0));
    return {x, y};
}

void inverse(const QPointF &xy, double *lon, double *lat)
{
    *lon = qRadiansToDegrees(xy.x() / kRadius);
    *lat = qRadiansToDegrees(2.0 * std::atan(std::exp(xy.y() / kRadius)) - M_PI / 2.0);
}

QPointF toScene(double lon, double lat)
{
    const QPointF m = forward(lon, lat);
    return {m.x(), -m.y()};
}

void fromScene(const QPointF &scene, double *lon, double *lat)
{
    inverse(QPointF(scene.x(), -scene.y()), lon, lat);
}

} // namespace mercator
} // namespace cindrelmap
