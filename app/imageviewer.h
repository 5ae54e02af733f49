#pragma once
// The main window. It owns, for the whole run of the program, the fire
// detection curve, the acquisition settings, at most one data source (the
// live board or a replayed flight log), the recorder and the pass records,
// the coordinate converter, the panels (thresholds, map, waterfall and its
// status overlay), the 33 ms processing timer and the orthorectify worker
// with its thread.
//
// One tick of the processing timer runs, in connection order, the
// waterfall's processData, the thresholds panel's updateGraph and dspComm
// here; lines therefore reach the displays one tick after the cycle that
// took them in.
#include "datasource/recordingcontrol.h"
#include "display/displayowner.h"
#include "ortho/orthorectifyworker.h"
#include "stripchart/cpass.h"
#include "stripchart/passservices.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class ArcGISQTWidget;
class CCindrelDspLog;
class CDataSource;
class CUtmConverter;
class DspSig;
class WaterFall;
class ColdCurve;
class QAction;
class QDialog;
class QLabel;
class QMenu;
class QThread;
class QTimer;
class QToolBar;
class ReplayControls;

class ImageViewer : public QMainWindow, public DisplayOwner, public PassServices, public RecordingHost {
    Q_OBJECT
public:
    explicit ImageViewer(QWidget *parent = nullptr);
    ~ImageViewer() override;

    // Preferred: the primary screen's available size. The panels shrink
    // to fit smaller screens, so the minimum is what they need.
    QSize sizeHint() const override;

    // Writes the operator's acquisition settings to the settings store.
    void SaveSettings() override;
    // Redraws every stored mission's box on the map, the selected one
    // highlighted.
    void DrawMissions();
    // Extracts the elevation raster for the recorded swath (box B) under the
    // name the rectifier looks for beside the log. Returns its success;
    // false when box B never grew.
    bool ExtractRunElevation(const QString &logPath);

    // ---- DisplayOwner ----
    CDataSource *displaySource() override { return dataSource; }
    bool isRunRequested() const override { return runRequested; }
    bool isMapMode() const override { return mapMode; }
    bool isLogOpen() const override { return recording->logOpen; }
    bool isRecordArmed() const override { return recording->recordArmed; }
    bool ManipulateLogFile(int opCode, bool noRectify) override;
    void WriteLogLine(const ScanLineRec &line) override;
    PassServices *passServices() override { return this; }
    QObject *stripChartParent() override { return this; }
    std::int32_t chnBFireLimit() const override { return bMax; }
    void setChnBFireLimit(std::int32_t value) override { bMax = value; }
    std::int32_t chnBColdLimit() const override { return bMin; }
    void setChnBColdLimit(std::int32_t value) override { bMin = value; }
    ColdCurve *coldCurve() override { return curve.get(); }
    int fireZoomIdx() const override { return fireZoomIdxValue; }
    int fireZoomExp() const override { return fireZoomExpValue; }
    int bMaxZoomIdx() const override { return bMaxZoomIdxValue; }
    int bMaxZoomExp() const override { return bMaxZoomExpValue; }
    void setFireZoom(int idx, int exp) override;
    void setBMaxZoom(int idx, int exp) override;

    // ---- PassServices ----
    std::int32_t StartPass(double easting, double northing, int zone, float heading, float halfSwath,
                           const QDateTime &start) override;
    void SetRunHeading(float heading) override;
    void UpdatePass(double easting, double northing, int zone, float heading, float halfSwath) override;
    void ReportSwathEdges(double x1, double y1, double x2, double y2, bool recorded) override;
    void EndPass(double easting, double northing, int zone, float heading, float halfSwath, bool skip) override;
    std::int32_t GetPassHeading(std::int32_t index) override;
    bool IsRecordArmed() const override { return recording->recordArmed; }
    QString GetTailNumber() const override { return recording->tailNumber; }
    QString GetTechName() const override { return recording->techName; }
    QString GetMissionName() const override { return recording->missionName; }
    QString GetPathPrefix() const override { return recording->pathPrefix; }
    double GetGroundElevation() const override { return recording->groundElevation; }
    CUtmConverter *GetConverter() override { return converter.get(); }
    CDataSource *GetDataSource() override { return dataSource; }
    bool IsMapMode() const override { return mapMode; }
    void SetMapMode(bool on) override { mapMode = on; }
    QWidget *GetNoticeParent() override { return this; }

    // ---- RecordingHost ----
    bool IsRectifierRunning() override;
    RunArea GetRunArea() override;
    int GetCentralMeridian() override;
    void QueueForRectify(const RectifyRequest &request) override;

    // ---- state, for the panels, the status bar and checks ----
    QAction *playAction() const { return playAct; }
    QAction *stopAction() const { return stopAct; }
    QAction *runAction() const { return runAct; }
    QAction *stopRunAction() const { return stopRunAct; }
    QAction *ftpAction() const { return ftpAct; }
    QToolBar *toolBar() const { return tools; }
    // Speed, pause and position of a replay, beside the tool bar.
    ReplayControls *replayControls() const { return replay; }
    QTimer *processingTimer() const { return timer; }
    QThread *orthoThread() const { return orthoThreadPtr; }
    OrthoRectifyWorker *orthoWorker() const { return worker; }
    ArcGISQTWidget *mapWidget() const { return map; }
    DspSig *thresholdPanel() const { return sig; }
    QWidget *waterfallView() const { return wfView; }
    QWidget *statusOverlay() const { return wfOverlay; }
    WaterFall *waterfall() const { return wf; }
    CCindrelDspLog *recorder() const { return recording ? recording->Recorder() : nullptr; }
    // Recording state: log names, pass and segment numbers, mission names.
    CRecordingControl *recordingControl() const { return recording.get(); }
    const CPassRecords &passRecords() const { return passes; }
    QString statusText() const;
    // Shows the modal dialogs of the commands (missions, transfer). By
    // default QDialog::exec(); a runner set here is called instead with the
    // dialog built and returns its result (checks drive the dialogs this
    // way). An empty function restores the default.
    using DialogRunner = std::function<int(QDialog &)>;
    static void SetDialogRunner(DialogRunner runner);
    // The last orthorectify outcome shown ("" before the first).
    QString lastRectifyOutcome() const { return lastOutcome; }
    // The central meridian, in whole degrees, of a mission spanning west to
    // east: the nearest whole degree of the middle, a tie going down.
    static int MissionCentralMeridian(double west, double east);
    // Deletes the current data source and puts the given one (may be null)
    // in its place; type as sourceType. A run still going on the old source
    // is ended first (strip chart finished, log closed and queued).
    void ReplaceDataSource(CDataSource *source, int type);

    double missionNorth = 0.0, missionEast = 0.0, missionSouth = 0.0, missionWest = 0.0;

    bool runRequested = false;
    bool mapMode = false;

    // Acquisition settings.
    bool usePoly = true;
    std::int32_t bMax = 65000;
    std::int32_t bMin = 1000;
    double a2 = 0.0, a1 = 0.0, a0 = 0.0;
    float chnBGain = 1.0f;
    std::int32_t chnBOffset = 100;
    std::int32_t vOverH = 5;
    std::int32_t fireThreshold = 0;
    int fireZoomIdxValue = 2;
    int fireZoomExpValue = 1;
    int bMaxZoomIdxValue = 5;
    int bMaxZoomExpValue = 1;
    int fireDetAutoAmt = 50;
    int bMaxAutoAmt = 200;
    int bMinAutoAmt = 1;

    // The data source kind: 0 none, 1 flight log, 6 DSP board.
    int sourceType = 0;

public slots:
    void OnSystemInitialize();
    void doData();
    void stopData();
    void startRecData();
    void stopRecData();
    void dspComm();
    void writeData() {}
    void OnMissionSet();
    void OnSetTech();
    void OnImportXml();
    void OnDeleteXml();
    void OnFileReplay();
    void OnRecreateStripImage();
    void OnFileRectifyLog();
    void OnFTP();
    // Moves the replayed log to the line; the displays continue from there.
    void OnReplaySeek(std::uint32_t line);

protected:
    // While a run is recording, asks before the window closes; "No" keeps
    // the run going.
    void closeEvent(QCloseEvent *event) override;

private:
    void createMenus();
    void createToolBar();
    void loadSettings();
    void buildPanels();
    void updateStatusBar();
    // The aircraft and its track on the map from the newest line.
    void updateAircraft();
    // Makes stored mission `index` the current one: box, names, ground
    // elevation (feet) and the grid's central meridian.
    void adoptMission(int index, int groundFeet);
    // The mission selection of the last session, at start-up.
    void restoreMission();
    void showRectifyOutcome(const LogOutcome &outcome);
    int runDialog(QDialog &dialog);
    // A flight log chosen by the operator, with the fire detection
    // parameters set; null when none was opened.
    CCindrelDspLog *openChosenLog();

    std::unique_ptr<ColdCurve> curve;
    CDataSource *dataSource = nullptr;
    std::unique_ptr<CRecordingControl> recording;
    std::unique_ptr<CUtmConverter> converter;
    CPassRecords passes;

    QThread *orthoThreadPtr = nullptr;
    QPointer<OrthoRectifyWorker> worker;
    QTimer *timer = nullptr;
    QTimer *timer2 = nullptr;
    int centreCounter = 0;
    qint64 replayLines = 0;   // records in the replayed log
    QString lastOutcome;

    QMenu *systemMenu = nullptr;
    QMenu *missionMenu = nullptr;
    QToolBar *tools = nullptr;
    QAction *playAct = nullptr;
    QAction *stopAct = nullptr;
    QAction *runAct = nullptr;
    QAction *stopRunAct = nullptr;
    QAction *ftpAct = nullptr;
    QToolBar *replayBar = nullptr;
    ReplayControls *replay = nullptr;

    ArcGISQTWidget *map = nullptr;
    DspSig *sig = nullptr;
    WaterFall *wf = nullptr;
    QWidget *wfView = nullptr;
    QWidget *wfOverlay = nullptr;

    QLabel *statusSource = nullptr;
    QLabel *statusPosition = nullptr;
    QLabel *statusRecording = nullptr;
    QLabel *statusOrtho = nullptr;
};
