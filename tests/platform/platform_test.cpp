#include "platform/notice.h"
#include "platform/paths.h"
#include "common/testsupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <thread>

using namespace cindrel;

TEST(PathMapping, CDriveFollowsEnvironmentAndSlashes)
{
    const QByteArray saved = qgetenv("CINDREL_C_DRIVE");
    qputenv("CINDREL_C_DRIVE", "/tmp/drive/");
    EXPECT_EQ(mapCDrivePath(QStringLiteral("C:\\demdata\\cd3\\demimage")),
              QStringLiteral("/tmp/drive/demdata/cd3/demimage"));
    EXPECT_EQ(mapCDrivePath(QStringLiteral("C:/CindrelData")), QStringLiteral("/tmp/drive/CindrelData"));
    EXPECT_EQ(mapCDrivePath(QStringLiteral("c:\\")), QStringLiteral("/tmp/drive"));
    EXPECT_EQ(mapCDrivePath(QStringLiteral("relative\\name")), QStringLiteral("relative/name"));
    EXPECT_EQ(mapCDrivePath(QStringLiteral("/abs/path")), QStringLiteral("/abs/path"));
    qputenv("CINDREL_C_DRIVE", "");
    EXPECT_EQ(mapCDrivePath(QStringLiteral("C:\\CindrelData")), QDir::homePath() + QStringLiteral("/CindrelData"));
    qputenv("CINDREL_C_DRIVE", saved);
}

TEST(NoticeLayer, RecordsAndAnswersScriptedReplies)
{
    Notice::clearRecords();
    Notice::clearReplies();
    EXPECT_EQ(Notice::critical(nullptr, "T1", "text one"), QMessageBox::Ok);
    EXPECT_EQ(Notice::question(nullptr, "Q", "sure?"), QMessageBox::Yes);
    Notice::pushButtonReply(QMessageBox::No);
    EXPECT_EQ(Notice::question(nullptr, "Q", "again?"), QMessageBox::No);
    ASSERT_EQ(Notice::count(), 3);
    const auto recs = Notice::records();
    EXPECT_EQ(recs[0].kind, Notice::Kind::Critical);
    EXPECT_EQ(recs[0].title, QStringLiteral("T1"));
    EXPECT_EQ(recs[0].text, QStringLiteral("text one"));
    EXPECT_EQ(recs[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(recs[2].buttons, QMessageBox::Yes | QMessageBox::No);

    bool ok = false;
    EXPECT_EQ(Notice::getText(nullptr, "Tech", "Name", "init", &ok), QStringLiteral("init"));
    EXPECT_TRUE(ok);
    Notice::pushTextReply(QString());   // cancel
    Notice::getText(nullptr, "Tech", "Name", "init", &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(Notice::getOpenFileName(nullptr, "Open", "/x", "*.plf").isEmpty());
    Notice::pushTextReply(QStringLiteral("/x/a.plf"));
    EXPECT_EQ(Notice::getOpenFileName(nullptr, "Open", "/x", "*.plf"), QStringLiteral("/x/a.plf"));
    EXPECT_EQ(Notice::last().kind, Notice::Kind::OpenFile);
}

// A box requested from a worker thread never blocks that thread: it is
// answered at once with its default and shown later on the GUI thread.
TEST(NoticeLayer, WorkerThreadBoxesNeverBlock)
{
    Notice::setTestMode(false);
    QMessageBox::StandardButton reply = QMessageBox::NoButton;
    bool ok = true;
    QString file = QStringLiteral("unset");
    std::thread worker([&] {
        reply = Notice::question(nullptr, "Worker", "continue?", QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No);
        Notice::getText(nullptr, "Worker", "name", "x", &ok);
        file = Notice::getOpenFileName(nullptr, "Open", "/", "*");
    });
    worker.join();
    Notice::setTestMode(true);
    // Drop the box that was posted for the GUI thread.
    QCoreApplication::removePostedEvents(qApp, QEvent::MetaCall);
    EXPECT_EQ(reply, QMessageBox::No);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(file.isEmpty());
}

// A settings key spelled out anywhere but in the one list of keys is a key
// that can drift from its twin (a data folder read under one spelling and
// written under another).
TEST(SettingsKeys, SpelledOnlyInTheListOfKeys)
{
    const QString root = testsupport::sourceDir();
    const QRegularExpression literal(QStringLiteral("\"(LastUsed|Center)/[A-Za-z_0-9]+\"|\"MsnList\""));
    QStringList offenders;
    for (const char *folder : {"app", "datasource", "display", "dsp", "geodata", "map", "mission", "ortho",
                               "platform", "stripchart", "tools"}) {
        QDirIterator it(root + QLatin1Char('/') + QLatin1String(folder), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.endsWith(QStringLiteral("platform/settingskeys.h")))
                continue;
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            int n = 0;
            for (const QByteArray &raw : f.readAll().split('\n')) {
                ++n;
                QString line = QString::fromUtf8(raw);
                const int comment = line.indexOf(QStringLiteral("//"));
                if (comment >= 0)
                    line.truncate(comment);
                if (line.contains(literal))
                    offenders << QStringLiteral("%1:%2").arg(path).arg(n);
            }
        }
    }
    EXPECT_TRUE(offenders.isEmpty()) << offenders.join(QLatin1Char('\n')).toStdString();
}
