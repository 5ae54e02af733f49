// cindrel process on simulated missions: the same files whether the logs
// run one after the other or side by side, a log without elevation data
// named while the others are processed, and bad calls.
#include "common/testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>

#include <gtest/gtest.h>

using testsupport::run;

namespace {
QString tool() { return testsupport::toolPath(); }

QString simulate(const QString &dir, const QString &center, const QString &mission, const QString &passes)
{
    const auto r = run(tool(), {QStringLiteral("simulate"), QStringLiteral("--out"), dir, QStringLiteral("--region"),
                                QStringLiteral("0.05"), QStringLiteral("--center"), center, QStringLiteral("--passes"),
                                passes, QStringLiteral("--lines"), QStringLiteral("200"), QStringLiteral("--agl"),
                                QStringLiteral("600"), QStringLiteral("--mission"), mission});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return dir + QStringLiteral("/c-drive/CindrelData");
}

// Digest of every file under a folder, by relative path; the time a TIFF
// was written (its DateTime tag) left out.
QMap<QString, QByteArray> digests(const QString &dir)
{
    QMap<QString, QByteArray> m;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    const QRegularExpression stamp(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"));
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QByteArray bytes = f.readAll();
        if (f.fileName().endsWith(QLatin1String(".tif")))
            bytes = QString::fromLatin1(bytes).replace(stamp, QString()).toLatin1();
        m.insert(QDir(dir).relativeFilePath(f.fileName()), QCryptographicHash::hash(bytes, QCryptographicHash::Sha1));
    }
    return m;
}

testsupport::ProcessResult process(const QString &dataSet, const QStringList &args)
{
    const QByteArray saved = qgetenv("CINDREL_C_DRIVE");
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(dataSet + QStringLiteral("/c-drive")));
    auto r = run(tool(), QStringList{QStringLiteral("process")} + args, 300000, dataSet);
    qputenv("CINDREL_C_DRIVE", saved);
    return r;
}
} // namespace

TEST(ProcessToolTest, JobsGiveTheSameFilesAndAFailingLogIsNamed)
{
    const QString root = testsupport::workDir();
    const QString center = QStringLiteral("44.525,-121.475");
    const QString one = root + QStringLiteral("/process1"), two = root + QStringLiteral("/process2");
    const QString logsOne = simulate(one, center, QStringLiteral("Fire"), QStringLiteral("2"));
    const QString logsTwo = simulate(two, center, QStringLiteral("Fire"), QStringLiteral("2"));
    // A log flown where the data set has no elevation tiles, among the others.
    const QString far = simulate(root + QStringLiteral("/processFar"), QStringLiteral("40.5,-110.5"),
                                 QStringLiteral("Far"), QStringLiteral("1"));
    const QString farLog = QStringLiteral("20240715_1432_Far_1.plf");
    ASSERT_TRUE(QFile::copy(far + QLatin1Char('/') + farLog, logsTwo + QLatin1Char('/') + farLog));

    const auto serial = process(one, {logsOne, QStringLiteral("--jobs"), QStringLiteral("1"), QStringLiteral("--no-script")});
    const auto parallel = process(two, {logsTwo, QStringLiteral("--jobs"), QStringLiteral("2"), QStringLiteral("--no-script")});

    ASSERT_EQ(serial.exitCode, 0) << serial.err.toStdString();
    // A progress line per step and per log.
    for (const char *step : {"run area", "desmoke", "orthorectify", "Fire: elevation", "Fire: mosaic"})
        EXPECT_TRUE(serial.err.contains(QLatin1String(step))) << step << "\n" << serial.err.toStdString();
    EXPECT_TRUE(serial.out.startsWith(QLatin1String("20240715_1432_Fire_1.plf: 6 products, mosaic written\n")))
        << serial.out.toStdString();
    EXPECT_TRUE(serial.out.contains(QLatin1String("20240715_1432_Fire_2.plf: 6 products"))) << serial.out.toStdString();

    EXPECT_EQ(parallel.exitCode, 1) << parallel.err.toStdString();
    EXPECT_TRUE(parallel.err.contains(farLog + QStringLiteral(": no products - no elevation tile covers the run area")))
        << parallel.err.toStdString();
    EXPECT_TRUE(parallel.err.contains(QLatin1String("1 of 3 logs failed"))) << parallel.err.toStdString();
    // Output in log order, whatever order the logs finished in.
    const int a = parallel.out.indexOf(QLatin1String("Far_1.plf")), b = parallel.out.indexOf(QLatin1String("Fire_1.plf")),
              c = parallel.out.indexOf(QLatin1String("Fire_2.plf"));
    EXPECT_TRUE(a >= 0 && a < b && b < c) << parallel.out.toStdString();

    // Every file of the mission, byte for byte (the failed log is the only addition).
    auto serialFiles = digests(logsOne), parallelFiles = digests(logsTwo);
    parallelFiles.remove(farLog);
    parallelFiles.remove(QFileInfo(farLog).completeBaseName() + QStringLiteral("_processing.json"));
    EXPECT_GT(serialFiles.size(), 12);
    EXPECT_EQ(serialFiles.keys(), parallelFiles.keys());
    for (auto it = serialFiles.cbegin(); it != serialFiles.cend(); ++it)
        EXPECT_EQ(it.value(), parallelFiles.value(it.key())) << it.key().toStdString();
    EXPECT_TRUE(serialFiles.contains(QStringLiteral("20240715_1432_Fire_mosaic.jpg")));
    EXPECT_TRUE(serialFiles.contains(QStringLiteral("20240715_1432_Fire_1orig.plf")));

    // Bad calls: usage errors; a folder without logs and a missing log fail.
    struct Case {
        QStringList args;
        int status;
        const char *message;
    };
    const Case cases[] = {
        {{}, 2, "missing arguments"},
        {{logsOne, QStringLiteral("--jobs"), QStringLiteral("0")}, 2, "--jobs"},
        {{logsOne, logsOne + QStringLiteral("/20240715_1432_Fire_1.plf")}, 2, "either one folder"},
        {{root}, 1, "no flight logs"},
        {{root + QStringLiteral("/gone_1.plf")}, 1, "gone_1.plf: no products - no such log file"},
    };
    for (const Case &k : cases) {
        const auto r = process(one, k.args);
        EXPECT_EQ(r.exitCode, k.status) << k.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(k.message))) << r.err.toStdString();
    }
}
