#pragma once
// The map view: shows a Map (its basemap layers drawn as the cached
// background) and the graphics overlays above it, in web Mercator. The
// operator zooms with the wheel (around the cursor) and the + and - keys,
// pans by dragging or with the arrow keys; a double-click zooms in unless a
// receiver of mouseDoubleClicked accepts the event.
#include "map/mapgeometry.h"
#include "map/mapgraphics.h"
#include "map/maplayers.h"

#include <QGraphicsView>
#include <QPoint>
#include <QPointer>

class QGraphicsPathItem;
class QGraphicsScene;

namespace cindrelmap {

class MapGraphicsView : public QGraphicsView {
    Q_OBJECT
public:
    explicit MapGraphicsView(QWidget *parent = nullptr);
    ~MapGraphicsView() override;

    void setMap(Map *map);
    Map *map() const { return map_; }
    GraphicsOverlayListModel *graphicsOverlays() const { return overlays_; }

    // 1 : mapScale() at the centre of the view (96 dots per inch).
    double mapScale() const;
    void setViewpoint(const Viewpoint &vp);
    void setViewpointCenter(const Point &center);
    // Centre of the view in WGS 84.
    Point currentCenter() const;
    // Fits the box (WGS 84 degrees) into the view with a margin; the fit is
    // kept through resizes until the view is moved.
    void fitExtent(double north, double east, double south, double west);
    // Ground metres per screen pixel at the centre of the view.
    double metresPerPixel() const;
    // The scale bar: the longest round length (1, 2 or 5 x 10^n metres)
    // that takes at most maxPixels at the given ground metres per pixel.
    static double scaleBarMetres(double metresPerPixel, int maxPixels);
    // "500 m", "2 km".
    static QString scaleBarText(double metres);

    // Scale limits the operator can zoom to.
    static constexpr double kMinScale = 500.0;
    static constexpr double kMaxScale = 3.0e8;

    // The items that draw the overlays' graphics, in drawing order.
    QList<QGraphicsPathItem *> graphicItems() const { return items_; }

signals:
    void mouseDoubleClicked(QMouseEvent &event);
    // The view moved or zoomed (by the program or by the operator).
    void viewpointChanged();
    // The operator panned or zoomed.
    void navigatedByUser();

protected:
    void drawBackground(QPainter *painter, const QRectF &rect) override;
    // The scale bar in the view's bottom left corner.
    void drawForeground(QPainter *painter, const QRectF &rect) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void rebuildOverlayItems();
    void fitPendingExtent();
    // Zooms by factor (> 1 zooms in) keeping the scene point under the
    // viewport position anchor where it is.
    void zoomAround(double factor, const QPoint &anchor);
    void setSceneCenter(const QPointF &center);
    double unitsPerPixel() const;
    void setUnitsPerPixel(double units);

    QGraphicsScene *scene_;
    QPointer<Map> map_;
    GraphicsOverlayListModel *overlays_;
    QList<QGraphicsPathItem *> items_;
    QPointF center_;   // scene coordinates of the view's centre
    QRectF pendingExtent_;   // the map's extent, fitted at every resize until the view moves
    bool dragging_ = false;
    bool dragMoved_ = false;
    QPoint dragStart_;
    QPointF dragCenter_;
};

} // namespace cindrelmap
