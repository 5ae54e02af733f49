#include "geodata/cbil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;

void writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

void writeBytes(const QString &path, qint64 n, char fill = 0)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(int(n), fill));
}

// A 4 x 3 Int16 raster with sample value 100*row + col, rows run down,
// cell 2 x 3 map units, first cell centre at (11, 29).
void makeSmall(CBil &b, int byteOrder = 0)
{
    b.SetDimensions(4, 3, 1, Int16);
    b.SetGeoReference(2.0, 3.0, 0, 0, 11.0, 29.0, 0, 0.0, 1);
    b.SetByteOrder(byteOrder);
    ASSERT_TRUE(b.Allocate());
    unsigned char *d = b.MutableData();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) {
            const qint16 v = qint16(100 * r + c);
            unsigned char *p = d + (r * 4 + c) * 2;
            if (byteOrder == 0) {
                p[0] = uchar(quint16(v) >> 8);
                p[1] = uchar(v & 0xff);
            } else {
                p[0] = uchar(v & 0xff);
                p[1] = uchar(quint16(v) >> 8);
            }
        }
}

QString dataName(const char *n)
{
    return QDir::currentPath() + QLatin1Char('/') + QLatin1String(n);
}

} // namespace

// ------------------------------------------------------------ header rules

TEST(BilHeaderRead, NbitsSelectsTypeAndRejectsOddSizes)
{
    const QString n = dataName("nbits");
    writeBytes(n + ".bil", 64);
    CBil b;
    writeText(n + ".hdr", "NCOLS 2\nNROWS 2\nNBITS 12\n");
    EXPECT_FALSE(b.Open(n));
    EXPECT_EQ(b.Data(), nullptr);

    writeText(n + ".hdr", "NCOLS 2\nNROWS 2\nNBITS 32\n");
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.GetPixelType(), Float32);
    EXPECT_EQ(b.GetBytesPerSample(), 4);

    writeText(n + ".hdr", "NCOLS 2\nNROWS 2\nNBITS 8\n");
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.GetPixelType(), Int8);
    writeText(n + ".hdr", "NCOLS 2\nNROWS 2\nNBITS 64\n");
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.GetPixelType(), Float64);
    writeText(n + ".hdr", "NCOLS 2\nNROWS 2\nNBITS 24\n");
    EXPECT_FALSE(b.Open(n));

    // Without NBITS the type stays Int16 but the row size checks count one byte.
    writeText(n + ".hdr", "NCOLS 4\nNROWS 2\nBANDROWBYTES 4\n");
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.GetPixelType(), Int16);
    writeText(n + ".hdr", "NCOLS 4\nNROWS 2\nBANDROWBYTES 8\n");
    EXPECT_FALSE(b.Open(n));
}

TEST(BilHeaderRead, ByteOrderLayoutAndRowSizes)
{
    const QString n = dataName("order");
    writeBytes(n + ".bil", 16);
    CBil b;
    writeText(n + ".hdr", "BYTEORDER MSBFIRST\nNCOLS 2\nNROWS 2\n");
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.GetByteOrder(), 0);
    writeText(n + ".hdr", "byteorder\tLSBFIRST\nNCOLS 2\nNROWS 2\n");
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.GetByteOrder(), 1);
    writeText(n + ".hdr", "BYTEORDER I\r\nNCOLS 2\r\nNROWS 2\r\n");
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.GetByteOrder(), 1);
    EXPECT_EQ(b.GetNCols(), 2);
    writeText(n + ".hdr", "BYTEORDER X\nNCOLS 2\nNROWS 2\n");
    EXPECT_FALSE(b.Open(n));

    writeText(n + ".hdr", "LAYOUT BSQ\nNCOLS 2\nNROWS 2\n");
    EXPECT_FALSE(b.Open(n));
    writeText(n + ".hdr", "LAYOUT bil\nNCOLS 2\nNROWS 2\nNBITS 16\nBANDROWBYTES 4\nTOTALROWBYTES 4\n");
    ASSERT_TRUE(b.Open(n));
    writeText(n + ".hdr", "NCOLS 2\nNROWS 2\nNBITS 16\nTOTALROWBYTES 6\n");
    EXPECT_FALSE(b.Open(n));
}

TEST(BilHeaderRead, TextGeoreferenceAndEmptyHeader)
{
    const QString n = dataName("text");
    writeBytes(n + ".bil", 8);
    writeText(n + ".hdr",
              "TITLE  my raster\nCOMMENT one\nCOMMENT two\nCOMMAND gdal\nNCOLS 2\nNROWS 1\n"
              "NBITS 16\nXDIM 0.5\nYDIM 0.25\nULXMAP -120.5\nULYMAP 45.25\nUNKNOWN 7\n");
    CBil b;
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.Header().title, QByteArray("my raster"));
    ASSERT_EQ(b.Header().comments.size(), 2);
    EXPECT_EQ(b.Header().comments[1], QByteArray("two"));
    EXPECT_EQ(b.Header().command, QByteArray("gdal"));
    EXPECT_DOUBLE_EQ(b.GetXDim(), 0.5);
    EXPECT_DOUBLE_EQ(b.GetYDim(), 0.25);
    EXPECT_DOUBLE_EQ(b.GetLeft(), -120.75);
    EXPECT_DOUBLE_EQ(b.GetTop(), 45.375);
    EXPECT_EQ(b.GetRowsRunDown(), 1);
    EXPECT_EQ(b.GetCornerRegistration(), 0);

    writeText(n + ".hdr", "");
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.GetNCols(), 0);
    EXPECT_EQ(b.GetNRows(), 0);
    EXPECT_EQ(b.GetPixelType(), Int16);
    EXPECT_NE(b.Data(), nullptr);

    QFile::remove(n + ".hdr");
    EXPECT_FALSE(b.Open(n));
}

TEST(BilHeaderRead, WorldFileOverridesAndRotationFails)
{
    const QString n = dataName("world");
    writeBytes(n + ".bil", 8);
    writeText(n + ".hdr", "NCOLS 2\nNROWS 2\nULXMAP 5\nULYMAP 5\n");
    writeText(n + ".blw", "0.5\n0\n0\n-0.25\n-150.0\n61.0\n");
    CBil b;
    ASSERT_TRUE(b.Open(n));
    EXPECT_DOUBLE_EQ(b.GetXDim(), 0.5);
    EXPECT_DOUBLE_EQ(b.GetYDim(), 0.25);
    EXPECT_DOUBLE_EQ(b.GetULXMap(), -150.0);
    EXPECT_DOUBLE_EQ(b.GetULYMap(), 61.0);

    writeText(n + ".blw", "0.5\n0.001\n0\n-0.25\n-150.0\n61.0\n");
    EXPECT_FALSE(b.Open(n));
    writeText(n + ".blw", "0.5\n0\n0.001\n-0.25\n-150.0\n61.0\n");
    EXPECT_FALSE(b.Open(n));
    writeText(n + ".blw", "0.5\n0\n");
    EXPECT_FALSE(b.Open(n));
}

TEST(BilHeaderRead, NameEndingsAddressTheSameTrio)
{
    const QString n = dataName("names");
    writeBytes(n + ".bil", 2);
    writeText(n + ".hdr", "NCOLS 1\nNROWS 1\n");
    CBil b;
    for (const char *ending : {"", ".hdr", ".bil", ".bil.ers", ".bil.bil", ".hdr.hdr"}) {
        SCOPED_TRACE(ending);
        EXPECT_TRUE(b.Open(n + QLatin1String(ending)));
        EXPECT_EQ(CBil::BaseName(n + QLatin1String(ending)), n);
    }
}

// ------------------------------------------------------- unsafe input

TEST(BilSafeOpen, ShortFilesAbsurdAndOverflowingSizesFail)
{
    const QString n = dataName("unsafe");
    CBil b;
    // 3 x 2 Int16 needs 12 bytes; 11 is one short.
    writeText(n + ".hdr", "NCOLS 3\nNROWS 2\nNBITS 16\n");
    writeBytes(n + ".bil", 11);
    EXPECT_FALSE(b.Open(n));
    EXPECT_EQ(b.Data(), nullptr);
    writeBytes(n + ".bil", 12);
    EXPECT_TRUE(b.Open(n));

    writeText(n + ".hdr", "NCOLS 3\nNROWS 2\nNBITS 16\nSKIPBYTES 4\n");
    EXPECT_FALSE(b.Open(n));
    writeText(n + ".hdr", "NCOLS 3\nNROWS 2\nNBITS 16\nSKIPBYTES -4\n");
    EXPECT_FALSE(b.Open(n));

    const char *bad[] = {
        "NCOLS -3\nNROWS 2\n",
        "NCOLS 3\nNROWS -2\n",
        "NCOLS 3\nNROWS 2\nNBANDS -1\n",
        // No bands, or a key without digits: never read as 0.
        "NCOLS 3\nNROWS 2\nNBANDS 0\n",
        "NCOLS 3\nNROWS 2\nNBANDS x\n",
        "NCOLS\nNROWS 2\n",
        "NCOLS 99999999999\nNROWS 2\n",
        // Products that do not fit 32 bits (nor, the last, 64 bits).
        "NCOLS 2000000000\nNROWS 2000000000\nNBITS 16\n",
        "NCOLS 2147483647\nNROWS 2147483647\nNBANDS 2147483647\nNBITS 64\n",
    };
    for (const char *h : bad) {
        SCOPED_TRACE(h);
        writeText(n + ".hdr", h);
        EXPECT_FALSE(b.Open(n));
        EXPECT_EQ(b.Data(), nullptr);
    }
}

TEST(BilSafeOpen, FailedOpenDropsEarlierMapping)
{
    const QString n = dataName("reopen");
    writeText(n + ".hdr", "NCOLS 1\nNROWS 1\n");
    writeBytes(n + ".bil", 2);
    CBil b;
    ASSERT_TRUE(b.Open(n));
    EXPECT_EQ(b.GetStorage(), CBil::Mapped);
    EXPECT_FALSE(b.Open(dataName("absent")));
    EXPECT_EQ(b.GetStorage(), CBil::None);
    EXPECT_EQ(b.Data(), nullptr);
    double v = 7;
    EXPECT_FALSE(b.GetValue(0, 0, 0, &v));
    EXPECT_EQ(v, 7);
}

// ------------------------------------------------------------- geometry

TEST(BilGeometry, CornerAndCentreOfFirstCell)
{
    CBil b;
    makeSmall(b);
    double c, r;
    b.GeoToPixel(10.0, 30.5, &c, &r);   // outer corner
    EXPECT_DOUBLE_EQ(c, 0.0);
    EXPECT_DOUBLE_EQ(r, 0.0);
    b.GeoToPixel(11.0, 29.0, &c, &r);   // centre of cell (0, 0)
    EXPECT_DOUBLE_EQ(c, 0.5);
    EXPECT_DOUBLE_EQ(r, 0.5);
    double x, y;
    b.PixelToGeo(4, 3, &x, &y);
    EXPECT_DOUBLE_EQ(x, 18.0);
    EXPECT_DOUBLE_EQ(y, 21.5);
    EXPECT_DOUBLE_EQ(b.GetRight(), 18.0);
    EXPECT_DOUBLE_EQ(b.GetBottom(), 21.5);
}

TEST(BilGeometry, RowsRunUpCornerRegistrationAndReferenceCell)
{
    CBil b;
    b.SetDimensions(10, 5, 1, Float32);
    // Corner of reference cell (2, 1) at (100, 50); rows run up.
    b.SetGeoReference(1.0, 2.0, 2, 1, 100.0, 50.0, 1, 0.0, 0);
    EXPECT_DOUBLE_EQ(b.GetLeft(), 98.0);
    EXPECT_DOUBLE_EQ(b.GetBottom(), 48.0);
    EXPECT_DOUBLE_EQ(b.GetTop(), 58.0);
    double x, y, c, r;
    b.PixelToGeo(0, 0, &x, &y);
    EXPECT_DOUBLE_EQ(x, 98.0);
    EXPECT_DOUBLE_EQ(y, 48.0);
    b.GeoToPixel(100.0, 52.0, &c, &r);
    EXPECT_DOUBLE_EQ(c, 2.0);
    EXPECT_DOUBLE_EQ(r, 2.0);
}

TEST(BilGeometry, RotationRoundTripsAndTurnsTheGrid)
{
    CBil b;
    b.SetDimensions(100, 100, 1, UInt8);
    b.SetGeoReference(10.0, 10.0, 0, 0, 1000.0, 2000.0, 0, 30.0, 1);
    double x0, y0, x1, y1;
    b.PixelToGeo(0, 0, &x0, &y0);
    b.PixelToGeo(1, 0, &x1, &y1);
    // One column along the grid is one cell turned by the rotation.
    EXPECT_NEAR(std::hypot(x1 - x0, y1 - y0), 10.0, 1e-9);
    EXPECT_NEAR(std::atan2(y1 - y0, x1 - x0) * 180.0 / kPi, 30.0, 1e-9);
    for (double col : {0.0, 12.25, 77.5})
        for (double row : {0.0, 3.75, 99.0}) {
            double x, y, c, r;
            b.PixelToGeo(col, row, &x, &y);
            b.GeoToPixel(x, y, &c, &r);
            EXPECT_NEAR(c, col, 1e-4);
            EXPECT_NEAR(r, row, 1e-4);
        }
}

TEST(BilGeometry, GeoToPixelRoundsToSinglePrecision)
{
    CBil b;
    b.SetDimensions(10, 10, 1, Int16);
    b.SetGeoReference(3.0, 3.0, 0, 0, 0.0, 0.0, 1, 0.0, 1);
    double c, r;
    b.GeoToPixel(1.0, -1.0, &c, &r);   // one third
    EXPECT_EQ(c, double(float(1.0 / 3.0)));
    EXPECT_NE(c, 1.0 / 3.0);
    EXPECT_EQ(r, c);
}

// -------------------------------------------------------------- samples

TEST(BilSamples, ByteOrderConversionAndBounds)
{
    for (int order : {0, 1}) {
        SCOPED_TRACE(order);
        CBil b;
        makeSmall(b, order);
        qint16 raw = 0;
        ASSERT_TRUE(b.GetRawSample(3.9, 2.9, 0, &raw));   // truncated to (3, 2)
        EXPECT_EQ(raw, 203);
        double v = -1;
        EXPECT_FALSE(b.GetRawSample(4, 0, 0, &raw));
        EXPECT_FALSE(b.GetRawSample(0, 3, 0, &raw));
        EXPECT_FALSE(b.GetRawSample(-0.5, 0, 0, &raw));
        EXPECT_FALSE(b.GetRawSample(0, 0, 1, &raw));
        EXPECT_EQ(raw, 203);   // untouched by the failures
        ASSERT_TRUE(b.GetValue(1, 1, 0, &v));
        EXPECT_EQ(v, 101);
    }
}

TEST(BilSamples, EveryPixelTypeConvertsToDouble)
{
    struct Case {
        int type;
        QByteArray bigEndianBytes;
        double expected;
    } cases[] = {
        {Int16, QByteArray::fromHex("fffe"), -2},
        {Int32, QByteArray::fromHex("fffffffd"), -3},
        {Float32, QByteArray::fromHex("40490fdb"), double(3.14159274f)},
        {Float64, QByteArray::fromHex("400921fb54442d18"), kPi},
        {Int8, QByteArray::fromHex("fb"), -5},
        {UInt8, QByteArray::fromHex("fb"), 251},
        {UInt16, QByteArray::fromHex("fffe"), 65534},
        {UInt32, QByteArray::fromHex("fffffffd"), 4294967293.0},
    };
    for (const Case &k : cases) {
        for (int order : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "type " << k.type << " order " << order);
            CBil b;
            b.SetDimensions(2, 1, 1, k.type);
            b.SetByteOrder(order);
            ASSERT_TRUE(b.Allocate());
            QByteArray bytes = k.bigEndianBytes;
            if (order == 1)
                std::reverse(bytes.begin(), bytes.end());
            std::memcpy(b.MutableData() + bytes.size(), bytes.constData(), size_t(bytes.size()));
            double v = 0;
            ASSERT_TRUE(b.GetValue(1, 0, 0, &v));
            EXPECT_EQ(v, k.expected);
        }
    }
}

TEST(BilSamples, InterpolateBetweenCellCentresAndFailsPastTheLastCentre)
{
    CBil b;
    makeSmall(b);   // 4 x 3 cells of 2 x 3, centre of cell (0, 0) at (11, 29), samples 100 r + c
    double v = -1;
    // At a cell centre the result is that cell's own sample.
    ASSERT_TRUE(b.Interpolate(11.0, 29.0, 0, &v));
    EXPECT_DOUBLE_EQ(v, 0);
    ASSERT_TRUE(b.Interpolate(13.0, 26.0, 0, &v));   // centre of cell (1, 1)
    EXPECT_DOUBLE_EQ(v, 101);
    ASSERT_TRUE(b.Interpolate(15.0, 26.0, 0, &v));   // centre of cell (2, 1)
    EXPECT_DOUBLE_EQ(v, 102);
    // Between centres the weights follow the distance from them.
    ASSERT_TRUE(b.Interpolate(13.5, 26.0, 0, &v));   // a quarter of the way east
    EXPECT_DOUBLE_EQ(v, 101.25);
    ASSERT_TRUE(b.Interpolate(14.0, 24.5, 0, &v));   // midway between four centres
    EXPECT_DOUBLE_EQ(v, (101 + 102 + 201 + 202) / 4.0);
    ASSERT_TRUE(b.Interpolate(16.9, 23.3, 0, &v));   // just inside the last centres
    EXPECT_NEAR(v, 102 + 0.95 + 0.9 * 100, 1e-4);

    // A position from the last column's or last row's centre on, or in the
    // outer half of the first cell, lacks a neighbour.
    for (auto [x, y] : {std::pair{17.0, 26.0}, {17.5, 26.0}, {13.0, 23.0}, {13.0, 22.0},
                        {10.5, 26.0}, {13.0, 30.0}, {0.0, 0.0}}) {
        v = -1;
        EXPECT_FALSE(b.Interpolate(x, y, 0, &v)) << x << "," << y;
        EXPECT_EQ(v, 0.0);
    }
}

TEST(BilSamples, StatisticsOfZerosAndOfMixedSamples)
{
    CBil b;
    b.SetDimensions(3, 2, 1, Int16);
    ASSERT_TRUE(b.Allocate());
    double mn = 1, mx = 1, mean = 1;
    ASSERT_TRUE(b.ComputeStatistics(&mn, &mx, &mean));
    EXPECT_EQ(mn, 32000);
    EXPECT_EQ(mx, 0);
    EXPECT_EQ(mean, 0);
    EXPECT_EQ(b.StatZeroCount(), 6);

    // Values (big-endian) 0, -5, 10, 20, 0, 7: min of non-zero -5, max 20,
    // mean trunc(32 / 6) = 5.
    const qint16 vals[6] = {0, -5, 10, 20, 0, 7};
    for (int order : {0, 1}) {
        SCOPED_TRACE(order);
        b.SetByteOrder(order);
        for (int i = 0; i < 6; ++i) {
            b.MutableData()[2 * i + order] = uchar(quint16(vals[i]) >> 8);
            b.MutableData()[2 * i + 1 - order] = uchar(vals[i] & 0xff);
        }
        ASSERT_TRUE(b.ComputeStatistics(&mn, &mx, &mean));
        EXPECT_EQ(mn, -5);
        EXPECT_EQ(mx, 20);
        EXPECT_EQ(mean, 5);
        EXPECT_EQ(b.StatNonZeroCount(), 4);
        EXPECT_EQ(b.StatZeroCount(), 2);
        EXPECT_DOUBLE_EQ(b.StatSum(), 32);
        EXPECT_DOUBLE_EQ(b.StatSumSquares(), 25 + 100 + 400 + 49);
    }

    CBil empty;
    mn = mx = mean = 9;
    empty.ComputeStatistics(&mn, &mx, &mean);
    EXPECT_EQ(mean, 0);
    EXPECT_EQ(mn, 9);
    EXPECT_EQ(mx, 9);
}

// -------------------------------------------------------------- windows

TEST(BilWindow, CoincidingCellsLandOnThemselvesWithByteSwap)
{
    // Destination cells on the same lattice as the source's: every copied
    // cell must keep its place on the ground.
    CBil src;
    makeSmall(src, 0);                     // corner (10, 30.5), cells 2 x 3
    CBil dst;
    dst.SetDimensions(6, 5, 1, Int16);
    dst.SetGeoReference(2.0, 3.0, 0, 0, 7.0, 35.0, 0, 0.0, 1);   // corner (6, 36.5)
    dst.SetByteOrder(1);
    ASSERT_TRUE(dst.Allocate());

    src.SetWindow(3, 2, 1, 0);   // ordered to columns 1..3, rows 0..2
    EXPECT_EQ(src.WindowFirstColumn(), 1);
    EXPECT_EQ(src.WindowLastColumn(), 3);
    ASSERT_TRUE(src.CopyWindowInto(dst));
    // Window corner (12, 30.5) is destination corner (3, 2).
    double v;
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 6; ++c) {
            ASSERT_TRUE(dst.GetValue(c, r, 0, &v));
            const bool inside = c >= 3 && c < 5 && r >= 2 && r < 4;
            EXPECT_EQ(v, inside ? 100 * (r - 2) + (c - 2) : 0) << c << "," << r;
        }
    // Each copied cell's centre is where the source has it.
    for (int r = 0; r < 2; ++r)
        for (int c = 1; c < 3; ++c) {
            double x, y, dv;
            src.PixelToGeo(c + 0.5, r + 0.5, &x, &y);
            double dc, dr;
            dst.GeoToPixel(x, y, &dc, &dr);
            ASSERT_TRUE(dst.GetValue(dc, dr, 0, &dv));
            EXPECT_EQ(dv, 100 * r + c);
        }
}

TEST(BilWindow, ArcSecondCellsAtRealCoordinatesStayInPlace)
{
    // One arc-second cells at 45 N 122 W: the window corner maps to a
    // destination corner only up to single-precision rounding, on either
    // side of the whole number.
    const double cell = 1.0 / 3600;
    CBil src;
    src.SetDimensions(40, 40, 1, Int16);
    src.SetGeoReference(cell, cell, 0, 0, -122.0, 45.0, 0, 0.0, 1);
    ASSERT_TRUE(src.Allocate());
    for (int r = 0; r < 40; ++r)
        for (int c = 0; c < 40; ++c) {
            const qint16 v = qint16(100 * r + c);
            src.MutableRowData(r)[2 * c] = uchar(quint16(v) >> 8);
            src.MutableRowData(r)[2 * c + 1] = uchar(v & 0xff);
        }
    for (int shift = 0; shift < 12; ++shift) {
        SCOPED_TRACE(shift);
        // Destination cell (0, 0) centred 5 + shift cells west and 4 + shift
        // cells north of the source's.
        CBil dst;
        dst.SetDimensions(60, 60, 1, Int16);
        dst.SetGeoReference(cell, cell, 0, 0, -122.0 - (5 + shift) * cell, 45.0 + (4 + shift) * cell, 0,
                            0.0, 1);
        ASSERT_TRUE(dst.Allocate());
        src.SetWindow(2 + shift, 3, 30, 9 + shift);
        ASSERT_TRUE(src.CopyWindowInto(dst));
        int bad = 0;
        for (int r = 0; r < 60; ++r)
            for (int c = 0; c < 60; ++c) {
                double v;
                ASSERT_TRUE(dst.GetValue(c, r, 0, &v));
                const int sc = c - 5 - shift, sr = r - 4 - shift;
                const bool inside = sc >= 2 + shift && sc < 30 && sr >= 3 && sr < 9 + shift;
                if (v != (inside ? 100 * sr + sc : 0) && ++bad < 4)
                    ADD_FAILURE() << "cell " << c << "," << r << " holds " << v;
            }
        EXPECT_EQ(bad, 0);
    }
}

TEST(BilWindow, RefusesMismatchesAndClipsAtTheDestinationEdge)
{
    CBil src;
    makeSmall(src);
    CBil dst;
    dst.SetDimensions(2, 2, 1, Int16);
    dst.SetGeoReference(2.0, 3.0, 0, 0, 15.0, 26.0, 0, 0.0, 1);   // corner (14, 27.5)
    ASSERT_TRUE(dst.Allocate());

    src.SetWindow(0, 0, 5, 3);
    EXPECT_FALSE(src.CopyWindowInto(dst));   // past the last column
    src.SetWindow(-1, 0, 2, 3);
    EXPECT_FALSE(src.CopyWindowInto(dst));

    CBil other;
    other.SetDimensions(2, 2, 1, Float32);
    ASSERT_TRUE(other.Allocate());
    src.SetWindow(0, 0, 4, 3);
    EXPECT_FALSE(src.CopyWindowInto(other));

    // The source corner (10, 30.5) is destination corner (-2, -1): only the
    // source cells (2..3, 1..2) land inside, each on its own place.
    ASSERT_TRUE(src.CopyWindowInto(dst));
    double v;
    for (auto [c, r] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
        ASSERT_TRUE(dst.GetValue(c, r, 0, &v));
        EXPECT_EQ(v, 100 * (r + 1) + (c + 2)) << c << "," << r;
    }

    src.SetWindow(1, 1, 1, 2);   // empty
    EXPECT_TRUE(src.CopyWindowInto(dst));

    // Rows of several bands are not copied (also into a raster of as many).
    CBil bands, bands2;
    for (CBil *b : {&bands, &bands2}) {
        b->SetDimensions(4, 3, 2, Int16);
        b->SetGeoReference(2.0, 3.0, 0, 0, 11.0, 29.0, 0, 0.0, 1);
        ASSERT_TRUE(b->Allocate());
    }
    bands.SetWindow(0, 0, 4, 3);
    EXPECT_FALSE(bands.CopyWindowInto(bands2));
}

// --------------------------------------------------------- write / open

TEST(BilWrite, RoundTripPerPixelType)
{
    const struct {
        int written;
        int readBack;
    } cases[] = {{Int16, Int16}, {Float32, Float32}, {Float64, Float64}, {Int8, Int8},
                 {UInt8, Int8},  {UInt16, Int16},    {Int32, Float32},   {UInt32, Float32}};
    for (const auto &k : cases) {
        for (int order : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "type " << k.written << " order " << order);
            const QString n = dataName("rt") + QString::number(k.written) + QString::number(order);
            CBil w;
            w.SetDimensions(5, 3, 2, k.written);
            w.SetGeoReference(0.25, 0.5, 0, 0, -121.125, 46.75, 0, 0.0, 1);
            w.SetByteOrder(order);
            ASSERT_TRUE(w.Allocate());
            for (qint64 i = 0; i < w.GetTotalBytes(); ++i)
                w.MutableData()[i] = uchar(i * 7 + 3);
            ASSERT_TRUE(w.Write(n + ".bil"));

            CBil r;
            ASSERT_TRUE(r.Open(n));
            EXPECT_EQ(r.GetNCols(), 5);
            EXPECT_EQ(r.GetNRows(), 3);
            EXPECT_EQ(r.GetNBands(), 2);
            EXPECT_EQ(r.GetByteOrder(), order);
            EXPECT_EQ(r.GetPixelType(), k.readBack);
            EXPECT_DOUBLE_EQ(r.GetXDim(), 0.25);
            EXPECT_DOUBLE_EQ(r.GetYDim(), 0.5);
            EXPECT_DOUBLE_EQ(r.GetULXMap(), -121.125);
            EXPECT_DOUBLE_EQ(r.GetULYMap(), 46.75);
            EXPECT_EQ(r.GetCornerRegistration(), 0);
            ASSERT_EQ(r.GetTotalBytes(), w.GetTotalBytes());
            EXPECT_EQ(0, std::memcmp(r.Data(), w.Data(), size_t(w.GetTotalBytes())));
        }
    }
}

TEST(BilWrite, HeaderTextAndWorldFile)
{
    const QString n = dataName("hdrtext");
    CBil w;
    w.SetDimensions(3, 2, 1, Int16);
    w.SetGeoReference(0.5, 0.25, 0, 0, -150.0, 61.0, 0, 0.0, 1);
    w.SetTitle("elev");
    w.AddComment("c1");
    ASSERT_TRUE(w.Allocate());
    ASSERT_TRUE(w.Write(n));
    QFile h(n + ".hdr");
    ASSERT_TRUE(h.open(QIODevice::ReadOnly | QIODevice::Text));
    EXPECT_EQ(h.readAll(), QByteArray("TITLE\t\telev\nCOMMENT\t\tc1\n"
                                      "BYTEORDER     M\nLAYOUT        BIL\n"
                                      "NROWS         2\nNCOLS         3\nNBANDS        1\n"
                                      "NBITS         16\nBANDROWBYTES  6\nTOTALROWBYTES 6\n"
                                      "BANDGAPBYTES  0\nPIXELTYPE     SIGNEDINT\n"));
    QFile wf(n + ".blw");
    ASSERT_TRUE(wf.open(QIODevice::ReadOnly | QIODevice::Text));
    EXPECT_EQ(wf.readAll(), QByteArray("0.50000000000000\n0.00000000000000\n0.00000000000000\n"
                                       "-0.25000000000000\n-150.00000000000000\n61.00000000000000\n"));
    EXPECT_EQ(QFileInfo(n + ".bil").size(), 12);

    // Byte order 2 writes no BYTEORDER line.
    w.SetByteOrder(2);
    ASSERT_TRUE(w.Write(n));
    QFile h2(n + ".hdr");
    ASSERT_TRUE(h2.open(QIODevice::ReadOnly));
    EXPECT_FALSE(h2.readAll().contains("BYTEORDER"));
}

TEST(BilWrite, SkipBytesSurviveTheRoundTrip)
{
    const QString n = dataName("skip");
    writeText(n + ".hdr", "NCOLS 2\nNROWS 1\nNBITS 16\nSKIPBYTES 3\n");
    writeText(n + ".bil", QByteArray::fromHex("aaaaaa00050006"));
    CBil a;
    ASSERT_TRUE(a.Open(n));
    double v;
    ASSERT_TRUE(a.GetValue(1, 0, 0, &v));
    EXPECT_EQ(v, 6);
    ASSERT_TRUE(a.Write(dataName("skip2")));
    CBil b;
    ASSERT_TRUE(b.Open(dataName("skip2")));
    ASSERT_TRUE(b.GetValue(1, 0, 0, &v));
    EXPECT_EQ(v, 6);
}

TEST(BilWrite, FailureLeavesNoPartialTrio)
{
    CBil w;
    makeSmall(w);
    // The pixel file's name is taken by a folder: the data step fails.
    const QString n = dataName("blocked");
    ASSERT_TRUE(QDir().mkpath(n + ".bil"));
    EXPECT_FALSE(w.Write(n));
    EXPECT_FALSE(QFileInfo::exists(n + ".hdr"));
    EXPECT_FALSE(QFileInfo::exists(n + ".blw"));

    // An earlier complete trio stays as it was.
    const QString m = dataName("kept");
    ASSERT_TRUE(w.Write(m));
    CBil nodata;
    nodata.SetDimensions(4, 3, 1, Int16);   // no buffer
    EXPECT_FALSE(nodata.Write(m));
    CBil r;
    ASSERT_TRUE(r.Open(m));
    double v;
    ASSERT_TRUE(r.GetValue(3, 2, 0, &v));
    EXPECT_EQ(v, 203);
    EXPECT_EQ(QDir(QDir::currentPath()).entryList({"kept*"}, QDir::Files).size(), 3);

    // Nothing can be written into a missing folder.
    EXPECT_FALSE(w.Write(dataName("no/such/folder/x")));

    // A header that cannot be written fails the whole trio.
    const QString h = dataName("nohdr");
    ASSERT_TRUE(QDir().mkpath(h + ".hdr"));
    EXPECT_FALSE(w.Write(h));
    EXPECT_FALSE(QFileInfo::exists(h + ".bil"));
    EXPECT_FALSE(QFileInfo::exists(h + ".blw"));

    // A replacement stopped between its renames (header gone, pixel data
    // already new, world file and header still parts): the next open
    // completes it, and a stale part beside a whole trio is ignored.
    const QString s = dataName("stopped");
    ASSERT_TRUE(w.Write(s));
    CBil wider;
    wider.SetDimensions(6, 3, 1, Int16);
    wider.SetGeoReference(1, 1, 0, 0, 5, 9, 0, 0.0, 1);
    ASSERT_TRUE(wider.Allocate());
    ASSERT_TRUE(wider.Write(dataName("next")));
    for (const char *e : {".hdr", ".blw"})
        ASSERT_TRUE(QFile::copy(dataName("next") + e, s + e + ".part"));
    ASSERT_TRUE(QFile::remove(s + ".hdr"));
    ASSERT_TRUE(QFile::remove(s + ".bil") && QFile::copy(dataName("next") + ".bil", s + ".bil"));
    ASSERT_TRUE(r.Open(s));
    EXPECT_EQ(r.GetNCols(), 6);
    EXPECT_EQ(r.GetULXMap(), 5);
    EXPECT_FALSE(QFileInfo::exists(s + ".hdr.part"));
    ASSERT_TRUE(QFile::copy(dataName("kept") + ".hdr", s + ".hdr.part"));
    ASSERT_TRUE(r.Open(s));
    EXPECT_EQ(r.GetNCols(), 6);
}

TEST(BilStorage, HeaderGrownPastItsDataIsNeverRead)
{
    const QString n = dataName("grown");
    writeText(n + ".hdr", "NCOLS 2\nNROWS 2\nNBITS 16\n");
    writeBytes(n + ".bil", 8, 1);
    CBil m;
    ASSERT_TRUE(m.Open(n));
    double v;
    ASSERT_TRUE(m.GetValue(1, 1, 0, &v));
    m.SetDimensions(2, 2, 1, Float64);   // would need 32 bytes of the 8 mapped
    EXPECT_FALSE(m.GetValue(1, 1, 0, &v));
    EXPECT_FALSE(m.Interpolate(0, 0, 0, &v));

    CBil a;
    a.SetDimensions(4, 4, 1, Int16);
    ASSERT_TRUE(a.Allocate());
    a.SetDimensions(400, 400, 1, Int16);
    EXPECT_FALSE(a.Fill(7));
    EXPECT_EQ(a.MutableRowData(300), nullptr);
    CBil src;
    makeSmall(src);
    src.SetWindow(0, 0, 4, 3);
    EXPECT_FALSE(src.CopyWindowInto(a));
    EXPECT_FALSE(a.Write(dataName("grown_out")));
}

TEST(BilStorage, AllocateFillAndRelease)
{
    CBil b;
    b.SetDimensions(3, 3, 1, 9);   // unknown type
    EXPECT_FALSE(b.Allocate());
    EXPECT_EQ(b.Data(), nullptr);
    EXPECT_FALSE(b.Fill(1));
    b.SetDimensions(-3, 3, 1, Int16);
    EXPECT_FALSE(b.Allocate());

    b.SetDimensions(3, 3, 1, UInt8);
    ASSERT_TRUE(b.Allocate());
    ASSERT_TRUE(b.Fill(100));
    EXPECT_EQ(b.RowData(2)[2], 100);
    EXPECT_EQ(b.RowData(3), nullptr);
    b.Release();
    EXPECT_EQ(b.Data(), nullptr);
    EXPECT_EQ(b.GetNCols(), 0);
    EXPECT_EQ(b.GetNBands(), 1);
}
