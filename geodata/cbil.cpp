#include "geodata/cbil.h"

#include "platform/wholefile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr double kDegToRad = 0.017453292519944444;

// a * b into *out; false on overflow (both non-negative).
bool mulChecked(qint64 a, qint64 b, qint64 *out)
{
    if (a < 0 || b < 0)
        return false;
    if (a != 0 && b > std::numeric_limits<qint64>::max() / a)
        return false;
    *out = a * b;
    return true;
}

// Integer value of a header line, as read by a C library atoi but refusing
// a value without digits or beyond 32 bits (ok is cleared then): a damaged
// key must not quietly become 0.
int parseInt(const QByteArray &value, bool *ok)
{
    const char *s = value.constData();
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s, &end, 10);
    if (end == s) {
        *ok = false;
        return 0;
    }
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) {
        *ok = false;
        return 0;
    }
    return int(v);
}

double parseDouble(const QByteArray &value)
{
    return std::strtod(value.constData(), nullptr);
}

inline void swapBytes(unsigned char *p, int n)
{
    std::reverse(p, p + n);
}

bool hostIsLittleEndian()
{
    const quint16 one = 1;
    unsigned char b;
    std::memcpy(&b, &one, 1);
    return b == 1;
}

// Byte order value of the host (0 = most significant byte first).
int hostByteOrder()
{
    static const int order = hostIsLittleEndian() ? 1 : 0;
    return order;
}

QByteArray stripEnding(QByteArray s, const char *ending)
{
    const int n = int(std::strlen(ending));
    while (s.endsWith(ending))
        s.chop(n);
    return s;
}

} // namespace

// ---------------------------------------------------------------- BilHeader

int BilHeader::BytesPerSample(int type)
{
    switch (type) {
    case Int16: return 2;
    case Int32: return 4;
    case Float32: return 4;
    case Float64: return 8;
    case Int8: return 1;
    case UInt8: return 1;
    case UInt16: return 2;
    case UInt32: return 4;
    default: return 0;
    }
}

void BilHeader::Derive()
{
    bytesPerSample = BytesPerSample(pixelType);
    const qint64 bps = bytesPerSample;
    bool ok = ncols >= 0 && nrows >= 0 && nbands >= 0 && skipbytes >= 0;
    ok = ok && mulChecked(bps, ncols, &bandRowBytes);
    ok = ok && mulChecked(bps, nbands, &pixelBytes);
    ok = ok && mulChecked(qint64(ncols), nbands, &samplesPerRow);
    ok = ok && mulChecked(samplesPerRow, bps, &totalRowBytes);
    ok = ok && mulChecked(qint64(nrows), ncols, &pixelsPerBand);
    ok = ok && mulChecked(pixelsPerBand, bps, &bandBytes);
    ok = ok && mulChecked(pixelsPerBand, nbands, &totalSamples);
    ok = ok && mulChecked(totalSamples, bps, &totalBytes);
    ok = ok && totalBytes <= std::numeric_limits<qint64>::max() - skipbytes;
    if (ok) {
        fileBytes = skipbytes + totalBytes;
    } else {
        bandRowBytes = pixelBytes = samplesPerRow = totalRowBytes = 0;
        pixelsPerBand = bandBytes = totalSamples = totalBytes = fileBytes = 0;
    }
    sizesValid = ok;

    width = ncols * xdim;
    height = nrows * ydim;
    rotationCos = std::cos(rotation * kDegToRad);
    rotationSin = std::sin(rotation * kDegToRad);
    left = ulxmap - xdim * refColumn;
    if (cornerRegistration == 0)
        left -= xdim / 2;
    right = left + width;
    if (rowsRunDown) {
        top = ulymap + ydim * refRow;
        if (cornerRegistration == 0)
            top += ydim / 2;
        bottom = top - height;
    } else {
        bottom = ulymap - ydim * refRow;
        if (cornerRegistration == 0)
            bottom -= ydim / 2;
        top = bottom + height;
    }
}

// --------------------------------------------------------------------- CBil

CBil::CBil()
{
    Reset();
}

CBil::~CBil()
{
    Release();
    file_.close();
}

void CBil::Reset()
{
    h_ = BilHeader();
    h_.Derive();
}

void CBil::DropData()
{
    if (storage_ == Owned)
        std::free(data_);
    if (map_) {
        file_.unmap(map_);
        map_ = nullptr;
    }
    if (file_.isOpen())
        file_.close();
    data_ = nullptr;
    dataBytes_ = 0;
    storage_ = None;
}

bool CBil::DataCoversHeader() const
{
    return data_ && h_.sizesValid && h_.totalBytes <= dataBytes_;
}

void CBil::Release()
{
    DropData();
    Reset();
}

void CBil::SetDimensions(int ncols, int nrows, int nbands, int pixelType)
{
    h_.ncols = ncols;
    h_.nrows = nrows;
    h_.nbands = nbands;
    h_.pixelType = pixelType;
    h_.Derive();
}

void CBil::SetGeoReference(double xdim, double ydim, double refColumn, double refRow,
                           double ulxmap, double ulymap, int cornerRegistration,
                           double rotation, int rowsRunDown)
{
    h_.xdim = xdim;
    h_.ydim = ydim;
    h_.refColumn = refColumn;
    h_.refRow = refRow;
    h_.ulxmap = ulxmap;
    h_.ulymap = ulymap;
    h_.cornerRegistration = cornerRegistration;
    h_.rotation = rotation;
    h_.rowsRunDown = rowsRunDown;
    h_.Derive();
}

void CBil::SetTitle(const QByteArray &title)
{
    h_.title = title.left(BilHeader::kTextBytes - 1);
}

void CBil::SetCommand(const QByteArray &command)
{
    h_.command = command.left(BilHeader::kTextBytes - 1);
}

bool CBil::AddComment(const QByteArray &comment)
{
    if (h_.comments.size() >= BilHeader::kMaxComments)
        return false;
    h_.comments.append(comment.left(BilHeader::kTextBytes - 1));
    return true;
}

bool CBil::Allocate()
{
    DropData();
    if (BilHeader::BytesPerSample(h_.pixelType) == 0 || !h_.sizesValid)
        return false;
    if (quint64(h_.totalBytes) > quint64(std::numeric_limits<size_t>::max()))
        return false;
    void *p = std::calloc(size_t(std::max<qint64>(h_.totalBytes, 1)), 1);
    if (!p)
        return false;
    data_ = static_cast<unsigned char *>(p);
    dataBytes_ = h_.totalBytes;
    storage_ = Owned;
    return true;
}

bool CBil::Fill(unsigned char value)
{
    if (storage_ != Owned || !DataCoversHeader())
        return false;
    std::memset(data_, value, size_t(h_.totalBytes));
    return true;
}

const unsigned char *CBil::RowData(int row) const
{
    if (!DataCoversHeader() || row < 0 || row >= h_.nrows)
        return nullptr;
    return data_ + qint64(row) * h_.totalRowBytes;
}

unsigned char *CBil::MutableRowData(int row)
{
    if (storage_ != Owned || !DataCoversHeader() || row < 0 || row >= h_.nrows)
        return nullptr;
    return data_ + qint64(row) * h_.totalRowBytes;
}

// ---------------------------------------------------------------- file I/O

QString CBil::BaseName(const QString &name)
{
    QByteArray s = name.toLocal8Bit();
    s = stripEnding(s, ".bil.ers");
    s = stripEnding(s, ".bil");
    s = stripEnding(s, ".hdr");
    return QString::fromLocal8Bit(s);
}

bool CBil::ReadHeader(const QString &path, BilHeader *hp)
{
    BilHeader &h = *hp;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;

    bool valid = true;
    bool sawByteOrder = false;
    QByteArray byteOrderValue;
    int nbits = 8;
    int bandRowBytes = 0;
    int totalRowBytes = 0;
    bool sawTotalRowBytes = false;

    while (!f.atEnd()) {
        // Lines of at most 249 characters; a longer line continues as the next.
        char buf[BilHeader::kTextBytes];
        const qint64 got = f.readLine(buf, sizeof buf);
        if (got <= 0)
            break;
        QByteArray line(buf, int(got));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);

        int i = 0;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        const QByteArray keyword = line.left(i).toLower();
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const QByteArray value = line.mid(i);
        if (keyword.isEmpty())
            continue;

        if (keyword.contains("title")) {
            h.title = value.left(BilHeader::kTextBytes - 1);
        } else if (keyword.contains("command")) {
            h.command = value.left(BilHeader::kTextBytes - 1);
        } else if (keyword.contains("comment")) {
            if (h.comments.size() < BilHeader::kMaxComments)
                h.comments.append(value.left(BilHeader::kTextBytes - 1));
        } else if (keyword.contains("ncols")) {
            h.ncols = parseInt(value, &valid);
        } else if (keyword.contains("nrows")) {
            h.nrows = parseInt(value, &valid);
        } else if (keyword.contains("nbands")) {
            h.nbands = parseInt(value, &valid);
        } else if (keyword.contains("nbits")) {
            nbits = parseInt(value, &valid);
            switch (nbits) {
            case 8: h.pixelType = Int8; break;
            case 16: h.pixelType = Int16; break;
            case 32: h.pixelType = Float32; break;
            case 64: h.pixelType = Float64; break;
            default: valid = false; break;
            }
        } else if (keyword.contains("byteorder")) {
            sawByteOrder = true;
            byteOrderValue = value;
        } else if (keyword.contains("layout")) {
            if (!value.toLower().contains("bil"))
                valid = false;
        } else if (keyword.contains("skipbytes")) {
            h.skipbytes = parseInt(value, &valid);
        } else if (keyword.contains("xdim")) {
            h.xdim = parseDouble(value);
        } else if (keyword.contains("ydim")) {
            h.ydim = parseDouble(value);
        } else if (keyword.contains("ulxmap")) {
            h.ulxmap = parseDouble(value);
        } else if (keyword.contains("ulymap")) {
            h.ulymap = parseDouble(value);
        } else if (keyword.contains("bandrowbytes")) {
            bandRowBytes = parseInt(value, &valid);
        } else if (keyword.contains("totalrowbytes")) {
            totalRowBytes = parseInt(value, &valid);
            sawTotalRowBytes = true;
        }
    }
    f.close();

    if (sawByteOrder) {
        const QByteArray v = byteOrderValue.toLower();
        if (v.contains('m'))
            h.byteOrder = 0;
        else if (v.contains('i'))
            h.byteOrder = 1;
        else
            valid = false;
    }
    const qint64 sampleBytes = nbits / 8;
    if (bandRowBytes != 0 && bandRowBytes != sampleBytes * h.ncols)
        valid = false;
    if (sawTotalRowBytes && totalRowBytes != 0
        && totalRowBytes != sampleBytes * h.nbands * qint64(h.ncols))
        return false;

    h.cornerRegistration = 0;
    h.rowsRunDown = 1;
    h.refColumn = 0;
    h.refRow = 0;
    h.rotation = 0;
    return valid;
}

// A replacement of the trio stopped between its renames (see Write) left
// no header but the new trio's parts, each written whole and synced before
// the first rename: the replacement is completed, so the new trio opens.
static void CompleteInterruptedWrite(const QString &base)
{
    const QString hdr = base + QStringLiteral(".hdr"), part = QStringLiteral(".part");
    if (QFile::exists(hdr) || !QFile::exists(hdr + part))
        return;
    for (const char *ending : {".bil", ".blw"}) {
        const QString path = base + QLatin1String(ending);
        if (QFile::exists(path + part) && !cindrel::replaceFile(path + part, path))
            return;
    }
    cindrel::replaceFile(hdr + part, hdr);
}

bool CBil::Open(const QString &name)
{
    DropData();
    Reset();
    const QString base = BaseName(name);
    CompleteInterruptedWrite(base);

    BilHeader h;
    if (!ReadHeader(base + QStringLiteral(".hdr"), &h))
        return false;

    QFile world(base + QStringLiteral(".blw"));
    if (world.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QList<QByteArray> parts = world.readAll().simplified().split(' ');
        world.close();
        if (parts.size() < 6)
            return false;
        double v[6];
        for (int i = 0; i < 6; ++i) {
            bool ok = false;
            v[i] = parts[i].toDouble(&ok);
            if (!ok)
                return false;
        }
        if (v[1] != 0.0 || v[2] != 0.0)
            return false;
        h.xdim = v[0];
        h.ydim = -v[3];
        h.ulxmap = v[4];
        h.ulymap = v[5];
    }

    h.Derive();
    // A raster without bands has no rows to address; every copy and sample
    // access would work on zero-sized rows of a buffer sized otherwise.
    if (!h.sizesValid || h.ncols < 0 || h.nrows < 0 || h.nbands < 1)
        return false;

    file_.setFileName(base + QStringLiteral(".bil"));
    if (!file_.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file_.size();
    if (size < h.fileBytes) {
        file_.close();
        return false;
    }
    map_ = file_.map(0, size);
    if (!map_) {
        file_.close();
        return false;
    }
    data_ = map_ + h.skipbytes;
    dataBytes_ = size - h.skipbytes;
    storage_ = Mapped;
    h_ = h;
    return true;
}

bool CBil::Write(const QString &name) const
{
    const QString base = BaseName(name);

    // Each file is written under a temporary name and only renamed into
    // place when the whole trio has been written.
    bool hdrOk = false;
    const QString part = QStringLiteral(".part");
    QFile hdr(base + QStringLiteral(".hdr") + part);
    if (hdr.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        QByteArray t;
        if (!h_.title.isEmpty())
            t += "TITLE\t\t" + h_.title + "\n";
        for (const QByteArray &c : h_.comments)
            t += "COMMENT\t\t" + c + "\n";
        if (!h_.command.isEmpty())
            t += "COMMAND\t\t" + h_.command + "\n";
        if (h_.byteOrder == 0)
            t += "BYTEORDER     M\n";
        else if (h_.byteOrder == 1)
            t += "BYTEORDER     I\n";
        t += "LAYOUT        BIL\n";
        t += QByteArray("NROWS         ") + QByteArray::number(h_.nrows) + "\n";
        t += QByteArray("NCOLS         ") + QByteArray::number(h_.ncols) + "\n";
        t += QByteArray("NBANDS        ") + QByteArray::number(h_.nbands) + "\n";
        t += QByteArray("NBITS         ") + QByteArray::number(h_.bytesPerSample * 8) + "\n";
        t += QByteArray("BANDROWBYTES  ") + QByteArray::number(h_.bandRowBytes) + "\n";
        t += QByteArray("TOTALROWBYTES ") + QByteArray::number(h_.totalRowBytes) + "\n";
        t += "BANDGAPBYTES  0\n";
        // NBITS alone does not tell integers from floats; other readers
        // (GDAL among them) take the sample kind from this line.
        switch (h_.pixelType) {
        case Int8: case Int16: case Int32: t += "PIXELTYPE     SIGNEDINT\n"; break;
        case UInt8: case UInt16: case UInt32: t += "PIXELTYPE     UNSIGNEDINT\n"; break;
        case Float32: case Float64: t += "PIXELTYPE     FLOAT\n"; break;
        default: break;
        }
        // The pixel file starts with the skip bytes; say so, or a reader
        // would take them for samples.
        if (h_.skipbytes > 0)
            t += QByteArray("SKIPBYTES     ") + QByteArray::number(h_.skipbytes) + "\n";
        hdrOk = hdr.write(t) == t.size();
    }

    bool worldOk = false;
    QFile blw(base + QStringLiteral(".blw") + part);
    if (blw.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        QByteArray t;
        const double v[6] = {h_.xdim, 0.0, 0.0, -h_.ydim, h_.ulxmap, h_.ulymap};
        char line[64];
        for (double d : v) {
            std::snprintf(line, sizeof line, "%.14f\n", d);
            t += line;
        }
        worldOk = blw.write(t) == t.size();
    }

    bool dataOk = false;
    QFile bil(base + QStringLiteral(".bil") + part);
    if (h_.sizesValid && (DataCoversHeader() || h_.totalBytes == 0)
        && bil.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        dataOk = true;
        if (h_.skipbytes > 0) {
            const QByteArray zeros(h_.skipbytes, '\0');
            dataOk = bil.write(zeros) == zeros.size();
        }
        qint64 done = 0;
        while (dataOk && done < h_.totalBytes) {
            const qint64 n = bil.write(reinterpret_cast<const char *>(data_) + done,
                                       h_.totalBytes - done);
            if (n <= 0)
                dataOk = false;
            else
                done += n;
        }
    }

    // Buffered bytes reach the disk here, so a full disk shows before any
    // file of an earlier trio is touched; the files are synced now, so that
    // the renames below follow each other at once.
    auto synced = [](QFile &f) { return f.isOpen() && f.flush() && cindrel::syncHandle(f.handle()); };
    const bool written = hdrOk && worldOk && dataOk && synced(hdr) && synced(blw) && synced(bil);
    hdr.close();
    blw.close();
    bil.close();
    auto dropParts = [&]() {
        for (QFile *f : {&hdr, &blw, &bil})
            QFile::remove(f->fileName());
    };
    if (!written) {
        dropParts();
        return false;
    }
    // Three renames cannot be one step. The header goes first and comes
    // back last: while the pixel data and the world file are replaced there
    // is no header, so a reader never opens a new .bil with an old world
    // file or header. A program stopped between the renames leaves the
    // header's part behind, and the next Open completes the renames.
    const QString hdrPath = base + QStringLiteral(".hdr");
    if (QFile::exists(hdrPath) && !QFile::remove(hdrPath)) {
        dropParts();
        return false;
    }
    if (!cindrel::replaceFile(bil.fileName(), base + QStringLiteral(".bil"))
        || !cindrel::replaceFile(blw.fileName(), base + QStringLiteral(".blw"))) {
        dropParts();
        return false;
    }
    return cindrel::replaceFile(hdr.fileName(), hdrPath);
}

// ------------------------------------------------------------- geometry

void CBil::PixelToGeo(double column, double row, double *x, double *y) const
{
    const double a = -h_.rotation * kDegToRad;
    const double c = std::cos(a), s = std::sin(a);
    *x = (c * column - s * row) * h_.xdim + h_.left;
    const double d = (s * column + c * row) * h_.ydim;
    *y = h_.rowsRunDown ? h_.top - d : h_.bottom + d;
}

void CBil::GeoToPixel(double x, double y, double *column, double *row) const
{
    const float col = float((x - h_.left) / h_.xdim);
    const float rw = float(h_.rowsRunDown ? (h_.top - y) / h_.ydim : (y - h_.bottom) / h_.ydim);
    if (h_.rotation != 0.0) {
        const double c = h_.rotationCos, s = h_.rotationSin;
        *column = float(c * col - s * rw);
        *row = float(c * rw + s * col);
    } else {
        *column = col;
        *row = rw;
    }
}

// ---------------------------------------------------------------- samples

bool CBil::GetRawSample(double column, double row, int band, void *out) const
{
    if (!DataCoversHeader())
        return false;
    if (!(column >= 0 && column < h_.ncols && row >= 0 && row < h_.nrows && band >= 0
          && band < h_.nbands))
        return false;
    const qint64 c = qint64(column), r = qint64(row);
    const int n = h_.bytesPerSample;
    const qint64 index = r * h_.samplesPerRow + qint64(band) * h_.ncols + c;
    unsigned char buf[8];
    std::memcpy(buf, data_ + index * n, size_t(n));
    if (n > 1 && h_.byteOrder != hostByteOrder())
        swapBytes(buf, n);
    std::memcpy(out, buf, size_t(n));
    return true;
}

bool CBil::GetValue(double column, double row, int band, double *value) const
{
    union {
        unsigned char b[8];
        qint16 i16;
        qint32 i32;
        float f32;
        double f64;
        qint8 i8;
        quint8 u8;
        quint16 u16;
        quint32 u32;
    } s;
    if (!GetRawSample(column, row, band, s.b))
        return false;
    switch (h_.pixelType) {
    case Int16: *value = s.i16; break;
    case Int32: *value = s.i32; break;
    case Float32: *value = s.f32; break;
    case Float64: *value = s.f64; break;
    case Int8: *value = s.i8; break;
    case UInt8: *value = s.u8; break;
    case UInt16: *value = s.u16; break;
    case UInt32: *value = s.u32; break;
    default: return false;
    }
    return true;
}

bool CBil::Interpolate(double x, double y, int band, double *value) const
{
    // Samples stand at their cell centres, half a cell inside the cell-edge
    // coordinates GeoToPixel gives: centre-to-centre coordinates weight the
    // four samples around the position.
    double column, row;
    GeoToPixel(x, y, &column, &row);
    column -= 0.5;
    row -= 0.5;
    const double c0 = std::floor(column), r0 = std::floor(row);
    double s00, s01, s10, s11;
    if (!GetValue(c0, r0, band, &s00) || !GetValue(c0, r0 + 1, band, &s01)
        || !GetValue(c0 + 1, r0, band, &s10) || !GetValue(c0 + 1, r0 + 1, band, &s11)) {
        *value = 0.0;
        return false;
    }
    const double fx = column - c0, fy = row - r0;
    const double upper = s00 + (s10 - s00) * fx;
    const double lower = s01 + (s11 - s01) * fx;
    *value = upper + (lower - upper) * fy;
    return true;
}

// ------------------------------------------------------------ windows

void CBil::SetWindow(double columnA, double rowA, double columnB, double rowB)
{
    if (columnA > columnB)
        std::swap(columnA, columnB);
    if (rowA > rowB)
        std::swap(rowA, rowB);
    auto toInt = [](double v) {
        if (!(v > INT_MIN && v < INT_MAX))
            return v > 0 ? INT_MAX : INT_MIN;
        return int(v);
    };
    winC0_ = toInt(columnA);
    winC1_ = toInt(columnB);
    winR0_ = toInt(rowA);
    winR1_ = toInt(rowB);
}

bool CBil::CopyWindowInto(CBil &dst) const
{
    if (winC1_ > h_.ncols || winR1_ > h_.nrows || winC0_ < 0 || winR0_ < 0)
        return false;
    if (h_.nbands != dst.h_.nbands || h_.pixelType != dst.h_.pixelType)
        return false;
    const int n = h_.bytesPerSample;

    double x, y, dc, dr;
    PixelToGeo(winC0_, winR0_, &x, &y);
    dst.GeoToPixel(x, y, &dc, &dr);
    // The destination cell corner nearest the window's corner: for grids
    // whose cells coincide that is the corner itself (up to the single
    // precision of GeoToPixel), so every cell lands on its own place. Below
    // zero (window starting left of or above the destination) the index
    // keeps counting down instead of folding onto 0.
    const double dcol = std::floor(dc + 0.5), drow = std::floor(dr + 0.5);

    // Rows are copied as one band's samples: only single-band rasters.
    if (h_.nbands != 1)
        return false;
    if (winR0_ >= winR1_ || winC0_ >= winC1_)
        return true;
    if (!DataCoversHeader() || dst.storage_ != Owned || !dst.DataCoversHeader())
        return false;
    if (!(std::fabs(dcol) < 1e9 && std::fabs(drow) < 1e9))
        return true;   // far outside the destination: nothing lands in it

    // Clip the window to the part that falls inside the destination.
    qint64 sc0 = winC0_, sc1 = winC1_, sr0 = winR0_, sr1 = winR1_;
    qint64 d0c = qint64(dcol), d0r = qint64(drow);
    if (d0c < 0) {
        sc0 -= d0c;
        d0c = 0;
    }
    if (d0r < 0) {
        sr0 -= d0r;
        d0r = 0;
    }
    sc1 = std::min<qint64>(sc1, sc0 + (dst.h_.ncols - d0c));
    sr1 = std::min<qint64>(sr1, sr0 + (dst.h_.nrows - d0r));
    if (sc0 >= sc1 || sr0 >= sr1)
        return true;

    const qint64 rowBytes = (sc1 - sc0) * n;
    const bool swap = n > 1 && h_.byteOrder != dst.h_.byteOrder;
    const unsigned char *src = data_ + sr0 * h_.totalRowBytes + sc0 * n;
    unsigned char *out = dst.data_ + d0r * dst.h_.totalRowBytes + d0c * n;
    for (qint64 r = sr0; r < sr1; ++r) {
        if (swap) {
            for (qint64 k = 0; k < rowBytes; k += n)
                for (int b = 0; b < n; ++b)
                    out[k + b] = src[k + n - 1 - b];
        } else {
            std::memcpy(out, src, size_t(rowBytes));
        }
        src += h_.totalRowBytes;
        out += dst.h_.totalRowBytes;
    }
    return true;
}

// ----------------------------------------------------------- statistics

bool CBil::ComputeStatistics(double *minimum, double *maximum, double *mean)
{
    if (h_.totalSamples == 0 || !DataCoversHeader()) {
        *mean = 0.0;
        return h_.totalSamples == 0;
    }
    statNonZero_ = statZero_ = 0;
    statSum_ = statSumSq_ = 0.0;
    int mn = 32000, mx = -32000;
    double sumAll = 0.0;
    for (int r = 0; r < h_.nrows; ++r) {
        const unsigned char *row = data_ + qint64(r) * h_.totalRowBytes;
        for (int c = 0; c < h_.ncols; ++c) {
            qint16 v;
            if (h_.bytesPerSample == 2) {
                // The common case, read in place.
                quint16 u;
                std::memcpy(&u, row + 2 * c, 2);
                if (h_.byteOrder != hostByteOrder())
                    u = quint16((u >> 8) | (u << 8));
                v = qint16(u);
            } else {
                unsigned char buf[8] = {};
                GetRawSample(c, r, 0, buf);
                std::memcpy(&v, buf, 2);
            }
            if (v > mx)
                mx = v;
            if (v != 0) {
                if (v < mn)
                    mn = v;
                ++statNonZero_;
                statSum_ += v;
                statSumSq_ += double(v) * v;
            } else {
                ++statZero_;
            }
            sumAll += v;
        }
    }
    *minimum = mn;
    *maximum = mx;
    *mean = std::trunc(sumAll / double(h_.totalSamples));
    return true;
}
