// BIL trios checked against GDAL's EHdr driver, both ways (the driver has
// no 64-bit samples, so Float64 is checked by our own round trip only).
#include "geodata/cbil.h"
#include "common/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString here(const QString &n)
{
    return QDir::currentPath() + QLatin1Char('/') + n;
}

// Sample values of band 1 in row order, through GDAL's XYZ writer.
QVector<double> gdalValues(const QString &bil)
{
    const QString xyz = bil + QStringLiteral(".xyz");
    const auto r = testsupport::run(QStringLiteral("gdal_translate"),
                                    {QStringLiteral("-q"), QStringLiteral("-of"), QStringLiteral("XYZ"),
                                     bil, xyz});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QVector<double> out;
    QFile f(xyz);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() == 3)
            out.append(parts[2].toDouble());
    }
    return out;
}

QJsonObject gdalInfo(const QString &path)
{
    const auto r = testsupport::run(QStringLiteral("gdalinfo"), {QStringLiteral("-json"), path});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

} // namespace

TEST(BilWithGdal, GdalReadsWhatWeWrite)
{
    if (!testsupport::haveTool(QStringLiteral("gdalinfo")))
        GTEST_SKIP() << "gdalinfo not installed";
    const struct {
        int type;
        int order;
        QStringList gdalTypes;
    } cases[] = {
        {Int16, 0, {"Int16"}},
        {Int16, 1, {"Int16"}},
        {Float32, 1, {"Float32"}},
        {Float32, 0, {"Float32"}},
        {Int8, 1, {"Int8", "Byte"}},
        {UInt16, 0, {"UInt16"}},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(testing::Message() << "type " << k.type << " order " << k.order);
        const QString name = here(QStringLiteral("ours_%1_%2").arg(k.type).arg(k.order));
        CBil b;
        b.SetDimensions(5, 3, 1, k.type);
        b.SetGeoReference(0.25, 0.5, 0, 0, -121.125, 46.75, 0, 0.0, 1);
        b.SetByteOrder(k.order);
        ASSERT_TRUE(b.Allocate());
        QVector<double> expected;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 5; ++c) {
                const double v = k.type == Int8 ? 10 * r + c : (k.type == UInt16 ? 40000 + r * 7 + c : -300 + 100.5 * r + c);
                const double stored = (k.type == Int16) ? double(qint16(v)) : v;
                expected.append(k.type == Float32 || k.type == Float64 ? v : std::trunc(stored));
                // Store in the raster's byte order.
                unsigned char bytes[8];
                int n = b.GetBytesPerSample();
                switch (k.type) {
                case Int16: { qint16 x = qint16(v); std::memcpy(bytes, &x, 2); break; }
                case UInt16: { quint16 x = quint16(v); std::memcpy(bytes, &x, 2); break; }
                case Float32: { float x = float(v); std::memcpy(bytes, &x, 4); break; }
                case Float64: std::memcpy(bytes, &v, 8); break;
                case Int8: bytes[0] = uchar(qint8(v)); break;
                }
                if (k.order == 0)
                    std::reverse(bytes, bytes + n);   // host is little-endian
                std::memcpy(b.MutableData() + (r * 5 + c) * n, bytes, size_t(n));
            }
        ASSERT_TRUE(b.Write(name));

        const QJsonObject info = gdalInfo(name + ".bil");
        EXPECT_EQ(info.value("driverShortName").toString(), QStringLiteral("EHdr"));
        const QJsonArray size = info.value("size").toArray();
        ASSERT_EQ(size.size(), 2);
        EXPECT_EQ(size[0].toInt(), 5);
        EXPECT_EQ(size[1].toInt(), 3);
        const QJsonArray bands = info.value("bands").toArray();
        ASSERT_EQ(bands.size(), 1);
        EXPECT_TRUE(k.gdalTypes.contains(bands[0].toObject().value("type").toString()))
            << bands[0].toObject().value("type").toString().toStdString();
        const QJsonArray gt = info.value("geoTransform").toArray();
        ASSERT_EQ(gt.size(), 6);
        EXPECT_DOUBLE_EQ(gt[0].toDouble(), -121.25);
        EXPECT_DOUBLE_EQ(gt[1].toDouble(), 0.25);
        EXPECT_DOUBLE_EQ(gt[2].toDouble(), 0.0);
        EXPECT_DOUBLE_EQ(gt[3].toDouble(), 47.0);
        EXPECT_DOUBLE_EQ(gt[5].toDouble(), -0.5);

        const QVector<double> got = gdalValues(name + ".bil");
        ASSERT_EQ(got.size(), expected.size());
        for (int i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], expected[i], 1e-3) << "sample " << i;
    }
}

TEST(BilWithGdal, WeReadWhatGdalWrites)
{
    if (!testsupport::haveTool(QStringLiteral("gdal_translate")))
        GTEST_SKIP() << "gdal_translate not installed";
    const QString asc = here(QStringLiteral("src.asc"));
    {
        QFile f(asc);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("ncols 4\nnrows 3\nxllcorner -150.5\nyllcorner 60.25\ncellsize 0.125\n"
                "1 2 3 4\n-5 6 7 120\n9 10 -11 0.75\n");
    }
    const double values[12] = {1, 2, 3, 4, -5, 6, 7, 120, 9, 10, -11, 0.75};
    const struct {
        const char *ot;
        int type;
        bool integer;
    } cases[] = {{"Int16", Int16, true}, {"Float32", Float32, false}};
    for (const auto &k : cases) {
        SCOPED_TRACE(k.ot);
        const QString bil = here(QStringLiteral("gdal_%1.bil").arg(QLatin1String(k.ot)));
        const auto r = testsupport::run(QStringLiteral("gdal_translate"),
                                        {"-q", "-of", "EHdr", "-ot", QLatin1String(k.ot), asc, bil});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        CBil b;
        ASSERT_TRUE(b.Open(bil));
        EXPECT_EQ(b.GetNCols(), 4);
        EXPECT_EQ(b.GetNRows(), 3);
        EXPECT_EQ(b.GetPixelType(), k.type);
        EXPECT_DOUBLE_EQ(b.GetLeft(), -150.5);
        EXPECT_DOUBLE_EQ(b.GetTop(), 60.625);
        EXPECT_DOUBLE_EQ(b.GetXDim(), 0.125);
        for (int i = 0; i < 12; ++i) {
            double v = 0;
            ASSERT_TRUE(b.GetValue(i % 4, i / 4, 0, &v));
            if (k.integer && i == 11)
                continue;   // 0.75 is rounded by GDAL's conversion
            EXPECT_DOUBLE_EQ(v, values[i]) << i;
        }
        // Samples stand at their cell centres, where GDAL reads them too:
        // at the centre of cell (2, 1) its own sample, midway between the
        // centres of cells (1, 1) and (2, 2) the mean of four.
        double v = 0;
        ASSERT_TRUE(b.Interpolate(-150.1875, 60.4375, 0, &v));
        EXPECT_DOUBLE_EQ(v, 7);
        const auto at = testsupport::run(QStringLiteral("gdallocationinfo"),
                                         {"-valonly", "-geoloc", bil, "-150.1875", "60.4375"});
        ASSERT_EQ(at.exitCode, 0) << at.err.toStdString();
        EXPECT_EQ(at.out.trimmed().toDouble(), 7);
        ASSERT_TRUE(b.Interpolate(-150.25, 60.375, 0, &v));
        EXPECT_DOUBLE_EQ(v, (6 + 7 + 10 - 11) / 4.0);
    }
}
