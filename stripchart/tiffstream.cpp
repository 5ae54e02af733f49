#include "stripchart/tiffstream.h"

#include "geodata/cbil.h"
#include "geodata/georefsidecar.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>

#include "platform/wholefile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tiffstream {

const char kCopyrightNotice[] = "Copyright (c) Tarn Airborne Fire Mapping ";

QByteArray CopyrightText(int year)
{
    return QByteArray(kCopyrightNotice) + QByteArray::number(year);
}

namespace {

void put16(QByteArray &b, std::uint16_t v)
{
    b.append(char(v & 0xff));
    b.append(char(v >> 8));
}

void put32(QByteArray &b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
}

void putDouble(QByteArray &b, double d)
{
    std::uint64_t v;
    std::memcpy(&v, &d, 8);
    for (int i = 0; i < 8; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
}

QByteArray shorts(const QVector<std::uint16_t> &v)
{
    QByteArray b;
    b.reserve(v.size() * 2);
    for (std::uint16_t x : v)
        put16(b, x);
    return b;
}

QByteArray longs(const QVector<std::uint32_t> &v)
{
    QByteArray b;
    b.reserve(v.size() * 4);
    for (std::uint32_t x : v)
        put32(b, x);
    return b;
}

QByteArray doubles(const QVector<double> &v)
{
    QByteArray b;
    b.reserve(v.size() * 8);
    for (double x : v)
        putDouble(b, x);
    return b;
}

QByteArray rational(std::uint32_t num, std::uint32_t den)
{
    QByteArray b;
    put32(b, num);
    put32(b, den);
    return b;
}

QByteArray withNul(const QByteArray &text)
{
    QByteArray b = text;
    b.append('\0');
    return b;
}

} // namespace

// --------------------------------------------------------------- IFD

void IfdBuilder::AddShort(std::uint16_t tag, std::uint16_t value)
{
    entries_.append({tag, Short, 1, value});
}

void IfdBuilder::AddLong(std::uint16_t tag, std::uint32_t value)
{
    entries_.append({tag, Long, 1, value});
}

void IfdBuilder::AddBlock(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                          std::uint32_t offset, const QByteArray &block)
{
    IfdEntry e{tag, type, count, offset};
    if (block.size() <= 4) {
        std::uint32_t v = 0;
        for (int i = 0; i < block.size(); ++i)
            v |= std::uint32_t(std::uint8_t(block[i])) << (8 * i);
        e.value = v;
    }
    entries_.append(e);
}

QByteArray IfdBuilder::Serialize() const
{
    QVector<IfdEntry> sorted = entries_;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const IfdEntry &a, const IfdEntry &b) { return a.tag < b.tag; });
    QByteArray b;
    put16(b, std::uint16_t(sorted.size()));
    for (const IfdEntry &e : sorted) {
        put16(b, e.tag);
        put16(b, e.type);
        put32(b, e.count);
        put32(b, e.value);
    }
    put32(b, 0);
    return b;
}

// ------------------------------------------------------------ blocks

StripLayout ComputeStrips(std::int64_t dataEnd, int rowWidth)
{
    StripLayout s;
    const std::int64_t strip = std::int64_t(kRowsPerStrip) * rowWidth;
    const std::int64_t data = dataEnd - kHeaderBytes;
    if (data <= 0 || strip <= 0)
        return s;
    const std::int64_t n = (data + strip - 1) / strip;
    for (std::int64_t i = 0; i < n; ++i) {
        s.offsets.append(std::uint32_t(kHeaderBytes + i * strip));
        s.counts.append(std::uint32_t(i + 1 < n ? strip : data - strip * (n - 1)));
    }
    return s;
}

QVector<std::uint16_t> MakeColorMap(double gamma)
{
    QVector<std::uint16_t> map(768, 0);
    for (int i = 0; i < 254; ++i) {
        const int g = int(255.0 * std::pow(i / 255.0, gamma) + 0.5);
        const float v = float(255 - g) / 255.0f * 65535.0f;
        const std::uint16_t c = std::uint16_t(v);
        map[i] = map[256 + i] = map[512 + i] = c;
    }
    map[254] = map[256 + 254] = map[512 + 254] = 0;
    map[255] = 65535;
    map[256 + 255] = 0;
    map[512 + 255] = 0;
    return map;
}

QVector<std::uint16_t> MakeGeoKeyDirectory(std::uint16_t geographicType)
{
    return {1,    1,     2, 12,                //
            1024, 0,     1, 1,                 // GTModelType: projected
            1025, 0,     1, 1,                 // GTRasterType: pixel is area
            2048, 0,     1, geographicType,    // GeographicType
            3072, 0,     1, 32767,             // ProjectedCSType: user defined
            3074, 0,     1, 32767,             // Projection: user defined
            3075, 0,     1, 1,                 // ProjCoordTrans: transverse Mercator
            3076, 0,     1, 9001,              // ProjLinearUnits: metre
            3080, 34736, 1, 0,                 // ProjNatOriginLong
            3081, 34736, 1, 1,                 // ProjNatOriginLat
            3082, 34736, 1, 2,                 // ProjFalseEasting
            3083, 34736, 1, 3,                 // ProjFalseNorthing
            3092, 34736, 1, 4};                // ProjScaleAtNatOrigin
}

QVector<double> MakeGeoDoubleParams(double centralMeridian)
{
    // The scale of the grid the coordinates were computed in: the
    // coordinate converter's k0 (the UTM value), so that readers place
    // pixels where the rectifier put them.
    return {centralMeridian, 0.0, 500000.0, 0.0, georef::kUtmScaleFactor};
}

QVector<double> MakeModelTransformation(const CBil &grid, double column, double row)
{
    const double d = grid.GetXDim();
    const double a = grid.GetRotation() * 0.017453292519944444;
    const double c = std::cos(a), s = std::sin(a);
    double x, y;
    grid.PixelToGeo(column, row, &x, &y);
    return {c * d, s * d, 0, x,   //
            s * d, -c * d, 0, y,  //
            0, 0, 0, 0,           //
            0, 0, 0, 1};
}

TrailerTags MakeStripChartTrailer(std::uint32_t rows, const QString &missionName, int runNumber,
                                  const QDateTime &startTime, bool geo,
                                  const QVector<double> &modelTransformation,
                                  double centralMeridian)
{
    TrailerTags t;
    t.imageWidth = 1728;
    t.rowWidth = 1728;
    t.rows = rows;
    t.rgb = false;
    t.samplesPerPixelTag = false;
    t.gamma = 2.0;
    t.description = QStringLiteral("Infrared strip chart image for mission: %1  run: %2")
                        .arg(missionName)
                        .arg(runNumber)
                        .toLatin1();
    t.software = "CindrelDSP Airborne Infrared Fire Detection and Mapping System";
    t.dateTime = startTime.toString(QStringLiteral("dd-MMMM-yyyy hh:mm:ss")).toLatin1();
    t.copyright = CopyrightText(startTime.date().year());
    t.geo = geo;
    t.modelTransformation = modelTransformation;
    t.geographicType = 4326;
    t.centralMeridian = centralMeridian;
    return t;
}

TrailerTags MakeOrthoTrailer(std::uint32_t rows, int rowWidth, bool twoColor, bool nad27,
                             const QDateTime &trailerTime,
                             const QVector<double> &modelTransformation,
                             double centralMeridian)
{
    TrailerTags t;
    t.rowWidth = rowWidth;
    t.imageWidth = std::uint32_t(twoColor ? rowWidth / 3 : rowWidth);
    t.rows = rows;
    t.rgb = twoColor;
    t.samplesPerPixelTag = twoColor;
    t.gamma = 1.0;
    t.description = twoColor ? "Orthorectified Infrared Two-color Strip Chart Image"
                             : "Orthorectified Infrared Strip Chart Image";
    t.software = "Cindrel Airborne Infrared Wildland Fire Detection and Mapping System";
    t.dateTime = trailerTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
    t.copyright = CopyrightText(trailerTime.date().year());
    t.geo = true;
    t.modelTransformation = modelTransformation;
    t.geographicType = nad27 ? 4267 : 4269;
    t.centralMeridian = centralMeridian;
    return t;
}

// ------------------------------------------------------------- steps

bool WriteHeader(std::FILE *f)
{
    if (!f)
        return false;
    QByteArray b("II");
    put16(b, 42);
    put32(b, 0);
    return std::fwrite(b.constData(), 1, size_t(b.size()), f) == size_t(b.size());
}

bool WriteRow(std::FILE *f, const void *row, int length, int rowWidth)
{
    if (!f || rowWidth <= 0)
        return false;
    const int n = std::max(0, std::min(length, rowWidth));
    bool ok = true;
    if (n > 0)
        ok = std::fwrite(row, 1, size_t(n), f) == size_t(n);
    if (n < rowWidth) {
        static const char zeros[4096] = {};
        int left = rowWidth - n;
        while (ok && left > 0) {
            const int k = std::min(left, int(sizeof zeros));
            ok = std::fwrite(zeros, 1, size_t(k), f) == size_t(k);
            left -= k;
        }
    }
    return ok;
}

QByteArray BuildTrailer(const TrailerTags &recipe, std::int64_t dataEnd, TrailerLayout *layoutOut)
{
    TrailerLayout layout;
    QByteArray out;
    std::int64_t pos = dataEnd;
    auto place = [&](const QByteArray &block) {
        const std::uint32_t at = std::uint32_t(pos);
        out += block;
        pos += block.size();
        return at;
    };

    const QByteArray description = withNul(recipe.description);
    layout.description = place(description);
    layout.descriptionCount = std::uint32_t(description.size());

    const StripLayout strips = ComputeStrips(dataEnd, recipe.rowWidth);
    layout.strips = std::uint32_t(strips.offsets.size());
    const QByteArray stripOffsets = longs(strips.offsets);
    const QByteArray stripCounts = longs(strips.counts);
    layout.stripOffsets = place(stripOffsets);
    layout.stripByteCounts = place(stripCounts);

    const QByteArray xres = rational(203, 1), yres = rational(200, 1);
    layout.xResolution = place(xres);
    layout.yResolution = place(yres);

    const QByteArray software = withNul(recipe.software);
    const QByteArray dateTime = withNul(recipe.dateTime);
    const QByteArray copyright = withNul(recipe.copyright);
    layout.software = place(software);
    layout.softwareCount = std::uint32_t(software.size());
    layout.dateTime = place(dateTime);
    layout.dateTimeCount = std::uint32_t(dateTime.size());
    layout.copyright = place(copyright);
    layout.copyrightCount = std::uint32_t(copyright.size());

    QByteArray colorMap, bps;
    if (recipe.rgb) {
        bps = shorts({8, 8, 8});
        layout.bitsPerSample = place(bps);
    } else {
        colorMap = shorts(MakeColorMap(recipe.gamma));
        layout.colorMap = place(colorMap);
    }

    QByteArray mt, gkd, gdp;
    if (recipe.geo) {
        QVector<double> m = recipe.modelTransformation;
        m.resize(16);
        mt = doubles(m);
        gkd = shorts(MakeGeoKeyDirectory(recipe.geographicType));
        gdp = doubles(MakeGeoDoubleParams(recipe.centralMeridian));
        layout.modelTransformation = place(mt);
        layout.geoKeyDirectory = place(gkd);
        layout.geoDoubleParams = place(gdp);
    }

    IfdBuilder ifd;
    ifd.AddLong(ImageWidth, recipe.imageWidth);
    ifd.AddLong(ImageLength, recipe.rows);
    if (recipe.rgb)
        ifd.AddBlock(BitsPerSample, Short, 3, layout.bitsPerSample, bps);
    else
        ifd.AddShort(BitsPerSample, 8);
    ifd.AddShort(Compression, 1);
    ifd.AddShort(PhotometricInterpretation, recipe.rgb ? 2 : 3);
    ifd.AddBlock(ImageDescription, Ascii, layout.descriptionCount, layout.description, description);
    ifd.AddBlock(StripOffsets, Long, layout.strips, layout.stripOffsets, stripOffsets);
    ifd.AddShort(Orientation, 1);
    if (recipe.samplesPerPixelTag)
        ifd.AddLong(SamplesPerPixel, 3);
    ifd.AddLong(RowsPerStrip, kRowsPerStrip);
    ifd.AddBlock(StripByteCounts, Long, layout.strips, layout.stripByteCounts, stripCounts);
    ifd.AddBlock(XResolution, Rational, 1, layout.xResolution, xres);
    ifd.AddBlock(YResolution, Rational, 1, layout.yResolution, yres);
    ifd.AddShort(ResolutionUnit, 2);
    ifd.AddBlock(Software, Ascii, layout.softwareCount, layout.software, software);
    ifd.AddBlock(DateTime, Ascii, layout.dateTimeCount, layout.dateTime, dateTime);
    if (!recipe.rgb)
        ifd.AddBlock(ColorMap, Short, 768, layout.colorMap, colorMap);
    ifd.AddBlock(Copyright, Ascii, layout.copyrightCount, layout.copyright, copyright);
    if (recipe.geo) {
        ifd.AddBlock(ModelTransformationTag, Double, 16, layout.modelTransformation, mt);
        ifd.AddBlock(GeoKeyDirectoryTag, Short, kGeoKeyShorts, layout.geoKeyDirectory, gkd);
        ifd.AddBlock(GeoDoubleParamsTag, Double, kGeoDoubles, layout.geoDoubleParams, gdp);
    }
    layout.ifd = place(ifd.Serialize());
    layout.ifdEntries = std::uint32_t(ifd.Entries().size());
    layout.end = pos;
    if (pos > std::int64_t(std::numeric_limits<std::uint32_t>::max()))
        layout.end = -1;   // beyond what 32-bit offsets can address
    if (layoutOut)
        *layoutOut = layout;
    return out;
}

bool WriteTrailer(std::FILE *f, const TrailerTags &recipe, std::int64_t dataEnd, TrailerLayout *layoutOut)
{
    if (!f)
        return false;
    TrailerLayout layout;
    const QByteArray trailer = BuildTrailer(recipe, dataEnd, &layout);
    if (layoutOut)
        *layoutOut = layout;
    if (layout.end < 0)
        return false;
    bool ok = std::fwrite(trailer.constData(), 1, size_t(trailer.size()), f) == size_t(trailer.size());
    ok = std::fflush(f) == 0 && ok;
    QByteArray off;
    put32(off, layout.ifd);
    ok = std::fseek(f, 4, SEEK_SET) == 0 && ok;
    ok = ok && std::fwrite(off.constData(), 1, 4, f) == 4;
    ok = std::fflush(f) == 0 && ok;
    std::fseek(f, 0, SEEK_END);
    return ok;
}

QString FinalPathFor(const QString &tmpPath)
{
    const QFileInfo fi(tmpPath);
    return QDir::toNativeSeparators(fi.path() + QLatin1Char('/') + fi.completeBaseName()
                                    + QStringLiteral(".tif"));
}

QString JpegPathFor(const QString &tifPath)
{
    const QFileInfo fi(tifPath);
    return QDir::toNativeSeparators(fi.path() + QStringLiteral("/jpeg/") + fi.completeBaseName()
                                    + QStringLiteral(".jpg"));
}

bool FinalPass(const QString &tmpPath, const QString &finalPath, int rowWidth, std::int64_t rows,
               const Stamp *stamp)
{
    if (rowWidth <= 0 || rows < 0)
        return false;
    QFile in(tmpPath);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const std::int64_t dataEnd = kHeaderBytes + rows * rowWidth;
    const std::int64_t size = in.size();
    if (size < dataEnd)
        return false;

    QSaveFile out(finalPath);
    if (!out.open(QIODevice::WriteOnly))
        return false;

    bool ok = true;
    auto copyOut = [&](const char *p, std::int64_t n) {
        ok = ok && out.write(p, n) == n;
    };
    const QByteArray header = in.read(kHeaderBytes);
    ok = header.size() == kHeaderBytes;
    copyOut(header.constData(), header.size());

    // Rows from the last to the first, a block of rows at a time.
    const std::int64_t blockRows = std::max<std::int64_t>(1, (4 << 20) / rowWidth);
    QByteArray block;
    QByteArray rowBuf(rowWidth, '\0');
    bool first = true;
    std::int64_t end = rows;   // rows [0, end) remain
    while (ok && end > 0) {
        const std::int64_t begin = std::max<std::int64_t>(0, end - blockRows);
        const std::int64_t bytes = (end - begin) * rowWidth;
        ok = in.seek(kHeaderBytes + begin * rowWidth);
        block = in.read(bytes);
        ok = ok && block.size() == bytes;
        for (std::int64_t r = end - 1; ok && r >= begin; --r) {
            const char *src = block.constData() + (r - begin) * rowWidth;
            if (first && stamp) {
                std::memcpy(rowBuf.data(), src, size_t(rowWidth));
                QByteArray s;
                putDouble(s, stamp->a);
                putDouble(s, stamp->b);
                put32(s, stamp->c);
                std::memcpy(rowBuf.data(), s.constData(), size_t(std::min(rowWidth, int(s.size()))));
                copyOut(rowBuf.constData(), rowWidth);
            } else {
                copyOut(src, rowWidth);
            }
            first = false;
        }
        end = begin;
    }

    // The trailer, unchanged.
    ok = ok && in.seek(dataEnd);
    while (ok && !in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty())
            break;
        copyOut(chunk.constData(), chunk.size());
    }
    in.close();
    if (!ok || !out.commit()) {
        out.cancelWriting();
        return false;
    }
    QFile::remove(tmpPath);
    return true;
}

namespace {

// An image written by this module, read back without a TIFF library: the
// layout is ours (uncompressed, one contiguous run of rows), so the rows are
// converted straight to RGB. False for anything else.
bool ReadOwnImage(const QString &tifPath, QImage *out, ImageGeoReference *geo)
{
    QFile f(tifPath);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = f.size();
    auto readAt = [&](qint64 offset, void *dst, qint64 n) {
        return offset >= 0 && n >= 0 && offset + n <= size && f.seek(offset)
               && f.read(static_cast<char *>(dst), n) == n;
    };
    auto u16 = [](const uchar *p) { return std::uint16_t(p[0] | (p[1] << 8)); };
    auto u32 = [](const uchar *p) {
        return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16)
               | (std::uint32_t(p[3]) << 24);
    };
    auto doubles = [&](std::uint32_t offset, double *dst, int n) {
        QByteArray raw(8 * n, '\0');
        if (!readAt(offset, raw.data(), raw.size()))
            return false;
        std::memcpy(dst, raw.constData(), size_t(raw.size()));   // little-endian host
        return true;
    };
    uchar head[8];
    if (!readAt(0, head, 8) || u16(head) != 0x4949 || u16(head + 2) != 42)
        return false;
    const std::uint32_t ifd = u32(head + 4);
    uchar countRaw[2];
    if (!readAt(ifd, countRaw, 2))
        return false;
    std::uint32_t width = 0, height = 0, firstStrip = 0, colorMap = 0, spp = 1, bits = 8;
    std::uint32_t compression = 1, photometric = 0, transform = 0, keys = 0, params = 0;
    for (int i = 0; i < u16(countRaw); ++i) {
        uchar e[12];
        if (!readAt(ifd + 2 + 12 * qint64(i), e, 12))
            return false;
        const std::uint16_t type = u16(e + 2);
        const std::uint32_t count = u32(e + 4);
        const std::uint32_t value = type == Short && count == 1 ? u16(e + 8) : u32(e + 8);
        switch (u16(e)) {
        case ImageWidth: width = value; break;
        case ImageLength: height = value; break;
        case BitsPerSample: bits = count == 1 ? value : 8; break;
        case Compression: compression = value; break;
        case PhotometricInterpretation: photometric = value; break;
        case StripOffsets: {
            uchar first[4];
            if (count == 1)
                firstStrip = value;
            else if (readAt(value, first, 4))
                firstStrip = u32(first);
            break;
        }
        case SamplesPerPixel: spp = value; break;
        case ColorMap: colorMap = value; break;
        case ModelTransformationTag: transform = value; break;
        case GeoKeyDirectoryTag: keys = value; break;
        case GeoDoubleParamsTag: params = value; break;
        default: break;
        }
    }
    const bool palette = photometric == 3 && spp == 1;
    const bool rgb = photometric == 2 && spp == 3;
    if (compression != 1 || bits != 8 || !(palette || rgb) || width == 0 || height == 0 || width > 1000000
        || (palette && colorMap == 0))
        return false;
    const qint64 rowBytes = qint64(width) * spp;
    if (qint64(firstStrip) + rowBytes * height > size)
        return false;

    std::uint8_t lut[256][3] = {};
    if (palette) {
        QByteArray map(768 * 2, '\0');
        if (!readAt(colorMap, map.data(), map.size()))
            return false;
        const auto *m = reinterpret_cast<const uchar *>(map.constData());
        for (int i = 0; i < 256; ++i)
            for (int ch = 0; ch < 3; ++ch)
                lut[i][ch] = std::uint8_t(u16(m + 2 * (256 * ch + i)) >> 8);
    }
    QImage image(int(width), int(height), QImage::Format_RGB888);
    if (image.isNull())
        return false;
    if (!f.seek(firstStrip))
        return false;
    QByteArray row(int(rowBytes), '\0');
    for (std::uint32_t y = 0; y < height; ++y) {
        if (f.read(row.data(), rowBytes) != rowBytes)
            return false;
        uchar *dst = image.scanLine(int(y));
        const auto *src = reinterpret_cast<const uchar *>(row.constData());
        if (rgb) {
            std::memcpy(dst, src, size_t(rowBytes));
        } else {
            for (std::uint32_t x = 0; x < width; ++x, dst += 3) {
                const std::uint8_t *c = lut[src[x]];
                dst[0] = c[0];
                dst[1] = c[1];
                dst[2] = c[2];
            }
        }
    }
    *out = image;

    *geo = ImageGeoReference();
    double m[8], p[5];
    QByteArray dir(kGeoKeyShorts * 2, '\0');
    if (transform && keys && params && doubles(transform, m, 8) && doubles(params, p, kGeoDoubles)
        && readAt(keys, dir.data(), dir.size())) {
        const auto *k = reinterpret_cast<const uchar *>(dir.constData());
        for (int i = 4; i + 3 < kGeoKeyShorts; i += 4)
            if (u16(k + 2 * i) == 2048)
                geo->geographicType = u16(k + 2 * (i + 3));
        geo->valid = std::isfinite(m[0]) && std::isfinite(m[3]) && std::isfinite(m[7]) && m[0] != 0.0;
        geo->a = m[0];
        geo->b = m[1];
        geo->x = m[3];
        geo->d = m[4];
        geo->e = m[5];
        geo->y = m[7];
        geo->centralMeridian = p[0];
        geo->scaleFactor = p[4];
    }
    return true;
}

} // namespace

bool ReadImage(const QString &tifPath, QImage *image, ImageGeoReference *geo)
{
    ImageGeoReference unused;
    return ReadOwnImage(tifPath, image, geo ? geo : &unused);
}

bool SaveJpegCopy(const QString &tifPath)
{
    QImage image;
    ImageGeoReference geo;
    // Our own layout is read directly; only a foreign file goes through the
    // image plug-ins (whose TIFF reader complains about the GeoTIFF tags).
    if (!ReadOwnImage(tifPath, &image, &geo)) {
        image = QImage(tifPath);
        if (image.isNull())
            return false;
        image = image.convertToFormat(QImage::Format_RGB888);
    }
    const QString jpg = JpegPathFor(tifPath);
    QDir().mkpath(QFileInfo(jpg).path());
    if (!cindrel::saveImageWhole(image.convertToFormat(QImage::Format_RGB888), jpg, "JPG", 35))
        return false;
    // The copy lies where the TIFF does.
    if (geo.valid) {
        const georef::WorldFile world =
            georef::WorldFileFromCornerTransform(geo.a, geo.b, geo.x, geo.d, geo.e, geo.y);
        georef::WritePictureSidecars(
            jpg, world, georef::TransverseMercatorWkt(geo.geographicType, geo.centralMeridian, geo.scaleFactor));
    }
    return true;
}

} // namespace tiffstream
