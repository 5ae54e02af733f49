#include "map/mapgraphicsview.h"

#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QWheelEvent>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace cindrelmap {
namespace {
// Metres per pixel at 96 dots per inch.
constexpr double kMetresPerPixel = 0.0254 / 96.0;

double cosLat(const QPointF &sceneCenter)
{
    double lon = 0, lat = 0;
    mercator::fromScene(sceneCenter, &lon, &lat);
    return std::max(0.01, std::cos(qDegreesToRadians(lat)));
}
} // namespace

MapGraphicsView::MapGraphicsView(QWidget *parent)
    : QGraphicsView(parent), scene_(new QGraphicsScene(this)), overlays_(new GraphicsOverlayListModel(this))
{
    const double w = mercator::kHalfWorld;
    // Larger than the world so the centre can reach every point.
    scene_->setSceneRect(-4 * w, -4 * w, 8 * w, 8 * w);
    setScene(scene_);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setDragMode(QGraphicsView::NoDrag);
    setCacheMode(QGraphicsView::CacheBackground);
    setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
    setRenderHint(QPainter::Antialiasing, true);
    setFocusPolicy(Qt::StrongFocus);
    connect(overlays_, &GraphicsOverlayListModel::changed, this, &MapGraphicsView::rebuildOverlayItems);
    // Western United States at about 1 : 10,000,000 until told otherwise.
    setViewpoint(Viewpoint(Point(-115.0, 40.0, SpatialReference::wgs84()), 1.0e7));
}

MapGraphicsView::~MapGraphicsView()
{
    disconnect(overlays_, nullptr, this, nullptr);
}

void MapGraphicsView::setMap(Map *map)
{
    map_ = map;
    pendingExtent_ = map ? map->fullExtent() : QRectF();
    fitPendingExtent();
    resetCachedContent();
    viewport()->update();
}

void MapGraphicsView::fitPendingExtent()
{
    if (pendingExtent_.isNull())
        return;
    const QRectF ext = pendingExtent_;
    const QSize vp = viewport()->size();
    const double units = std::max(ext.width() / std::max(1, vp.width()), ext.height() / std::max(1, vp.height()));
    if (units > 0)
        setUnitsPerPixel(units * 1.05);
    setSceneCenter(ext.center());
}

double MapGraphicsView::unitsPerPixel() const
{
    const double m = transform().m11();
    return m > 0 ? 1.0 / m : 1.0;
}

void MapGraphicsView::setUnitsPerPixel(double units)
{
    const double c = cosLat(center_);
    const double minUnits = kMinScale * kMetresPerPixel / c;
    const double maxUnits = kMaxScale * kMetresPerPixel / c;
    units = std::clamp(units, minUnits, maxUnits);
    setTransform(QTransform::fromScale(1.0 / units, 1.0 / units));
    centerOn(center_);
}

double MapGraphicsView::mapScale() const
{
    return unitsPerPixel() * cosLat(center_) / kMetresPerPixel;
}

void MapGraphicsView::setSceneCenter(const QPointF &center)
{
    center_ = center;
    centerOn(center_);
    // The scale bar is drawn in view coordinates: a scrolled picture would
    // carry it along, so the whole view is repainted.
    viewport()->update();
    emit viewpointChanged();
}

void MapGraphicsView::setViewpoint(const Viewpoint &vp)
{
    if (vp.isEmpty())
        return;
    pendingExtent_ = QRectF();
    const Point p = vp.targetGeometry();
    center_ = mercator::toScene(p.x(), p.y());
    if (vp.targetScale() > 0)
        setUnitsPerPixel(vp.targetScale() * kMetresPerPixel / cosLat(center_));
    setSceneCenter(center_);
}

void MapGraphicsView::setViewpointCenter(const Point &center)
{
    setViewpoint(Viewpoint(center, mapScale()));
}

Point MapGraphicsView::currentCenter() const
{
    double lon = 0, lat = 0;
    mercator::fromScene(center_, &lon, &lat);
    return Point(lon, lat, SpatialReference::wgs84());
}

void MapGraphicsView::fitExtent(double north, double east, double south, double west)
{
    const QPointF a = mercator::toScene(west, north);
    const QPointF b = mercator::toScene(east, south);
    QRectF ext = QRectF(a, b).normalized();
    // A tenth of the box's size around it, so its edges stay in view.
    ext.adjust(-ext.width() / 10, -ext.height() / 10, ext.width() / 10, ext.height() / 10);
    if (ext.width() <= 0 || ext.height() <= 0)
        return;
    pendingExtent_ = ext;
    fitPendingExtent();
    resetCachedContent();
    viewport()->update();
}

double MapGraphicsView::metresPerPixel() const
{
    return unitsPerPixel() * cosLat(center_);
}

double MapGraphicsView::scaleBarMetres(double metresPerPixel, int maxPixels)
{
    const double limit = metresPerPixel * maxPixels;
    if (!(limit > 0))
        return 0.0;
    double unit = std::pow(10.0, std::floor(std::log10(limit)));
    for (double m : {5.0, 2.0, 1.0}) {
        if (m * unit <= limit)
            return m * unit;
    }
    return unit;
}

QString MapGraphicsView::scaleBarText(double metres)
{
    if (metres >= 1000.0)
        return QStringLiteral("%1 km").arg(metres / 1000.0);
    return QStringLiteral("%1 m").arg(metres);
}

void MapGraphicsView::drawForeground(QPainter *painter, const QRectF &)
{
    const double mpp = metresPerPixel();
    const double metres = scaleBarMetres(mpp, 140);
    if (!(metres > 0))
        return;
    const int len = int(metres / mpp + 0.5);
    painter->save();
    painter->resetTransform();
    painter->setRenderHint(QPainter::Antialiasing, false);
    const QString text = scaleBarText(metres);
    const QFontMetrics fm(painter->font());
    const int x = 10;
    const int y = viewport()->height() - 10;
    const QRect box(x - 4, y - fm.height() - 10, std::max(len, fm.horizontalAdvance(text)) + 8, fm.height() + 14);
    painter->fillRect(box, QColor(0, 0, 0, 150));
    painter->setPen(QPen(QColor(235, 235, 235), 2));
    painter->drawLine(x, y, x + len, y);
    painter->drawLine(x, y, x, y - 6);
    painter->drawLine(x + len, y, x + len, y - 6);
    painter->drawText(x, y - 8, text);
    painter->restore();
}

void MapGraphicsView::drawBackground(QPainter *painter, const QRectF &rect)
{
    painter->fillRect(rect, map_ ? map_->backgroundColor() : QColor(24, 26, 30));
    if (!map_ || !map_->basemap())
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (const Layer *l : map_->basemap()->baseLayers()) {
        if (l->loadStatus() == LoadStatus::Loaded)
            l->draw(painter, rect);
    }
    painter->restore();
}

void MapGraphicsView::rebuildOverlayItems()
{
    for (QGraphicsPathItem *item : qAsConst(items_)) {
        scene_->removeItem(item);
        delete item;
    }
    items_.clear();
    qreal z = 1.0;
    for (const GraphicsOverlay *overlay : overlays_->items()) {
        if (!overlay->isVisible())
            continue;
        for (const Graphic *g : overlay->graphics()->items()) {
            const Geometry geom = g->geometry();
            if (geom.isEmpty() || !g->symbol())
                continue;
            QPainterPath path;
            const QList<Point> &pts = geom.points();
            for (int i = 0; i < pts.size(); ++i) {
                const QPointF s = mercator::toScene(pts[i].x(), pts[i].y());
                if (i == 0)
                    path.moveTo(s);
                else
                    path.lineTo(s);
            }
            if (geom.geometryType() == Geometry::Type::Polygon)
                path.closeSubpath();
            auto *item = new QGraphicsPathItem(path);
            QPen pen(Qt::NoPen);
            QBrush brush(Qt::NoBrush);
            if (auto *line = qobject_cast<const SimpleLineSymbol *>(g->symbol())) {
                if (line->style() != SimpleLineSymbolStyle::Null) {
                    pen = QPen(line->color());
                    pen.setWidthF(line->width());
                    pen.setCosmetic(true);
                    if (line->style() == SimpleLineSymbolStyle::Dash)
                        pen.setStyle(Qt::DashLine);
                    else if (line->style() == SimpleLineSymbolStyle::Dot)
                        pen.setStyle(Qt::DotLine);
                }
            } else if (auto *fill = qobject_cast<const SimpleFillSymbol *>(g->symbol())) {
                if (fill->style() == SimpleFillSymbolStyle::Solid)
                    brush = QBrush(fill->color());
                if (const SimpleLineSymbol *outline = fill->outline()) {
                    pen = QPen(outline->color());
                    pen.setWidthF(outline->width());
                    pen.setCosmetic(true);
                }
            }
            item->setPen(pen);
            item->setBrush(brush);
            item->setZValue(z);
            z += 1.0;
            scene_->addItem(item);
            items_.append(item);
        }
    }
}

void MapGraphicsView::zoomAround(double factor, const QPoint &anchor)
{
    pendingExtent_ = QRectF();
    const QPointF before = mapToScene(anchor);
    setUnitsPerPixel(unitsPerPixel() / factor);
    // Keep the anchor's scene point under the cursor.
    const QPointF after = mapToScene(anchor);
    center_ += before - after;
    centerOn(center_);
    resetCachedContent();
    emit viewpointChanged();
}

void MapGraphicsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->ignore();
    emit mouseDoubleClicked(*event);
    if (event->isAccepted())
        return;
    event->accept();
    zoomAround(2.0, event->pos());
    emit navigatedByUser();
}

void MapGraphicsView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragMoved_ = false;
        dragStart_ = event->pos();
        dragCenter_ = center_;
        event->accept();
        return;
    }
    QGraphicsView::mousePressEvent(event);
}

void MapGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging_) {
        const QPoint d = event->pos() - dragStart_;
        if (!dragMoved_ && d.manhattanLength() < 3)
            return;
        dragMoved_ = true;
        pendingExtent_ = QRectF();
        const double u = unitsPerPixel();
        setSceneCenter(dragCenter_ - QPointF(d.x() * u, d.y() * u));
        emit navigatedByUser();
        event->accept();
        return;
    }
    QGraphicsView::mouseMoveEvent(event);
}

void MapGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (dragging_ && event->button() == Qt::LeftButton) {
        dragging_ = false;
        event->accept();
        return;
    }
    QGraphicsView::mouseReleaseEvent(event);
}

void MapGraphicsView::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    zoomAround(std::pow(2.0, delta / 240.0), event->position().toPoint());
    emit navigatedByUser();
    event->accept();
}

void MapGraphicsView::keyPressEvent(QKeyEvent *event)
{
    const double step = 64 * unitsPerPixel();
    const QPoint mid = viewport()->rect().center();
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomAround(2.0, mid);
        break;
    case Qt::Key_Minus:
        zoomAround(0.5, mid);
        break;
    case Qt::Key_Left:
        setSceneCenter(center_ - QPointF(step, 0));
        break;
    case Qt::Key_Right:
        setSceneCenter(center_ + QPointF(step, 0));
        break;
    case Qt::Key_Up:
        setSceneCenter(center_ - QPointF(0, step));
        break;
    case Qt::Key_Down:
        setSceneCenter(center_ + QPointF(0, step));
        break;
    default:
        QGraphicsView::keyPressEvent(event);
        return;
    }
    pendingExtent_ = QRectF();
    emit navigatedByUser();
    event->accept();
}

void MapGraphicsView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    // Until the view is moved, the map's extent fills the view at its size.
    if (!pendingExtent_.isNull())
        fitPendingExtent();
    else
        centerOn(center_);
}

} // namespace cindrelmap
