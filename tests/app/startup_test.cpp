#include "app/debuglog.h"
#include "app/imageviewer.h"
#include "app/startup.h"
#include "map/runtimeenvironment.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QDebug>
#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <thread>
#include <vector>

namespace {
QStringList logLines(const QString &name = QStringLiteral("mylogfile.log"))
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void makeFileOfSize(const QString &name, qint64 size)
{
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QByteArray block(100000, 'x');
    qint64 left = size;
    while (left > 0) {
        const qint64 n = qMin<qint64>(left, block.size());
        f.write(block.constData(), n);
        left -= n;
    }
}

struct LogDir : ::testing::Test {
    QTemporaryDir dir;
    QString saved;
    void SetUp() override
    {
        saved = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }
    void TearDown() override
    {
        qInstallMessageHandler(nullptr);
        QDir::setCurrent(saved);
    }
};
} // namespace

TEST_F(LogDir, LineFormatAndLevelTags)
{
    DebugLog::write(QtDebugMsg, QStringLiteral("alpha"));
    DebugLog::write(QtWarningMsg, QStringLiteral("beta"));
    DebugLog::write(QtCriticalMsg, QStringLiteral("gamma"));
    DebugLog::write(QtInfoMsg, QStringLiteral("delta"));
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 4);
    const QRegularExpression re(QStringLiteral("^\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d(.*)$"));
    const QStringList rest{"[Debug*] alpha", "[Warning] beta", "[Critical] gamma", "[Info] delta"};
    for (int i = 0; i < 4; ++i) {
        const auto m = re.match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(1), rest[i]);
    }
    EXPECT_EQ(DebugLog::levelTag(QtFatalMsg), QStringLiteral("[Fatal] "));
}

TEST_F(LogDir, RotationAboveLimitOnly)
{
    makeFileOfSize("mylogfile.log", 3000000);
    DebugLog::write(QtDebugMsg, QStringLiteral("no rotation"));
    EXPECT_FALSE(QFile::exists("mylogfile.log.1"));
    EXPECT_GT(QFileInfo("mylogfile.log").size(), 3000000);

    makeFileOfSize("mylogfile.log", 3000001);
    DebugLog::write(QtDebugMsg, QStringLiteral("after rotation"));
    ASSERT_TRUE(QFile::exists("mylogfile.log.1"));
    EXPECT_EQ(QFileInfo("mylogfile.log.1").size(), 3000001);
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("[Debug*] after rotation")));

    // An existing backup is replaced.
    makeFileOfSize("mylogfile.log", 3000002);
    DebugLog::write(QtDebugMsg, QStringLiteral("again"));
    EXPECT_EQ(QFileInfo("mylogfile.log.1").size(), 3000002);
}

TEST_F(LogDir, ThreadsNeverInterleaveLines)
{
    DebugLog::install();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                qDebug().noquote() << QStringLiteral("thread %1 message %2 ").arg(t).arg(i) + QString(80, QChar('z'));
        });
    }
    for (auto &th : threads)
        th.join();
    qInstallMessageHandler(nullptr);
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 800);
    const QRegularExpression re(
        QStringLiteral("^\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\\[Debug\\*\\] thread \\d message \\d+ z{80}$"));
    for (const QString &l : lines)
        ASSERT_TRUE(re.match(l).hasMatch()) << l.toStdString();
}

TEST_F(LogDir, MainWindowLogsStartMessages)
{
    {
        ImageViewer w;
        EXPECT_EQ(w.objectName(), QStringLiteral("ImageViewer"));
    }
    qInstallMessageHandler(nullptr);
    const QStringList lines = logLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("[Debug*] Cindrel program started")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("[Debug*] Debug Handler Started!")));
}

TEST_F(LogDir, MapKeyWarningOrHandOver)
{
    DebugLog::install();
    qunsetenv("CINDREL_MAP_API_KEY");
    cindrel::configureMapApiKey();
    qputenv("CINDREL_MAP_API_KEY", "abc123");
    cindrel::configureMapApiKey();
    qunsetenv("CINDREL_MAP_API_KEY");
    qInstallMessageHandler(nullptr);
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("[Warning] ") + cindrel::mapApiKeyWarning()));
    EXPECT_EQ(cindrelmap::RuntimeEnvironment::apiKey(), QStringLiteral("abc123"));
}

TEST(SettingsStore, SharedIniWhateverTheWorkingDirectory)
{
    EXPECT_EQ(QSettings().format(), QSettings::IniFormat);
    {
        QSettings s;
        s.setValue(QStringLiteral("LastUsed/techName"), QStringLiteral("Robin"));
    }
    QTemporaryDir other;
    const QString saved = QDir::currentPath();
    QDir::setCurrent(other.path());
    {
        QSettings s;
        EXPECT_EQ(s.value(QStringLiteral("LastUsed/techName")).toString(), QStringLiteral("Robin"));
        EXPECT_TRUE(s.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
        EXPECT_TRUE(s.fileName().endsWith(QStringLiteral("Tarn/Cindrel64.ini")));
    }
    QDir::setCurrent(saved);
}
