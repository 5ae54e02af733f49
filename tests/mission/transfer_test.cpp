// The ancillary script launcher (arguments, working folder, waiting on the
// GUI thread and on a worker, refusals) and the transfer dialog (folders
// from the settings, the mission list, selection, OK, browsing), with small
// shell scripts standing in for the site's scripts.
#include "mission/ancillary.h"
#include "mission/ftpxferdlg.h"

#include "platform/settingskeys.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "tests/common/testsupport.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTextStream>
#include <QThread>
#include <QTimer>

namespace {

struct Scripts : ::testing::Test {
    QString folder;
    QString calls;

    void SetUp() override
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = testsupport::workDir() + QStringLiteral("/anc_") + QString::fromLatin1(info->name());
        QDir(folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(folder));
        folder = QDir(folder).canonicalPath();
        calls = testsupport::workDir() + QStringLiteral("/calls_") + QString::fromLatin1(info->name()) +
                QStringLiteral(".txt");
        QFile::remove(calls);
        ancillary::SetFolder(folder);
        Notice::clearRecords();
        Notice::clearReplies();
        QSettings().clear();
    }
    void TearDown() override { ancillary::SetFolder(QString()); }

    // A script that appends "name|argument count|first argument|folder" to
    // the calls file after `body`.
    void writeScript(const QString &name, const QString &body = QString())
    {
        QFile f(folder + QLatin1Char('/') + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QTextStream(&f) << body << "\n"
                        << "printf '%s|%s|%s|%s\\n' '" << name << "' \"$#\" \"$1\" \"$(pwd -P)\" >> '" << calls
                        << "'\n";
    }

    QStringList callLines() const
    {
        QFile f(calls);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString call(const QString &name, int argc, const QString &arg) const
    {
        return QStringLiteral("%1|%2|%3|%4").arg(name).arg(argc).arg(arg, folder);
    }
};

TEST_F(Scripts, EachScriptGetsTheFirstArgumentAndRunsInItsFolder)
{
    writeScript(QStringLiteral("int.sh"));
    writeScript(QStringLiteral("fin.sh"));
    EXPECT_EQ(RunAncillary(1, {QStringLiteral("20240715_1432_Fire12_3"), QStringLiteral("ignored")}), 1);
    EXPECT_EQ(RunAncillary(2, {QStringLiteral("Fire 12 (north)")}), 1);
    EXPECT_EQ(RunAncillary(2, {}), 1);
    EXPECT_EQ(RunAncillary(3, {QStringLiteral("x")}), 0);
    EXPECT_EQ(callLines(), QStringList({call(QStringLiteral("int.sh"), 1, QStringLiteral("20240715_1432_Fire12_3")),
                                        call(QStringLiteral("fin.sh"), 1, QStringLiteral("Fire 12 (north)")),
                                        call(QStringLiteral("fin.sh"), 0, QString())}));
}

TEST_F(Scripts, TheCallerWaitsAndTheGuiThreadKeepsTicking)
{
    writeScript(QStringLiteral("int.sh"), QStringLiteral("sleep 0.6"));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(20);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(RunAncillary(1, {QStringLiteral("a")}), 1);
    EXPECT_GE(clock.elapsed(), 550);
    EXPECT_EQ(callLines().size(), 1);   // written at the script's end
    EXPECT_GE(ticks, 5);                // the processing loop was not frozen

    // A worker thread simply blocks until the script has ended.
    int result = -1;
    qint64 took = 0;
    QThread *worker = QThread::create([&] {
        QElapsedTimer c;
        c.start();
        result = RunAncillary(1, {QStringLiteral("b")});
        took = c.elapsed();
    });
    worker->start();
    ASSERT_TRUE(worker->wait(20000));
    delete worker;
    EXPECT_EQ(result, 1);
    EXPECT_GE(took, 550);
    EXPECT_EQ(callLines().size(), 2);
}

TEST_F(Scripts, AScriptWaitingForAKeyEndsAndMissingScriptsReturnPromptly)
{
    writeScript(QStringLiteral("fin.sh"), QStringLiteral("read answer"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(RunAncillary(2, {QStringLiteral("m1")}), 1);
    EXPECT_EQ(callLines().size(), 1);
    // No int.sh in the folder: the interpreter fails at once.
    EXPECT_EQ(RunAncillary(1, {QStringLiteral("m1")}), 1);
    // No folder at all: nothing can start.
    ancillary::SetFolder(folder + QStringLiteral("/missing"));
    EXPECT_EQ(RunAncillary(2, {QStringLiteral("m1")}), 0);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(callLines().size(), 1);
}

TEST_F(Scripts, ArgumentsTheCommandInterpreterWouldParseAreRefused)
{
    writeScript(QStringLiteral("fin.sh"));
    for (const char *bad : {"a&b", "x|y", "m1 > out", "<in", "%PATH%", "q\"uote", "c^d", "line\nbreak"})
        EXPECT_EQ(RunAncillary(2, {QString::fromUtf8(bad)}), 0) << bad;
    EXPECT_TRUE(callLines().isEmpty());
    for (const char *good : {"m12", "Fire 12 (north)", "20240715_1432_Fire12", "a-b.c!"})
        EXPECT_TRUE(ancillary::IsSafeArgument(QString::fromUtf8(good))) << good;
}

// ---------------------------------------------------------------------------
// The dialog

struct Transfer : Scripts {
    QString data;

    void SetUp() override
    {
        Scripts::SetUp();
        data = testsupport::workDir() + QStringLiteral("/data_") +
               QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
        QDir(data).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(data));
        writeScript(QStringLiteral("fin.sh"));
    }
    void touch(const QString &name)
    {
        QFile f(data + QLatin1Char('/') + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    static QListWidget *list(FTPXferDlg &d) { return d.findChild<QListWidget *>(QStringLiteral("listWidget")); }
    static void click(FTPXferDlg &d, const char *name)
    {
        auto *b = d.findChild<QPushButton *>(QLatin1String(name));
        ASSERT_NE(b, nullptr) << name;
        b->click();
    }
    static void ok(FTPXferDlg &d)
    {
        d.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
    }
};

TEST_F(Transfer, FormAndFoldersFromTheSettings)
{
    {
        QSettings s;
        s.setValue(SettingsKey::LogPath, data);
        s.setValue(QStringLiteral("LastUsed/FtpDestPath"), QStringLiteral("C:\\zips"));
    }
    FTPXferDlg d;
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.objectName(), QStringLiteral("FTPXferDlg"));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("FTP Transfer"));
    EXPECT_EQ(d.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("Zip Destination Dir"));
    EXPECT_EQ(d.findChild<QPushButton *>(QStringLiteral("fileBackupDir_pb"))->text(), QStringLiteral("Browse..."));
    EXPECT_EQ(list(d)->selectionMode(), QAbstractItemView::MultiSelection);
    EXPECT_EQ(d.findChild<QLineEdit *>(QStringLiteral("cindrelDataDir_le"))->text(), data);
    EXPECT_EQ(d.ZipDestinationDir(), cindrel::mapCDrivePath(QStringLiteral("C:\\zips")));
    EXPECT_EQ(d.findChild<QLineEdit *>(QStringLiteral("fileBackupDir_le"))->text(), cindrel::cDriveRoot());
}

TEST_F(Transfer, MissionsAreTheBaseNamesOfTheRasters)
{
    QSettings().setValue(SettingsKey::LogPath, data);
    {
        FTPXferDlg d;
        EXPECT_TRUE(d.ListedMissions().isEmpty());
        ASSERT_EQ(list(d)->count(), 1);
        EXPECT_EQ(list(d)->item(0)->text(), QStringLiteral("No missions found"));
        click(d, "selAll_pb");
        EXPECT_TRUE(list(d)->selectedItems().isEmpty());
        ok(d);
        EXPECT_TRUE(callLines().isEmpty());   // the placeholder is no mission
    }
    touch(QStringLiteral("m12.v2.bil"));
    touch(QStringLiteral("m12.bil"));
    touch(QStringLiteral("alpha.bil"));
    touch(QStringLiteral("Upper.BIL"));
    touch(QStringLiteral("alpha.hdr"));
    touch(QStringLiteral("notes.txt"));
    QDir(data).mkdir(QStringLiteral("folder.bil"));
    FTPXferDlg d;
    EXPECT_EQ(d.ListedMissions(), QStringList({QStringLiteral("alpha"), QStringLiteral("m12"), QStringLiteral("Upper")}));
}

TEST_F(Transfer, OkHandsTheFirstSelectedMissionToTheScriptOnce)
{
    for (const char *m : {"a1", "b2", "c3", "d4"})
        touch(QString::fromLatin1(m) + QStringLiteral(".bil"));
    QSettings().setValue(SettingsKey::LogPath, data);
    {
        FTPXferDlg d;
        list(d)->item(3)->setSelected(true);
        list(d)->item(1)->setSelected(true);
        list(d)->item(2)->setSelected(true);
        ok(d);
        EXPECT_EQ(d.SelectedMissions(), QStringList({QStringLiteral("b2"), QStringLiteral("c3"), QStringLiteral("d4")}));
        EXPECT_EQ(d.result(), QDialog::Accepted);
        EXPECT_FALSE(d.isVisible());
    }
    EXPECT_EQ(callLines(), QStringList({call(QStringLiteral("fin.sh"), 1, QStringLiteral("b2"))}));

    {
        FTPXferDlg d;
        click(d, "selAll_pb");
        EXPECT_EQ(list(d)->selectedItems().size(), 4);
        click(d, "clrAll_pb");
        EXPECT_TRUE(list(d)->selectedItems().isEmpty());
        ok(d);   // nothing selected: no transfer
    }
    EXPECT_EQ(callLines().size(), 1);
    {
        FTPXferDlg d;
        click(d, "selAll_pb");
        d.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Cancel)->click();
        EXPECT_EQ(d.result(), QDialog::Rejected);
    }
    EXPECT_EQ(callLines().size(), 1);
}

TEST_F(Transfer, BrowsingChoosesAndStoresTheFolders)
{
    touch(QStringLiteral("fireA.bil"));
    FTPXferDlg d;
    EXPECT_TRUE(d.ListedMissions().isEmpty());
    Notice::pushTextReply(data);
    click(d, "cindrelDataDir_pb");
    EXPECT_EQ(d.ListedMissions(), QStringList({QStringLiteral("fireA")}));
    EXPECT_EQ(QSettings().value(SettingsKey::LogPath).toString(), QDir::toNativeSeparators(data));
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Directory);

    const QString dest = testsupport::workDir() + QStringLiteral("/dest");
    Notice::pushTextReply(dest);
    click(d, "zipDestinationDir_pb");
    click(d, "fileBackupDir_pb");   // cancelled: unchanged
    EXPECT_EQ(QSettings().value(QStringLiteral("LastUsed/FtpDestPath")).toString(), QDir::toNativeSeparators(dest));
    EXPECT_FALSE(QSettings().contains(QStringLiteral("LastUsed/FtpBackupPath")));
    EXPECT_EQ(d.FileBackupDir(), cindrel::cDriveRoot());

    // A folder typed into the field lists its missions too.
    auto *edit = d.findChild<QLineEdit *>(QStringLiteral("cindrelDataDir_le"));
    edit->setText(testsupport::workDir());
    emit edit->editingFinished();
    EXPECT_TRUE(d.ListedMissions().isEmpty());
    EXPECT_EQ(QSettings().value(SettingsKey::LogPath).toString(), testsupport::workDir());
}

} // namespace
