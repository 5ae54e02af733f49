#include "mission/newmsndlg.h"
#include "platform/settingskeys.h"

#include "geodata/cbil.h"
#include "geodata/celevationdata.h"
#include "platform/notice.h"
#include "platform/paths.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

const QString NewMsnDlg::kAreaRasterName = QStringLiteral("FindAvgOfArea");

namespace {

constexpr double kFeetPerMetre = 3.2808;

QLineEdit *makeEdit(QWidget *parent, const char *name)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    return e;
}

QRadioButton *makeRadio(QWidget *parent, const char *name, const QString &text)
{
    auto *r = new QRadioButton(text, parent);
    r->setObjectName(QLatin1String(name));
    return r;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

// Whole number typed into an edit; anything that is not one counts as 0.
int editNumber(const QLineEdit *e)
{
    bool ok = false;
    const int v = e->text().trimmed().toInt(&ok);
    return ok ? v : 0;
}

} // namespace

NewMsnDlg::NewMsnDlg(QWidget *parent) : QDialog(parent)
{
    BuildWidgets();
    // No ground lies outside this range (the highest is 20,310 ft): a value
    // beyond it would put the ground above the aircraft.
    sbGrndElev->setRange(kMinGroundFeet, kMaxGroundFeet);
    sbGrndElev->setSingleStep(100);
    sbGrndElev->setToolTip(QStringLiteral("Average ground elevation of the mission box, %1 to %2 ft")
                               .arg(kMinGroundFeet)
                               .arg(kMaxGroundFeet));

    missions = MissionStore::ReadAll();
    FillMissionTable();

    // A selection left from a longer list (an import shrank it) falls on
    // the last mission rather than on none.
    const int selected = std::clamp(MissionStore::SelectedIndex(), 0, std::max(0, int(missions.size()) - 1));
    if (selected < missions.size())
        table->selectRow(selected);
    OnMsnSelect();

    connect(pbLoadSel, &QPushButton::released, this, &NewMsnDlg::OnMsnSelect);
    connect(pbAddMsn, &QPushButton::released, this, &NewMsnDlg::OnAddMsn);
    connect(pbBrowse, &QPushButton::released, this, &NewMsnDlg::OnPathBrowse);
    connect(pbGrndElev, &QPushButton::released, this, &NewMsnDlg::OnFindDemElev);
    for (QLineEdit *e : {leNDeg, leNMin, leSDeg, leSMin, leEDeg, leEMin, leWDeg, leWMin, leMsnName, leTailNum,
                         lePNum, leMsnTech})
        connect(e, &QLineEdit::editingFinished, this, &NewMsnDlg::OnUpdateMsnBox);
    for (QButtonGroup *g : {bgNorth, bgSouth, bgEast, bgWest})
        connect(g, &QButtonGroup::buttonClicked, this, &NewMsnDlg::OnHemisphereClicked);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    show();
}

NewMsnDlg::~NewMsnDlg() = default;

void NewMsnDlg::BuildWidgets()
{
    setWindowTitle(QStringLiteral("New Missions"));
    setWindowModality(Qt::ApplicationModal);
    resize(667, 553);
    setMinimumSize(340, 220);

    table = new QTableWidget(this);
    table->setObjectName(QStringLiteral("table"));
    table->setColumnCount(5);
    table->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("N"), QStringLiteral("S"),
                                      QStringLiteral("E"), QStringLiteral("W")});
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);

    // The box: degrees, minutes and hemisphere of each edge.
    auto *boxGrid = new QGridLayout;
    boxGrid->addWidget(new QLabel(QStringLiteral("DEG"), this), 0, 1);
    boxGrid->addWidget(new QLabel(QStringLiteral("MIN"), this), 0, 2);
    leNDeg = makeEdit(this, "leNDeg");
    leNMin = makeEdit(this, "leNMin");
    leSDeg = makeEdit(this, "leSDeg");
    leSMin = makeEdit(this, "leSMin");
    leEDeg = makeEdit(this, "leEDeg");
    leEMin = makeEdit(this, "leEMin");
    leWDeg = makeEdit(this, "leWDeg");
    leWMin = makeEdit(this, "leWMin");
    rbNorth_n = makeRadio(this, "rbNorth_n", QStringLiteral("North"));
    rbNorth_s = makeRadio(this, "rbNorth_s", QStringLiteral("South"));
    rbSouth_n = makeRadio(this, "rbSouth_n", QStringLiteral("North"));
    rbSouth_s = makeRadio(this, "rbSouth_s", QStringLiteral("South"));
    rbEast_w = makeRadio(this, "rbEast_w", QStringLiteral("West"));
    rbEast_e = makeRadio(this, "rbEast_e", QStringLiteral("East"));
    rbWest_w = makeRadio(this, "rbWest_w", QStringLiteral("West"));
    rbWest_e = makeRadio(this, "rbWest_e", QStringLiteral("East"));
    auto group = [this](const char *name, QRadioButton *a, QRadioButton *b) {
        auto *g = new QButtonGroup(this);
        g->setObjectName(QLatin1String(name));
        g->setExclusive(true);
        g->addButton(a);
        g->addButton(b);
        return g;
    };
    bgNorth = group("bgNorth", rbNorth_n, rbNorth_s);
    bgSouth = group("bgSouth", rbSouth_n, rbSouth_s);
    bgEast = group("bgEast", rbEast_w, rbEast_e);
    bgWest = group("bgWest", rbWest_w, rbWest_e);
    struct Row {
        const char *label;
        QLineEdit *deg, *min;
        QRadioButton *a, *b;
    };
    const Row rows[] = {{"North", leNDeg, leNMin, rbNorth_n, rbNorth_s},
                        {"South", leSDeg, leSMin, rbSouth_n, rbSouth_s},
                        {"East", leEDeg, leEMin, rbEast_w, rbEast_e},
                        {"West", leWDeg, leWMin, rbWest_w, rbWest_e}};
    int r = 1;
    for (const Row &row : rows) {
        boxGrid->addWidget(new QLabel(QLatin1String(row.label), this), r, 0);
        boxGrid->addWidget(row.deg, r, 1);
        boxGrid->addWidget(row.min, r, 2);
        boxGrid->addWidget(row.a, r, 3);
        boxGrid->addWidget(row.b, r, 4);
        ++r;
    }

    // The mission's texts.
    leMsnName = makeEdit(this, "leMsnName");
    lePNum = makeEdit(this, "lePNum");
    leMsnTech = makeEdit(this, "leMsnTech");
    leTailNum = makeEdit(this, "leTailNum");
    auto *textGrid = new QGridLayout;
    textGrid->addWidget(new QLabel(QStringLiteral("Mission Name"), this), 0, 0);
    textGrid->addWidget(leMsnName, 0, 1);
    textGrid->addWidget(new QLabel(QStringLiteral("P Number"), this), 1, 0);
    textGrid->addWidget(lePNum, 1, 1);
    textGrid->addWidget(new QLabel(QStringLiteral("Mission Tech"), this), 2, 0);
    textGrid->addWidget(leMsnTech, 2, 1);
    textGrid->addWidget(new QLabel(QStringLiteral("Tail Number"), this), 3, 0);
    textGrid->addWidget(leTailNum, 3, 1);

    pbAddMsn = makeButton(this, "pbAddMsn", QStringLiteral("Add New Msn"));
    pbLoadSel = makeButton(this, "pbLoadSel", QStringLiteral("Load Selection"));
    auto *msnButtons = new QHBoxLayout;
    msnButtons->addWidget(pbAddMsn);
    msnButtons->addWidget(pbLoadSel);
    msnButtons->addStretch();

    auto *elevGroup = new QGroupBox(QStringLiteral("Ground Elevation"), this);
    sbGrndElev = new QSpinBox(elevGroup);
    sbGrndElev->setObjectName(QStringLiteral("sbGrndElev"));
    pbGrndElev = makeButton(elevGroup, "pbGrndElev", QStringLiteral("Find From DEM"));
    lblElevStatus = new QLabel(elevGroup);
    lblElevStatus->setObjectName(QStringLiteral("lblElevStatus"));
    lblElevStatus->setWordWrap(true);
    // The group takes the dialog's whole width so its label, button and
    // status line are shown whole.
    auto *elevLayout = new QGridLayout(elevGroup);
    elevLayout->addWidget(new QLabel(QStringLiteral("Avg Ground Elev (ft)"), elevGroup), 0, 0);
    elevLayout->addWidget(sbGrndElev, 0, 1);
    elevLayout->addWidget(pbGrndElev, 0, 2);
    elevLayout->setColumnStretch(3, 1);
    elevLayout->addWidget(lblElevStatus, 1, 0, 1, 4);

    leBrowse = makeEdit(this, "leBrowse");
    pbBrowse = makeButton(this, "pbBrowse", QStringLiteral("Browse"));
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("Path to Log Files"), this));
    pathRow->addWidget(leBrowse, 1);
    pathRow->addWidget(pbBrowse);

    auto *multiGroup = new QGroupBox(QStringLiteral("Multi-Mission"), this);
    cbMultiMsn = new QCheckBox(QStringLiteral("Run selection as\nmultiple mission"), multiGroup);
    cbMultiMsn->setObjectName(QStringLiteral("cbMultiMsn"));
    (new QVBoxLayout(multiGroup))->addWidget(cbMultiMsn);
    auto *vrmlGroup = new QGroupBox(QStringLiteral("VRML Creation"), this);
    cbVRML = new QCheckBox(QStringLiteral("Auto create VRML\nfiles with Ortho\nimages"), vrmlGroup);
    cbVRML->setObjectName(QStringLiteral("cbVRML"));
    (new QVBoxLayout(vrmlGroup))->addWidget(cbVRML);

    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));

    auto *editColumn = new QVBoxLayout;
    editColumn->addLayout(boxGrid);
    editColumn->addLayout(textGrid);
    editColumn->addLayout(msnButtons);
    editColumn->addStretch();
    auto *optionColumn = new QVBoxLayout;
    optionColumn->addWidget(multiGroup);
    optionColumn->addWidget(vrmlGroup);
    optionColumn->addStretch();
    auto *middle = new QHBoxLayout;
    middle->addLayout(editColumn, 3);
    middle->addLayout(optionColumn, 2);

    auto *top = new QVBoxLayout(this);
    top->addWidget(table, 1);
    top->addLayout(middle);
    top->addWidget(elevGroup);
    top->addLayout(pathRow);
    top->addWidget(buttonBox);
}

QString NewMsnDlg::EdgeText(int deg, int min)
{
    return QStringLiteral("%1%2%3'").arg(deg).arg(QChar(0x00B0)).arg(min);
}

void NewMsnDlg::FillMissionTable()
{
    table->clearContents();
    table->setRowCount(missions.size());
    auto cell = [](const QString &text) {
        auto *item = new QTableWidgetItem(text);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        return item;
    };
    for (int i = 0; i < missions.size(); ++i) {
        const MissionRecord &m = missions.at(i);
        table->setItem(i, 0, cell(m.name));
        table->setItem(i, 1, cell(EdgeText(m.northDeg, m.northMin)));
        table->setItem(i, 2, cell(EdgeText(m.southDeg, m.southMin)));
        table->setItem(i, 3, cell(EdgeText(m.eastDeg, m.eastMin)));
        table->setItem(i, 4, cell(EdgeText(m.westDeg, m.westMin)));
    }
    // The current mission stays selected across a refill.
    if (HasCurrent())
        table->selectRow(currentMission);
}

int NewMsnDlg::GetAvgGroundElevation() const
{
    return sbGrndElev->value();
}

bool NewMsnDlg::GetMissionBox(double *west, double *north, double *east, double *south)
{
    if (!HasCurrent())
        return false;
    MissionRecord &m = missions[currentMission];
    m.SetValuesFromDegrees();
    if (m.OrderBox())
        ShowBox(m);   // the edits and buttons show the record as it now stands
    *west = m.westVal;
    *north = m.northVal;
    *east = m.eastVal;
    *south = m.southVal;
    return true;
}

void NewMsnDlg::ShowBox(const MissionRecord &m)
{
    leNDeg->setText(QString::number(m.northDeg));
    leNMin->setText(QString::number(m.northMin));
    leSDeg->setText(QString::number(m.southDeg));
    leSMin->setText(QString::number(m.southMin));
    leEDeg->setText(QString::number(m.eastDeg));
    leEMin->setText(QString::number(m.eastMin));
    leWDeg->setText(QString::number(m.westDeg));
    leWMin->setText(QString::number(m.westMin));

    (m.northNs == 0 ? rbNorth_n : rbNorth_s)->setChecked(true);
    (m.southNs == 0 ? rbSouth_n : rbSouth_s)->setChecked(true);
    (m.eastEw == 0 ? rbEast_w : rbEast_e)->setChecked(true);
    (m.westEw == 0 ? rbWest_w : rbWest_e)->setChecked(true);
}

void NewMsnDlg::ShowMission(const MissionRecord &m)
{
    leBrowse->setText(m.logPath);
    leMsnTech->setText(m.irTech);
    leMsnName->setText(m.name);
    lePNum->setText(m.pNumber);
    leTailNum->setText(m.tailNum);
    ShowBox(m);
}

void NewMsnDlg::OnMsnSelect()
{
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    if (rows.isEmpty() || rows.first().row() >= missions.size()) {
        Notice::information(this, QStringLiteral("New Mission"), QStringLiteral("No mission selected."));
        return;
    }
    currentMission = rows.first().row();
    ShowMission(missions.at(currentMission));
    OnFindDemElev();
}

void NewMsnDlg::OnFindDemElev()
{
    double west, north, east, south;
    if (!GetMissionBox(&west, &north, &east, &south))
        return;

    // A raster left from an earlier box must not be taken for this one.
    const QString name = QDir::current().absoluteFilePath(kAreaRasterName);
    for (const char *ext : {".hdr", ".blw", ".bil"})
        QFile::remove(name + QLatin1String(ext));

    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool extracted;
    int tiles, tilesRead;
    {
        CElevationData dem;
        tiles = dem.TileCount();
        extracted = dem.ExtractArea(west, north, east, south, name);
        tilesRead = dem.TilesRead();
    }
    QApplication::restoreOverrideCursor();

    CBil raster;
    double minimum = 0.0, maximum = 0.0, mean = 0.0;
    if (extracted && tilesRead > 0 && raster.Open(name) && raster.ComputeStatistics(&minimum, &maximum, &mean)) {
        sbGrndElev->setValue(int(std::floor(mean * kFeetPerMetre + 0.5)));
        lblElevStatus->clear();
        return;
    }
    // No elevation from the tiles: the mission's stored value stands.
    sbGrndElev->setValue(missions.at(currentMission).avgGndElev);
    QString why;
    if (tiles == 0)
        why = QStringLiteral("No elevation tiles are listed in %1.").arg(QFileInfo(CElevationData::BoundaryFilePath()).fileName());
    else if (!extracted)
        why = QStringLiteral("The elevation of this box could not be extracted (larger than %1 degrees, or the tiles could not be read).")
                  .arg(CElevationData::kMaxExtentDegrees);
    else
        why = QStringLiteral("No elevation tile covers this box.");
    lblElevStatus->setText(why + QStringLiteral(" Showing the mission's stored elevation."));
}

void NewMsnDlg::OnUpdateMsnBox()
{
    if (!HasCurrent())
        return;   // nothing is current (empty list): nothing to edit
    MissionRecord &m = missions[currentMission];
    m.name = leMsnName->text();
    m.tailNum = leTailNum->text();
    m.pNumber = lePNum->text();
    m.irTech = leMsnTech->text();
    m.northDeg = editNumber(leNDeg);
    m.northMin = editNumber(leNMin);
    m.eastDeg = editNumber(leEDeg);
    m.eastMin = editNumber(leEMin);
    m.southDeg = editNumber(leSDeg);
    m.southMin = editNumber(leSMin);
    m.westDeg = editNumber(leWDeg);
    m.westMin = editNumber(leWMin);
    // The buttons show the flags belonging to the degrees in the edits.
    m.northNs = rbNorth_s->isChecked() ? 1 : 0;
    m.southNs = rbSouth_s->isChecked() ? 1 : 0;
    m.eastEw = rbEast_e->isChecked() ? 1 : 0;
    m.westEw = rbWest_e->isChecked() ? 1 : 0;

    double west, north, east, south;
    GetMissionBox(&west, &north, &east, &south);
    MissionStore::WriteBoxAndTexts(currentMission, missions.at(currentMission));
    FillMissionTable();
}

void NewMsnDlg::OnHemisphereClicked()
{
    OnUpdateMsnBox();
}

void NewMsnDlg::OnAddMsn()
{
    const int n = MissionStore::Count();
    MissionRecord m = MissionStore::Read(n - 1);   // empty when there is none
    m.name = QStringLiteral("New Mission");
    MissionStore::Write(n, m);
    if (missions.size() == n)
        missions.append(m);
    else
        missions = MissionStore::ReadAll();   // the store changed behind the dialog

    FillMissionTable();
    table->selectRow(n);
    OnMsnSelect();
    update();
}

void NewMsnDlg::OnPathBrowse()
{
    const QString start =
        cindrel::mapCDrivePath(QSettings().value(SettingsKey::LogPath, MissionStore::kDefaultLogPath).toString());
    const QString answer = Notice::getExistingDirectory(this, QStringLiteral("Open Directory"), start, false);
    if (answer.isEmpty())
        return;   // cancelled: the old path stays
    const QFileInfo info(answer);
    if (!info.isDir())
        return;
    const QString path = info.absoluteFilePath();
    QSettings().setValue(SettingsKey::LogPath, path);
    leBrowse->setText(path);
}
