// The strip chart files: TIFF tags by the speed rule, checked with tiffinfo
// and gdalinfo, the JPEG copy, logos, and runs that must leave no file.
#include "stripchart/cstripchartimagery.h"
#include "stripchart/standalonepassservices.h"
#include "datasource/cutmconverter.h"
#include "geodata/cbil.h"
#include "platform/notice.h"
#include "stripfixtures.h"
#include "common/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <memory>

using stripfix::countValue;

namespace {

struct FileRun {
    explicit FileRun(const QString &name, double heading = 30.0) : heading(heading)
    {
        dir = testsupport::workDir() + QStringLiteral("/") + name;
        QDir().mkpath(dir);
        svc.pathPrefix = dir + QStringLiteral("/20240715_1432_Fire12");
        svc.missionName = QStringLiteral("Fire 12");
        svc.tailNumber = QStringLiteral("N123AB");
        svc.techName = QStringLiteral("Kim");
        svc.converter.LatLonToUtm(45.0, -120.5, &n0, &e0, &zone, 2);
        chart = std::make_unique<CStripChartImagery>(&svc);
    }
    void fly(int lines, bool map)
    {
        svc.mapMode = map;
        chart->SetMapMode(map);
        const double h = heading * M_PI / 180.0;
        for (int k = 0; k < lines; ++k) {
            double lat, lon;
            svc.converter.UtmToLatLon(n0 + k * std::cos(h), e0 + k * std::sin(h), zone, &lat, &lon, 2);
            ScanLineRec l = stripfix::makeLine(lat, lon, 1000.0, 60.0, heading, std::uint32_t(k));
            std::memset(l.pix, 40 + k % 100, sizeof l.pix);
            chart->AddLine(l, k % 2 == 0);
        }
    }
    // Ends the run and deletes the builder; returns the final path.
    QString finish()
    {
        chart->FinishRun();
        const QString path = chart->FinalPath();
        chart.reset();
        return path;
    }

    double heading;
    QString dir;
    double e0 = 0, n0 = 0;
    std::int32_t zone = 0;
    stripfix::FakeSource source;
    StandalonePassServices svc{&source};
    std::unique_ptr<CStripChartImagery> chart;
};

QJsonObject gdalJson(const QString &path)
{
    const auto r = testsupport::run(QStringLiteral("gdalinfo"), {QStringLiteral("-json"), path});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

TEST(StripFileTest, FastMapRunIsAGeoTiffWhoseCornersMatchTheGrid)
{
    FileRun run(QStringLiteral("fast"));
    run.fly(700, true);
    run.chart->FinishRun();
    // The newest line's grid row and the grid's georeference at the end.
    const int newestRow = run.chart->WriteRow() + 1;
    double gx0, gy0, gx1, gy1;
    run.chart->Grid()->PixelToGeo(0.0, newestRow, &gx0, &gy0);
    run.chart->Grid()->PixelToGeo(1600.0, newestRow + 1, &gx1, &gy1);
    const QString tif = run.finish();
    EXPECT_EQ(QDir::fromNativeSeparators(tif), run.dir + QStringLiteral("/20240715_1432_Fire12_1.tif"));
    ASSERT_TRUE(QFile::exists(tif));
    EXPECT_FALSE(QFile::exists(run.dir + QStringLiteral("/20240715_1432_Fire12_1.tmp")));

    const stripfix::TiffFile t = stripfix::readTiff(tif);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.entries.size(), 20);
    EXPECT_EQ(t.text(270), QByteArray("Infrared strip chart image for mission: Fire 12  run: 1", 56));
    EXPECT_EQ(t.text(306), QByteArray("15-July-2024 14:32:00", 22));
    EXPECT_EQ(t.entries.value(262).value, 3u);
    // Central meridian of the run's UTM zone (no meridian fixed).
    const QVector<double> params = t.doubles(34736);
    ASSERT_EQ(params.size(), 5);
    EXPECT_DOUBLE_EQ(params[0], -123.0 + 6.0 * (run.zone - 10));
    EXPECT_DOUBLE_EQ(params[2], 500000.0);

    if (testsupport::haveTool(QStringLiteral("tiffinfo"))) {
        const auto r = testsupport::run(QStringLiteral("tiffinfo"), {tif});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_FALSE(r.err.contains(QStringLiteral("Error"), Qt::CaseInsensitive)) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Image Width: 1728")));
        EXPECT_TRUE(r.out.contains(QStringLiteral("Rows/Strip: 10")));
    }
    if (!testsupport::haveTool(QStringLiteral("gdalinfo")))
        GTEST_SKIP() << "gdalinfo not installed";
    const QJsonObject info = gdalJson(tif);
    const QJsonArray gt = info.value(QStringLiteral("geoTransform")).toArray();
    ASSERT_EQ(gt.size(), 6);
    EXPECT_TRUE(info.value(QStringLiteral("coordinateSystem")).toObject().value(QStringLiteral("wkt"))
                    .toString().contains(QStringLiteral("Transverse_Mercator"), Qt::CaseInsensitive) ||
                info.value(QStringLiteral("coordinateSystem")).toObject().value(QStringLiteral("wkt"))
                    .toString().contains(QStringLiteral("Transverse Mercator"), Qt::CaseInsensitive));
    auto geo = [&](double px, double py, double *x, double *y) {
        *x = gt[0].toDouble() + px * gt[1].toDouble() + py * gt[2].toDouble();
        *y = gt[3].toDouble() + px * gt[4].toDouble() + py * gt[5].toDouble();
    };
    // From the top: END RUN (60), scale line (60) and end bar (59), then
    // the newest line.
    const int top = 60 + 60 + 59;
    double x, y;
    geo(33.0, top, &x, &y);
    EXPECT_NEAR(x, gx0, 0.01);
    EXPECT_NEAR(y, gy0, 0.01);
    geo(33.0 + 1600.0, top + 1, &x, &y);
    EXPECT_NEAR(x, gx1, 0.01);
    EXPECT_NEAR(y, gy1, 0.01);

    // The JPEG copy: same size, in "jpeg" beside the TIFF.
    const QString jpg = run.dir + QStringLiteral("/jpeg/20240715_1432_Fire12_1.jpg");
    ASSERT_TRUE(QFile::exists(jpg));
    EXPECT_EQ(QImageReader(jpg).size(), QSize(1728, t.rows));
    EXPECT_EQ(QImageReader(jpg).format(), QByteArray("jpeg"));
}

TEST(StripFileTest, SlowRunOrPlainRunHasNoGeoreference)
{
    // Not above 10 m/s when the trailer is written; or rows of scan lines
    // (plain mode), which have no ground scale along the track.
    for (const bool slow : {true, false}) {
        SCOPED_TRACE(slow ? "slow map run" : "fast plain run");
        FileRun run(slow ? QStringLiteral("slowfile") : QStringLiteral("plainfile"));
        if (slow)
            run.source.speed = 10.0f;
        run.fly(150, slow);
        const QString tif = run.finish();
        const stripfix::TiffFile t = stripfix::readTiff(tif);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(t.entries.size(), 17);
        EXPECT_FALSE(t.entries.contains(34264));
        EXPECT_FALSE(t.entries.contains(34735));
        EXPECT_FALSE(t.entries.contains(34736));
        // The copyright ends with the start year; every text keeps its NUL.
        const QByteArray copyright = t.text(33432);
        EXPECT_TRUE(copyright.endsWith(QByteArray("2024", 5)));
        if (testsupport::haveTool(QStringLiteral("gdalinfo"))) {
            const QJsonObject info = gdalJson(tif);
            EXPECT_FALSE(info.contains(QStringLiteral("geoTransform")));
    }
    if (testsupport::haveTool(QStringLiteral("tiffinfo"))) {
        const auto r = testsupport::run(QStringLiteral("tiffinfo"), {tif});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_FALSE(r.err.contains(QStringLiteral("Error"), Qt::CaseInsensitive)) << r.err.toStdString();
    }
    }
}

TEST(StripFileTest, MapRunCarriesLogosFooterAndScaleLine)
{
    // Two logos in the working directory: 100 x 30 and 200 x 50, dark grey.
    QImage logo1(100, 30, QImage::Format_Grayscale8);
    logo1.fill(40);
    QImage logo2(200, 50, QImage::Format_Grayscale8);
    logo2.fill(40);
    ASSERT_TRUE(logo1.save(QStringLiteral("NewOrvekLogoJetGray.bmp")));
    ASSERT_TRUE(logo2.save(QStringLiteral("CindrelTransparentLogoGrayDark.bmp")));
    FileRun run(QStringLiteral("maplogo"));
    run.fly(400, true);
    const QString tif = run.finish();
    QFile::remove(QStringLiteral("NewOrvekLogoJetGray.bmp"));
    QFile::remove(QStringLiteral("CindrelTransparentLogoGrayDark.bmp"));
    const stripfix::TiffFile t = stripfix::readTiff(tif);
    ASSERT_TRUE(t.ok);
    // From the top: END RUN, scale line, logos (50 rows), footer, end bar.
    const int logosTop = 60 + 60;
    const int g = (1728 - 300) / 3;
    for (int r = 0; r < 50; ++r) {
        const std::uint8_t *row = t.row(logosTop + r);
        EXPECT_EQ(countValue(row, g, g + 100, 215), r < 30 ? 100 : 0) << r;
        EXPECT_EQ(countValue(row, 100 + 2 * g, 300 + 2 * g, 215), 200) << r;
        EXPECT_EQ(countValue(row, 0, g, 0), g) << r;
    }
    // The footer and both texts above it hold ink; the end bar follows.
    EXPECT_GT(countValue(t.row(logosTop + 50 + 30), 1500, 1728, 254) +
                  countValue(t.row(logosTop + 50 + 33), 1500, 1728, 254), 0);
    EXPECT_EQ(countValue(t.row(logosTop + 50 + 60 + 14), 0, 1728, 254), 1728);   // end bar's solid row
    int scaleInk = 0;
    for (int r = 60; r < 120; ++r)
        scaleInk += countValue(t.row(r), 864, 1728, 254);
    EXPECT_GT(scaleInk, 100);
}

TEST(StripFileTest, UnwritableFolderLeavesNoFile)
{
    FileRun run(QStringLiteral("nowrite"));
    run.svc.pathPrefix = run.dir + QStringLiteral("/missing/folder/x");
    run.fly(200, false);
    EXPECT_EQ(run.chart->RowsWritten(), 0);
    EXPECT_EQ(run.chart->RunNumber(), 1);   // the run itself goes on
    EXPECT_TRUE(run.svc.records.boxA.HasGrown());
    const QString tif = run.finish();
    EXPECT_FALSE(QFile::exists(tif));
    EXPECT_TRUE(QDir(run.dir).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
}

TEST(StripFileTest, GridAllocationFailureAbortsWithoutAFile)
{
    Notice::clearRecords();
    FileRun run(QStringLiteral("noalloc"));
    CStripChartImagery::FailNextGridAllocation(true);
    run.fly(300, false);
    ASSERT_EQ(Notice::count(), 1);
    EXPECT_EQ(Notice::last().kind, Notice::Kind::Critical);
    EXPECT_EQ(Notice::last().title, QStringLiteral("StripChart ERROR"));
    EXPECT_EQ(Notice::last().text,
              QStringLiteral("Unable to allocate memory for strip chart grid.\nCannot continue this run."));
    EXPECT_TRUE(run.chart->IsAborted());
    // Lines are still taken: the footprint keeps growing.
    EXPECT_TRUE(run.svc.records.boxB.HasGrown());
    const QString tif = run.finish();
    EXPECT_FALSE(QFile::exists(tif));
    EXPECT_TRUE(QDir(run.dir).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(QDir(run.dir + QStringLiteral("/jpeg")).exists());
}

TEST(StripFileTest, DeletingWithoutFinishRunKeepsEveryLine)
{
    FileRun run(QStringLiteral("nofinish"));
    run.fly(50, false);
    const QString tif = run.chart->FinalPath();
    run.chart.reset();
    const stripfix::TiffFile t = stripfix::readTiff(tif);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.rows, 119 + 160 + 119);   // 50 lines and the rest of the first label block
}

} // namespace
