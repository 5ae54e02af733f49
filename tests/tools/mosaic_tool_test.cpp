// cindrel mosaic on real ortho products: simulate, extract-dem,
// orthorectify, then the mosaic with the simulated GeoData lines over it.
#include "common/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

using testsupport::run;

TEST(MosaicToolTest, MosaicOfRealOrthoProductsWithMapLines)
{
    const QString tool = testsupport::toolPath();
    const QString d = testsupport::workDir() + QStringLiteral("/mosaicdemo");
    auto r = run(tool, {QStringLiteral("simulate"), QStringLiteral("--out"), d, QStringLiteral("--region"),
                        QStringLiteral("0.1"), QStringLiteral("--passes"), QStringLiteral("1"),
                        QStringLiteral("--lines"), QStringLiteral("400"), QStringLiteral("--smoke"),
                        QStringLiteral("0")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString logDir = d + QStringLiteral("/c-drive/CindrelData");
    const QStringList logs = QDir(logDir).entryList({QStringLiteral("*.plf")}, QDir::Files, QDir::Name);
    ASSERT_EQ(logs.size(), 1);
    const QString log = logDir + QLatin1Char('/') + logs.first();
    const QString base = QFileInfo(log).completeBaseName();
    const QString mission = base.left(base.lastIndexOf(QLatin1Char('_')));

    const QByteArray savedDrive = qgetenv("CINDREL_C_DRIVE");
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(d + QStringLiteral("/c-drive")));
    const auto none = run(tool, {QStringLiteral("mosaic"), log}, 120000, d);
    const auto cut = run(tool, {QStringLiteral("extract-dem"), QStringLiteral("-121.56"), QStringLiteral("44.56"),
                                QStringLiteral("-121.44"), QStringLiteral("44.44"), logDir + QLatin1Char('/') + mission},
                         120000, d);
    const auto ortho = run(tool, {QStringLiteral("orthorectify"), log, QStringLiteral("--quiet")}, 120000, d);
    const auto withMap = run(tool, {QStringLiteral("mosaic"), log}, 120000, d);
    const QImage mapped(logDir + QLatin1Char('/') + mission + QStringLiteral("_mosaic.jpg"));
    // Without the map data (another working folder) no line is drawn.
    const auto plain = run(tool, {QStringLiteral("mosaic"), log}, 120000, logDir);
    qputenv("CINDREL_C_DRIVE", savedDrive);

    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.err.contains(QLatin1String("no ortho images"))) << none.err.toStdString();
    ASSERT_EQ(cut.exitCode, 0) << cut.err.toStdString();
    ASSERT_EQ(ortho.exitCode, 0) << ortho.err.toStdString();
    ASSERT_EQ(withMap.exitCode, 0) << withMap.err.toStdString();
    ASSERT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    EXPECT_TRUE(withMap.out.contains(QLatin1String("_mosaic.jpg"))) << withMap.out.toStdString();
    ASSERT_FALSE(mapped.isNull());
    const QImage unmapped(logDir + QLatin1Char('/') + mission + QStringLiteral("_mosaic.jpg"));
    ASSERT_FALSE(unmapped.isNull());
    EXPECT_EQ(mapped.size(), unmapped.size());
    EXPECT_GT(mapped.width(), 100);   // 25.4 m cells over the pass

    // Strongly coloured, non-red pixels come only from the map lines.
    auto coloured = [](const QImage &img) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if ((c.green() > c.red() + 80) || (c.blue() > c.red() + 80))
                    ++n;
            }
        return n;
    };
    EXPECT_EQ(coloured(unmapped), 0);
    EXPECT_GT(coloured(mapped), 0);

    // The heat points: one per fire pixel of the ortho image, all of this pass.
    const QString pass = base.mid(base.lastIndexOf(QLatin1Char('_')) + 1);
    if (testsupport::haveTool(QStringLiteral("ogrinfo"))) {
        const auto info = run(QStringLiteral("ogrinfo"),
                              {QStringLiteral("-al"), logDir + QLatin1Char('/') + mission
                                                          + QStringLiteral("_RawHeatData.shp")});
        EXPECT_EQ(info.exitCode, 0) << info.err.toStdString();
        EXPECT_TRUE(info.out.contains(QLatin1String("Geometry: Point")));
        const int features = info.out.count(QLatin1String("OGRFeature("));
        EXPECT_GT(features, 0) << info.out.left(2000).toStdString();
        EXPECT_EQ(info.out.count(QStringLiteral("Pass (String) = %1").arg(pass)), features);
        EXPECT_TRUE(info.out.contains(QLatin1String("POINT (-121."))) << info.out.left(2000).toStdString();
    }
}
