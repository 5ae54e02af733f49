// Byte-level checks of the streamed TIFF layout (temporary and final file).
#include "geodata/cbil.h"
#include "stripchart/ctifffile.h"
#include "stripchart/tiffstream.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>

#include <cmath>
#include <cstring>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

quint16 u16(const QByteArray &b, qint64 at)
{
    return quint16(uchar(b[int(at)]) | (uchar(b[int(at + 1)]) << 8));
}

quint32 u32(const QByteArray &b, qint64 at)
{
    return quint32(u16(b, at)) | (quint32(u16(b, at + 2)) << 16);
}

double f64(const QByteArray &b, qint64 at)
{
    quint64 v = quint64(u32(b, at)) | (quint64(u32(b, at + 4)) << 32);
    double d;
    std::memcpy(&d, &v, 8);
    return d;
}

struct Entry {
    quint16 type = 0;
    quint32 count = 0;
    quint32 value = 0;
};

// The IFD of a file: tag -> entry, plus the tags in file order.
struct Ifd {
    QMap<quint16, Entry> entries;
    QVector<quint16> order;
    quint32 next = 1;
};

Ifd parseIfd(const QByteArray &b)
{
    Ifd ifd;
    const quint32 at = u32(b, 4);
    const quint16 n = u16(b, at);
    for (int i = 0; i < n; ++i) {
        const qint64 e = at + 2 + 12 * i;
        ifd.entries[u16(b, e)] = {u16(b, e + 2), u32(b, e + 4), u32(b, e + 8)};
        ifd.order.append(u16(b, e));
    }
    ifd.next = u32(b, at + 2 + 12 * n);
    return ifd;
}

QByteArray text(const QByteArray &b, const Entry &e)
{
    return b.mid(int(e.value), int(e.count));
}

// A rotation-free UTM grid of 1600 columns, 10 m cells.
void makeGrid(CBil &g, double rotation = 0.0)
{
    g.SetDimensions(1600, 1600, 1, Int8);
    g.SetGeoReference(10.0, 10.0, 0, 0, 500000.0, 5000000.0, 0, rotation, 1);
}

// Writes rows 0..n-1 (row i filled with i % 250, every third row short).
void writeRows(CTiffFile &t, int n)
{
    for (int i = 0; i < n; ++i) {
        QByteArray row(t.GetRowWidth(), char(i % 250));
        const int len = (i % 3 == 2) ? 100 : row.size();
        ASSERT_TRUE(t.WriteRow(row.constData(), len));
    }
}

QString here(const char *name)
{
    return QDir::currentPath() + QLatin1Char('/') + QLatin1String(name);
}

} // namespace

TEST(TiffLayout, HeaderStripsBlocksAndDirectoryOfAPaletteImage)
{
    for (int rows : {25, 20}) {
        SCOPED_TRACE(rows);
        const QString tmp = here("pal") + QString::number(rows) + ".tmp";
        CTiffFile t;
        ASSERT_TRUE(t.Open(tmp));
        t.SetCentralMeridian(-123.0);
        writeRows(t, rows);
        CBil grid;
        makeGrid(grid);
        ASSERT_TRUE(t.WriteTrailer(grid, 700));
        const QByteArray b = readAll(tmp);

        ASSERT_EQ(b.left(4), QByteArray("II\x2a\x00", 4));
        const qint64 dataEnd = 8 + qint64(rows) * 1728;
        // Short rows are padded with zeros to the full width.
        EXPECT_EQ(uchar(b[int(8 + 2 * 1728 + 99)]), 2);
        EXPECT_EQ(uchar(b[int(8 + 2 * 1728 + 100)]), 0);
        EXPECT_EQ(uchar(b[int(8 + 3 * 1728 + 1727)]), 3);

        const Ifd ifd = parseIfd(b);
        EXPECT_EQ(ifd.next, 0u);
        const QVector<quint16> tags{256, 257, 258, 259, 262, 270, 273, 274, 278, 279,
                                    282, 283, 296, 305, 306, 320, 33432, 34264, 34735, 34736};
        EXPECT_EQ(ifd.order, tags);
        EXPECT_EQ(ifd.entries[256].value, 1728u);
        EXPECT_EQ(ifd.entries[257].value, quint32(rows));
        EXPECT_EQ(ifd.entries[258].value, 8u);
        EXPECT_EQ(ifd.entries[262].value, 3u);
        EXPECT_EQ(ifd.entries[278].value, 10u);
        EXPECT_EQ(ifd.entries[296].value, 2u);

        // Strips of ten rows; the last one holds the rest.
        const int strips = (rows + 9) / 10;
        const Entry so = ifd.entries[273], sc = ifd.entries[279];
        ASSERT_EQ(so.count, quint32(strips));
        ASSERT_EQ(sc.count, quint32(strips));
        for (int i = 0; i < strips; ++i) {
            EXPECT_EQ(u32(b, so.value + 4 * i), quint32(8 + i * 17280));
            const quint32 expected = (i + 1 < strips) ? 17280u : quint32(dataEnd - 8 - 17280 * i);
            EXPECT_EQ(u32(b, sc.value + 4 * i), expected);
        }
        if (rows == 20)
            EXPECT_EQ(u32(b, sc.value + 4), 17280u);
        else
            EXPECT_EQ(u32(b, sc.value + 8), 5u * 1728);

        // Trailer blocks follow one another without padding, in this order.
        const Entry desc = ifd.entries[270];
        EXPECT_EQ(desc.value, quint32(dataEnd));
        EXPECT_EQ(text(b, desc), QByteArray("Orthorectified Infrared Strip Chart Image", 42));
        EXPECT_EQ(so.value, desc.value + desc.count);
        EXPECT_EQ(sc.value, so.value + 4 * strips);
        EXPECT_EQ(ifd.entries[282].value, sc.value + 4 * strips);
        EXPECT_EQ(ifd.entries[283].value, ifd.entries[282].value + 8);
        EXPECT_EQ(u32(b, ifd.entries[282].value), 203u);
        EXPECT_EQ(u32(b, ifd.entries[282].value + 4), 1u);
        EXPECT_EQ(u32(b, ifd.entries[283].value), 200u);
        const Entry sw = ifd.entries[305], dt = ifd.entries[306], cr = ifd.entries[33432];
        EXPECT_EQ(sw.value, ifd.entries[283].value + 8);
        EXPECT_EQ(dt.value, sw.value + sw.count);
        EXPECT_EQ(cr.value, dt.value + dt.count);
        EXPECT_EQ(ifd.entries[320].value, cr.value + cr.count);
        EXPECT_EQ(ifd.entries[34264].value, ifd.entries[320].value + 1536);
        EXPECT_EQ(ifd.entries[34735].value, ifd.entries[34264].value + 128);
        EXPECT_EQ(ifd.entries[34736].value, ifd.entries[34735].value + 104);
        EXPECT_EQ(u32(b, 4), ifd.entries[34736].value + 40);
        EXPECT_EQ(b.size(), qint64(u32(b, 4)) + 2 + 20 * 12 + 4);

        // Texts carry their NUL and are counted with it.
        EXPECT_EQ(text(b, sw), QByteArray("Cindrel Airborne Infrared Wildland Fire Detection and "
                                          "Mapping System") + '\0');
        EXPECT_EQ(dt.count, 20u);
        EXPECT_EQ(text(b, dt), t.GetTrailerTime().toString("yyyy-MM-dd HH:mm:ss").toLatin1() + '\0');
        EXPECT_EQ(text(b, cr), tiffstream::CopyrightText(t.GetTrailerTime().date().year()) + '\0');
        EXPECT_TRUE(text(b, cr).startsWith(tiffstream::kCopyrightNotice));
    }
}

TEST(TiffLayout, ColourMapsOfBothGammas)
{
    for (double gamma : {1.0, 2.0}) {
        SCOPED_TRACE(gamma);
        const QVector<quint16> m = tiffstream::MakeColorMap(gamma);
        ASSERT_EQ(m.size(), 768);
        // 254 black, 255 pure red, whatever the gamma.
        EXPECT_EQ(m[254], 0);
        EXPECT_EQ(m[256 + 254], 0);
        EXPECT_EQ(m[512 + 254], 0);
        EXPECT_EQ(m[255], 65535);
        EXPECT_EQ(m[256 + 255], 0);
        EXPECT_EQ(m[512 + 255], 0);
        EXPECT_EQ(m[0], 65535);   // 0 is white
        for (int i = 1; i < 254; ++i) {
            EXPECT_LE(m[i], m[i - 1]);   // darker as the value grows
            EXPECT_EQ(m[i], m[256 + i]);
            EXPECT_EQ(m[i], m[512 + i]);
        }
    }
    // Gamma 1: value 100 -> (255 - 100) / 255 of full scale; gamma 2: g = 39.
    EXPECT_EQ(tiffstream::MakeColorMap(1.0)[100], 39835);
    EXPECT_EQ(tiffstream::MakeColorMap(2.0)[100], quint16(float(255 - 39) / 255.0f * 65535.0f));
}

TEST(TiffLayout, FinalPassReversesRowsStampsTopRowAndKeepsTrailer)
{
    const QString tmp = here("final_ortho.tmp");
    CTiffFile t;
    ASSERT_TRUE(t.Open(tmp));
    writeRows(t, 13);
    CBil grid;
    makeGrid(grid);
    ASSERT_TRUE(t.WriteTrailer(grid, 13));
    const QByteArray before = readAll(tmp);
    ASSERT_TRUE(t.Finalize(tmp, 1.5, -2.25, 0xA1B2C3D4u));
    EXPECT_FALSE(QFileInfo::exists(tmp));
    const QString tif = here("final_ortho.tif");
    const QByteArray after = readAll(tif);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.left(8), before.left(8));
    const qint64 dataEnd = 8 + 13 * 1728;
    EXPECT_EQ(after.mid(int(dataEnd)), before.mid(int(dataEnd)));
    for (int r = 0; r < 13; ++r) {
        const QByteArray finalRow = after.mid(8 + r * 1728, 1728);
        const QByteArray producedRow = before.mid(8 + (12 - r) * 1728, 1728);
        if (r == 0) {
            EXPECT_EQ(f64(after, 8), 1.5);
            EXPECT_EQ(f64(after, 16), -2.25);
            EXPECT_EQ(u32(after, 24), 0xA1B2C3D4u);
            EXPECT_EQ(finalRow.mid(20), producedRow.mid(20));
        } else {
            EXPECT_EQ(finalRow, producedRow) << r;
        }
    }
    // Top row is the last row produced (12), bottom the first (0).
    EXPECT_EQ(uchar(after[int(8 + 1727)]), 12);
    EXPECT_EQ(uchar(after[int(8 + 12 * 1728 + 1727)]), 0);
}

TEST(TiffLayout, TwoColourImageHasBitsPerSampleArrayAndRgbTags)
{
    const QString tmp = here("rgb_color.tmp");
    CTiffFile t;
    ASSERT_TRUE(t.Open(tmp));
    t.SetTwoColor();
    t.SetDatumFlag(true);
    EXPECT_EQ(t.GetRowWidth(), 5184);
    writeRows(t, 11);
    CBil grid;
    makeGrid(grid);
    ASSERT_TRUE(t.WriteTrailer(grid, 50));
    const QByteArray b = readAll(tmp);
    const Ifd ifd = parseIfd(b);
    const QVector<quint16> tags{256, 257, 258, 259, 262, 270, 273, 274, 277, 278,
                                279, 282, 283, 296, 305, 306, 33432, 34264, 34735, 34736};
    EXPECT_EQ(ifd.order, tags);
    EXPECT_EQ(ifd.entries[256].value, 1728u);
    EXPECT_EQ(ifd.entries[262].value, 2u);
    EXPECT_EQ(ifd.entries[277].value, 3u);
    const Entry bps = ifd.entries[258];
    EXPECT_EQ(bps.count, 3u);
    EXPECT_EQ(bps.value, ifd.entries[33432].value + ifd.entries[33432].count);
    EXPECT_EQ(u16(b, bps.value), 8);
    EXPECT_EQ(u16(b, bps.value + 4), 8);
    EXPECT_EQ(ifd.entries[34264].value, bps.value + 6);
    EXPECT_EQ(text(b, ifd.entries[270]),
              QByteArray("Orthorectified Infrared Two-color Strip Chart Image") + '\0');
    // NAD27 GeographicType.
    const quint32 gk = ifd.entries[34735].value;
    EXPECT_EQ(u16(b, gk + 24), 2048);
    EXPECT_EQ(u16(b, gk + 30), 4267);
    // Strips of 10 rows of 5184 bytes.
    EXPECT_EQ(u32(b, ifd.entries[279].value), 51840u);
    EXPECT_EQ(u32(b, ifd.entries[279].value + 4), 5184u);
}

TEST(TiffLayout, GeoBlocks)
{
    const QVector<quint16> keys = tiffstream::MakeGeoKeyDirectory(4269);
    ASSERT_EQ(keys.size(), 52);
    EXPECT_EQ(keys.mid(0, 4), (QVector<quint16>{1, 1, 2, 12}));
    EXPECT_EQ(keys.mid(4 + 2 * 4, 4), (QVector<quint16>{2048, 0, 1, 4269}));
    EXPECT_EQ(keys.mid(48, 4), (QVector<quint16>{3092, 34736, 1, 4}));

    const QVector<double> p = tiffstream::MakeGeoDoubleParams(-117.0);
    ASSERT_EQ(p.size(), 5);
    // The scale factor of the grid the coordinates are computed in.
    EXPECT_EQ(p[4], 0.9996);
    EXPECT_EQ(p[0], -117.0);
    EXPECT_EQ(p[2], 500000.0);

    // The transformation maps image pixel (i, j) to the grid's PixelToGeo of
    // (column + i, row + j), rotation included.
    CBil g;
    makeGrid(g, -37.0);
    const QVector<double> m = tiffstream::MakeModelTransformation(g, -33.5, 799.5);
    ASSERT_EQ(m.size(), 16);
    for (double i : {0.0, 1728.0, 10.0})
        for (double j : {0.0, 800.0, 3.0}) {
            double x, y;
            g.PixelToGeo(-33.5 + i, 799.5 + j, &x, &y);
            EXPECT_NEAR(m[0] * i + m[1] * j + m[3], x, 1e-6);
            EXPECT_NEAR(m[4] * i + m[5] * j + m[7], y, 1e-6);
        }
    EXPECT_EQ(m[15], 1.0);
}

TEST(TiffLayout, StripChartTagSetWithAndWithoutGeoreference)
{
    CBil g;
    makeGrid(g);
    const QDateTime start(QDate(2024, 7, 15), QTime(14, 32, 5));
    for (bool geo : {false, true}) {
        SCOPED_TRACE(geo);
        const QString tmp = here(geo ? "strip_geo.tmp" : "strip_flat.tmp");
        std::FILE *f = std::fopen(QFile::encodeName(tmp).constData(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(tiffstream::WriteHeader(f));
        const QByteArray row(1728, char(7));
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(tiffstream::WriteRow(f, row.constData(), row.size(), 1728));
        const auto recipe = tiffstream::MakeStripChartTrailer(
            5, "Fire12", 3, start, geo, tiffstream::MakeModelTransformation(g, -32, 400), -123.0);
        tiffstream::TrailerLayout layout;
        ASSERT_TRUE(tiffstream::WriteTrailer(f, recipe, 8 + 5 * 1728, &layout));
        std::fclose(f);

        const QByteArray b = readAll(tmp);
        const Ifd ifd = parseIfd(b);
        EXPECT_EQ(ifd.entries.size(), geo ? 20 : 17);
        EXPECT_EQ(ifd.entries.contains(34735), geo);
        EXPECT_FALSE(ifd.entries.contains(277));
        EXPECT_EQ(text(b, ifd.entries[270]),
                  QByteArray("Infrared strip chart image for mission: Fire12  run: 3") + '\0');
        EXPECT_EQ(text(b, ifd.entries[305]),
                  QByteArray("CindrelDSP Airborne Infrared Fire Detection and Mapping System") + '\0');
        EXPECT_EQ(text(b, ifd.entries[306]),
                  start.toString("dd-MMMM-yyyy hh:mm:ss").toLatin1() + '\0');
        EXPECT_TRUE(text(b, ifd.entries[33432]).endsWith("2024" + QByteArray(1, '\0')));
        // A single strip: offset and count are held in the entries.
        EXPECT_EQ(ifd.entries[273].count, 1u);
        EXPECT_EQ(ifd.entries[273].value, 8u);
        EXPECT_EQ(ifd.entries[279].value, 5u * 1728);
        // Gamma 2 palette.
        const quint32 cm = ifd.entries[320].value;
        EXPECT_EQ(u16(b, cm + 2 * 100), tiffstream::MakeColorMap(2.0)[100]);
        if (geo) {
            const quint32 gk = ifd.entries[34735].value;
            EXPECT_EQ(u16(b, gk + 30), 4326);
            EXPECT_EQ(ifd.entries[34735].value, ifd.entries[34264].value + 128);
        }
        EXPECT_EQ(layout.ifdEntries, geo ? 20u : 17u);
    }
}

TEST(TiffFailures, UncreatableTemporaryAndFinalFiles)
{
    CTiffFile t;
    EXPECT_FALSE(t.Open(here("missing/dir/x.tmp")));
    EXPECT_FALSE(t.IsOpen());
    const char row[4] = {1, 2, 3, 4};
    EXPECT_FALSE(t.WriteRow(row, 4));
    CBil grid;
    makeGrid(grid);
    EXPECT_FALSE(t.WriteTrailer(grid, 1));
    EXPECT_FALSE(t.Finalize(here("missing/dir/x.tmp"), 0, 0, 0));

    // The final name is taken by a folder: the pass is skipped and the
    // temporary file stays.
    const QString tmp = here("blocked.tmp");
    ASSERT_TRUE(QDir().mkpath(here("blocked.tif")));
    CTiffFile u;
    ASSERT_TRUE(u.Open(tmp));
    writeRows(u, 3);
    ASSERT_TRUE(u.WriteTrailer(grid, 3));
    EXPECT_FALSE(u.Finalize(tmp, 0, 0, 0));
    EXPECT_TRUE(QFileInfo(tmp).isFile());

    // A temporary file shorter than its rows is not finalised.
    const QString shortTmp = here("short.tmp");
    {
        QFile f(shortTmp);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8 + 1728, '\0'));
    }
    EXPECT_FALSE(tiffstream::FinalPass(shortTmp, here("short.tif"), 1728, 2));
    EXPECT_FALSE(QFileInfo::exists(here("short.tif")));
    EXPECT_TRUE(QFileInfo::exists(shortTmp));
    // A missing JPEG source does nothing.
    EXPECT_FALSE(tiffstream::SaveJpegCopy(here("nothing.tif")));
    EXPECT_FALSE(QFileInfo::exists(here("jpeg/nothing.jpg")));
}
