#pragma once
// NewMsnDlg: the "New Missions" dialog. Lists the stored missions
// (mission/missionstore.h), lets the operator pick one, edit its box and
// texts, add a new one, see its average ground elevation from the DEM
// tiles and choose the log folder.
//
// Every edit is written to the store at once, so Cancel does not undo
// edits. After exec() returns Accepted the caller adopts the mission:
//   NewMsnDlg dlg(this);
//   if (dlg.exec() == QDialog::Accepted) {
//       const int i = dlg.GetCurrentMission();          // -1: none
//       const int feet = dlg.GetAvgGroundElevation();   // whole feet
//       const MissionRecord m = MissionStore::Read(i);  // m.westVal, ...
//   }
#include "mission/missionstore.h"

#include <QDialog>
#include <QList>

class QButtonGroup;
class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

class NewMsnDlg : public QDialog {
    Q_OBJECT
public:
    // Name of the raster the elevation average is taken from, in the
    // current directory.
    static const QString kAreaRasterName;   // "FindAvgOfArea"
    // The ground elevations (feet) a mission may have.
    static constexpr int kMinGroundFeet = -1000;
    static constexpr int kMaxGroundFeet = 20400;

    explicit NewMsnDlg(QWidget *parent = nullptr);
    ~NewMsnDlg() override;

    // Index of the current mission in the store; -1 when none is current.
    int GetCurrentMission() const { return currentMission; }
    // The average ground elevation shown, in whole feet.
    int GetAvgGroundElevation() const;
    // The dialog's copy of the store.
    const QList<MissionRecord> &Missions() const { return missions; }

    // (west, north, east, south) of the current mission in decimal degrees,
    // from its degrees, minutes and flags; puts the record's box in order
    // first (see MissionRecord::OrderBox). False when no mission is current.
    bool GetMissionBox(double *west, double *north, double *east, double *south);

    // Table text of an edge: degrees, degree sign, minutes, apostrophe.
    static QString EdgeText(int deg, int min);

public slots:
    void OnMsnSelect();
    void OnAddMsn();
    void OnPathBrowse();
    void OnFindDemElev();
    void OnUpdateMsnBox();
    // A hemisphere button clicked: the current mission takes the flags shown.
    void OnHemisphereClicked();

private:
    void BuildWidgets();
    void FillMissionTable();
    void ShowMission(const MissionRecord &m);
    // Degrees and minutes in the eight edits, flags on the buttons.
    void ShowBox(const MissionRecord &m);
    bool HasCurrent() const { return currentMission >= 0 && currentMission < missions.size(); }

    QList<MissionRecord> missions;
    int currentMission = -1;

    QTableWidget *table = nullptr;
    QLineEdit *leNDeg = nullptr, *leNMin = nullptr, *leSDeg = nullptr, *leSMin = nullptr;
    QLineEdit *leEDeg = nullptr, *leEMin = nullptr, *leWDeg = nullptr, *leWMin = nullptr;
    QButtonGroup *bgNorth = nullptr, *bgSouth = nullptr, *bgEast = nullptr, *bgWest = nullptr;
    QRadioButton *rbNorth_n = nullptr, *rbNorth_s = nullptr, *rbSouth_n = nullptr, *rbSouth_s = nullptr;
    QRadioButton *rbEast_w = nullptr, *rbEast_e = nullptr, *rbWest_w = nullptr, *rbWest_e = nullptr;
    QLineEdit *leMsnName = nullptr, *lePNum = nullptr, *leMsnTech = nullptr, *leTailNum = nullptr;
    QPushButton *pbAddMsn = nullptr, *pbLoadSel = nullptr;
    QSpinBox *sbGrndElev = nullptr;
    QPushButton *pbGrndElev = nullptr;
    QLabel *lblElevStatus = nullptr;
    QLineEdit *leBrowse = nullptr;
    QPushButton *pbBrowse = nullptr;
    QCheckBox *cbMultiMsn = nullptr, *cbVRML = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
};
