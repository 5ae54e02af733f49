// cindrel strip-image: the rebuilt strip chart of a simulated flight log,
// checked with the image tools, and the answers to bad calls.
#include "common/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <gtest/gtest.h>

using testsupport::run;

namespace {

QString tool() { return testsupport::toolPath(); }

// A simulated working directory with one pass whose 5 km swath takes in
// some of the scene's fires; returns its log.
QString simulatedLog(QString *workDir)
{
    const QString d = testsupport::workDir() + QStringLiteral("/stripdemo");
    const auto r = run(tool(), {QStringLiteral("simulate"), QStringLiteral("--out"), d, QStringLiteral("--region"),
                                QStringLiteral("0.05"), QStringLiteral("--center"), QStringLiteral("44.525,-121.475"),
                                QStringLiteral("--passes"), QStringLiteral("1"), QStringLiteral("--lines"),
                                QStringLiteral("2500"), QStringLiteral("--agl"), QStringLiteral("1500"),
                                QStringLiteral("--fires"), QStringLiteral("8"), QStringLiteral("--smoke"),
                                QStringLiteral("0")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    *workDir = d;
    const QStringList logs = QDir(d + QStringLiteral("/c-drive/CindrelData"))
                                 .entryList({QStringLiteral("*.plf")}, QDir::Files, QDir::Name);
    return logs.isEmpty() ? QString() : d + QStringLiteral("/c-drive/CindrelData/") + logs.first();
}

TEST(StripImageToolTest, WritesTheImageBesideTheLogAndItsJpegCopy)
{
    QString work;
    const QString log = simulatedLog(&work);
    ASSERT_FALSE(log.isEmpty());
    // Run in the demo directory: its logo bitmaps go into the footer.
    const auto r = run(tool(), {QStringLiteral("strip-image"), log, QStringLiteral("--tail"), QStringLiteral("N123AB"),
                                QStringLiteral("--tech"), QStringLiteral("Kim")},
                       120000, work);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QFileInfo fi(log);
    const QString tif = fi.path() + QLatin1Char('/') + fi.completeBaseName() + QStringLiteral(".tif");
    const QString jpg = fi.path() + QStringLiteral("/jpeg/") + fi.completeBaseName() + QStringLiteral(".jpg");
    EXPECT_TRUE(r.out.contains(QStringLiteral("image: ") + QDir::toNativeSeparators(tif))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("lines: 2500"))) << r.out.toStdString();
    ASSERT_TRUE(QFile::exists(tif));
    EXPECT_FALSE(QFile::exists(fi.path() + QLatin1Char('/') + fi.completeBaseName() + QStringLiteral(".tmp")));
    ASSERT_TRUE(QFile::exists(jpg));
    const QSize size = QImageReader(tif).size();
    EXPECT_EQ(size.width(), 1728);
    EXPECT_GT(size.height(), 2500 + 4 * 59);
    EXPECT_EQ(QImageReader(jpg).size(), size);

    // The swath holds red fire pixels.
    QImage img(tif);
    ASSERT_FALSE(img.isNull());
    long red = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 33; x < 1633; ++x)
            red += img.pixel(x, y) == qRgb(255, 0, 0);
    EXPECT_GT(red, 0);

    if (testsupport::haveTool(QStringLiteral("tiffinfo"))) {
        const auto t = run(QStringLiteral("tiffinfo"), {tif});
        EXPECT_EQ(t.exitCode, 0);
        EXPECT_FALSE(t.err.contains(QStringLiteral("Error"), Qt::CaseInsensitive)) << t.err.toStdString();
        EXPECT_TRUE(t.out.contains(QStringLiteral("Palette")) || t.out.contains(QStringLiteral("palette")))
            << t.out.toStdString();
    }
    // A rebuilt strip chart is plain mode, rows of scan lines: it claims no
    // georeference, and its JPEG copy gets no world file; the program
    // prints none of the image library's complaints.
    EXPECT_FALSE(r.err.contains(QStringLiteral("Unknown field"))) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(fi.path() + QStringLiteral("/jpeg/") + fi.completeBaseName() + QStringLiteral(".jgw")));
    if (testsupport::haveTool(QStringLiteral("listgeo"))) {
        const auto g = run(QStringLiteral("listgeo"), {tif});
        EXPECT_FALSE(g.out.contains(QStringLiteral("CT_TransverseMercator"))) << g.out.toStdString();
    }
}

TEST(StripImageToolTest, BadCallsAreReported)
{
    auto r = run(tool(), {QStringLiteral("strip-image")});
    EXPECT_EQ(r.exitCode, 2);
    r = run(tool(), {QStringLiteral("strip-image"), testsupport::workDir() + QStringLiteral("/none.plf")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no such file"))) << r.err.toStdString();
    r = run(tool(), {QStringLiteral("strip-image"), testsupport::workDir()});
    EXPECT_EQ(r.exitCode, 1);
    // An empty log has no line to draw.
    const QString empty = testsupport::workDir() + QStringLiteral("/20240715_1432_Empty_1.plf");
    QFile f(empty);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    r = run(tool(), {QStringLiteral("strip-image"), empty});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(QFile::exists(testsupport::workDir() + QStringLiteral("/20240715_1432_Empty_1.tif")));
    r = run(tool(), {QStringLiteral("strip-image"), empty, QStringLiteral("--elevation"), QStringLiteral("high")});
    EXPECT_EQ(r.exitCode, 2);
}

} // namespace
