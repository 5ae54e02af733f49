// The rectifier's run handling: products and their files, failure cases,
// settings, and what real tools say about the images.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "ortho/crectifiedstripchart.h"
#include "platform/paths.h"
#include "orthofixtures.h"
#include "common/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QRegularExpression>
#include <QSettings>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace orthotest;

namespace {

// A short simulated run (shared scene with the truth checks).
RunRecipe shortRun(const QString &name, int lines = 200)
{
    return eastboundRun(name, lines);
}

struct Rectified {
    CRectifiedStripChart::Outcome outcome = CRectifiedStripChart::NotRun;
    int linesProcessed = 0;
    QStringList products;
    int centralMeridian = 0;
};

Rectified rectify(const QString &log, const QString &outDir = QString(), bool cancel = false)
{
    ColdCurve curve;
    CCindrelDspLog source(&curve);
    source.OnFileOpen(log);
    CRectifiedStripChart rect(&source);
    rect.SetOutputDirectory(outDir.isEmpty() ? QFileInfo(log).absolutePath() : outDir);
    if (cancel)
        rect.SetProgress([&](int stage, int, int) {
            if (stage == 3)
                rect.Cancel();
        });
    rect.Process();
    return {rect.GetOutcome(), rect.LinesProcessed(), rect.Products(), rect.CentralMeridian()};
}

QStringList filesIn(const QString &dir)
{
    QStringList out;
    for (const QFileInfo &fi : QDir(dir).entryInfoList(QDir::Files))
        out << fi.fileName();
    for (const QFileInfo &fi : QDir(dir + QStringLiteral("/jpeg")).entryInfoList(QDir::Files))
        out << QStringLiteral("jpeg/") + fi.fileName();
    out.sort();
    return out;
}

} // namespace

TEST(OrthoRun, WritesThreeProductsWithJpegCopiesAndNoTemporaries)
{
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(shortRun(QStringLiteral("products")), &run, &error)) << error.toStdString();
    const Rectified r = rectify(run.log);
    ASSERT_EQ(r.outcome, CRectifiedStripChart::Produced);
    EXPECT_EQ(r.centralMeridian, -121);   // the run's mean longitude, just east of -121.5
    const QString b = run.base;
    const QStringList files = filesIn(run.folder);
    for (const QString &suffix : {QStringLiteral("_ortho"), QStringLiteral("_color"), QStringLiteral("_fire")}) {
        EXPECT_TRUE(files.contains(b + suffix + QStringLiteral(".tif"))) << suffix.toStdString();
        EXPECT_TRUE(files.contains(QStringLiteral("jpeg/") + b + suffix + QStringLiteral(".jpg"))) << suffix.toStdString();
    }
    for (const QString &f : files)
        EXPECT_FALSE(f.endsWith(QStringLiteral(".tmp"))) << f.toStdString();
    EXPECT_EQ(r.products.size(), 6);

    const QImage ortho(run.folder + QLatin1Char('/') + b + QStringLiteral("_ortho.tif"));
    const QImage fire(run.folder + QLatin1Char('/') + b + QStringLiteral("_fire.tif"));
    const QImage color(run.folder + QLatin1Char('/') + b + QStringLiteral("_color.tif"));
    ASSERT_FALSE(ortho.isNull());
    ASSERT_FALSE(fire.isNull());
    ASSERT_FALSE(color.isNull());
    EXPECT_EQ(ortho.width(), 1728);
    EXPECT_EQ(color.width(), 1728);
    EXPECT_EQ(ortho.size(), fire.size());
    EXPECT_EQ(ortho.size(), color.size());
    // The fire image: red where the ortho image is red, 0 elsewhere in the
    // data, the margins (ticks and stamp) unchanged.
    int red = 0, empty = 0;
    for (int y = 0; y < ortho.height(); ++y) {
        for (int x = 0; x < 1728; ++x) {
            const int o = ortho.pixelIndex(x, y), f = fire.pixelIndex(x, y);
            if (x >= 33 && x < 1633) {
                EXPECT_EQ(f, o == 255 ? 255 : 0);
                red += o == 255;
                empty += o == 100;
            } else {
                EXPECT_EQ(f, o);
            }
        }
    }
    EXPECT_GT(red, 0);
    EXPECT_GT(empty, 0);   // the swath's ragged ends
    // Fire ticks: the fire lies right of the track, in the third or fourth quarter.
    bool tick = false;
    for (int y = 0; y < ortho.height(); ++y)
        tick |= ortho.pixelIndex(1645, y) == 254 || ortho.pixelIndex(1660, y) == 254;
    EXPECT_TRUE(tick);
    // Empty cells are dark grey in the colour image.
    bool grey = false;
    for (int y = 0; y < color.height() && !grey; ++y)
        for (int x = 33; x < 1633 && !grey; ++x)
            grey = ortho.pixelIndex(x, y) == 100 && color.pixel(x, y) == qRgb(100, 100, 100);
    EXPECT_TRUE(grey);

    if (testsupport::haveTool(QStringLiteral("gdalinfo"))) {
        for (const QString &suffix : {QStringLiteral("_ortho"), QStringLiteral("_color"), QStringLiteral("_fire")}) {
            const auto res = testsupport::run(QStringLiteral("gdalinfo"),
                                              {run.folder + QLatin1Char('/') + b + suffix + QStringLiteral(".tif")});
            EXPECT_EQ(res.exitCode, 0) << res.err.toStdString();
            EXPECT_TRUE(res.out.contains(QStringLiteral("Transverse Mercator"))
                        || res.out.contains(QStringLiteral("Transverse_Mercator"))) << res.out.toStdString();
            EXPECT_TRUE(res.out.contains(QStringLiteral("central_meridian\",-121"))
                        || res.out.contains(QStringLiteral("\"Longitude of natural origin\",-121")))
                << res.out.toStdString();
        }
    }
    if (testsupport::haveTool(QStringLiteral("tiffinfo"))) {
        const auto res = testsupport::run(QStringLiteral("tiffinfo"), {run.folder + QLatin1Char('/') + b + QStringLiteral("_fire.tif")});
        EXPECT_EQ(res.exitCode, 0);
        EXPECT_TRUE(res.out.contains(QStringLiteral("Orthorectified Infrared Strip Chart Image"))) << res.out.toStdString();
    }
}

TEST(OrthoRun, MissingElevationOrUnwritableFolderProduceNothing)
{
    const QString dir = testsupport::workDir() + QStringLiteral("/noelev");
    QDir().mkpath(dir);
    const QString log = dir + QStringLiteral("/20240715_1432_Demo_2.plf");
    ASSERT_TRUE(writePlainLog(log, 20));
    EXPECT_EQ(rectify(log).outcome, CRectifiedStripChart::NoElevation);
    EXPECT_EQ(filesIn(dir), QStringList{QStringLiteral("20240715_1432_Demo_2.plf")});

    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(shortRun(QStringLiteral("nofolder"), 40), &run, &error)) << error.toStdString();
    EXPECT_EQ(rectify(run.log, run.folder + QStringLiteral("/missing/folder")).outcome,
              CRectifiedStripChart::NoTemporaryFiles);
}

TEST(OrthoRun, EmptyLogAndGroundedAircraftLeaveNoTemporaries)
{
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(shortRun(QStringLiteral("empty"), 40), &run, &error)) << error.toStdString();
    // An empty log beside the same elevation raster.
    const QString empty = run.folder + QStringLiteral("/20240715_1432_Demo_5.plf");
    QFile f(empty);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(rectify(empty).outcome, CRectifiedStripChart::NoLines);
    // A log recorded on the ground (altitude below the terrain).
    const QString grounded = run.folder + QStringLiteral("/20240715_1432_Demo_6.plf");
    ASSERT_TRUE(writePlainLog(grounded, 30, [](int, ScanLineRec &r) { r.altitude = 50000; }));
    EXPECT_EQ(rectify(grounded).outcome, CRectifiedStripChart::NoHeight);
    for (const QString &name : filesIn(run.folder)) {
        EXPECT_FALSE(name.startsWith(QStringLiteral("20240715_1432_Demo_5_"))) << name.toStdString();
        EXPECT_FALSE(name.startsWith(QStringLiteral("20240715_1432_Demo_6_"))) << name.toStdString();
    }
}

TEST(OrthoRun, CancelLeavesTheTemporaryFilesAndNoFinalFiles)
{
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(shortRun(QStringLiteral("cancel"), 600), &run, &error)) << error.toStdString();
    const Rectified r = rectify(run.log, QString(), true);
    EXPECT_EQ(r.outcome, CRectifiedStripChart::Cancelled);
    const QStringList files = filesIn(run.folder);
    EXPECT_TRUE(files.contains(run.base + QStringLiteral("_ortho.tmp")));
    EXPECT_TRUE(files.contains(run.base + QStringLiteral("_color.tmp")));
    for (const QString &name : files)
        EXPECT_FALSE(name.endsWith(QStringLiteral(".tif")) || name.endsWith(QStringLiteral(".jpg"))) << name.toStdString();
}

TEST(OrthoRun, SkipBadLinesDropsShortScanPeriodsOnly)
{
    RunRecipe recipe = shortRun(QStringLiteral("skip"), 60);
    recipe.edit = [](int line, ScanLineRec &r) { r.scanPeriod = line % 3 == 0 ? 4749 : (line % 3 == 1 ? 4750 : 5000); };
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(recipe, &run, &error)) << error.toStdString();
    EXPECT_EQ(rectify(run.log).linesProcessed, 60);
    QSettings().setValue(QStringLiteral("LastUsed/SkipBadLines"), 1);
    EXPECT_EQ(rectify(run.log).linesProcessed, 40);
    QSettings().remove(QStringLiteral("LastUsed/SkipBadLines"));
}

TEST(OrthoRun, LongRunScrollsTheGridWithoutLosingRows)
{
    SimRun run;
    QString error;
    RunRecipe recipe = shortRun(QStringLiteral("long"), 2000);
    recipe.pass.lineRateHz = 25.0;   // 3 m between lines
    recipe.fireOffsets = {{200, 0}, {4500, -300}};
    ASSERT_TRUE(makeRun(recipe, &run, &error)) << error.toStdString();
    ColdCurve curve;
    CCindrelDspLog source(&curve);
    source.OnFileOpen(run.log);
    CRectifiedStripChart rect(&source);
    rect.SetOutputDirectory(run.folder);
    rect.Process();
    ASSERT_EQ(rect.GetOutcome(), CRectifiedStripChart::Produced);
    EXPECT_GE(rect.Scrolls(), 1);
    const QImage ortho(run.folder + QLatin1Char('/') + run.base + QStringLiteral("_ortho.tif"));
    ASSERT_FALSE(ortho.isNull());
    // The image is as long as the run on the ground (about 2600 lines of
    // 1.87 m at nadir) and has no row without data in its middle.
    const double length = ortho.height() * rect.CellSize();
    EXPECT_GT(length, 2000 * 3.0 * 0.9);
    EXPECT_LT(length, 2000 * 3.0 * 1.1);
    for (int y = 60; y < ortho.height() - 60; ++y) {
        int filled = 0;
        for (int x = 33; x < 1633; ++x)
            filled += ortho.pixelIndex(x, y) != 100;
        EXPECT_GT(filled, 1200) << "row " << y;
    }
    // Both fires, on either side of the scroll.
    int red = 0;
    for (int y = 0; y < ortho.height(); ++y)
        for (int x = 33; x < 1633; ++x)
            red += ortho.pixelIndex(x, y) == 255;
    EXPECT_GT(red, 1);
}

TEST(OrthoRun, ALineFarAheadOfTheRunNeverReachesOutsideTheGrid)
{
    // One sane but wrong position 0.2 degrees ahead (east) of an eastbound
    // run: its samples fall thousands of rows before the grid's first row.
    RunRecipe recipe = shortRun(QStringLiteral("glitch"), 200);
    recipe.edit = [](int line, ScanLineRec &r) {
        if (line == 150)
            r.longitude += std::int32_t(0.2 * 3600000.0);
    };
    SimRun run;
    QString error;
    ASSERT_TRUE(makeRun(recipe, &run, &error)) << error.toStdString();
    ColdCurve curve;
    CCindrelDspLog source(&curve);
    source.OnFileOpen(run.log);
    CRectifiedStripChart rect(&source);
    rect.SetOutputDirectory(run.folder);
    rect.Process();
    ASSERT_EQ(rect.GetOutcome(), CRectifiedStripChart::Produced);
    EXPECT_GE(rect.LastConvertedRow(), 0);
    const QImage ortho(run.folder + QLatin1Char('/') + run.base + QStringLiteral("_ortho.tif"));
    ASSERT_FALSE(ortho.isNull());
    // The lines before the jump are all there (150 lines of about 1.9 m).
    EXPECT_GT(ortho.height() * rect.CellSize(), 150 * 1.7);
}

// With a second thread lines are traced ahead; the products are the same
// byte for byte as with one. The run's swath leaves the path's raster
// (the raster is widened between the passes).
TEST(OrthoRun, TwoThreadsMakeTheSameProductsAsOne)
{
    SimRun run;
    QString error;
    RunRecipe recipe = shortRun(QStringLiteral("threads"), 400);
    double pitLat = 0.0, pitLon = 0.0;
    recipe.edit = [&](int line, ScanLineRec &r) {
        if (line == 300) {
            pitLat = milliArcSecToDeg(r.latitude);
            pitLon = milliArcSecToDeg(r.longitude);
        }
    };
    ASSERT_TRUE(makeRun(recipe, &run, &error)) << error.toStdString();
    // Both runs start from the path's raster (the first widens it in place).
    const QString raster = run.folder + QStringLiteral("/20240715_1432_Demo");
    const QStringList trio{QStringLiteral(".hdr"), QStringLiteral(".blw"), QStringLiteral(".bil")};
    for (const QString &ext : trio)
        ASSERT_TRUE(QFile::copy(raster + ext, raster + QStringLiteral("_path") + ext));
    // A pit under the middle of the swath in the DEM tile the widened raster
    // is cut from (not in the path's raster): lines traced ahead before the
    // main pass reaches it fell back on a lowest terrain that it lowers, so
    // they are traced again. The tile is put back afterwards.
    QString tile;
    QByteArray tileBytes;
    for (int index = 1; index < 10 && tile.isEmpty(); ++index) {
        const QString path = cindrel::mapCDrivePath(QStringLiteral("C:\\demdata\\cd%1\\demimage").arg(index, 2, 10, QLatin1Char('0')));
        CBil dem;
        if (!dem.Open(path) || pitLon < dem.GetLeft() || pitLon > dem.GetRight() || pitLat < dem.GetBottom()
            || pitLat > dem.GetTop())
            continue;
        double column = 0.0, row = 0.0;
        dem.GeoToPixel(pitLon, pitLat, &column, &row);
        const qint64 rowBytes = dem.GetTotalRowBytes();
        const bool big = dem.GetByteOrder() == 0;   // "M"
        dem.Release();
        tile = path;
        QFile bil(CBil::BaseName(path) + QStringLiteral(".bil"));
        ASSERT_TRUE(bil.open(QIODevice::ReadWrite));
        tileBytes = bil.readAll();
        QByteArray pitted = tileBytes;
        for (int r = int(row) - 3; r <= int(row) + 3; ++r)
            for (int c = int(column) - 3; c <= int(column) + 3; ++c) {
                uchar *p = reinterpret_cast<uchar *>(pitted.data() + r * rowBytes + c * 2);
                if (big)
                    qToBigEndian<qint16>(qint16(qFromBigEndian<qint16>(p) - 600), p);
                else
                    qToLittleEndian<qint16>(qint16(qFromLittleEndian<qint16>(p) - 600), p);
            }
        ASSERT_TRUE(bil.seek(0) && bil.write(pitted) == pitted.size());
    }
    ASSERT_FALSE(tile.isEmpty());
    struct PutBack {
        QString path;
        QByteArray bytes;
        ~PutBack()
        {
            QFile f(CBil::BaseName(path) + QStringLiteral(".bil"));
            if (f.open(QIODevice::WriteOnly))
                f.write(bytes);
        }
    } putBack{tile, tileBytes};
    QMap<int, QMap<QString, QString>> products;
    QMap<int, QVector<double>> boxes;
    QMap<int, int> tracedAhead;
    // 3: two threads, the second let in only from the second block of lines on.
    QList<bool> asked;
    for (int variant : {1, 2, 3}) {
        const int threads = std::min(variant, 2);
        for (const QString &ext : trio) {
            QFile::remove(raster + ext);
            ASSERT_TRUE(QFile::copy(raster + QStringLiteral("_path") + ext, raster + ext));
        }
        const QString out = run.folder + QStringLiteral("/threads%1").arg(variant);
        ASSERT_TRUE(QDir().mkpath(out));
        ColdCurve curve;
        CCindrelDspLog source(&curve);
        source.OnFileOpen(run.log);
        CRectifiedStripChart rect(&source);
        rect.SetThreads(threads);
        EXPECT_EQ(rect.Threads(), threads);
        if (variant == 3)
            rect.SetSecondThreadGate([&asked](bool want) {
                asked << want;
                return want && asked.size() > 1;
            });
        rect.SetOutputDirectory(out);
        rect.Process();
        ASSERT_EQ(rect.GetOutcome(), CRectifiedStripChart::Produced);
        QVector<double> box(4);
        rect.GetBoundingBox(&box[0], &box[1], &box[2], &box[3]);
        boxes[variant] = box;
        tracedAhead[variant] = rect.LinesTracedAhead();
        for (const QString &path : rect.Products()) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            // The files name the time they were made.
            products[variant][QFileInfo(path).fileName()] = QString::fromLatin1(f.readAll()).replace(
                QRegularExpression(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")), QStringLiteral("(time)"));
        }
    }
    EXPECT_EQ(products[1].size(), 6);
    EXPECT_EQ(asked, (QList<bool>{true, true, false}));
    // One thread traces every line as it comes. Two trace ahead, the gated
    // run only once its second thread was let in (after 256 lines); the
    // lines after the pit's first samples that were traced before them are
    // traced again.
    EXPECT_EQ(tracedAhead[1], 0);
    EXPECT_GT(tracedAhead[2], 200);
    EXPECT_LT(tracedAhead[2], 400);
    EXPECT_LE(tracedAhead[3], 400 - 256);
    for (int variant : {2, 3}) {
        EXPECT_EQ(boxes[1], boxes[variant]) << variant;
        EXPECT_EQ(products[1].keys(), products[variant].keys());
        for (const QString &name : products[1].keys())
            EXPECT_TRUE(products[1][name] == products[variant][name]) << variant << " " << name.toStdString();
    }
}
