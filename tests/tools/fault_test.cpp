// Product writes killed at random moments, and run on a full disk: every
// final file is whole or as it was, the log stays untouched, and a full
// disk ends the command with an error message.
#include "common/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <random>

using testsupport::run;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Step {
    const char *name;
    QStringList args;     // after the tool; LOG and MISSION stand for the paths
    QStringList finals;   // final files, relative to the log folder
};

// The simulated log and every product made once from it (the reference).
struct Demo {
    QString dir, logDir, log, mission;
    QByteArray pristine, desmoked;
    QMap<QString, qint64> sizes;   // final file -> reference size
    QMap<QString, qint64> ms;      // step -> run time
    QStringList files;             // the log folder after the reference run
    std::vector<Step> steps;

    QStringList argsOf(const Step &s, const QString &folder) const
    {
        QStringList a = s.args;
        for (QString &x : a) {
            x.replace(QStringLiteral("LOG"), folder + QLatin1Char('/') + QFileInfo(log).fileName());
            x.replace(QStringLiteral("MISSION"), folder + QLatin1Char('/') + mission);
        }
        return a;
    }
};

const Demo &demo()
{
    static Demo d;
    if (!d.dir.isEmpty())
        return d;
    d.dir = testsupport::workDir() + QStringLiteral("/faultdemo");
    const auto sim = run(testsupport::toolPath(),
                         {QStringLiteral("simulate"), QStringLiteral("--out"), d.dir, QStringLiteral("--region"),
                          QStringLiteral("0.1"), QStringLiteral("--passes"), QStringLiteral("1"), QStringLiteral("--lines"),
                          QStringLiteral("400"), QStringLiteral("--smoke"), QStringLiteral("0")});
    EXPECT_EQ(sim.exitCode, 0) << sim.err.toStdString();
    d.logDir = d.dir + QStringLiteral("/c-drive/CindrelData");
    const QStringList logs = QDir(d.logDir).entryList({QStringLiteral("*.plf")}, QDir::Files);
    if (logs.size() != 1)
        return d;
    d.log = d.logDir + QLatin1Char('/') + logs.first();
    const QString base = QFileInfo(d.log).completeBaseName();
    d.mission = base.left(base.lastIndexOf(QLatin1Char('_')));
    d.pristine = readAll(d.log);
    auto names = [&](std::initializer_list<const char *> parts, const QString &stem) {
        QStringList out;
        for (const char *p : parts)
            out << stem + QLatin1String(p);
        return out;
    };
    d.steps = {
        {"extract-dem",
         {QStringLiteral("extract-dem"), QStringLiteral("-121.56"), QStringLiteral("44.56"), QStringLiteral("-121.44"),
          QStringLiteral("44.44"), QStringLiteral("MISSION")},
         names({".bil", ".blw", ".hdr"}, d.mission)},
        {"orthorectify",
         {QStringLiteral("orthorectify"), QStringLiteral("LOG"), QStringLiteral("--quiet")},
         names({"_ortho.tif", "_color.tif", "_fire.tif"}, base)
             + names({"_ortho.jpg", "_color.jpg", "_fire.jpg"}, QStringLiteral("jpeg/") + base)},
        {"strip-image", {QStringLiteral("strip-image"), QStringLiteral("LOG")},
         {base + QStringLiteral(".tif"), QStringLiteral("jpeg/") + base + QStringLiteral(".jpg")}},
        {"mosaic", {QStringLiteral("mosaic"), QStringLiteral("LOG")},
         names({"_mosaic.jpg", "_RawHeatData.shp", "_RawHeatData.shx", "_RawHeatData.dbf"}, d.mission)},
        // Last: it replaces the log the others read.
        {"desmoke", {QStringLiteral("desmoke"), QStringLiteral("LOG")}, {base + QStringLiteral("orig.plf")}},
    };
    for (const Step &s : d.steps) {
        QElapsedTimer t;
        t.start();
        const auto r = run(testsupport::toolPath(), d.argsOf(s, d.logDir), 120000, d.dir);
        d.ms[QLatin1String(s.name)] = t.elapsed();
        EXPECT_EQ(r.exitCode, 0) << s.name << ": " << r.err.toStdString();
        for (const QString &f : s.finals)
            d.sizes[f] = QFileInfo(d.logDir + QLatin1Char('/') + f).size();
    }
    d.desmoked = readAll(d.log);
    QFile::remove(d.logDir + QLatin1Char('/') + base + QStringLiteral("orig.plf"));
    QFile::remove(d.log);
    QFile restore(d.log);
    if (restore.open(QIODevice::WriteOnly))
        restore.write(d.pristine);
    restore.close();
    QDirIterator it(d.logDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        d.files << QDir(d.logDir).relativeFilePath(it.next());
    return d;
}

// Puts the pristine log back for the next run (desmoke replaced it).
void restoreLog(const Demo &d, const QString &folder)
{
    const QString log = folder + QLatin1Char('/') + QFileInfo(d.log).fileName();
    QFile::remove(folder + QLatin1Char('/') + QFileInfo(d.log).completeBaseName() + QStringLiteral("orig.plf"));
    if (readAll(log) != d.pristine) {
        QFile f(log);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(d.pristine);
    }
}

// Every final file of the step is whole: the earlier one or a complete new
// one (sizes are those of the reference run; the log is untouched or
// completely desmoked, its copy the untouched log).
void expectWhole(const Demo &d, const Step &s, const QString &folder, const std::string &when)
{
    const QByteArray log = readAll(folder + QLatin1Char('/') + QFileInfo(d.log).fileName());
    const bool desmoke = QLatin1String(s.name) == QLatin1String("desmoke");
    // A raster trio is three files: the next program to open it completes a
    // replacement stopped between the renames.
    if (QLatin1String(s.name) == QLatin1String("extract-dem"))
        run(testsupport::toolPath(), {QStringLiteral("bil-info"), folder + QLatin1Char('/') + s.finals.first()}, 20000);
    EXPECT_TRUE(log == d.pristine || (desmoke && log == d.desmoked)) << when << ": log changed";
    for (const QString &f : s.finals) {
        const QString path = folder + QLatin1Char('/') + f;
        if (desmoke) {
            if (QFileInfo::exists(path))
                EXPECT_EQ(readAll(path), d.pristine) << when << ": " << f.toStdString();
            continue;
        }
        EXPECT_EQ(QFileInfo(path).size(), d.sizes.value(f)) << when << ": " << f.toStdString();
    }
}

class ToolFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedDrive_ = qgetenv("CINDREL_C_DRIVE");
        qputenv("CINDREL_C_DRIVE", QFile::encodeName(testsupport::workDir() + QStringLiteral("/faultdemo/c-drive")));
        ASSERT_FALSE(demo().log.isEmpty());
    }
    void TearDown() override { qputenv("CINDREL_C_DRIVE", savedDrive_); }
    QByteArray savedDrive_;
};

} // namespace

TEST_F(ToolFaults, KilledProductWritesLeaveWholeFiles)
{
    const Demo &d = demo();
    std::mt19937 rng(4711);
    for (const Step &s : d.steps) {
        // Kills spread over the command's run time (the earlier products of
        // the reference run are in place every time).
        const int span = int(std::max<qint64>(20, d.ms.value(QLatin1String(s.name))));
        for (int k = 0; k < 3; ++k) {
            restoreLog(d, d.logDir);
            QProcess p;
            p.setWorkingDirectory(d.dir);
            p.start(testsupport::toolPath(), d.argsOf(s, d.logDir));
            ASSERT_TRUE(p.waitForStarted(20000));
            QThread::msleep(static_cast<unsigned long>(rng() % unsigned(span)));
            p.kill();
            ASSERT_TRUE(p.waitForFinished(20000));
            expectWhole(d, s, d.logDir, std::string(s.name) + " kill " + std::to_string(k));
        }
    }
    restoreLog(d, d.logDir);
}

TEST_F(ToolFaults, FullDiskFailsTheProductAndKeepsEarlierFiles)
{
    const Demo &d = demo();
    // The log folder copied onto a disk with no room to spare; without a
    // mountable disk every file written is limited to 0 bytes instead.
    qint64 used = 0;
    const QString disk = testsupport::workDir() + QStringLiteral("/faultdisk");
    QDir().mkpath(disk);
    // The files of the reference run, not what killed runs left behind
    // (a step may clear its own leftovers and so find room).
    const QStringList files = d.files;
    for (const QString &f : files)
        used += (QFileInfo(d.logDir + QLatin1Char('/') + f).size() + 4095) / 4096 * 4096;
    testsupport::SmallDisk small(disk, used);
    std::printf("full disk: %s\n", small.mounted() ? "tmpfs" : "file size limit");
    for (const QString &f : files) {
        QDir().mkpath(QFileInfo(disk + QLatin1Char('/') + f).path());
        ASSERT_TRUE(QFile::copy(d.logDir + QLatin1Char('/') + f, disk + QLatin1Char('/') + f)) << f.toStdString();
    }
    // The disk's last free blocks (what the rounding of file sizes left)
    // taken too, so no product fits whatever its size.
    if (small.mounted()) {
        QFile filler(disk + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(512, 'x');
        while (filler.write(block) == block.size()) {
        }
    }
    for (const Step &s : d.steps) {
        restoreLog(d, disk);
        QStringList args = d.argsOf(s, disk);
        QString program = testsupport::toolPath();
        if (!small.mounted()) {
            args = QStringList{QStringLiteral("-c"), QStringLiteral("trap '' XFSZ; ulimit -f 0; exec \"$@\""),
                               QStringLiteral("sh"), program}
                   + args;
            program = QStringLiteral("/bin/bash");
        }
        const auto r = run(program, args, 120000, d.dir);
        const QString said = r.out + r.err;
        EXPECT_NE(r.exitCode, 0) << s.name << " succeeded on a full disk: " << said.toStdString();
        EXPECT_TRUE(said.contains(QLatin1String("rror")) || said.contains(QLatin1String("fail")) || said.contains(QLatin1String("cannot"))
                    || said.contains(QLatin1String("could not")))
            << s.name << ": " << said.toStdString();
        expectWhole(d, s, disk, std::string(s.name) + " on a full disk");
    }
}
