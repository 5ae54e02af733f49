// cindrel orthorectify: the ortho products of a simulated flight log, made
// the way an operator would on the ground (simulate, extract-dem, then
// orthorectify in the data set's directory).
#include "common/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <gtest/gtest.h>

using testsupport::run;

namespace {
QString tool() { return testsupport::toolPath(); }
} // namespace

TEST(OrthorectifyToolTest, WritesTheProductsOfALogAndReportsFailures)
{
    const QString d = testsupport::workDir() + QStringLiteral("/orthodemo");
    auto r = run(tool(), {QStringLiteral("simulate"), QStringLiteral("--out"), d, QStringLiteral("--region"),
                          QStringLiteral("0.1"), QStringLiteral("--passes"), QStringLiteral("1"),
                          QStringLiteral("--lines"), QStringLiteral("400"), QStringLiteral("--smoke"),
                          QStringLiteral("0")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString logDir = d + QStringLiteral("/c-drive/CindrelData");
    const QStringList logs = QDir(logDir).entryList({QStringLiteral("*.plf")}, QDir::Files, QDir::Name);
    ASSERT_EQ(logs.size(), 1);
    const QString log = logDir + QLatin1Char('/') + logs.first();
    const QFileInfo fi(log);
    const QString base = fi.completeBaseName();

    // No elevation raster yet: a clear failure and no files.
    const QByteArray savedDrive = qgetenv("CINDREL_C_DRIVE");
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(d + QStringLiteral("/c-drive")));
    const auto noDem = run(tool(), {QStringLiteral("orthorectify"), log}, 120000, d);
    const QString dem = logDir + QLatin1Char('/') + base.left(base.lastIndexOf(QLatin1Char('_')));
    const auto cut = run(tool(), {QStringLiteral("extract-dem"), QStringLiteral("-121.56"), QStringLiteral("44.56"),
                                  QStringLiteral("-121.44"), QStringLiteral("44.44"), dem},
                         120000, d);
    const QString out = d + QStringLiteral("/products");
    QDir().mkpath(out);
    r = run(tool(), {QStringLiteral("orthorectify"), log, QStringLiteral("--out"), out, QStringLiteral("--quiet")},
            120000, d);
    const auto missing = run(tool(), {QStringLiteral("orthorectify"), d + QStringLiteral("/nothing.plf")}, 120000, d);
    const auto badFolder = run(tool(), {QStringLiteral("orthorectify"), log, QStringLiteral("--out"),
                                        d + QStringLiteral("/no/such")}, 120000, d);
    const auto usage = run(tool(), {QStringLiteral("orthorectify")}, 120000, d);
    qputenv("CINDREL_C_DRIVE", savedDrive);

    EXPECT_EQ(noDem.exitCode, 1);
    EXPECT_TRUE(noDem.err.contains(QLatin1String("elevation raster"))) << noDem.err.toStdString();
    ASSERT_EQ(cut.exitCode, 0) << cut.err.toStdString();
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QLatin1String("lines 400"))) << r.out.toStdString();
    // Only the program's own messages: no image library chatter about the
    // GeoTIFF tags while the JPEG copies are made.
    EXPECT_FALSE(r.err.contains(QLatin1String("Unknown field"))) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QLatin1String("NAD83"))) << r.out.toStdString();
    for (const char *suffix : {"_ortho", "_color", "_fire"}) {
        const QString tif = out + QLatin1Char('/') + base + QLatin1String(suffix) + QStringLiteral(".tif");
        const QString jpg = out + QStringLiteral("/jpeg/") + base + QLatin1String(suffix) + QStringLiteral(".jpg");
        EXPECT_TRUE(r.out.contains(QDir::toNativeSeparators(tif))) << r.out.toStdString();
        EXPECT_TRUE(QFile::exists(jpg)) << suffix;
        EXPECT_EQ(QImageReader(tif).size().width(), 1728) << suffix;
        EXPECT_EQ(QImageReader(jpg).size(), QImageReader(tif).size()) << suffix;
    }
    EXPECT_EQ(QDir(logDir).entryList({QStringLiteral("*_ortho*")}, QDir::Files).size(), 0);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains(QLatin1String("no such log file"))) << missing.err.toStdString();
    EXPECT_EQ(badFolder.exitCode, 1);
    EXPECT_TRUE(badFolder.err.contains(QLatin1String("does not exist"))) << badFolder.err.toStdString();
    EXPECT_EQ(usage.exitCode, 2);
}
