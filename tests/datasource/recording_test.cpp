// Recording control: log names, pass and segment numbering, the data
// folder, the ground elevation sent at the first pass, opening and closing
// with the hand-over for orthorectification, the error boxes, and a
// recorder killed at random moments losing no line it was handed.
#include "datasource/recordingcontrol.h"

#include "crashchild/crashline.h"
#include "datasource/coldcurve.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "tests/common/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <cstring>

#include <sys/resource.h>
#include <memory>
#include <random>
#include <vector>

namespace {

class ElevationSink : public CDataSource {
public:
    std::vector<std::uint32_t> sent;
    void SetGroundElevation(std::uint32_t metres) override { sent.push_back(metres); }
};

class FakeHost : public RecordingHost {
public:
    int saves = 0;
    bool running = true;
    std::vector<RectifyRequest> queued;
    void SaveSettings() override { ++saves; }
    bool IsRectifierRunning() override { return running; }
    RunArea GetRunArea() override
    {
        RunArea a;
        a.minX = 1.0;
        a.maxY = 4.0;
        a.maxX = 3.0;
        a.minY = 2.0;
        return a;
    }
    int GetCentralMeridian() override { return -121; }
    void QueueForRectify(const RectifyRequest &r) override { queued.push_back(r); }
};

const QDateTime kRunStart(QDate(2024, 7, 15), QTime(14, 32, 10));

struct Recording : ::testing::Test {
    std::unique_ptr<ColdCurve> curve = std::make_unique<ColdCurve>();
    FakeHost host;
    ElevationSink source;
    std::unique_ptr<CRecordingControl> rc;

    void SetUp() override
    {
        QDir(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"))).removeRecursively();
        Notice::clearRecords();
        Notice::clearReplies();
        rc = std::make_unique<CRecordingControl>(curve.get(), &host);
    }

    QString dataFile(const QString &name) const
    {
        return QDir::toNativeSeparators(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData\\") + name));
    }

    // One run: StartPass, open, write n lines, close.
    QString recordRun(const QDateTime &start, std::uint32_t lines, bool noRectify = false)
    {
        EXPECT_GT(rc->StartPass(start, &source), 0);
        EXPECT_TRUE(rc->ManipulateLogFile(1, false));
        const QString name = rc->currentLogPath;
        auto line = std::make_unique<ScanLineRec>();
        for (std::uint32_t i = 0; i < lines; ++i) {
            makeCrashLine(i, *line);
            rc->WriteLogLine(*line);
        }
        EXPECT_TRUE(rc->ManipulateLogFile(2, noRectify));
        return name;
    }
};

} // namespace

TEST_F(Recording, LogNamesFollowMissionStartAndPass)
{
    EXPECT_EQ(rc->dataRoot, QDir::toNativeSeparators(cindrel::mapCDrivePath(QStringLiteral("C:\\CindrelData"))));
    rc->SetMission(QStringLiteral("Fire 12"), QStringLiteral("N123"), QStringLiteral("Pat"), 0.0);
    EXPECT_EQ(recordRun(kRunStart, 2), dataFile(QStringLiteral("20240715_1432_Fire12_1.plf")));
    EXPECT_TRUE(QFileInfo(rc->dataRoot).isDir());   // created for the first pass
    // Later passes keep the first run's time in their names.
    EXPECT_EQ(recordRun(kRunStart.addSecs(600), 1), dataFile(QStringLiteral("20240715_1432_Fire12_2.plf")));
    EXPECT_EQ(recordRun(kRunStart.addSecs(1200), 1), dataFile(QStringLiteral("20240715_1432_Fire12_3.plf")));
    EXPECT_EQ(rc->missionStart, kRunStart);
    EXPECT_EQ(rc->missionPrefix, QStringLiteral("20240715_1432_Fire12"));
    EXPECT_EQ(QFileInfo(dataFile(QStringLiteral("20240715_1432_Fire12_1.plf"))).size(), 2 * 8560);

    // A new mission starts the numbering again under a new prefix.
    rc->SetMission(QStringLiteral("Ridge Top West"), QStringLiteral("N123"), QStringLiteral("Pat"), 0.0);
    EXPECT_EQ(rc->passNumber, 0);
    EXPECT_EQ(recordRun(kRunStart.addSecs(3600), 1), dataFile(QStringLiteral("20240715_1532_RidgeTopWest_1.plf")));
}

TEST_F(Recording, WithoutAMissionTheNameHasTwoUnderscores)
{
    EXPECT_EQ(recordRun(kRunStart, 1), dataFile(QStringLiteral("20240715_1432__1.plf")));
}

TEST_F(Recording, SegmentsOfOnePass)
{
    rc->SetMission(QStringLiteral("M"), QString(), QString(), 0.0);
    ASSERT_EQ(rc->StartPass(kRunStart, &source), 1);
    ASSERT_TRUE(rc->ManipulateLogFile(1, false));
    EXPECT_EQ(rc->currentLogPath, dataFile(QStringLiteral("20240715_1432_M_1.plf")));
    ASSERT_TRUE(rc->ManipulateLogFile(2, true));
    ASSERT_TRUE(rc->ManipulateLogFile(1, false));
    EXPECT_EQ(rc->currentLogPath, dataFile(QStringLiteral("20240715_1432_M_197.plf")));
    ASSERT_TRUE(rc->ManipulateLogFile(2, true));
    ASSERT_TRUE(rc->ManipulateLogFile(1, false));
    EXPECT_EQ(rc->currentLogPath, dataFile(QStringLiteral("20240715_1432_M_198.plf")));
    ASSERT_TRUE(rc->ManipulateLogFile(2, true));
    // The next pass starts without a segment suffix.
    ASSERT_EQ(rc->StartPass(kRunStart, &source), 2);
    ASSERT_TRUE(rc->ManipulateLogFile(1, false));
    EXPECT_EQ(rc->currentLogPath, dataFile(QStringLiteral("20240715_1432_M_2.plf")));
}

TEST_F(Recording, AnEarlierLogWithTheSameNameIsKept)
{
    // A restart within the same minute names its first pass like the
    // recording made before the restart; that recording must survive.
    rc->SetMission(QStringLiteral("M"), QString(), QString(), 0.0);
    const QString first = recordRun(kRunStart, 3);
    CRecordingControl restarted(curve.get(), &host);
    restarted.SetMission(QStringLiteral("M"), QString(), QString(), 0.0);
    ASSERT_EQ(restarted.StartPass(kRunStart.addSecs(20), &source), 1);
    ASSERT_TRUE(restarted.ManipulateLogFile(1, false));
    EXPECT_EQ(restarted.currentLogPath, dataFile(QStringLiteral("20240715_1432_M_197.plf")));
    EXPECT_EQ(QFileInfo(first).size(), 3 * 8560);
}

TEST_F(Recording, MissionNamesMakeValidFileNames)
{
    rc->SetMission(QStringLiteral("Fire 1/2: \"North\""), QString(), QString(), 0.0);
    EXPECT_EQ(recordRun(kRunStart, 1), dataFile(QStringLiteral("20240715_1432_Fire1-2--North-_1.plf")));
    EXPECT_EQ(Notice::count(), 0);
}

TEST_F(Recording, DataFolderIsCreatedWithItsParents)
{
    const QString deep = testsupport::workDir() + QStringLiteral("/rec_parents/a/b/CindrelData");
    QDir(testsupport::workDir() + QStringLiteral("/rec_parents")).removeRecursively();
    rc->dataRoot = QDir::toNativeSeparators(deep);
    recordRun(kRunStart, 1);
    EXPECT_TRUE(QFileInfo::exists(deep + QStringLiteral("/20240715_1432__1.plf")));
}

TEST_F(Recording, GroundElevationAtTheFirstPassOnly)
{
    rc->SetMission(QStringLiteral("M"), QString(), QString(), 123.5);
    EXPECT_EQ(rc->StartPass(kRunStart, nullptr), -1);   // no data source
    EXPECT_EQ(rc->passNumber, 0);
    EXPECT_EQ(rc->StartPass(kRunStart, &source), 1);
    EXPECT_EQ(rc->StartPass(kRunStart, &source), 2);
    rc->SetMission(QStringLiteral("M"), QString(), QString(), 1999.49);
    EXPECT_EQ(rc->StartPass(kRunStart, &source), 1);
    EXPECT_EQ(source.sent, (std::vector<std::uint32_t>{124, 1999}));
}

TEST_F(Recording, ClosingHandsTheLogOnForRectification)
{
    rc->SetMission(QStringLiteral("M"), QStringLiteral("N55"), QStringLiteral("Kim"), 0.0);
    const QString name = recordRun(kRunStart, 4);
    EXPECT_FALSE(rc->logOpen);
    EXPECT_EQ(host.saves, 1);
    ASSERT_EQ(host.queued.size(), 1u);
    const RectifyRequest &r = host.queued[0];
    EXPECT_EQ(r.productVersion, QStringLiteral("1.0"));
    EXPECT_EQ(r.tailNumber, QStringLiteral("N55"));
    EXPECT_EQ(r.techName, QStringLiteral("Kim"));
    EXPECT_EQ(r.area.minX, 1.0);
    EXPECT_EQ(r.area.maxY, 4.0);
    EXPECT_EQ(r.area.maxX, 3.0);
    EXPECT_EQ(r.area.minY, 2.0);
    EXPECT_EQ(r.centralMeridian, -121);
    EXPECT_FALSE(r.elevationReady);
    EXPECT_EQ(r.logPath, QFileInfo(name).absoluteFilePath());
    EXPECT_EQ(rc->LastClosedLog(), r.logPath);

    // The closed log reads back as the lines written.
    CCindrelDspLog reader(curve.get());
    reader.OnFileOpen(name);
    auto expect = std::make_unique<ScanLineRec>();
    for (std::uint32_t i = 0; i < 4; ++i) {
        if (i > 0) {
            ASSERT_FALSE(reader.DoNextFwdCycle(0, false, false));
        }
        makeCrashLine(i, *expect);
        EXPECT_EQ(reader.CurrentRecord().lineIndex, i);
        EXPECT_EQ(std::memcmp(reader.CurrentRecord().pix, expect->pix, SAMPLES_PER_LINE), 0);
    }

    // noRectify, or no worker running: settings saved, nothing queued.
    recordRun(kRunStart, 1, true);
    host.running = false;
    recordRun(kRunStart, 1);
    EXPECT_EQ(host.saves, 3);
    EXPECT_EQ(host.queued.size(), 1u);

    // Closing when nothing was recorded hands nothing on.
    host.running = true;
    EXPECT_TRUE(rc->ManipulateLogFile(2, false));
    EXPECT_EQ(host.queued.size(), 1u);
}

TEST_F(Recording, UncreatableLogAndBadOpCodes)
{
    // A file where the data folder should be: nothing can be created.
    const QString blocker = testsupport::workDir() + QStringLiteral("/rec_blocker");
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    rc->dataRoot = QDir::toNativeSeparators(blocker + QStringLiteral("/CindrelData"));
    ASSERT_EQ(rc->StartPass(kRunStart, &source), 1);
    EXPECT_FALSE(rc->ManipulateLogFile(1, false));
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Critical);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Manipulate Log File"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("ERROR: manipulating log file"));
    EXPECT_FALSE(rc->logOpen);
    EXPECT_EQ(rc->segmentNumber, 0);
    auto line = std::make_unique<ScanLineRec>();
    makeCrashLine(0, *line);
    rc->WriteLogLine(*line);   // fails silently
    EXPECT_EQ(Notice::count(), 1);

    Notice::clearRecords();
    const int pass = rc->passNumber;
    EXPECT_FALSE(rc->ManipulateLogFile(3, false));
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Manipulate Log File"));
    EXPECT_EQ(Notice::last().text, QStringLiteral("PROGRAMMING ERROR: invalid file log OpCode"));
    EXPECT_EQ(rc->passNumber, pass);
    EXPECT_FALSE(rc->logOpen);
    EXPECT_EQ(host.saves, 0);
}

TEST_F(Recording, StopRecordingCommand)
{
    EXPECT_TRUE(rc->recordArmed);
    rc->StartPass(kRunStart, &source);
    ASSERT_TRUE(rc->ManipulateLogFile(1, false));
    EXPECT_TRUE(rc->logOpen);
    rc->StopRecording();
    EXPECT_FALSE(rc->logOpen);
    EXPECT_TRUE(rc->recordArmed);
    // The processing loop then closes the log.
    EXPECT_TRUE(rc->ManipulateLogFile(2, false));
    EXPECT_EQ(host.queued.size(), 1u);
}

TEST(RecordingCrash, KilledRecorderLosesNoHandedLine)
{
    const QString child = QStringLiteral(CINDREL_LOG_CRASH_CHILD);
    ASSERT_TRUE(QFileInfo::exists(child)) << child.toStdString();
    std::mt19937 rng(20240715);
    QElapsedTimer total;
    total.start();
    int runs = 0;
    std::uint64_t linesChecked = 0;
    int partials = 0;
    QString lastLog;
    auto expect = std::make_unique<ScanLineRec>();
    ColdCurve curve;

    for (int run = 0; run < 100 && total.elapsed() < 30000; ++run, ++runs) {
        const QString drive = testsupport::workDir() + QStringLiteral("/crash%1").arg(run);
        QDir(drive).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(drive));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CINDREL_C_DRIVE"), drive);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(child, {});
        ASSERT_TRUE(p.waitForStarted(10000));
        QByteArray out;
        QElapsedTimer wait;
        wait.start();
        while (!out.contains('\n') && wait.elapsed() < 10000) {
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        ASSERT_TRUE(out.startsWith("open ")) << out.toStdString();
        // Kill at a random moment: at once, or while ticks are running
        // (short runs, so a hundred moments fit in a few seconds).
        const int delayMs = int(rng() % 60);
        if (delayMs > 5)
            QThread::msleep(static_cast<unsigned long>(delayMs));
        p.kill();   // SIGKILL
        ASSERT_TRUE(p.waitForFinished(10000));
        out += p.readAllStandardOutput();

        const QList<QByteArray> lines = out.split('\n');
        const QString logPath = QString::fromLocal8Bit(lines[0].mid(5));
        // The last tick that the child reported as completed.
        std::uint32_t handed = 0, lastTick = 0;
        bool anyTick = false;
        for (const QByteArray &l : lines) {
            unsigned t = 0, n = 0;
            if (std::sscanf(l.constData(), "tick %u %u", &t, &n) == 2 && l.endsWith(QByteArray::number(n))) {
                handed = n;
                lastTick = t;
                anyTick = true;
            }
        }

        QFileInfo info(logPath);
        ASSERT_TRUE(info.exists()) << logPath.toStdString();
        // A kill inside a write can leave a partial last record; the next
        // recording in the folder cuts it off.
        partials += info.size() % 8560 != 0 ? 1 : 0;
        CRecordingControl::RecoverInterruptedLogs(info.absolutePath());
        info.refresh();
        const qint64 size = info.size();
        ASSERT_EQ(size % 8560, 0) << "run " << run << ": partial record left";
        const std::uint32_t records = std::uint32_t(size / 8560);
        EXPECT_GE(records, handed) << "run " << run << ": lines lost";
        // At most the lines of the tick in progress follow.
        const std::uint32_t inProgress = crashLinesInTick(anyTick ? lastTick + 1 : 0);
        EXPECT_LE(records, handed + inProgress) << "run " << run;

        CCindrelDspLog reader(&curve);
        reader.OnFileOpen(logPath);
        ASSERT_TRUE(reader.isOpen);
        std::uint32_t read = 0;
        auto got = std::make_unique<ScanLineRec>();
        bool more = records > 0;
        if (more)
            std::memcpy(static_cast<void *>(got.get()), &reader.CurrentRecord(), sizeof(ScanLineRec));
        while (more) {
            makeCrashLine(read, *expect);
            ASSERT_EQ(got->lineIndex, read) << "run " << run;
            ASSERT_EQ(std::memcmp(got->chanA, expect->chanA, sizeof got->chanA), 0) << "run " << run;
            ASSERT_EQ(std::memcmp(got->pix, expect->pix, sizeof got->pix), 0) << "run " << run;
            ++read;
            more = reader.GetNextLine(got.get());
        }
        EXPECT_EQ(read, records) << "run " << run;
        linesChecked += read;
        lastLog = logPath;
    }
    std::printf("%d recorder runs killed, %d partial records cut, %llu lines checked\n", runs, partials,
                static_cast<unsigned long long>(linesChecked));
    EXPECT_GE(runs, 10);

    // The cut itself, on a tail like the one a kill left (a write stopped
    // at a page boundary), in a real recording start; a log of another
    // layout (a whole number of version 2 records) is left alone.
    const QString folder = QFileInfo(lastLog).absolutePath();
    const qint64 whole = QFileInfo(lastLog).size();
    QFile log(lastLog), other(folder + QStringLiteral("/other.plf"));
    ASSERT_TRUE(log.open(QIODevice::Append) && other.open(QIODevice::WriteOnly));
    log.write(QByteArray(5984, '\x5a'));
    other.write(QByteArray(3 * 8552, '\x01'));
    log.close();
    other.close();
    CRecordingControl rc(&curve);
    rc.dataRoot = QDir::toNativeSeparators(folder);
    ElevationSink source;
    ASSERT_EQ(rc.StartPass(kRunStart, &source), 1);
    ASSERT_TRUE(rc.ManipulateLogFile(1, true));
    EXPECT_EQ(QFileInfo(lastLog).size(), whole);
    EXPECT_EQ(QFileInfo(other.fileName()).size(), 3 * 8552);
}

TEST_F(Recording, FullDiskIsReportedOnceAndEarlierLogsKept)
{
    // 16 pages: an earlier log of three records, then room for about four
    // more. Without a mountable disk the file size is limited instead.
    const QString disk = testsupport::workDir() + QStringLiteral("/fulldisk");
    testsupport::SmallDisk small(disk, 64 * 1024);
    rc->dataRoot = QDir::toNativeSeparators(disk + QStringLiteral("/CindrelData"));
    rc->SetMission(QStringLiteral("M"), QString(), QString(), 0.0);
    const QString earlier = recordRun(kRunStart, 3);
    QFile f(earlier);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    ASSERT_EQ(before.size(), 3 * 8560);
    std::printf("full disk: %s\n", small.mounted() ? "tmpfs" : "file size limit");

    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    if (!small.mounted()) {
        struct rlimit limit = saved;
        limit.rlim_cur = 4 * 8560 + 1000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ASSERT_GT(rc->StartPass(kRunStart, &source), 0);
    ASSERT_TRUE(rc->ManipulateLogFile(1, true));
    const QString full = rc->currentLogPath;
    auto line = std::make_unique<ScanLineRec>();
    for (std::uint32_t i = 0; i < 12; ++i) {
        makeCrashLine(i, *line);
        rc->WriteLogLine(*line);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    EXPECT_TRUE(rc->ManipulateLogFile(2, true));

    ASSERT_EQ(Notice::count(), 1);   // once, not once per line
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Critical);
    EXPECT_EQ(Notice::last().title, QStringLiteral("Manipulate Log File"));
    EXPECT_TRUE(Notice::last().text.startsWith(QStringLiteral("ERROR: writing log file"))) << Notice::last().text.toStdString();
    const qint64 size = QFileInfo(full).size();
    EXPECT_EQ(size % 8560, 0);
    EXPECT_GT(size, 0);
    EXPECT_LT(size, 12 * 8560);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}
