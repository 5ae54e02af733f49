#pragma once
// Geometry of the map layer: spatial references, points, polygons, the
// polygon builder and viewpoints. Coordinates of the WGS 84 reference are
// x = longitude, y = latitude in decimal degrees.
#include <QList>
#include <QObject>
#include <QPointF>

namespace cindrelmap {

class SpatialReference {
public:
    SpatialReference() = default;
    explicit SpatialReference(int wkid) : wkid_(wkid) {}
    static SpatialReference wgs84() { return SpatialReference(4326); }
    int wkid() const { return wkid_; }
    bool isValid() const { return wkid_ > 0; }
    bool operator==(const SpatialReference &o) const { return wkid_ == o.wkid_; }
    bool operator!=(const SpatialReference &o) const { return wkid_ != o.wkid_; }

private:
    int wkid_ = 0;
};

class Point {
public:
    Point() = default;
    Point(double x, double y) : x_(x), y_(y), empty_(false) {}
    Point(double x, double y, const SpatialReference &sr) : x_(x), y_(y), sr_(sr), empty_(false) {}
    double x() const { return x_; }
    double y() const { return y_; }
    SpatialReference spatialReference() const { return sr_; }
    bool isEmpty() const { return empty_; }

private:
    double x_ = 0.0;
    double y_ = 0.0;
    SpatialReference sr_;
    bool empty_ = true;
};

// A geometry value: a point, a polyline or a polygon (the ring is closed
// implicitly; the first point is not repeated).
class Geometry {
public:
    enum class Type { Empty, Point, Polyline, Polygon };
    Geometry() = default;
    Geometry(Type type, const QList<Point> &points, const SpatialReference &sr)
        : type_(type), points_(points), sr_(sr) {}
    Type geometryType() const { return type_; }
    const QList<Point> &points() const { return points_; }
    SpatialReference spatialReference() const { return sr_; }
    bool isEmpty() const { return type_ == Type::Empty || points_.isEmpty(); }

private:
    Type type_ = Type::Empty;
    QList<Point> points_;
    SpatialReference sr_;
};

class PolygonBuilder : public QObject {
    Q_OBJECT
public:
    explicit PolygonBuilder(const SpatialReference &sr, QObject *parent = nullptr);
    void addPoint(const Point &p);
    void addPoints(const QList<Point> &points);
    Geometry toGeometry() const;
    SpatialReference spatialReference() const { return sr_; }

private:
    SpatialReference sr_;
    QList<Point> points_;
};

// A view position: a centre point and a map scale (the denominator of
// 1 : scale at the centre).
class Viewpoint {
public:
    Viewpoint() = default;
    Viewpoint(const Point &center, double scale) : center_(center), scale_(scale) {}
    Point targetGeometry() const { return center_; }
    double targetScale() const { return scale_; }
    bool isEmpty() const { return center_.isEmpty(); }

private:
    Point center_;
    double scale_ = 0.0;
};

// The view's projection: spherical web Mercator in metres, with y pointing
// up (scene coordinates use the negated y). Latitudes are clamped to the
// projection's limit of about 85.05 degrees.
namespace mercator {
constexpr double kRadius = 6378137.0;
constexpr double kMaxLatitude = 85.0511287798;
constexpr double kHalfWorld = 20037508.342789244;
QPointF forward(double lon, double lat);
void inverse(const QPointF &xy, double *lon, double *lat);
// Scene coordinates (Qt's y grows downwards).
QPointF toScene(double lon, double lat);
void fromScene(const QPointF &scene, double *lon, double *lat);
} // namespace mercator

} // namespace cindrelmap
