#pragma once
// The main window's map pane: a dark basemap, the box of every stored
// mission (the selected one yellow, the others white), the ground footprint
// of every finished pass, the aircraft (a symbol pointing along its
// heading) with the track it flew, a scale bar, and the aircraft kept in
// the centre of the view while following is on. A double-click flips following; when the operator
// pans or zooms while following, following pauses for a few seconds.
#include "map/mapgraphics.h"
#include "map/mapgraphicsview.h"
#include "map/maplayers.h"

#include <QList>
#include <QSize>
#include <QTimer>
#include <QWidget>

class QGraphicsPathItem;
class QGraphicsPolygonItem;

class ArcGISQTWidget : public QWidget {
    Q_OBJECT
public:
    explicit ArcGISQTWidget(QWidget *parent = nullptr);
    ~ArcGISQTWidget() override;

    void AddMissionBox(double north, double east, double south, double west, bool selected);
    // corners: four (longitude, latitude) pairs in drawing order.
    void AddFootprint(const double corners[8]);
    void ClearOverlays();
    void CenterOn(double latitude, double longitude);

    // ClearOverlays, then one box per entry of the stored mission list,
    // the entry under "LastUsed/MissionSelect" highlighted.
    void DrawStoredMissions();
    // Fits the view to the selected mission's box, as drawn by the last
    // DrawStoredMissions; false (view unchanged) when there is none.
    bool FitSelectedMission();

    // The aircraft at a position (degrees) with a heading (degrees
    // clockwise from north): the symbol moves there and the track grows.
    // Before any mission box was fitted, the first position brings the
    // view to it at a scale that shows the footprints.
    void SetAircraft(double latitude, double longitude, float heading);
    // A new track (a new run or a new source); the symbol stays.
    void ClearTrack();
    // The track goes on without joining the last point (a replay jumped).
    void BreakTrack();
    // Track points kept (the track drops points closer than kTrackStep).
    int trackPointCount() const { return trackPoints_; }
    QGraphicsPolygonItem *aircraftItem() const { return aircraft_; }
    static constexpr double kTrackStep = 15.0;       // metres of the view's projection
    static constexpr double kFirstFixScale = 250000.0;

    // The preferred size: half the available width, 3/8 of the available
    // height when that is at least 1100 pixels, else 1/4 of it. The map
    // takes whatever room the window has left; its minimum is small.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The preferred size for a screen whose available area is the given size.
    static QSize preferredSizeFor(const QSize &available);

    bool following() const { return follow_; }
    bool followPaused() const { return pause_.isActive(); }
    void setFollowPauseMs(int ms) { pause_.setInterval(ms); }

    cindrelmap::MapGraphicsView *view() const { return view_; }
    cindrelmap::Map *map() const { return map_; }

    struct MissionBoxEntry {
        double north, east, south, west;
        cindrelmap::GraphicsOverlay *overlay;
    };
    struct FootprintEntry {
        double corners[8];
    };
    const QList<MissionBoxEntry> &missionBoxes() const { return boxes_; }
    const QList<FootprintEntry> &footprints() const { return footprints_; }

    // The basemap files, relative to the working directory.
    static QString basemapPackage() { return QStringLiteral("Dark_Western_States.vtpk"); }

private:
    cindrelmap::Map *map_ = nullptr;
    cindrelmap::MapGraphicsView *view_ = nullptr;
    QList<MissionBoxEntry> boxes_;
    QList<FootprintEntry> footprints_;
    bool follow_ = true;
    bool recentring_ = false;
    QTimer pause_;
    int selectedBox_ = -1;
    bool viewFitted_ = false;
    QGraphicsPolygonItem *aircraft_ = nullptr;
    // The track in pieces, so that a new point redraws only the last piece.
    QList<QGraphicsPathItem *> track_;
    QPointF lastTrackPoint_;
    bool trackBroken_ = true;
    int trackPoints_ = 0;
};
