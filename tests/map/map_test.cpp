#include "map/arcgisqtwidget.h"
#include "map/mapgraphicsview.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QGraphicsPathItem>
#include <QGraphicsPolygonItem>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QTest>
#include <QWheelEvent>

#include <shapefil.h>

#include <QtMath>
#include <cmath>

using namespace cindrelmap;

namespace {
struct Msn {
    double n, e, s, w;
};

void storeMissions(const QList<Msn> &list, int selected)
{
    QSettings s;
    s.remove(QStringLiteral("MsnList"));
    s.beginWriteArray(QStringLiteral("MsnList"), list.size());
    for (int i = 0; i < list.size(); ++i) {
        s.setArrayIndex(i);
        s.setValue(QStringLiteral("North_Val"), list[i].n);
        s.setValue(QStringLiteral("East_Val"), list[i].e);
        s.setValue(QStringLiteral("South_Val"), list[i].s);
        s.setValue(QStringLiteral("West_Val"), list[i].w);
        s.setValue(QStringLiteral("Msn_Name"), QStringLiteral("M%1").arg(i));
    }
    s.endArray();
    s.setValue(QStringLiteral("LastUsed/MissionSelect"), selected);
}

const SimpleLineSymbol *lineSymbolOf(const GraphicsOverlay *o)
{
    return qobject_cast<const SimpleLineSymbol *>(o->graphics()->at(0)->symbol());
}

void sendDoubleClick(QWidget *viewport, const QPoint &pos)
{
    QMouseEvent press(QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, pos, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    QApplication::sendEvent(viewport, &release);
    QApplication::sendEvent(viewport, &dbl);
    QApplication::sendEvent(viewport, &release);
}

void sendWheel(QWidget *viewport, int delta)
{
    const QPointF pos(viewport->width() / 2.0, viewport->height() / 2.0);
    QWheelEvent ev(pos, viewport->mapToGlobal(pos.toPoint()), QPoint(), QPoint(0, delta), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &ev);
}

// Writes a line shapefile with one two-vertex line.
void writeLineShapefile(const QString &base, double lon0, double lat0, double lon1, double lat1)
{
    SHPHandle h = SHPCreate(QFile::encodeName(base).constData(), SHPT_ARC);
    ASSERT_NE(h, nullptr);
    double x[2] = {lon0, lon1};
    double y[2] = {lat0, lat1};
    SHPObject *o = SHPCreateSimpleObject(SHPT_ARC, 2, x, y, nullptr);
    SHPWriteObject(h, -1, o);
    SHPDestroyObject(o);
    SHPClose(h);
}
} // namespace

TEST(MapMissions, StoredMissionsDrawnWithSelectedYellow)
{
    storeMissions({{45.0, -120.0, 44.0, -121.0}, {46.5, -118.0, 46.0, -119.5}, {40.0, -110.0, 39.0, -111.0}}, 1);
    ArcGISQTWidget w;
    w.DrawStoredMissions();
    auto *overlays = w.view()->graphicsOverlays();
    ASSERT_EQ(overlays->size(), 3);
    for (int i = 0; i < 3; ++i) {
        const SimpleLineSymbol *sym = lineSymbolOf(overlays->at(i));
        ASSERT_NE(sym, nullptr);
        EXPECT_EQ(sym->color(), i == 1 ? QColor(Qt::yellow) : QColor(Qt::white)) << i;
        EXPECT_EQ(sym->style(), SimpleLineSymbolStyle::Solid);
        EXPECT_FLOAT_EQ(sym->width(), 1.0f);
    }
    // Ring order: (east, south), (east, north), (west, north), (west, south).
    const Geometry g = overlays->at(1)->graphics()->at(0)->geometry();
    ASSERT_EQ(g.points().size(), 4);
    EXPECT_EQ(g.geometryType(), Geometry::Type::Polygon);
    EXPECT_EQ(g.spatialReference(), SpatialReference::wgs84());
    EXPECT_DOUBLE_EQ(g.points()[0].x(), -118.0);
    EXPECT_DOUBLE_EQ(g.points()[0].y(), 46.0);
    EXPECT_DOUBLE_EQ(g.points()[1].y(), 46.5);
    EXPECT_DOUBLE_EQ(g.points()[2].x(), -119.5);
    EXPECT_DOUBLE_EQ(g.points()[3].y(), 46.0);

    // The scene shows three outlines, no fill, the second yellow.
    const auto items = w.view()->graphicItems();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[1]->pen().color(), QColor(Qt::yellow));
    EXPECT_EQ(items[0]->pen().color(), QColor(Qt::white));
    EXPECT_EQ(items[0]->brush().style(), Qt::NoBrush);

    // Selecting another mission and redrawing moves the highlight.
    QSettings().setValue(QStringLiteral("LastUsed/MissionSelect"), 2);
    w.DrawStoredMissions();
    ASSERT_EQ(overlays->size(), 3);
    EXPECT_EQ(lineSymbolOf(overlays->at(1))->color(), QColor(Qt::white));
    EXPECT_EQ(lineSymbolOf(overlays->at(2))->color(), QColor(Qt::yellow));
    // The widget's own list keeps every box drawn.
    EXPECT_EQ(w.missionBoxes().size(), 6);

    // An empty store draws nothing.
    QSettings().remove(QStringLiteral("MsnList"));
    w.DrawStoredMissions();
    EXPECT_EQ(overlays->size(), 0);
    EXPECT_TRUE(w.view()->graphicItems().isEmpty());
}

TEST(MapFootprints, FillColourOrderAndRedrawRemovesThem)
{
    storeMissions({{45.0, -120.0, 44.0, -121.0}}, 0);
    ArcGISQTWidget w;
    w.DrawStoredMissions();
    const double corners[8] = {-120.5, 44.2, -120.5, 44.6, -120.3, 44.6, -120.3, 44.2};
    w.AddFootprint(corners);
    auto *overlays = w.view()->graphicsOverlays();
    ASSERT_EQ(overlays->size(), 2);
    auto *fill = qobject_cast<const SimpleFillSymbol *>(overlays->at(1)->graphics()->at(0)->symbol());
    ASSERT_NE(fill, nullptr);
    EXPECT_EQ(fill->color(), QColor(21, 158, 56, 59));
    EXPECT_EQ(fill->outline(), nullptr);
    const Geometry g = overlays->at(1)->graphics()->at(0)->geometry();
    ASSERT_EQ(g.points().size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(g.points()[i].x(), corners[2 * i]);
        EXPECT_DOUBLE_EQ(g.points()[i].y(), corners[2 * i + 1]);
    }
    const auto items = w.view()->graphicItems();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[1]->pen().style(), Qt::NoPen);
    EXPECT_EQ(items[1]->brush().color(), QColor(21, 158, 56, 59));
    EXPECT_GT(items[1]->zValue(), items[0]->zValue());

    w.DrawStoredMissions();
    EXPECT_EQ(overlays->size(), 1);
    ASSERT_EQ(w.view()->graphicItems().size(), 1);
    EXPECT_EQ(w.view()->graphicItems()[0]->brush().style(), Qt::NoBrush);
    EXPECT_EQ(w.footprints().size(), 1);

    w.ClearOverlays();
    EXPECT_EQ(overlays->size(), 0);
}

TEST(MapFollow, DoubleClickTogglesFollowingWithoutZoom)
{
    ArcGISQTWidget w;
    w.resize(400, 300);
    ASSERT_TRUE(w.following());
    const double scale = w.view()->mapScale();
    sendDoubleClick(w.view()->viewport(), QPoint(50, 60));
    EXPECT_FALSE(w.following());
    EXPECT_NEAR(w.view()->mapScale(), scale, scale * 1e-9);
    sendDoubleClick(w.view()->viewport(), QPoint(50, 60));
    EXPECT_TRUE(w.following());
    EXPECT_NEAR(w.view()->mapScale(), scale, scale * 1e-9);

    // A bare view with nobody accepting the double-click zooms in.
    MapGraphicsView bare;
    bare.resize(400, 300);
    const double before = bare.mapScale();
    sendDoubleClick(bare.viewport(), QPoint(200, 150));
    EXPECT_NEAR(bare.mapScale(), before / 2.0, before * 0.01);
}

TEST(MapFollow, CenterOnOnlyWhileFollowingAtCurrentScale)
{
    ArcGISQTWidget w;
    w.resize(400, 300);
    w.view()->setViewpoint(Viewpoint(Point(-120.0, 44.0, SpatialReference::wgs84()), 250000.0));
    EXPECT_NEAR(w.view()->mapScale(), 250000.0, 1.0);

    w.CenterOn(45.25, -118.5);
    Point c = w.view()->currentCenter();
    EXPECT_NEAR(c.x(), -118.5, 1e-6);
    EXPECT_NEAR(c.y(), 45.25, 1e-6);
    EXPECT_NEAR(w.view()->mapScale(), 250000.0, 1.0);

    sendDoubleClick(w.view()->viewport(), QPoint(10, 10));
    ASSERT_FALSE(w.following());
    w.CenterOn(30.0, -100.0);
    c = w.view()->currentCenter();
    EXPECT_NEAR(c.x(), -118.5, 1e-6);
    EXPECT_NEAR(c.y(), 45.25, 1e-6);
}

TEST(MapFollow, OperatorZoomPausesFollowingThenResumes)
{
    ArcGISQTWidget w;
    w.resize(400, 300);
    w.setFollowPauseMs(150);
    w.CenterOn(44.0, -120.0);
    sendWheel(w.view()->viewport(), 240);   // zoom in by 2
    EXPECT_TRUE(w.followPaused());
    EXPECT_TRUE(w.following());
    w.CenterOn(40.0, -110.0);
    // Zooming about the cursor may shift the centre by a pixel, no more.
    EXPECT_NEAR(w.view()->currentCenter().x(), -120.0, 0.1);
    // Following resumes once the pause has run out.
    QElapsedTimer paused;
    paused.start();
    while (w.followPaused() && paused.elapsed() < 10000)
        QTest::qWait(10);
    EXPECT_FALSE(w.followPaused());
    w.CenterOn(40.0, -110.0);
    EXPECT_NEAR(w.view()->currentCenter().x(), -110.0, 1e-6);

    // Panning with the mouse also pauses; a double-click turns following off
    // for good (no resume).
    QWidget *vp = w.view()->viewport();
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QMouseEvent move(QEvent::MouseMove, QPoint(160, 130), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &move);
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, QPoint(160, 130));
    EXPECT_TRUE(w.followPaused());
    EXPECT_NE(w.view()->currentCenter().x(), -110.0);
    sendDoubleClick(vp, QPoint(10, 10));
    EXPECT_FALSE(w.following());
    EXPECT_FALSE(w.followPaused());   // no pause left running that could resume it
}

TEST(MapSize, PreferredSizeForScreensAndASmallMinimum)
{
    EXPECT_EQ(ArcGISQTWidget::preferredSizeFor(QSize(1920, 1080)), QSize(960, 270));
    EXPECT_EQ(ArcGISQTWidget::preferredSizeFor(QSize(2560, 1400)), QSize(1280, 525));
    EXPECT_EQ(ArcGISQTWidget::preferredSizeFor(QSize(1000, 1100)), QSize(500, 412));
    EXPECT_EQ(ArcGISQTWidget::preferredSizeFor(QSize(1000, 1099)), QSize(500, 274));
    ArcGISQTWidget w;
    EXPECT_LE(w.minimumSizeHint().height(), 200);
}

TEST(MapAircraft, FitToMissionSymbolTrackAndScaleBar)
{
    storeMissions({{44.56, -121.40, 44.44, -121.56}, {40.0, -110.0, 39.0, -111.0}}, 0);
    ArcGISQTWidget w;
    w.resize(600, 400);
    w.show();
    w.DrawStoredMissions();
    ASSERT_TRUE(w.FitSelectedMission());
    // The box fills the view with a margin: both corners inside, near the edges.
    MapGraphicsView *v = w.view();
    const QPoint nw = v->mapFromScene(mercator::toScene(-121.56, 44.56));
    const QPoint se = v->mapFromScene(mercator::toScene(-121.40, 44.44));
    const QRect vp = v->viewport()->rect();
    EXPECT_TRUE(vp.contains(nw) && vp.contains(se)) << nw.x() << ',' << nw.y() << ' ' << se.x() << ',' << se.y();
    EXPECT_GT(se.y() - nw.y(), vp.height() * 2 / 3);

    // The symbol sits on the position, turned to the heading; the first
    // position does not move a fitted view.
    EXPECT_FALSE(w.aircraftItem()->isVisible());
    const Point centre = v->currentCenter();
    w.SetAircraft(44.5, -121.5, 90.0f);
    EXPECT_TRUE(w.aircraftItem()->isVisible());
    EXPECT_DOUBLE_EQ(w.aircraftItem()->rotation(), 90.0);
    EXPECT_LT(QLineF(w.aircraftItem()->pos(), mercator::toScene(-121.5, 44.5)).length(), 1e-6);
    EXPECT_NEAR(v->currentCenter().x(), centre.x(), 1e-9);
    // The track keeps points at least kTrackStep apart (about 1.1 m apart
    // at 1e-5 degrees here, 11 m at 1e-4) and starts over when cleared.
    for (int i = 1; i <= 100; ++i)
        w.SetAircraft(44.5, -121.5 + i * 1e-5, 90.0f);
    const int slow = w.trackPointCount();
    EXPECT_GE(slow, 4);
    EXPECT_LE(slow, 10);
    w.BreakTrack();
    for (int i = 1; i <= 600; ++i)
        w.SetAircraft(44.6, -121.5 + i * 1e-3, 90.0f);
    EXPECT_EQ(w.trackPointCount(), slow + 600);
    w.ClearTrack();
    EXPECT_EQ(w.trackPointCount(), 0);

    // Without a mission box the first position brings the view to it.
    QSettings().remove(QStringLiteral("MsnList"));
    ArcGISQTWidget bare;
    bare.resize(400, 300);
    bare.DrawStoredMissions();
    EXPECT_FALSE(bare.FitSelectedMission());
    bare.SetAircraft(44.5, -121.5, 0.0f);
    EXPECT_NEAR(bare.view()->currentCenter().x(), -121.5, 1e-6);
    EXPECT_NEAR(bare.view()->mapScale(), ArcGISQTWidget::kFirstFixScale, ArcGISQTWidget::kFirstFixScale * 1e-6);

    // Scale bar lengths: a round 1, 2 or 5 x 10^n that fits.
    struct Bar {
        double mpp;
        int pixels;
        double metres;
        const char *text;
    };
    for (const Bar &b : {Bar{1.0, 140, 100.0, "100 m"}, Bar{10.0, 140, 1000.0, "1 km"}, Bar{3.7, 140, 500.0, "500 m"},
                         Bar{150.0, 140, 20000.0, "20 km"}, Bar{0.1, 140, 10.0, "10 m"}, Bar{36.0, 140, 5000.0, "5 km"}}) {
        EXPECT_DOUBLE_EQ(MapGraphicsView::scaleBarMetres(b.mpp, b.pixels), b.metres) << b.mpp;
        EXPECT_EQ(MapGraphicsView::scaleBarText(b.metres), QString::fromLatin1(b.text));
    }
    // Drawn in the view's bottom left corner.
    QImage shot(v->viewport()->size(), QImage::Format_RGB32);
    shot.fill(Qt::black);
    v->viewport()->render(&shot);
    int light = 0;
    for (int x = 0; x < 150; ++x)
        light += qGray(shot.pixel(x, shot.height() - 10)) > 200 ? 1 : 0;
    EXPECT_GT(light, 20);
}

TEST(MapBasemap, MissingPackageLeavesNoBasemapAndGeoDataLinesAreDrawnDim)
{
    const QString saved = QDir::currentPath();
    QDir here(saved);
    here.mkpath(QStringLiteral("basemap-case/GeoData"));
    QDir::setCurrent(here.absoluteFilePath(QStringLiteral("basemap-case")));
    {
        ArcGISQTWidget bare;
        const auto &layers = bare.map()->basemap()->baseLayers();
        ASSERT_EQ(layers.size(), 1);
        EXPECT_EQ(layers[0]->loadStatus(), LoadStatus::FailedToLoad);
        EXPECT_TRUE(bare.map()->fullExtent().isNull());
    }
    // A vertical line through the middle of the view, from a real shapefile.
    writeLineShapefile(QStringLiteral("GeoData/highways"), -116.0, 38.0, -116.0, 42.0);
    {
        ArcGISQTWidget w;
        const auto &layers = w.map()->basemap()->baseLayers();
        ASSERT_EQ(layers.size(), 2);
        auto *lines = qobject_cast<ShapefileLineLayer *>(layers[1]);
        ASSERT_NE(lines, nullptr);
        EXPECT_EQ(lines->loadStatus(), LoadStatus::Loaded);
        EXPECT_EQ(lines->shapeCount(), 1);
        w.resize(300, 300);
        w.view()->setViewpoint(Viewpoint(Point(-116.0, 40.0, SpatialReference::wgs84()), 2.0e7));
        QImage img(w.view()->viewport()->size(), QImage::Format_RGB32);
        img.fill(Qt::black);
        {
            QPainter p(&img);
            w.view()->render(&p, QRectF(), w.view()->viewport()->rect());
        }
        const QColor bg = w.map()->backgroundColor();
        int lineCol = 0;
        int bgCol = 0;
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, img.height() / 2);
            if (c == bg)
                ++bgCol;
            else if (c.green() > c.red() + 20)
                ++lineCol;
        }
        EXPECT_GE(lineCol, 1);
        EXPECT_LE(lineCol, 3);
        EXPECT_GT(bgCol, img.width() - 4);
        // Dim: nothing brighter than mid grey.
        for (int x = 0; x < img.width(); ++x)
            EXPECT_LT(qGray(img.pixel(x, img.height() / 2)), 128);
    }
    QDir::setCurrent(saved);
}

TEST(MapView, MercatorRoundTripAndScale)
{
    for (double lat : {-60.0, 0.0, 33.3, 45.0, 64.8}) {
        for (double lon : {-179.0, -120.25, 0.0, 17.5}) {
            double lo = 0, la = 0;
            mercator::fromScene(mercator::toScene(lon, lat), &lo, &la);
            EXPECT_NEAR(lo, lon, 1e-9);
            EXPECT_NEAR(la, lat, 1e-9);
        }
    }
    // North is up in the scene.
    EXPECT_LT(mercator::toScene(0, 50).y(), mercator::toScene(0, 40).y());

    MapGraphicsView v;
    v.resize(500, 400);
    v.setViewpoint(Viewpoint(Point(-110.0, 45.0, SpatialReference::wgs84()), 50000.0));
    EXPECT_NEAR(v.mapScale(), 50000.0, 0.5);
    // 100 pixels at 1 : 50,000 and 96 dpi span 1322.9 m on the ground.
    const QPointF a = v.mapToScene(QPoint(200, 200));
    const QPointF b = v.mapToScene(QPoint(300, 200));
    double lonA, latA, lonB, latB;
    mercator::fromScene(a, &lonA, &latA);
    mercator::fromScene(b, &lonB, &latB);
    const double metres = (lonB - lonA) * M_PI / 180.0 * 6378137.0 * std::cos(45.0 * M_PI / 180.0);
    EXPECT_NEAR(metres, 1322.9, 3.0);
    // Zoom limits hold.
    v.setViewpoint(Viewpoint(Point(-110.0, 45.0, SpatialReference::wgs84()), 1.0));
    EXPECT_NEAR(v.mapScale(), MapGraphicsView::kMinScale, 1.0);
}

TEST(MapBasemap, ExtentFillsTheViewUntilItIsMoved)
{
    const QString saved = QDir::currentPath();
    QDir here(saved);
    here.mkpath(QStringLiteral("extent-case/GeoData"));
    QDir::setCurrent(here.absoluteFilePath(QStringLiteral("extent-case")));
    writeLineShapefile(QStringLiteral("GeoData/interst"), -122.0, 44.0, -121.0, 45.0);
    {
        ArcGISQTWidget w;
        w.resize(200, 150);
        w.view()->resize(200, 150);
        // The line's box fills the view after the resize.
        QPointF a = w.view()->mapFromScene(mercator::toScene(-122.0, 44.0));
        QPointF b = w.view()->mapFromScene(mercator::toScene(-121.0, 45.0));
        EXPECT_GT(std::abs(b.y() - a.y()), 150 * 0.8);
        w.view()->resize(600, 450);
        a = w.view()->mapFromScene(mercator::toScene(-122.0, 44.0));
        b = w.view()->mapFromScene(mercator::toScene(-121.0, 45.0));
        EXPECT_GT(std::abs(b.y() - a.y()), 450 * 0.8);
        // Once the view has been placed, a resize keeps the scale.
        w.CenterOn(44.5, -121.5);
        const double scale = w.view()->mapScale();
        w.view()->resize(300, 200);
        EXPECT_NEAR(w.view()->mapScale(), scale, scale * 1e-6);
    }
    QDir::setCurrent(saved);
}
