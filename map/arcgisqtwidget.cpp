#include "map/arcgisqtwidget.h"
#include "platform/settingskeys.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsPathItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>

using namespace cindrelmap;

namespace {
// Road and hydrography lines drawn dimly when the vector tile basemap
// cannot be shown.
struct DimLayer {
    const char *name;
    QColor color;
};
const DimLayer kDimLayers[] = {
    {"highways", QColor(40, 96, 48)},
    {"interst", QColor(56, 72, 130)},
    {"hydrolin", QColor(30, 90, 100)},
};
// Points per piece of the track.
constexpr int kTrackPiece = 256;
} // namespace

ArcGISQTWidget::ArcGISQTWidget(QWidget *parent) : QWidget(parent)
{
    auto *tiled = new ArcGISVectorTiledLayer(
        QUrl::fromLocalFile(QDir::current().absoluteFilePath(basemapPackage())), this);
    auto *basemap = new Basemap(tiled, this);
    if (tiled->loadStatus() != LoadStatus::Loaded) {
        for (const DimLayer &d : kDimLayers) {
            const QString shp = QStringLiteral("GeoData/%1.shp").arg(QLatin1String(d.name));
            if (QFileInfo(shp).isFile()) {
                auto *lines = new ShapefileLineLayer(shp, d.color, this);
                if (lines->loadStatus() == LoadStatus::Loaded)
                    basemap->appendBaseLayer(lines);
            }
        }
    }
    map_ = new Map(basemap, this);

    view_ = new MapGraphicsView(this);
    view_->setMap(map_);
    connect(view_, &MapGraphicsView::mouseDoubleClicked, this, [this](QMouseEvent &e) {
        e.accept();
        follow_ = !follow_;
        pause_.stop();
        qDebug() << "Map following" << (follow_ ? "on" : "off");
    });

    pause_.setSingleShot(true);
    pause_.setInterval(5000);
    connect(view_, &MapGraphicsView::navigatedByUser, this, [this] {
        if (follow_ && !recentring_)
            pause_.start();
    });

    // The aircraft: an arrow of fixed screen size over everything else,
    // pointing north until turned to the heading.
    aircraft_ = new QGraphicsPolygonItem(
        QPolygonF({QPointF(0, -15), QPointF(10, 11), QPointF(0, 5), QPointF(-10, 11)}));
    aircraft_->setBrush(QColor(255, 150, 0));
    QPen outline(QColor(20, 20, 20));
    outline.setWidthF(1.5);
    outline.setCosmetic(true);
    aircraft_->setPen(outline);
    aircraft_->setFlag(QGraphicsItem::ItemIgnoresTransformations, true);
    aircraft_->setZValue(2.0e6);
    aircraft_->setVisible(false);
    view_->scene()->addItem(aircraft_);

    setUpdatesEnabled(true);
    view_->setUpdatesEnabled(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    show();
}

ArcGISQTWidget::~ArcGISQTWidget() = default;

void ArcGISQTWidget::AddMissionBox(double north, double east, double south, double west, bool selected)
{
    auto *overlay = new GraphicsOverlay(this);
    const SpatialReference sr = SpatialReference::wgs84();
    auto *builder = new PolygonBuilder(sr, this);
    builder->addPoints({Point(east, south), Point(east, north), Point(west, north), Point(west, south)});
    auto *symbol = new SimpleLineSymbol(SimpleLineSymbolStyle::Solid, selected ? QColor(Qt::yellow) : QColor(Qt::white),
                                        1.0f, this);
    auto *graphic = new Graphic(builder->toGeometry(), symbol, this);
    delete builder;
    overlay->graphics()->append(graphic);
    boxes_.append({north, east, south, west, overlay});
    view_->graphicsOverlays()->append(overlay);
}

void ArcGISQTWidget::AddFootprint(const double corners[8])
{
    auto *overlay = new GraphicsOverlay(this);
    FootprintEntry entry;
    std::copy(corners, corners + 8, entry.corners);
    footprints_.append(entry);
    auto *builder = new PolygonBuilder(SpatialReference::wgs84(), this);
    QList<Point> pts;
    for (int i = 0; i < 4; ++i)
        pts.append(Point(corners[2 * i], corners[2 * i + 1]));
    builder->addPoints(pts);
    auto *fill = new SimpleFillSymbol(SimpleFillSymbolStyle::Solid, QColor(21, 158, 56, 59), nullptr, this);
    auto *graphic = new Graphic(builder->toGeometry(), fill, this);
    delete builder;
    overlay->graphics()->append(graphic);
    view_->graphicsOverlays()->append(overlay);
}

void ArcGISQTWidget::ClearOverlays()
{
    view_->graphicsOverlays()->clear();
}

void ArcGISQTWidget::CenterOn(double latitude, double longitude)
{
    if (!follow_ || pause_.isActive())
        return;
    recentring_ = true;
    view_->setViewpoint(Viewpoint(Point(longitude, latitude, SpatialReference::wgs84()), view_->mapScale()));
    recentring_ = false;
}

void ArcGISQTWidget::SetAircraft(double latitude, double longitude, float heading)
{
    if (!std::isfinite(latitude) || !std::isfinite(longitude))
        return;
    const QPointF p = mercator::toScene(longitude, latitude);
    aircraft_->setPos(p);
    aircraft_->setRotation(std::isfinite(heading) ? heading : 0.0f);
    aircraft_->setVisible(true);
    if (!viewFitted_) {
        viewFitted_ = true;
        view_->setViewpoint(Viewpoint(Point(longitude, latitude, SpatialReference::wgs84()), kFirstFixScale));
    }

    if (!trackBroken_ && QLineF(lastTrackPoint_, p).length() < kTrackStep)
        return;
    if (trackBroken_ || track_.isEmpty() || track_.last()->path().elementCount() >= kTrackPiece) {
        auto *piece = new QGraphicsPathItem;
        QPen pen(QColor(0, 200, 255));
        pen.setWidthF(2.0);
        pen.setCosmetic(true);
        piece->setPen(pen);
        piece->setZValue(1.0e6);
        QPainterPath path;
        // A new piece goes on from the last point unless the track broke.
        path.moveTo(trackBroken_ ? p : lastTrackPoint_);
        if (!trackBroken_)
            path.lineTo(p);
        piece->setPath(path);
        view_->scene()->addItem(piece);
        track_.append(piece);
    } else {
        QPainterPath path = track_.last()->path();
        path.lineTo(p);
        track_.last()->setPath(path);
    }
    trackBroken_ = false;
    lastTrackPoint_ = p;
    ++trackPoints_;
}

void ArcGISQTWidget::ClearTrack()
{
    for (QGraphicsPathItem *piece : qAsConst(track_)) {
        view_->scene()->removeItem(piece);
        delete piece;
    }
    track_.clear();
    trackBroken_ = true;
    trackPoints_ = 0;
}

void ArcGISQTWidget::BreakTrack()
{
    trackBroken_ = true;
}

bool ArcGISQTWidget::FitSelectedMission()
{
    if (selectedBox_ < 0 || selectedBox_ >= boxes_.size())
        return false;
    const MissionBoxEntry &b = boxes_.at(selectedBox_);
    view_->fitExtent(b.north, b.east, b.south, b.west);
    viewFitted_ = true;
    return true;
}

void ArcGISQTWidget::DrawStoredMissions()
{
    ClearOverlays();
    selectedBox_ = -1;
    QSettings settings;
    const int selected = settings.value(SettingsKey::MissionSelect, 0).toInt();
    const int n = settings.beginReadArray(SettingsKey::MissionList);
    for (int i = 0; i < n; ++i) {
        settings.setArrayIndex(i);
        AddMissionBox(settings.value(QStringLiteral("North_Val")).toDouble(),
                      settings.value(QStringLiteral("East_Val")).toDouble(),
                      settings.value(QStringLiteral("South_Val")).toDouble(),
                      settings.value(QStringLiteral("West_Val")).toDouble(), i == selected);
        if (i == selected)
            selectedBox_ = boxes_.size() - 1;
    }
    settings.endArray();
}

QSize ArcGISQTWidget::preferredSizeFor(const QSize &available)
{
    const int h = available.height();
    return QSize(available.width() / 2, h >= 1100 ? h * 3 / 8 : h / 4);
}

QSize ArcGISQTWidget::sizeHint() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return preferredSizeFor(screen ? screen->availableSize() : QSize(1920, 1080));
}

QSize ArcGISQTWidget::minimumSizeHint() const
{
    // Enough to see the aircraft, the scale bar and a little around them.
    return QSize(240, 120);
}
