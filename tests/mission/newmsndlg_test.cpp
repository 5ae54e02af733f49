// The New Missions dialog driven through its widgets, offscreen: listing,
// selecting, editing and adding missions (with what reaches the store),
// the log folder choice, and the average ground elevation from DEM tiles.
#include "geodata/cbil.h"
#include "geodata/celevationdata.h"
#include "mission/newmsndlg.h"
#include "platform/notice.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>

#include <cmath>
#include <functional>

namespace {

void removeDem()
{
    QFile::remove(CElevationData::BoundaryFilePath());
    for (const char *ext : {".hdr", ".blw", ".bil"})
        QFile::remove(QDir::current().absoluteFilePath(QStringLiteral("FindAvgOfArea") + QLatin1String(ext)));
}

class NewMsnDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().clear();
        Notice::clearRecords();
        Notice::clearReplies();
        removeDem();
    }
    void TearDown() override { removeDem(); }
};

MissionRecord box(const QString &name, int nDeg, int nMin, int nNs, int sDeg, int sMin, int sNs, int eDeg, int eMin,
                  int eEw, int wDeg, int wMin, int wEw)
{
    MissionRecord m;
    m.name = name;
    m.pNumber = QStringLiteral("P-") + name;
    m.tailNum = QStringLiteral("N5");
    m.irTech = QStringLiteral("Tech ") + name;
    m.northDeg = nDeg, m.northMin = nMin, m.northNs = nNs;
    m.southDeg = sDeg, m.southMin = sMin, m.southNs = sNs;
    m.eastDeg = eDeg, m.eastMin = eMin, m.eastEw = eEw;
    m.westDeg = wDeg, m.westMin = wMin, m.westEw = wEw;
    m.SetValuesFromDegrees();
    m.logPath = QStringLiteral("C:\\CindrelData\\") + name;
    m.avgGndElev = 4321;
    m.chgBox = 1;
    m.makeVrml = 1;
    m.showBox = 1;
    return m;
}

// Two ordinary missions in the north-west.
void storeTwo()
{
    MissionStore::Write(0, box(QStringLiteral("Alpha"), 45, 30, 0, 45, 15, 0, 120, 45, 0, 121, 6, 0));
    MissionStore::Write(1, box(QStringLiteral("Bravo"), 44, 1, 0, 44, 0, 0, 120, 0, 0, 120, 1, 0));
}

template <typename T>
T *child(const NewMsnDlg &d, const char *name)
{
    T *w = d.findChild<T *>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void edit(NewMsnDlg &d, const char *name, const QString &text)
{
    QLineEdit *e = child<QLineEdit>(d, name);
    e->setText(text);
    emit e->editingFinished();
}

int noticesTitled(const QString &title)
{
    int n = 0;
    for (const Notice::Record &r : Notice::records())
        n += r.title == title;
    return n;
}

TEST_F(NewMsnDlgTest, EmptyStoreReportsNoSelectionAtOnce)
{
    NewMsnDlg d;
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Information);
    EXPECT_EQ(Notice::last().title, QStringLiteral("New Mission"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("No mission selected."));
    EXPECT_EQ(d.GetCurrentMission(), -1);
    EXPECT_EQ(child<QTableWidget>(d, "table")->rowCount(), 0);

    // Edits with nothing current go nowhere.
    edit(d, "leNDeg", QStringLiteral("45"));
    edit(d, "leMsnName", QStringLiteral("Ghost"));
    child<QRadioButton>(d, "rbNorth_s")->click();
    EXPECT_EQ(MissionStore::Count(), 0);
    EXPECT_FALSE(QSettings().childGroups().contains(QStringLiteral("MsnList")));

    child<QPushButton>(d, "pbLoadSel")->click();
    EXPECT_EQ(Notice::count(), 2);
}

TEST_F(NewMsnDlgTest, ShowsTheStoredMissionsAndSelection)
{
    storeTwo();
    MissionStore::SetSelectedIndex(1);
    NewMsnDlg d;
    EXPECT_EQ(Notice::count(), 0);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("New Missions"));
    EXPECT_EQ(d.size(), QSize(667, 553));
    EXPECT_EQ(d.minimumSize(), QSize(340, 220));
    EXPECT_EQ(d.windowModality(), Qt::ApplicationModal);

    QTableWidget *t = child<QTableWidget>(d, "table");
    ASSERT_EQ(t->rowCount(), 2);
    ASSERT_EQ(t->columnCount(), 5);
    const QStringList headers = {"Name", "N", "S", "E", "W"};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(t->horizontalHeaderItem(c)->text(), headers[c]);
    EXPECT_EQ(t->item(0, 0)->text(), QStringLiteral("Alpha"));
    EXPECT_EQ(t->item(0, 1)->text(), QString::fromUtf8("45\u00b030'"));
    EXPECT_EQ(t->item(0, 2)->text(), QString::fromUtf8("45\u00b015'"));
    EXPECT_EQ(t->item(0, 3)->text(), QString::fromUtf8("120\u00b045'"));
    EXPECT_EQ(t->item(0, 4)->text(), QString::fromUtf8("121\u00b06'"));
    EXPECT_EQ(t->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(t->selectionMode(), QAbstractItemView::SingleSelection);

    EXPECT_EQ(d.GetCurrentMission(), 1);
    EXPECT_EQ(child<QLineEdit>(d, "leMsnName")->text(), QStringLiteral("Bravo"));
    EXPECT_EQ(child<QLineEdit>(d, "lePNum")->text(), QStringLiteral("P-Bravo"));
    EXPECT_EQ(child<QLineEdit>(d, "leMsnTech")->text(), QStringLiteral("Tech Bravo"));
    EXPECT_EQ(child<QLineEdit>(d, "leTailNum")->text(), QStringLiteral("N5"));
    EXPECT_EQ(child<QLineEdit>(d, "leBrowse")->text(), QStringLiteral("C:\\CindrelData\\Bravo"));
    EXPECT_EQ(child<QLineEdit>(d, "leNDeg")->text(), QStringLiteral("44"));
    EXPECT_EQ(child<QLineEdit>(d, "leNMin")->text(), QStringLiteral("1"));
    EXPECT_EQ(child<QLineEdit>(d, "leWMin")->text(), QStringLiteral("1"));
    EXPECT_TRUE(child<QRadioButton>(d, "rbNorth_n")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(d, "rbEast_w")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(d, "rbWest_w")->isChecked());

    QSpinBox *sb = child<QSpinBox>(d, "sbGrndElev");
    EXPECT_EQ(sb->minimum(), -1000);
    EXPECT_EQ(sb->maximum(), 20400);
    EXPECT_EQ(sb->singleStep(), 100);
    for (const char *name : {"bgNorth", "bgSouth", "bgEast", "bgWest"})
        EXPECT_NE(d.findChild<QButtonGroup *>(QLatin1String(name)), nullptr) << name;
    EXPECT_EQ(child<QPushButton>(d, "pbAddMsn")->text(), QStringLiteral("Add New Msn"));
    EXPECT_EQ(child<QPushButton>(d, "pbGrndElev")->text(), QStringLiteral("Find From DEM"));

    // Picking the other row takes effect with "Load Selection" only.
    t->selectRow(0);
    EXPECT_EQ(d.GetCurrentMission(), 1);
    child<QPushButton>(d, "pbLoadSel")->click();
    EXPECT_EQ(d.GetCurrentMission(), 0);
    EXPECT_EQ(child<QLineEdit>(d, "leMsnName")->text(), QStringLiteral("Alpha"));
}

TEST_F(NewMsnDlgTest, StaleSelectionFallsOnTheLastMission)
{
    // A selection left from a longer list (an import shrank it).
    storeTwo();
    MissionStore::SetSelectedIndex(5);
    NewMsnDlg d;
    EXPECT_EQ(d.GetCurrentMission(), 1);
    EXPECT_EQ(noticesTitled(QStringLiteral("New Mission")), 0);
}

TEST_F(NewMsnDlgTest, EditsAreWrittenToTheStoreAtOnce)
{
    storeTwo();
    NewMsnDlg d;
    ASSERT_EQ(d.GetCurrentMission(), 0);

    edit(d, "leNDeg", QStringLiteral("46"));
    edit(d, "leWMin", QStringLiteral(" 30 "));
    edit(d, "leMsnName", QStringLiteral("Alpha 2"));
    edit(d, "leTailNum", QStringLiteral("N77"));
    edit(d, "lePNum", QStringLiteral("P9"));
    edit(d, "leMsnTech", QStringLiteral("Lee"));
    MissionRecord m = MissionStore::Read(0);
    EXPECT_EQ(m.northDeg, 46);
    EXPECT_EQ(m.northMin, 30);
    EXPECT_FLOAT_EQ(m.northVal, 46.5f);
    EXPECT_EQ(m.westMin, 30);
    EXPECT_FLOAT_EQ(m.westVal, -121.5f);
    EXPECT_EQ(m.name, QStringLiteral("Alpha 2"));
    EXPECT_EQ(m.tailNum, QStringLiteral("N77"));
    EXPECT_EQ(m.pNumber, QStringLiteral("P9"));
    EXPECT_EQ(m.irTech, QStringLiteral("Lee"));
    // Untouched by edits of the box and texts.
    EXPECT_EQ(m.logPath, QStringLiteral("C:\\CindrelData\\Alpha"));
    EXPECT_EQ(m.avgGndElev, 4321);
    EXPECT_EQ(m.chgBox, 1);
    EXPECT_EQ(MissionStore::Count(), 2);
    EXPECT_EQ(MissionStore::Read(1).name, QStringLiteral("Bravo"));
    QTableWidget *t = child<QTableWidget>(d, "table");
    EXPECT_EQ(t->item(0, 0)->text(), QStringLiteral("Alpha 2"));
    EXPECT_EQ(t->item(0, 1)->text(), QString::fromUtf8("46\u00b030'"));

    // Text that is not a number stores 0; the current row stays selected.
    edit(d, "leEMin", QStringLiteral("4x"));
    EXPECT_EQ(MissionStore::Read(0).eastMin, 0);
    EXPECT_FLOAT_EQ(MissionStore::Read(0).eastVal, -120.0f);
    child<QPushButton>(d, "pbLoadSel")->click();
    EXPECT_EQ(d.GetCurrentMission(), 0);
    EXPECT_EQ(Notice::count(), 0);

    // Cancel does not undo what was stored.
    child<QDialogButtonBox>(d, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(MissionStore::Read(0).name, QStringLiteral("Alpha 2"));
}

TEST_F(NewMsnDlgTest, ReversedEdgesAreExchangedAndStayConsistent)
{
    // North edge typed south of the south edge, same hemisphere.
    MissionStore::Write(0, box(QStringLiteral("Rev"), 40, 0, 0, 45, 30, 0, 120, 0, 0, 121, 0, 0));
    {
        NewMsnDlg d;
        edit(d, "leMsnName", QStringLiteral("Rev"));
        const MissionRecord m = MissionStore::Read(0);
        EXPECT_EQ(m.northDeg, 45);
        EXPECT_EQ(m.northMin, 30);
        EXPECT_EQ(m.southDeg, 40);
        EXPECT_FLOAT_EQ(m.northVal, 45.5f);
        EXPECT_FLOAT_EQ(m.southVal, 40.0f);
        EXPECT_EQ(child<QLineEdit>(d, "leNDeg")->text(), QStringLiteral("45"));
        EXPECT_EQ(child<QLineEdit>(d, "leSDeg")->text(), QStringLiteral("40"));
    }

    // Edges in different hemispheres: 10 S typed as north, 5 N as south.
    // The box runs from 10 S to 5 N; it must stay that box over edits and
    // reopening, flags included.
    MissionStore::Write(0, box(QStringLiteral("Equator"), 10, 0, 1, 5, 0, 0, 31, 0, 1, 30, 0, 1));
    for (int round = 0; round < 2; ++round) {
        NewMsnDlg d;
        edit(d, "leMsnName", QStringLiteral("Equator"));
        const MissionRecord m = MissionStore::Read(0);
        EXPECT_EQ(m.northDeg, 5) << round;
        EXPECT_EQ(m.northNs, 0) << round;
        EXPECT_EQ(m.southDeg, 10) << round;
        EXPECT_EQ(m.southNs, 1) << round;
        EXPECT_FLOAT_EQ(m.northVal, 5.0f) << round;
        EXPECT_FLOAT_EQ(m.southVal, -10.0f) << round;
        EXPECT_TRUE(child<QRadioButton>(d, "rbNorth_n")->isChecked()) << round;
        EXPECT_TRUE(child<QRadioButton>(d, "rbSouth_s")->isChecked()) << round;
    }
}

TEST_F(NewMsnDlgTest, HemisphereButtonsChangeTheStoredFlags)
{
    storeTwo();
    NewMsnDlg d;
    child<QRadioButton>(d, "rbEast_e")->click();
    child<QRadioButton>(d, "rbWest_e")->click();
    MissionRecord m = MissionStore::Read(0);
    EXPECT_EQ(m.eastEw, 1);
    EXPECT_EQ(m.westEw, 1);
    // 120 45 E and 121 6 E: now the west edge lies east, so they swap.
    EXPECT_FLOAT_EQ(m.eastVal, 121.1f);
    EXPECT_FLOAT_EQ(m.westVal, 120.75f);
    EXPECT_EQ(child<QLineEdit>(d, "leEDeg")->text(), QStringLiteral("121"));
}

TEST_F(NewMsnDlgTest, AddMissionCopiesTheLastEntry)
{
    storeTwo();
    NewMsnDlg d;
    child<QPushButton>(d, "pbAddMsn")->click();
    ASSERT_EQ(MissionStore::Count(), 3);
    const MissionRecord last = MissionStore::Read(1);
    const MissionRecord added = MissionStore::Read(2);
    EXPECT_EQ(added.name, QStringLiteral("New Mission"));
    EXPECT_EQ(added.pNumber, last.pNumber);
    EXPECT_EQ(added.northDeg, last.northDeg);
    EXPECT_EQ(added.westMin, last.westMin);
    EXPECT_FLOAT_EQ(added.westVal, last.westVal);
    EXPECT_EQ(added.logPath, last.logPath);
    EXPECT_EQ(added.avgGndElev, last.avgGndElev);
    EXPECT_EQ(added.makeVrml, last.makeVrml);
    EXPECT_EQ(d.GetCurrentMission(), 2);
    QTableWidget *t = child<QTableWidget>(d, "table");
    ASSERT_EQ(t->rowCount(), 3);
    EXPECT_EQ(t->item(2, 0)->text(), QStringLiteral("New Mission"));
    EXPECT_EQ(t->selectionModel()->selectedRows().value(0).row(), 2);
    EXPECT_EQ(child<QLineEdit>(d, "leMsnName")->text(), QStringLiteral("New Mission"));

    // Edits now go to the new entry.
    edit(d, "leMsnName", QStringLiteral("Charlie"));
    EXPECT_EQ(MissionStore::Read(2).name, QStringLiteral("Charlie"));
    EXPECT_EQ(MissionStore::Read(1).name, QStringLiteral("Bravo"));
}

TEST_F(NewMsnDlgTest, AddMissionToAnEmptyList)
{
    NewMsnDlg d;
    Notice::clearRecords();
    child<QPushButton>(d, "pbAddMsn")->click();
    ASSERT_EQ(MissionStore::Count(), 1);
    const MissionRecord m = MissionStore::Read(0);
    EXPECT_EQ(m.name, QStringLiteral("New Mission"));
    EXPECT_EQ(m.northDeg, 0);
    EXPECT_EQ(m.westMin, 0);
    EXPECT_FLOAT_EQ(m.northVal, 0.0f);
    EXPECT_EQ(d.GetCurrentMission(), 0);
    EXPECT_EQ(Notice::count(), 0);
    {
        QSettings s;
        s.beginReadArray(QStringLiteral("MsnList"));
        s.setArrayIndex(0);
        EXPECT_TRUE(s.contains(QStringLiteral("ShowBox")));
        EXPECT_TRUE(s.contains(QStringLiteral("West_Val")));
        s.endArray();
    }
    // The new mission takes edits.
    edit(d, "leNDeg", QStringLiteral("47"));
    EXPECT_EQ(MissionStore::Read(0).northDeg, 47);
}

TEST_F(NewMsnDlgTest, BrowseStoresAnExistingFolderOnly)
{
    storeTwo();
    NewMsnDlg d;
    QLineEdit *browse = child<QLineEdit>(d, "leBrowse");
    const QString before = browse->text();

    // Cancelled: nothing changes.
    child<QPushButton>(d, "pbBrowse")->click();
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Directory);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Open Directory"));
    EXPECT_EQ(Notice::last().text, cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData")));
    EXPECT_EQ(browse->text(), before);
    EXPECT_FALSE(QSettings().contains(QStringLiteral("LastUsed/logPath")));

    // A folder that does not exist: nothing changes either.
    Notice::pushTextReply(QDir::current().absoluteFilePath(QStringLiteral("no-such-folder")));
    child<QPushButton>(d, "pbBrowse")->click();
    EXPECT_EQ(browse->text(), before);
    EXPECT_FALSE(QSettings().contains(QStringLiteral("LastUsed/logPath")));

    ASSERT_TRUE(QDir().mkpath(QStringLiteral("logs here")));
    const QString folder = QDir::current().absoluteFilePath(QStringLiteral("logs here"));
    Notice::pushTextReply(folder);
    child<QPushButton>(d, "pbBrowse")->click();
    EXPECT_EQ(browse->text(), folder);
    EXPECT_EQ(QSettings().value(QStringLiteral("LastUsed/logPath")).toString(), folder);
    // The next browse starts there.
    child<QPushButton>(d, "pbBrowse")->click();
    EXPECT_EQ(Notice::last().text, folder);
    // The mission's own log path is not the operator's log folder.
    EXPECT_EQ(MissionStore::Read(0).logPath, QStringLiteral("C:\\CindrelData\\Alpha"));

    child<QDialogButtonBox>(d, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

// ------------------------------------------------------------ elevation

constexpr double kCell = 1.0 / 3600.0;

// One Int16 DEM tile of 100 m, listed in the boundary file, with an
// optional rectangle of zero cells (tile columns and rows). Laid out as real
// tiles: cell centres on whole arc-seconds from the listed box's west and
// north edges to its east and south ones.
void writeDemTile(double left, double top, int size, const QRect &zeros = QRect())
{
    CBil tile;
    tile.SetDimensions(size + 1, size + 1, 1, Int16);
    tile.SetGeoReference(kCell, kCell, 0, 0, left, top, 0, 0.0, 1);
    ASSERT_TRUE(tile.Allocate());
    for (int r = 0; r <= size; ++r) {
        unsigned char *row = tile.MutableRowData(r);
        for (int c = 0; c <= size; ++c) {
            const int v = zeros.contains(c, r) ? 0 : 100;
            row[2 * c] = uchar(v >> 8);   // most significant byte first
            row[2 * c + 1] = uchar(v & 0xff);
        }
    }
    const QString name = CElevationData::TileName(1);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(name).path()));
    ASSERT_TRUE(tile.Write(name));
    QFile f(CElevationData::BoundaryFilePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("1," + QByteArray::number(left, 'f', 10) + "," + QByteArray::number(top, 'f', 10) + ","
            + QByteArray::number(left + size * kCell, 'f', 10) + ","
            + QByteArray::number(top - size * kCell, 'f', 10) + "\n");
}

// 45 00 N to 45 01 N, 120 01 W to 120 00 W.
void storeSmallBox()
{
    MissionStore::Write(0, box(QStringLiteral("Small"), 45, 1, 0, 45, 0, 0, 120, 0, 0, 120, 1, 0));
}

TEST_F(NewMsnDlgTest, AverageElevationComesFromTheDem)
{
    storeSmallBox();
    writeDemTile(-120.1, 45.1, 720);
    NewMsnDlg d;
    EXPECT_EQ(d.GetAvgGroundElevation(), 328);   // 100 m
    EXPECT_TRUE(child<QLabel>(d, "lblElevStatus")->text().isEmpty());
    EXPECT_TRUE(QFile::exists(QStringLiteral("FindAvgOfArea.hdr")));
    EXPECT_TRUE(QFile::exists(QStringLiteral("FindAvgOfArea.bil")));
}

TEST_F(NewMsnDlgTest, CellsWithoutElevationLowerTheAverage)
{
    storeSmallBox();
    // Zero cells over the middle of the box.
    writeDemTile(-120.1, 45.1, 720, QRect(300, 300, 120, 120));
    NewMsnDlg d;

    CBil raster;
    ASSERT_TRUE(raster.Open(QStringLiteral("FindAvgOfArea")));
    double sum = 0.0;
    long long zeros = 0;
    const long long total = qint64(raster.GetNCols()) * raster.GetNRows();
    for (int r = 0; r < raster.GetNRows(); ++r)
        for (int c = 0; c < raster.GetNCols(); ++c) {
            double v = 0.0;
            ASSERT_TRUE(raster.GetValue(c, r, 0, &v));
            sum += v;
            zeros += v == 0.0;
        }
    ASSERT_GT(zeros, 0);
    const double meanMetres = std::trunc(sum / total);
    EXPECT_LT(meanMetres, 100.0);
    EXPECT_EQ(d.GetAvgGroundElevation(), int(std::floor(meanMetres * 3.2808 + 0.5)));
}

TEST_F(NewMsnDlgTest, NoElevationShowsTheStoredValueNotAStaleRaster)
{
    storeSmallBox();
    writeDemTile(-120.1, 45.1, 720);
    {
        NewMsnDlg d;
        ASSERT_EQ(d.GetAvgGroundElevation(), 328);
    }
    ASSERT_TRUE(QFile::exists(QStringLiteral("FindAvgOfArea.bil")));

    // The tiles are gone; the raster of the last box is still on disk.
    QFile::remove(CElevationData::BoundaryFilePath());
    {
        NewMsnDlg d;
        EXPECT_EQ(d.GetAvgGroundElevation(), 4321);
        EXPECT_FALSE(child<QLabel>(d, "lblElevStatus")->text().isEmpty());
        EXPECT_FALSE(QFile::exists(QStringLiteral("FindAvgOfArea.bil")));
    }

    // Tiles present but none under the box.
    writeDemTile(-100.1, 30.1, 200);
    {
        NewMsnDlg d;
        EXPECT_EQ(d.GetAvgGroundElevation(), 4321);
        EXPECT_TRUE(child<QLabel>(d, "lblElevStatus")->text().contains(QStringLiteral("covers")));
    }

    // A box too large to extract (3 degrees tall).
    writeDemTile(-120.1, 45.1, 720);
    MissionStore::Write(0, box(QStringLiteral("Huge"), 47, 0, 0, 44, 0, 0, 120, 0, 0, 120, 1, 0));
    {
        NewMsnDlg d;
        EXPECT_EQ(d.GetAvgGroundElevation(), 4321);
        EXPECT_FALSE(child<QLabel>(d, "lblElevStatus")->text().isEmpty());
    }

    // "Find From DEM" recomputes for the edited box.
    storeSmallBox();
    NewMsnDlg d;
    ASSERT_EQ(d.GetAvgGroundElevation(), 328);
    child<QSpinBox>(d, "sbGrndElev")->setValue(0);
    child<QPushButton>(d, "pbGrndElev")->click();
    EXPECT_EQ(d.GetAvgGroundElevation(), 328);
}

} // namespace

TEST_F(NewMsnDlgTest, TextsFitAtTheDialogsSize)
{
    storeTwo();
    NewMsnDlg d;
    auto *status = child<QLabel>(d, "lblElevStatus");
    status->setText(QStringLiteral("The elevation of this box could not be extracted (larger than 10 degrees, or the "
                                   "tiles could not be read). Showing the mission's stored elevation."));
    d.show();
    d.layout()->activate();
    QApplication::processEvents();
    for (const QLabel *l : d.findChildren<QLabel *>()) {
        if (l->isVisible() && !l->wordWrap())
            EXPECT_GE(l->width(), l->sizeHint().width()) << l->text().toStdString();
    }
    for (const QAbstractButton *b : d.findChildren<QAbstractButton *>()) {
        if (b->isVisible())
            EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
    }
    EXPECT_GE(status->height(), status->heightForWidth(status->width()));
}
