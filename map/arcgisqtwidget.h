#pragma once
// The main window's map pane: a dark basemap, the box of every stored
// mission (the selected one yellow, the others white), the ground footprint
// of every finished pass, and the aircraft kept in the centre of the view
// while following is on. A double-click flips following; when the operator
// pans or zooms while following, following pauses for a few seconds.
#include "map/mapgraphics.h"
#include "map/mapgraphicsview.h"
#include "map/maplayers.h"

#include <QList>
#include <QSize>
#include <QTimer>
#include <QWidget>

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

    QSize minimumSizeHint() const override;
    // The minimum size for a screen whose available area is the given size.
    static QSize minimumSizeFor(const QSize &available);

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
};
