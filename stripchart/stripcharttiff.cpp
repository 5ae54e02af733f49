#include "stripchart/stripcharttiff.h"

// PLACEHOLDER generic pieces until the shared writer routines land.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <cstring>
#include <vector>

namespace stripchart {

namespace {
constexpr std::uint32_t kRowBytes = 1728;

void put16(std::FILE *f, std::uint16_t v)
{
    const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    std::fwrite(b, 1, 2, f);
}
void put32(std::FILE *f, std::uint32_t v)
{
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    std::fwrite(b, 1, 4, f);
}
void putDouble(std::FILE *f, double d)
{
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    put32(f, static_cast<std::uint32_t>(u));
    put32(f, static_cast<std::uint32_t>(u >> 32));
}
std::uint32_t tell(std::FILE *f)
{
    return static_cast<std::uint32_t>(std::ftell(f));
}
std::uint32_t putText(std::FILE *f, const QByteArray &t)
{
    std::fwrite(t.constData(), 1, static_cast<std::size_t>(t.size()) + 1, f);
    return static_cast<std::uint32_t>(t.size() + 1);
}
} // namespace

void writeTiffHeader(std::FILE *f)
{
    put16(f, 0x4949);
    put16(f, 42);
    put32(f, 0);
}

int writeStripChartTrailer(std::FILE *f, const StripChartTrailer &t)
{
    std::fseek(f, 0, SEEK_END);
    const std::uint32_t dataEnd = 8 + t.rows * kRowBytes;
    const std::uint32_t stripBytes = 10 * kRowBytes;
    const std::uint32_t strips = (dataEnd - 8 + stripBytes - 1) / stripBytes;

    const QByteArray desc = t.description.toLatin1();
    const QByteArray software = QByteArrayLiteral("CindrelDSP Airborne Infrared Fire Detection and Mapping System");
    const QByteArray date = t.startTime.toString(QStringLiteral("dd-MMMM-yyyy hh:mm:ss")).toLatin1();
    const QByteArray copyright = QByteArrayLiteral("Copyright (c) Tarn Fire Mapping ") +
                                 t.startTime.toString(QStringLiteral("yyyy")).toLatin1();

    const std::uint32_t descOff = tell(f);
    const std::uint32_t descLen = putText(f, desc);
    const std::uint32_t offsOff = tell(f);
    for (std::uint32_t i = 0; i < strips; ++i)
        put32(f, 8 + i * stripBytes);
    const std::uint32_t countsOff = tell(f);
    for (std::uint32_t i = 0; i < strips; ++i)
        put32(f, i + 1 < strips ? stripBytes : dataEnd - 8 - stripBytes * (strips - 1));
    const std::uint32_t xresOff = tell(f);
    put32(f, 203);
    put32(f, 1);
    const std::uint32_t yresOff = tell(f);
    put32(f, 200);
    put32(f, 1);
    const std::uint32_t swOff = tell(f);
    const std::uint32_t swLen = putText(f, software);
    const std::uint32_t dateOff = tell(f);
    const std::uint32_t dateLen = putText(f, date);
    const std::uint32_t copyOff = tell(f);
    const std::uint32_t copyLen = putText(f, copyright);
    const std::uint32_t cmapOff = tell(f);
    for (int ch = 0; ch < 3; ++ch) {
        for (int i = 0; i < 256; ++i) {
            std::uint16_t v;
            if (i == 254)
                v = 0;
            else if (i == 255)
                v = ch == 0 ? 65535 : 0;
            else {
                const double x = i / 255.0;
                const int g = static_cast<int>(255.0 * x * x + 0.5);
                v = static_cast<std::uint16_t>(float(255 - g) / 255.0f * 65535.0f);
            }
            put16(f, v);
        }
    }
    std::uint32_t mtOff = 0, gkOff = 0, gdOff = 0;
    if (t.geo) {
        mtOff = tell(f);
        const double d = t.cellSize;
        const double m[16] = {t.cosRot * d, t.sinRot * d, 0, t.originX, t.sinRot * d, -t.cosRot * d, 0, t.originY,
                              0, 0, 0, 0, 0, 0, 0, 1};
        for (double v : m)
            putDouble(f, v);
        gkOff = tell(f);
        const std::uint16_t keys[52] = {1, 1, 2, 12, 1024, 0, 1, 1, 1025, 0, 1, 1, 2048, 0, 1, 4326,
                                        3072, 0, 1, 32767, 3074, 0, 1, 32767, 3075, 0, 1, 1, 3076, 0, 1, 9001,
                                        3080, 34736, 1, 0, 3081, 34736, 1, 1, 3082, 34736, 1, 2, 3083, 34736, 1, 3,
                                        3092, 34736, 1, 4};
        for (std::uint16_t k : keys)
            put16(f, k);
        gdOff = tell(f);
        putDouble(f, t.centralMeridian);
        putDouble(f, 0.0);
        putDouble(f, 500000.0);
        putDouble(f, 0.0);
        std::uint64_t bits = 0x3FEFFCBBDD91402FULL;
        double k0;
        std::memcpy(&k0, &bits, 8);
        putDouble(f, k0);
    }
    const std::uint32_t ifdOff = tell(f);
    const int n = t.geo ? 20 : 17;
    put16(f, static_cast<std::uint16_t>(n));
    auto entry = [f](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        put16(f, tag);
        put16(f, type);
        put32(f, count);
        put32(f, value);
    };
    entry(256, 4, 1, kRowBytes);
    entry(257, 4, 1, t.rows);
    entry(258, 3, 1, 8);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 3);
    entry(270, 2, descLen, descOff);
    entry(273, 4, strips, strips == 1 ? 8 : offsOff);
    entry(274, 3, 1, 1);
    entry(278, 4, 1, 10);
    entry(279, 4, strips, strips == 1 ? dataEnd - 8 : countsOff);
    entry(282, 5, 1, xresOff);
    entry(283, 5, 1, yresOff);
    entry(296, 3, 1, 2);
    entry(305, 2, swLen, swOff);
    entry(306, 2, dateLen, dateOff);
    entry(320, 3, 768, cmapOff);
    entry(33432, 2, copyLen, copyOff);
    if (t.geo) {
        entry(34264, 12, 16, mtOff);
        entry(34735, 3, 52, gkOff);
        entry(34736, 12, 5, gdOff);
    }
    put32(f, 0);
    std::fseek(f, 4, SEEK_SET);
    put32(f, ifdOff);
    std::fseek(f, 0, SEEK_END);
    return n;
}

bool finalizeTiff(const QString &tmpPath, const QString &finalPath)
{
    QFile in(tmpPath), out(finalPath);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray all = in.readAll();
    in.close();
    if (all.size() < 8)
        return false;
    std::uint32_t ifd;
    std::memcpy(&ifd, all.constData() + 4, 4);
    out.write(all.constData(), 8);
    // Rows: data end is the first trailer byte; count from the ImageLength
    // entry is not needed: rows are whole rows up to the description.
    // (placeholder: take rows from the IFD's ImageLength)
    const unsigned char *p = reinterpret_cast<const unsigned char *>(all.constData()) + ifd;
    const int n = p[0] | (p[1] << 8);
    std::uint32_t rows = 0;
    for (int i = 0; i < n; ++i) {
        const unsigned char *e = p + 2 + 12 * i;
        if ((e[0] | (e[1] << 8)) == 257)
            std::memcpy(&rows, e + 8, 4);
    }
    const qint64 dataEnd = 8 + qint64(rows) * kRowBytes;
    for (qint64 r = rows; r-- > 0;)
        out.write(all.constData() + 8 + r * kRowBytes, kRowBytes);
    out.write(all.constData() + dataEnd, all.size() - dataEnd);
    out.close();
    QFile::remove(tmpPath);
    return true;
}

bool saveJpegCopy(const QString &finalPath)
{
    const QImage img(finalPath);
    if (img.isNull())
        return false;
    const QFileInfo fi(finalPath);
    QDir().mkpath(fi.path() + QStringLiteral("/jpeg"));
    return img.convertToFormat(QImage::Format_RGB888)
        .save(fi.path() + QStringLiteral("/jpeg/") + fi.completeBaseName() + QStringLiteral(".jpg"), "JPG", 35);
}

} // namespace stripchart
