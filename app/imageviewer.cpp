#include "app/imageviewer.h"
#include "platform/settingskeys.h"

#include "app/debuglog.h"
#include "app/replaycontrols.h"
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "datasource/cutmconverter.h"
#include "display/dspsig.h"
#include "dsp/cdspinterface.h"
#include "dsp/channelselect.h"
#include "geodata/celevationdata.h"
#include "display/waterfall.h"
#include "display/wflabel.h"
#include "map/arcgisqtwidget.h"
#include "mission/ftpxferdlg.h"
#include "mission/missionplanimport.h"
#include "mission/newmsndlg.h"
#include "ortho/orthorectifyworker.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "stripchart/stripimagerebuild.h"
#include "mission/missionstore.h"

#include <QAction>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <cmath>
#include <utility>

namespace {
ImageViewer::DialogRunner &dialogRunner()
{
    static ImageViewer::DialogRunner runner;
    return runner;
}

QSize availableScreenSize()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableSize() : QSize(1920, 1080);
}
} // namespace

ImageViewer::ImageViewer(QWidget *parent) : QMainWindow(parent), curve(std::make_unique<ColdCurve>())
{
    setObjectName(QStringLiteral("ImageViewer"));

    // 1. The worker's thread and the timers.
    orthoThreadPtr = new QThread(this);
    orthoThreadPtr->setObjectName(QStringLiteral("OrthoRectify"));
    timer = new QTimer(this);
    timer->setInterval(33);
    timer2 = new QTimer(this);

    // 2. The debug log.
    DebugLog::install();
    qDebug() << "Cindrel program started";
    qDebug() << "Debug Handler Started!";

    // 3. Menus and tool bar.
    createMenus();
    createToolBar();

    // 4. Acquisition settings; every start-up resets the log folder.
    loadSettings();
    QSettings().setValue(SettingsKey::LogPath, QStringLiteral("C:\\CindrelData"));

    // 5.-6. Mission and recording state with the recorder: no source,
    // pass and segment 0, no log open, runs armed for recording, the data
    // folder "C:\CindrelData".
    dataSource = nullptr;
    mapMode = false;
    recording = std::make_unique<CRecordingControl>(curve.get(), this, this);
    converter = std::make_unique<CUtmConverter>();
    // The mission chosen in an earlier session stays the current one.
    restoreMission();

    // 7. The orthorectify worker on its own thread; its work loop runs
    // until the stop flag is set at shutdown.
    worker = new OrthoRectifyWorker(curve.get());
    // Each log's outcome reaches the operator on this window's thread.
    worker->SetOutcomeHandler([this](const LogOutcome &outcome) {
        QMetaObject::invokeMethod(this, [this, outcome] { showRectifyOutcome(outcome); }, Qt::QueuedConnection);
    });
    worker->moveToThread(orthoThreadPtr);
    connect(orthoThreadPtr, &QThread::finished, worker.data(), &QObject::deleteLater);
    orthoThreadPtr->start(QThread::InheritPriority);
    QTimer::singleShot(0, worker.data(), &OrthoRectifyWorker::doWork);

    // 8.-12. Panels and layout, timer connections, curve start values, the
    // stored missions on the map, then this window's own tick.
    buildPanels();
    curve->resetStartValues();
    DrawMissions();
    map->FitSelectedMission();
    connect(timer, &QTimer::timeout, this, &ImageViewer::dspComm);

    statusSource = new QLabel(this);
    statusPosition = new QLabel(this);
    statusRecording = new QLabel(this);
    statusOrtho = new QLabel(this);
    statusBar()->addWidget(statusSource, 2);
    statusBar()->addWidget(statusPosition, 1);
    statusBar()->addWidget(statusRecording, 2);
    statusBar()->addWidget(statusOrtho, 1);
    updateStatusBar();
}

ImageViewer::~ImageViewer()
{
    timer->stop();
    // A run still going ends here, while the window is whole: its strip
    // chart is finished and its log closed and queued.
    if (wf)
        wf->finishRun();
    SaveSettings();
    delete dataSource;
    dataSource = nullptr;
    recording.reset();
    if (worker)
        worker->Stop();
    orthoThreadPtr->quit();
    orthoThreadPtr->wait();
    // The thread's end deletes the worker; if it never ran, delete it here.
    delete worker.data();
    // The panels go before the members they read.
    delete takeCentralWidget();
    wf = nullptr;
    sig = nullptr;
    map = nullptr;
    qDebug() << "Cindrel main window closed";
}

QSize ImageViewer::sizeHint() const
{
    return availableScreenSize();
}

void ImageViewer::createMenus()
{
    systemMenu = menuBar()->addMenu(QStringLiteral("&System"));
    systemMenu->addAction(QStringLiteral("&1. Set Tech Name"), this, &ImageViewer::OnSetTech);
    systemMenu->addAction(QStringLiteral("&2. Delete Missions from Registry"), this, &ImageViewer::OnDeleteXml);
    systemMenu->addAction(QStringLiteral("&3. Import Mission Plan XML"), this, &ImageViewer::OnImportXml);
    systemMenu->addSeparator();
    systemMenu->addAction(QStringLiteral("&4. Initialize DSP Hardware"), this, &ImageViewer::OnSystemInitialize);

    missionMenu = menuBar()->addMenu(QStringLiteral("&Mission"));
    missionMenu->addAction(QStringLiteral("Set"), this, &ImageViewer::OnMissionSet);
    missionMenu->addSeparator();
    missionMenu->addAction(QStringLiteral("Replay &Cindrel Log..."), this, &ImageViewer::OnFileReplay);
    missionMenu->addAction(QStringLiteral("Recreate Strip Image..."), this, &ImageViewer::OnRecreateStripImage);
    missionMenu->addSeparator();
    missionMenu->addAction(QStringLiteral("Orthorectify Log"), this, &ImageViewer::OnFileRectifyLog);

    for (const char *title : {"&Data", "&View", "&Image", "&Printer", "&Admin", "&Help"})
        menuBar()->addMenu(QString::fromLatin1(title));
}

void ImageViewer::createToolBar()
{
    tools = addToolBar(QStringLiteral("Cindrel64"));
    tools->setObjectName(QStringLiteral("Cindrel64"));
    tools->setIconSize(QSize(64, 64));
    auto make = [this](const char *file, const QString &text, void (ImageViewer::*slot)(), bool enabled) {
        QAction *a = tools->addAction(QIcon(QPixmap(QString::fromLatin1(file))), text);
        a->setObjectName(QString::fromLatin1(file));
        connect(a, &QAction::triggered, this, slot);
        a->setEnabled(enabled);
        return a;
    };
    playAct = make("buttons/Play.bmp", QStringLiteral("&New"), &ImageViewer::doData, false);
    stopAct = make("buttons/Stop.bmp", QStringLiteral("&New"), &ImageViewer::stopData, false);
    tools->addSeparator();
    runAct = make("buttons/RunP.bmp", QStringLiteral("&New"), &ImageViewer::startRecData, false);
    stopRunAct = make("buttons/StopP.bmp", QStringLiteral("&New"), &ImageViewer::stopRecData, false);
    tools->addSeparator();
    ftpAct = make("buttons/Ftp.bmp", QStringLiteral("&Ftp"), &ImageViewer::OnFTP, true);

    replayBar = addToolBar(QStringLiteral("Replay"));
    replayBar->setObjectName(QStringLiteral("Replay"));
    replay = new ReplayControls(replayBar);
    replay->setEnabled(false);
    replayBar->addWidget(replay);
    connect(replay, &ReplayControls::seekRequested, this, &ImageViewer::OnReplaySeek);
}

void ImageViewer::loadSettings()
{
    QSettings s;
    usePoly = s.value(SettingsKey::FireDetectUsePoly, true).toBool();
    bMax = s.value(SettingsKey::FireDetectChnBFireLimit, 65000).toInt();
    bMin = s.value(SettingsKey::FireDetectChnBColdLimit, 1000).toInt();
    a2 = s.value(SettingsKey::FireDetectPolyA2, 0.0).toDouble();
    a1 = s.value(SettingsKey::FireDetectPolyA1, 0.0).toDouble();
    a0 = s.value(SettingsKey::FireDetectPolyA0, 0.0).toDouble();
    chnBGain = s.value(SettingsKey::ChannelBGain, 1.0).toFloat();
    chnBOffset = s.value(SettingsKey::ChannelBOffset, 100).toInt();
    vOverH = s.value(SettingsKey::VOverH, 5).toInt();
    fireZoomIdxValue = s.value(SettingsKey::FireDetectZoomIdx, 2).toInt();
    fireZoomExpValue = s.value(SettingsKey::FireDetectZoomExp, 1).toInt();
    bMaxZoomIdxValue = s.value(SettingsKey::BMaxZoomIdx, 5).toInt();
    bMaxZoomExpValue = s.value(SettingsKey::BMaxZoomExp, 1).toInt();
    fireDetAutoAmt = s.value(SettingsKey::FireDetAutoAmt, 50).toInt();
    bMaxAutoAmt = s.value(SettingsKey::BMaxAutoAmt, 200).toInt();
    bMinAutoAmt = s.value(SettingsKey::BMinAutoAmt, 1).toInt();
}

void ImageViewer::SaveSettings()
{
    if (sig) {
        // The panel holds the operator's current values.
        fireThreshold = sig->fireThreshold();
        chnBGain = sig->chnBGain();
        chnBOffset = sig->chnBOffset();
        vOverH = sig->vOverH();
    }
    QSettings s;
    s.setValue(SettingsKey::FireDetectChnBFireLimit, bMax);
    s.setValue(SettingsKey::FireDetectChnBColdLimit, bMin);
    s.setValue(SettingsKey::FireDetectThreshold, fireThreshold);
    s.setValue(SettingsKey::ChannelBGain, chnBGain);
    s.setValue(SettingsKey::ChannelBOffset, chnBOffset);
    s.setValue(SettingsKey::VOverH, vOverH);
    s.setValue(SettingsKey::FireDetectZoomIdx, fireZoomIdxValue);
    s.setValue(SettingsKey::FireDetectZoomExp, fireZoomExpValue);
    s.setValue(SettingsKey::BMaxZoomIdx, bMaxZoomIdxValue);
    s.setValue(SettingsKey::BMaxZoomExp, bMaxZoomExpValue);
    s.setValue(SettingsKey::FireDetAutoAmt, fireDetAutoAmt);
    s.setValue(SettingsKey::BMaxAutoAmt, bMaxAutoAmt);
    s.setValue(SettingsKey::BMinAutoAmt, bMinAutoAmt);
}

void ImageViewer::setFireZoom(int idx, int exp)
{
    fireZoomIdxValue = idx;
    fireZoomExpValue = exp;
}

void ImageViewer::setBMaxZoom(int idx, int exp)
{
    bMaxZoomIdxValue = idx;
    bMaxZoomExpValue = exp;
}

void ImageViewer::buildPanels()
{
    auto *central = new QWidget(this);
    auto *hbox = new QHBoxLayout(central);
    auto *left = new QVBoxLayout;
    auto *grid = new QGridLayout;

    sig = new DspSig(this, central);
    map = new ArcGISQTWidget(central);
    left->addWidget(sig, 0);
    left->addWidget(map, 1);

    // The waterfall keeps the pictures; the view and the status overlay
    // share the grid's single cell, the overlay on top.
    wf = new WaterFall(this, central);
    wf->hide();
    wfView = wf->createViewLabel(central);
    wfView->setObjectName(QStringLiteral("WaterfallView"));
    wfOverlay = wf->createOverlayLabel(central);
    wfOverlay->setObjectName(QStringLiteral("StatusOverlay"));
    wfOverlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    grid->addWidget(wfView, 0, 0);
    grid->addWidget(wfOverlay, 0, 0);
    wfOverlay->raise();

    hbox->addLayout(left, 1);
    hbox->addLayout(grid, 1);
    setCentralWidget(central);

    // The tick's first two receivers.
    connect(timer, &QTimer::timeout, wf, &WaterFall::processData);
    connect(timer, &QTimer::timeout, sig, &DspSig::updateGraph);
}

void ImageViewer::DrawMissions()
{
    if (map)
        map->DrawStoredMissions();
}

void ImageViewer::ReplaceDataSource(CDataSource *source, int type)
{
    // A run still going on the old source ends first: its strip chart is
    // finished and its log closed while the source is still there.
    if (dataSource && wf && (runRequested || wf->stripChartActive() || wf->recording())) {
        stopRecData();
        wf->processData();
        wf->finishRun();
    }
    delete dataSource;
    dataSource = source;
    sourceType = source ? type : 0;
    // Nothing flows from a source that was just put in place (or from no
    // source at all): the tool bar offers only what works now, and Play
    // is enabled by the command once the new source is ready.
    if (timer->isActive())
        timer->stop();
    for (QAction *a : {playAct, stopAct, runAct, stopRunAct})
        a->setEnabled(false);
    replayLines = 0;
    auto *log = qobject_cast<CCindrelDspLog *>(source);
    if (log)
        replayLines = log->RecordCount();
    if (replay) {
        replay->reset(std::uint32_t(replayLines));
        replay->setEnabled(log != nullptr);
    }
    if (map)
        map->ClearTrack();
    updateStatusBar();
}

// ---------------------------------------------------------------------------
// The tick and the tool bar commands.

void ImageViewer::dspComm()
{
    if (wfView)
        wfView->update();
    if (wfOverlay)
        wfOverlay->update();
    if (auto *log = qobject_cast<CCindrelDspLog *>(dataSource)) {
        // A replay reads as many records as its speed asks (none while
        // paused); the displays take them all on the next tick.
        log->DoNextFwdCycles(replay ? replay->linesPerTick() : 1, true);
    } else if (dataSource) {
        dataSource->DoNextFwdCycle(0, false, true);
    }
    updateAircraft();
    if (centreCounter == 7) {
        centreCounter = 0;
        if (dataSource && map) {
            double lat = 0.0, lon = 0.0;
            dataSource->GetPosition(&lat, &lon);
            // No line yet (or no fix): nothing to follow.
            if (lat != 0.0 || lon != 0.0)
                map->CenterOn(lat, lon);
        }
    }
    ++centreCounter;
    updateStatusBar();
    update();
}

void ImageViewer::updateAircraft()
{
    if (!dataSource || !map)
        return;
    double lat = 0.0, lon = 0.0;
    dataSource->GetPosition(&lat, &lon);
    if (lat == 0.0 && lon == 0.0)
        return;
    map->SetAircraft(lat, lon, dataSource->GetHeading());
}

void ImageViewer::OnReplaySeek(std::uint32_t line)
{
    auto *log = qobject_cast<CCindrelDspLog *>(dataSource);
    if (!log)
        return;
    if (log->SeekRecord(line)) {
        qDebug().noquote() << QStringLiteral("Replay moved to line %1").arg(line);
        // The track does not join the old position to the new one.
        if (map)
            map->BreakTrack();
    }
    updateStatusBar();
}

void ImageViewer::closeEvent(QCloseEvent *event)
{
    if (recording->logOpen || runRequested) {
        const auto answer = Notice::question(
            this, QStringLiteral("Cindrel64"),
            QStringLiteral("A run is being recorded. Stop the run and close Cindrel64?"),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    QMainWindow::closeEvent(event);
}

void ImageViewer::doData()
{
    if (!dataSource)
        return;
    dataSource->Start();
    stopAct->setEnabled(true);
    runAct->setEnabled(true);
    playAct->setEnabled(false);
    stopRunAct->setEnabled(false);
    if (!timer->isActive())
        timer->start();
    updateStatusBar();
}

void ImageViewer::stopData()
{
    if (!dataSource)
        return;
    if (timer->isActive())
        timer->stop();
    dataSource->Stop();
    stopAct->setEnabled(false);
    runAct->setEnabled(false);
    stopRunAct->setEnabled(false);
    playAct->setEnabled(true);
    // One last pass of the waterfall over what the source still holds.
    wf->processData();
    updateStatusBar();
}

void ImageViewer::startRecData()
{
    if (!dataSource || !timer->isActive())
        return;
    runRequested = !runRequested;
    mapMode = !mapMode;
    stopAct->setEnabled(false);
    runAct->setEnabled(false);
    stopRunAct->setEnabled(true);
    ftpAct->setEnabled(false);
    qDebug() << "you pressed Start";
    updateStatusBar();
}

void ImageViewer::stopRecData()
{
    runRequested = false;
    mapMode = false;
    recording->StopRecording();
    stopAct->setEnabled(true);
    runAct->setEnabled(true);
    ftpAct->setEnabled(true);
    stopRunAct->setEnabled(false);
    qDebug() << "you pressed stop";
    updateStatusBar();
}

void ImageViewer::OnSystemInitialize()
{
    stopAct->setEnabled(false);
    playAct->setEnabled(false);
    ReplaceDataSource(nullptr, 0);

    CDspInterface *dsp = nullptr;
    try {
        dsp = new CDspInterface(curve.get());
    } catch (const std::exception &e) {
        qWarning() << "Creating the DSP interface failed:" << e.what();
        dsp = nullptr;
    }
    if (!dsp) {
        Notice::critical(this, QStringLiteral("DSP INIT ERROR"), QStringLiteral("Unable to create DspInterface object."));
        return;
    }
    if (!dsp->Initialize()) {
        delete dsp;
        Notice::critical(this, QStringLiteral("DSP INIT ERROR"), QStringLiteral("Unable to initialize DSP interface."));
        return;
    }
    ReplaceDataSource(dsp, 6);
    dsp->SetFireDetectParams(usePoly, std::uint32_t(bMax), std::uint32_t(bMin), a2, a1, a0);
    playAct->setEnabled(true);
    qDebug() << "DSP hardware initialized";
}

// ---------------------------------------------------------------------------
// Menu commands.

void ImageViewer::OnSetTech()
{
    bool ok = false;
    const QString text =
        Notice::getText(this, QStringLiteral("Set Tech Name"), QStringLiteral("Tech name:"), QString(), &ok);
    if (ok && !text.isEmpty())
        QSettings().setValue(SettingsKey::TechName, text);
}

void ImageViewer::OnDeleteXml()
{
    if (Notice::question(this, QStringLiteral("Deletes Mission"), QStringLiteral("Delete all missions from registry?"),
                         QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes) {
        QSettings().remove(SettingsKey::MissionList);
    } else {
        Notice::information(this, QStringLiteral("Deletes Mission"),
                            QStringLiteral("Delete missions from registry aborted."));
    }
}

void ImageViewer::OnFileReplay()
{
    ReplaceDataSource(nullptr, 0);
    auto *log = new CCindrelDspLog(curve.get());
    log->SetFireDetectParams(usePoly, std::uint32_t(bMax), std::uint32_t(bMin), a2, a1, a0);
    log->OnFileOpen();
    if (log->isOpen) {
        ReplaceDataSource(log, 1);
        playAct->setEnabled(true);
        qDebug().noquote() << QStringLiteral("Replaying %1").arg(log->GetFileName());
    } else {
        delete log;
    }
    updateStatusBar();
}

void ImageViewer::SetDialogRunner(DialogRunner runner)
{
    dialogRunner() = std::move(runner);
}

int ImageViewer::runDialog(QDialog &dialog)
{
    if (dialogRunner())
        return dialogRunner()(dialog);
    return dialog.exec();
}

int ImageViewer::MissionCentralMeridian(double west, double east)
{
    const double middle = (west + east) / 2.0;
    // Nearest whole degree; exactly half way goes to the lower degree.
    return static_cast<int>(std::ceil(middle - 0.5));
}

CCindrelDspLog *ImageViewer::openChosenLog()
{
    auto *log = new CCindrelDspLog(curve.get());
    log->SetFireDetectParams(usePoly, std::uint32_t(bMax), std::uint32_t(bMin), a2, a1, a0);
    log->OnFileOpen();
    if (!log->isOpen) {
        delete log;
        return nullptr;
    }
    return log;
}

void ImageViewer::OnMissionSet()
{
    NewMsnDlg dlg(this);
    if (runDialog(dlg) != QDialog::Accepted)
        return;

    passes.EmptyExtents();

    const int index = dlg.GetCurrentMission();
    adoptMission(index, dlg.GetAvgGroundElevation());

    QSettings s;
    s.setValue(SettingsKey::TailNumber, recording->tailNumber);
    s.setValue(SettingsKey::TechName, recording->techName);
    s.setValue(SettingsKey::MissionSelect, index);

    DrawMissions();
    map->FitSelectedMission();

    // The next run starts pass 1 with a new file prefix.
    recording->passNumber = 0;
    recording->segmentNumber = 0;
    qDebug().noquote() << QStringLiteral("Mission set: %1 (index %2), central meridian %3")
                              .arg(recording->missionName)
                              .arg(index)
                              .arg(converter->GetCentralMeridian());
    updateStatusBar();
}

void ImageViewer::adoptMission(int index, int groundFeet)
{
    if (index >= 0 && index < MissionStore::Count()) {
        const MissionRecord m = MissionStore::Read(index);
        missionWest = m.westVal;
        missionNorth = m.northVal;
        missionEast = m.eastVal;
        missionSouth = m.southVal;
        recording->missionName = m.name;
        recording->tailNumber = m.tailNum;
        recording->techName = m.irTech;
    }
    if (groundFeet < NewMsnDlg::kMinGroundFeet || groundFeet > NewMsnDlg::kMaxGroundFeet) {
        Notice::warning(this, QStringLiteral("Mission Ground Elevation"),
                        QStringLiteral("The mission's ground elevation of %1 ft is impossible (no ground lies "
                                       "outside %2 to %3 ft) and is not used: runs are drawn over sea level "
                                       "until a ground elevation is set with Mission > Set.")
                            .arg(groundFeet)
                            .arg(NewMsnDlg::kMinGroundFeet)
                            .arg(NewMsnDlg::kMaxGroundFeet));
        groundFeet = 0;
    }
    recording->groundElevation = groundFeet / 3.2808;
    converter->SetCentralMeridian(MissionCentralMeridian(missionWest, missionEast));
}

void ImageViewer::restoreMission()
{
    const int index = MissionStore::SelectedIndex();
    if (index < 0 || index >= MissionStore::Count())
        return;
    adoptMission(index, MissionStore::Read(index).avgGndElev);
    qDebug().noquote() << QStringLiteral("Mission restored: %1 (index %2), central meridian %3")
                              .arg(recording->missionName)
                              .arg(index)
                              .arg(converter->GetCentralMeridian());
}

void ImageViewer::OnImportXml()
{
    MissionPlanImport::ImportMissionPlan();
    DrawMissions();
}

void ImageViewer::OnRecreateStripImage()
{
    ReplaceDataSource(nullptr, 0);
    CCindrelDspLog *log = openChosenLog();
    if (!log) {
        updateStatusBar();
        return;
    }
    // The rebuild is no run: it reads the log through services of its own
    // that leave recording, pass numbering and the map alone, and its image
    // is named after the log, beside it.
    std::unique_ptr<CCindrelDspLog> owned(log);
    RebuildPassServices services(*this, log);
    const QFileInfo info(log->GetFileName());
    const QString tmp = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("_recreated.tmp");
    const StripRebuildResult result = RebuildStripImage(services, tmp, [this]() {
        Notice::information(this, QStringLiteral("Strip File"), QStringLiteral("Finished second pass."));
    });
    qDebug().noquote() << QStringLiteral("Strip image rebuilt from %1 lines: %2")
                              .arg(result.lines)
                              .arg(result.imagePath.isEmpty() ? QStringLiteral("no image") : result.imagePath);
    lastOutcome = result.imagePath.isEmpty()
                      ? QStringLiteral("strip image: none written")
                      : QStringLiteral("strip image %1 written").arg(QFileInfo(result.imagePath).fileName());
    updateStatusBar();
}

void ImageViewer::OnFileRectifyLog()
{
    std::unique_ptr<CCindrelDspLog> log(openChosenLog());
    if (!log)
        return;
    const QString root = recording->dataRoot;
    if (root.isEmpty())
        return;
    if (!log->HasElevationFile()) {
        if (!passes.boxB.EverGrown()) {
            Notice::critical(this, QStringLiteral("Orthorectify Log"),
                             QStringLiteral("There is no boundary for NED data to use to extract."));
            return;
        }
        if (!ExtractRunElevation(log->GetFileName()))
            return;
    }
    if (!IsRectifierRunning())
        return;
    worker->SetProductVersion(QStringLiteral("Cindrel64 1.0"));
    worker->SetTailNumber(recording->tailNumber);
    worker->SetTechName(recording->techName);
    worker->SetElevationReady(true);
    const QString path = QFileInfo(log->GetFileName()).absoluteFilePath();
    worker->AddFile(path);
    qDebug().noquote() << QStringLiteral("Queued %1 for orthorectification").arg(path);
    updateStatusBar();
}

void ImageViewer::OnFTP()
{
    FTPXferDlg dlg(this);
    runDialog(dlg);
}

// ---------------------------------------------------------------------------
// Recording control.

bool ImageViewer::ManipulateLogFile(int opCode, bool noRectify)
{
    const bool ok = recording->ManipulateLogFile(opCode, noRectify);
    updateStatusBar();
    return ok;
}

void ImageViewer::WriteLogLine(const ScanLineRec &line)
{
    recording->WriteLogLine(line);
}

bool ImageViewer::IsRectifierRunning()
{
    return orthoThreadPtr->isRunning() && worker;
}

RunArea ImageViewer::GetRunArea()
{
    RunArea area;
    area.minX = passes.boxB.minX;
    area.maxY = passes.boxB.maxY;
    area.maxX = passes.boxB.maxX;
    area.minY = passes.boxB.minY;
    return area;
}

int ImageViewer::GetCentralMeridian()
{
    const int fixed = converter->GetCentralMeridian();
    if (fixed != 0 || passes.Zone() <= 0)
        return fixed;
    // No mission fixed the grid: the run was projected in its own UTM zone.
    const int west = int(std::lround(CUtmConverter::ZoneCentralMeridianWest(passes.Zone())));
    return west <= 180 ? -west : 360 - west;
}

void ImageViewer::showRectifyOutcome(const LogOutcome &outcome)
{
    lastOutcome = outcome.Summary();
    updateStatusBar();
    if (!outcome.Succeeded())
        Notice::notify(this, Notice::Kind::Warning, QStringLiteral("Orthorectify"),
                       QStringLiteral("No ortho products were made for %1: %2.")
                           .arg(QFileInfo(outcome.path).fileName(), outcome.reason));
}

void ImageViewer::QueueForRectify(const RectifyRequest &request)
{
    if (!worker)
        return;
    worker->SetProductVersion(request.productVersion);
    worker->SetTailNumber(request.tailNumber);
    worker->SetTechName(request.techName);
    worker->SetRunArea(request.area.minX, request.area.maxY, request.area.maxX, request.area.minY,
                       request.centralMeridian);
    worker->SetElevationReady(request.elevationReady);
    worker->AddFile(request.logPath);
    qDebug().noquote() << QStringLiteral("Queued %1 for orthorectification").arg(request.logPath);
}

// ---------------------------------------------------------------------------
// Pass services.

std::int32_t ImageViewer::StartPass(double easting, double northing, int zone, float heading, float halfSwath,
                                    const QDateTime &start)
{
    const int pass = recording->StartPass(start, dataSource);
    if (pass < 0)
        return -1;
    passes.StartPass(pass, easting, northing, zone, heading, halfSwath, start);
    // The map shows the track of the current run.
    if (map)
        map->ClearTrack();
    updateStatusBar();
    return pass;
}

void ImageViewer::SetRunHeading(float) {}

void ImageViewer::UpdatePass(double easting, double northing, int zone, float heading, float halfSwath)
{
    passes.UpdatePass(easting, northing, zone, heading, halfSwath);
}

void ImageViewer::ReportSwathEdges(double x1, double y1, double x2, double y2, bool recorded)
{
    passes.ReportSwathEdges(x1, y1, x2, y2, recorded);
}

void ImageViewer::EndPass(double, double, int, float, float, bool skip)
{
    if (skip || !map)
        return;
    const CPass *pass = passes.CurrentPass();
    if (!pass)
        return;
    const auto corners = pass->GetPassCorners();
    double lonLat[8];
    for (int i = 0; i < 4; ++i) {
        double lat = 0.0, lon = 0.0;
        converter->UtmToLatLon(corners[i].y, corners[i].x, passes.Zone(), &lat, &lon, 3);
        lonLat[2 * i] = lon;
        lonLat[2 * i + 1] = lat;
    }
    map->AddFootprint(lonLat);
}

std::int32_t ImageViewer::GetPassHeading(std::int32_t index)
{
    return passes.GetPassHeading(index);
}

bool ImageViewer::ExtractRunElevation(const QString &logPath)
{
    // Without recorded lines since start-up there is no area to extract.
    if (!passes.boxB.EverGrown() || passes.boxB.IsEmpty())
        return false;
    const CExtentsBox &b = passes.boxB;
    const double xs[4] = {b.minX, b.maxX, b.maxX, b.minX};
    const double ys[4] = {b.maxY, b.maxY, b.minY, b.minY};
    double west = 1e9, east = -1e9, north = -1e9, south = 1e9;
    for (int i = 0; i < 4; ++i) {
        double lat = 0.0, lon = 0.0;
        if (!converter->UtmToLatLon(ys[i], xs[i], passes.Zone(), &lat, &lon, 2))
            return false;
        west = std::min(west, lon);
        east = std::max(east, lon);
        north = std::max(north, lat);
        south = std::min(south, lat);
    }
    // The raster the rectifier looks for beside the log.
    const QString name = CCindrelDspLog::ElevationFileName(QFileInfo(logPath).absoluteFilePath());
    if (name.isEmpty())
        return false;
    CElevationData elevation;
    const bool ok = elevation.ExtractArea(west, north, east, south, QDir::toNativeSeparators(name));
    qDebug().noquote() << QStringLiteral("Elevation for the run area into %1: %2")
                              .arg(name, ok ? QStringLiteral("done") : QStringLiteral("failed"));
    return ok;
}

// ---------------------------------------------------------------------------
// Status bar.

QString ImageViewer::statusText() const
{
    QStringList parts;
    for (const QLabel *l : {statusSource, statusPosition, statusRecording, statusOrtho})
        if (l && !l->text().isEmpty())
            parts << l->text();
    return parts.join(QStringLiteral(" | "));
}

void ImageViewer::updateStatusBar()
{
    if (!statusSource)
        return;
    QString source;
    QString position;
    auto *dsp = sourceType == 6 ? qobject_cast<CDspInterface *>(dataSource) : nullptr;
    const bool simulatedBoard =
        dsp ? dsp->simulatedBoard() : dspdrv::selectedBoardKind() == dspdrv::BoardKind::Simulated;
    const QString title = simulatedBoard ? QStringLiteral("Cindrel64 - simulated board") : QStringLiteral("Cindrel64");
    if (windowTitle() != title)
        setWindowTitle(title);
    if (!dataSource) {
        source = QStringLiteral("No data source");
    } else if (auto *log = qobject_cast<CCindrelDspLog *>(dataSource)) {
        source = QStringLiteral("Replay: %1").arg(QFileInfo(log->GetFileName()).fileName());
        const bool atEnd = log->AtEnd();
        position = atEnd ? QStringLiteral("End of log: line %1 of %2").arg(log->GetRecordsRead()).arg(replayLines)
                         : QStringLiteral("line %1 of %2").arg(log->GetRecordsRead()).arg(replayLines);
        if (replay) {
            replay->showPosition(log->GetRecordsRead(), std::uint32_t(replayLines), atEnd);
            if (replay->paused() && !atEnd)
                position += QStringLiteral(" (paused)");
        }
    } else if (sourceType == 6) {
        source = simulatedBoard ? QStringLiteral("simulated board") : QStringLiteral("DSP board");
    } else {
        source = QStringLiteral("Data source");
    }
    if (dataSource)
        source += timer->isActive() ? QStringLiteral(" (running)") : QStringLiteral(" (stopped)");
    if (dsp && dsp->linesMissed() > 0)
        source += QStringLiteral(", %1 scan lines missed").arg(dsp->linesMissed());
    const QString record = recording->logOpen
                               ? QStringLiteral("Recording: %1").arg(QFileInfo(recording->currentLogPath).fileName())
                               : (runRequested ? QStringLiteral("Run on, not recording")
                                               : QStringLiteral("Recording off"));
    QString ortho = worker ? QStringLiteral("Orthorectify queue: %1").arg(worker->PendingCount()) : QString();
    if (!lastOutcome.isEmpty())
        ortho += QStringLiteral(" - ") + lastOutcome;
    if (statusSource->text() != source)
        statusSource->setText(source);
    if (statusPosition->text() != position)
        statusPosition->setText(position);
    if (statusRecording->text() != record)
        statusRecording->setText(record);
    if (statusOrtho->text() != ortho)
        statusOrtho->setText(ortho);
}
