#include "stripfixtures.h"

#include <QFile>

#include <cmath>
#include <cstring>

namespace stripfix {

ScanLineRec makeLine(double lat, double lon, double altM, double speedMs, double trackDeg, std::uint32_t index)
{
    ScanLineRec l;
    l.clear();
    l.lineIndex = index;
    l.latitude = static_cast<std::int32_t>(std::llround(lat * 3600.0 * 1000.0));
    l.longitude = static_cast<std::int32_t>(std::llround(lon * 3600.0 * 1000.0));
    l.altitude = static_cast<std::int32_t>(std::llround(altM * 100.0));
    l.speed = static_cast<std::int16_t>(std::lround(speedMs * 100.0));
    l.track = static_cast<std::uint16_t>(std::lround(trackDeg * 100.0));
    l.heading = l.track;
    return l;
}

static std::uint32_t u32(const QByteArray &b, std::uint32_t off)
{
    std::uint32_t v = 0;
    if (off + 4 <= std::uint32_t(b.size()))
        std::memcpy(&v, b.constData() + off, 4);
    return v;
}

static std::uint16_t u16(const QByteArray &b, std::uint32_t off)
{
    std::uint16_t v = 0;
    if (off + 2 <= std::uint32_t(b.size()))
        std::memcpy(&v, b.constData() + off, 2);
    return v;
}

TiffFile readTiff(const QString &path)
{
    TiffFile t;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return t;
    t.bytes = f.readAll();
    if (t.bytes.size() < 8 || u16(t.bytes, 0) != 0x4949 || u16(t.bytes, 2) != 42)
        return t;
    const std::uint32_t ifd = u32(t.bytes, 4);
    const int n = u16(t.bytes, ifd);
    for (int i = 0; i < n; ++i) {
        const std::uint32_t e = ifd + 2 + 12 * std::uint32_t(i);
        TiffEntry en;
        en.type = u16(t.bytes, e + 2);
        en.count = u32(t.bytes, e + 4);
        en.value = en.type == 3 && en.count == 1 ? u16(t.bytes, e + 8) : u32(t.bytes, e + 8);
        t.entries.insert(u16(t.bytes, e), en);
    }
    t.width = int(t.entries.value(256).value);
    t.rows = int(t.entries.value(257).value);
    t.ok = t.width > 0 && 8 + qint64(t.width) * t.rows <= t.bytes.size();
    return t;
}

QVector<double> TiffFile::doubles(std::uint16_t tag) const
{
    QVector<double> out;
    if (!entries.contains(tag))
        return out;
    const TiffEntry e = entries.value(tag);
    for (std::uint32_t i = 0; i < e.count; ++i) {
        double d;
        std::memcpy(&d, bytes.constData() + e.value + 8 * i, 8);
        out.append(d);
    }
    return out;
}

QByteArray TiffFile::text(std::uint16_t tag) const
{
    if (!entries.contains(tag))
        return QByteArray();
    const TiffEntry e = entries.value(tag);
    return QByteArray(bytes.constData() + e.value, int(e.count));
}

int countValue(const std::uint8_t *row, int from, int to, std::uint8_t v)
{
    int n = 0;
    for (int i = from; i < to; ++i)
        n += row[i] == v;
    return n;
}

} // namespace stripfix
