#pragma once
// Shared pieces of the strip chart tests: a data source that only answers
// what the builder asks, scan line makers and a small reader of the TIFF
// files the builder writes.
#include "datasource/cdatasource.h"
#include "datasource/scanline.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QVector>

#include <cstdint>
#include <vector>

namespace stripfix {

class FakeSource : public CDataSource {
public:
    QDateTime GetDateTime() override { return start; }
    float GetSpeed() override { return speed; }
    QDateTime start = QDateTime(QDate(2024, 7, 15), QTime(14, 32), Qt::UTC);
    float speed = 60.0f;
};

// A level line at the given position (degrees), altitude (m), speed (m/s)
// and track = heading (degrees); pix all zero.
ScanLineRec makeLine(double lat, double lon, double altM, double speedMs, double trackDeg, std::uint32_t index);

struct TiffEntry {
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint32_t value = 0;
};

struct TiffFile {
    bool ok = false;
    QByteArray bytes;
    QMap<std::uint16_t, TiffEntry> entries;
    int width = 0;
    int rows = 0;
    const std::uint8_t *row(int r) const
    {
        return reinterpret_cast<const std::uint8_t *>(bytes.constData()) + 8 + std::size_t(r) * std::size_t(width);
    }
    QVector<double> doubles(std::uint16_t tag) const;
    QByteArray text(std::uint16_t tag) const;
};

TiffFile readTiff(const QString &path);

// Count of bytes equal to v in [from, to) of a row.
int countValue(const std::uint8_t *row, int from, int to, std::uint8_t v);

} // namespace stripfix
