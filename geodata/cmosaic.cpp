#include "geodata/cmosaic.h"
#include "platform/settingskeys.h"

#include "geodata/cbil.h"
#include "geodata/clineclipper.h"
#include "geodata/cnadcon.h"
#include "geodata/georefsidecar.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr double kCell = 25.400309;
constexpr int kRowBytes = 1728;
constexpr int kGrey = 154;
// Data columns of an ortho row; the margins hold fire ticks and, in the top
// row, the 20-byte statistics stamp, never image data.
constexpr int kFirstDataColumn = 33;
constexpr int kLastDataColumn = 1632;
// Largest picture side a JPEG can hold.
constexpr double kMaxSide = 65500.0;

// Within this fraction of a picture pixel of a pixel edge (the float pixel
// positions step by at most 0.004 in a picture of the largest size).
bool nearEdge(double u)
{
    const double f = u + 0.5 - std::floor(u + 0.5);
    return f < 0.01 || f > 0.99;
}

// What the mosaic needs from a palette ortho image.
struct OrthoHeader {
    quint32 height = 0;
    double a = 0, b = 0, x = 0, e = 0, f = 0, y = 0;
    double meridian = 0;
    int geographicType = 0;  // GeoKey 2048; 0 when absent
    bool hasTransform = false;
    qint64 rowsInFile = 0;   // whole rows present after the header

    void model(double column, double row, double *mx, double *my) const
    {
        *mx = a * column + b * row + x;
        *my = e * column + f * row + y;
    }
};

quint16 u16(const uchar *p) { return quint16(p[0] | (p[1] << 8)); }
quint32 u32(const uchar *p) { return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24); }

bool readAt(QFile &file, qint64 offset, void *out, qint64 length)
{
    if (offset < 0 || length < 0 || offset + length > file.size())
        return false;
    return file.seek(offset) && file.read(static_cast<char *>(out), length) == length;
}

bool readDoubles(QFile &file, qint64 offset, double *out, int n)
{
    uchar raw[8 * 16];
    if (n > 16 || !readAt(file, offset, raw, 8 * n))
        return false;
    for (int i = 0; i < n; ++i) {
        quint64 bits = 0;
        for (int k = 7; k >= 0; --k)
            bits = (bits << 8) | raw[8 * i + k];
        std::memcpy(&out[i], &bits, 8);
    }
    return true;
}

// Reads the header and the used tags. False when the file is not a
// little-endian TIFF or lacks a usable georeference. Every offset is checked
// against the file's size, so a damaged file never leads past its end.
bool readOrthoHeader(QFile &file, OrthoHeader *h)
{
    uchar head[8];
    if (!readAt(file, 0, head, 8) || u16(head) != 0x4949 || u16(head + 2) != 42)
        return false;
    *h = OrthoHeader();
    const qint64 size = file.size();
    const qint64 ifd = u32(head + 4);
    uchar countRaw[2];
    if (!readAt(file, ifd, countRaw, 2))
        return false;
    const qint64 fit = (size - ifd - 2) / 12;
    const qint64 count = qMin<qint64>(u16(countRaw), fit);
    for (qint64 i = 0; i < count; ++i) {
        uchar ent[12];
        if (!readAt(file, ifd + 2 + 12 * i, ent, 12))
            break;
        const quint16 tag = u16(ent);
        const quint16 type = u16(ent + 2);
        const quint32 value = u32(ent + 8);
        switch (tag) {
        case 257:
            h->height = (type == 3) ? u16(ent + 8) : value;
            break;
        case 34264: {
            double m[8];
            if (readDoubles(file, value, m, 8)) {
                h->a = m[0];
                h->b = m[1];
                h->x = m[3];
                h->e = m[4];
                h->f = m[5];
                h->y = m[7];
                h->hasTransform = std::isfinite(m[0]) && std::isfinite(m[1]) && std::isfinite(m[3])
                    && std::isfinite(m[4]) && std::isfinite(m[5]) && std::isfinite(m[7]);
            }
            break;
        }
        case 34735: {
            // The directory header (4 shorts), then keys of 4 shorts.
            uchar keys[52 * 2];
            const int n = int(qMin<quint32>(u32(ent + 4), 52));
            if (n >= 8 && readAt(file, value, keys, 2 * n))
                for (int k = 4; k + 3 < n; k += 4)
                    if (u16(keys + 2 * k) == 2048)
                        h->geographicType = u16(keys + 2 * (k + 3));
            break;
        }
        case 34736: {
            double cm = 0;
            if (readDoubles(file, value, &cm, 1) && std::isfinite(cm) && std::fabs(cm) <= 360.0)
                h->meridian = cm;
            break;
        }
        default:
            break;
        }
    }
    h->rowsInFile = (size - 8) / kRowBytes;
    return h->hasTransform;
}

// The heat files are written through memory: shapelib seeks before every
// record it writes, which on a stdio stream costs several system calls per
// heat point. A file opened for reading or update is read whole; a file
// written to is written whole when it is closed.
struct MemoryFile {
    QString path;
    std::vector<char> data;
    std::size_t pos = 0;
    bool writable = false;
    bool changed = false;
};

MemoryFile *memoryFile(SAFile file) { return reinterpret_cast<MemoryFile *>(file); }

SAFile memoryOpen(const char *name, const char *access)
{
    auto f = std::make_unique<MemoryFile>();
    f->path = QFile::decodeName(name);
    const bool create = access[0] == 'w';
    f->writable = create || std::strchr(access, '+') != nullptr;
    QFile file(f->path);
    if (create) {
        // Created (emptied) at once, as a stdio stream would.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return nullptr;
        f->changed = true;
    } else {
        if (!file.open(QIODevice::ReadOnly))
            return nullptr;
        const QByteArray all = file.readAll();
        f->data.assign(all.constData(), all.constData() + all.size());
    }
    return reinterpret_cast<SAFile>(f.release());
}

SAOffset memoryRead(void *p, SAOffset size, SAOffset count, SAFile file)
{
    MemoryFile *f = memoryFile(file);
    if (size == 0 || f->pos >= f->data.size())
        return 0;
    const SAOffset items = std::min<SAOffset>(count, (f->data.size() - f->pos) / size);
    std::memcpy(p, f->data.data() + f->pos, items * size);
    f->pos += items * size;
    return items;
}

SAOffset memoryWrite(void *p, SAOffset size, SAOffset count, SAFile file)
{
    MemoryFile *f = memoryFile(file);
    if (!f->writable)
        return 0;
    const std::size_t bytes = size * count;
    if (f->data.size() < f->pos + bytes)
        f->data.resize(f->pos + bytes);   // a gap after a seek past the end reads as zeros
    if (bytes > 0)
        std::memcpy(f->data.data() + f->pos, p, bytes);
    f->pos += bytes;
    f->changed = true;
    return count;
}

SAOffset memorySeek(SAFile file, SAOffset offset, int whence)
{
    MemoryFile *f = memoryFile(file);
    const qint64 base = whence == SEEK_CUR ? qint64(f->pos) : whence == SEEK_END ? qint64(f->data.size()) : 0;
    const qint64 to = base + qint64(offset);   // a negative offset arrives wrapped round
    if (to < 0)
        return SAOffset(-1);
    f->pos = std::size_t(to);
    return 0;
}

SAOffset memoryTell(SAFile file) { return memoryFile(file)->pos; }

int memoryFlush(SAFile) { return 0; }

int memoryClose(SAFile file)
{
    std::unique_ptr<MemoryFile> f(memoryFile(file));
    if (!f->changed)
        return 0;
    QFile out(f->path);
    const qint64 size = qint64(f->data.size());
    const bool ok = out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(f->data.data(), size) == size
                    && out.flush();
    return ok ? 0 : EOF;
}

SAHooks *memoryHooks()
{
    static SAHooks hooks = [] {
        SAHooks h;
        SASetupDefaultHooks(&h);
        h.FOpen = memoryOpen;
        h.FRead = memoryRead;
        h.FWrite = memoryWrite;
        h.FSeek = memorySeek;
        h.FTell = memoryTell;
        h.FFlush = memoryFlush;
        h.FClose = memoryClose;
        return h;
    }();
    return &hooks;
}

bool differ(double a, double b) { return std::fabs(a - b) > 1e-6 && a != 0.0 && b != 0.0; }

QString cutAtLast(const QString &s)
{
    const int i = s.lastIndexOf(QLatin1Char('_'));
    return i < 0 ? s : s.left(i);
}

// Ortho rows go onto the picture in stretches of this many rows: each
// stretch is placed (its picture positions worked out) on its own, on any
// thread, and painted in pass and row order.
constexpr qint64 kStretchRows = 64;

// One ortho pixel's place on the picture and its value.
struct PlacedPixel {
    quint16 u, v;
    uchar value;
};

struct PlacedStretch {
    // Room for every data pixel of a stretch, 'placed' of them used.
    std::unique_ptr<PlacedPixel[]> pixels =
        std::make_unique<PlacedPixel[]>(std::size_t(kStretchRows) * (kLastDataColumn - kFirstDataColumn + 1));
    std::size_t placed = 0;
    // Fire pixels of a pass without a record, on the pass's datum.
    std::vector<firepoints::FirePixel> fires;
    bool cut = false;    // a row could not be read: the pass ends there
    bool lost = false;   // a helper thread could not place it
};

// What a placing thread keeps from one stretch to the next.
struct Placer {
    CUtmConverter converter;
    std::unique_ptr<QFile> file;
    int input = -1;   // the input 'file' reads
    std::vector<uchar> row = std::vector<uchar>(kRowBytes);
    std::vector<double> rowX, rowY;
    std::vector<char> rowInterpolated;
};

// The positions of one ortho row on the picture's meridian, from columns c0
// to c1: exact ones, and interpolated ones (flagged).
void reprojectRow(Placer &placer, int c0, int c1, const std::function<void(int, double *, double *)> &exact)
{
    // Across a few ortho cells the change of meridian is as good as
    // straight: the positions between exactly reprojected ones are
    // interpolated, where the exact middle of the stretch shows they may be
    // (within a millimetre).
    constexpr int kStep = 16;
    constexpr double kTolerance = 1e-3;
    std::vector<double> &rowX = placer.rowX;
    std::vector<double> &rowY = placer.rowY;
    std::vector<char> &rowInterpolated = placer.rowInterpolated;
    rowX.resize(kRowBytes);
    rowY.resize(kRowBytes);
    rowInterpolated.assign(kRowBytes, 0);
    exact(c0, &rowX[size_t(c0)], &rowY[size_t(c0)]);
    for (int a = c0; a < c1;) {
        const int b = std::min(a + kStep, c1);
        exact(b, &rowX[size_t(b)], &rowY[size_t(b)]);
        const double xa = rowX[size_t(a)], ya = rowY[size_t(a)];
        const double xb = rowX[size_t(b)], yb = rowY[size_t(b)];
        bool straight = b - a > 1;
        if (straight) {
            const int mid = (a + b) / 2;
            double xm, ym;
            exact(mid, &xm, &ym);
            const double t = double(mid - a) / double(b - a);
            straight = std::fabs(xa + (xb - xa) * t - xm) < kTolerance && std::fabs(ya + (yb - ya) * t - ym) < kTolerance;
        }
        for (int c = a + 1; c < b; ++c) {
            if (straight) {
                const double t = double(c - a) / double(b - a);
                rowX[size_t(c)] = xa + (xb - xa) * t;
                rowY[size_t(c)] = ya + (yb - ya) * t;
                rowInterpolated[size_t(c)] = 1;
            } else {
                exact(c, &rowX[size_t(c)], &rowY[size_t(c)]);
            }
        }
        a = b;
    }
}

// Places stretches 0..count-1 on up to 'threads' threads (this one
// included) and hands each to 'paint' on this thread, in order. Only a few
// placed stretches wait at any time. The placer number tells a thread's
// own Placer (0 is this thread's).
void placeInOrder(std::size_t count, int threads,
                  const std::function<void(int placer, std::size_t item, PlacedStretch &out)> &place,
                  const std::function<void(std::size_t item, PlacedStretch &placed)> &paint)
{
    const std::size_t window = threads > 1 ? 4 * std::size_t(threads) : 1;
    std::vector<PlacedStretch> ready(window);
    std::vector<char> done(count, 0);
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;      // first stretch not yet taken
    std::size_t painted = 0;   // stretches painted
    bool stop = false;
    auto placeNext = [&](int placer, std::unique_lock<std::mutex> &lock) {
        const std::size_t item = next++;
        PlacedStretch &out = ready[item % window];
        lock.unlock();
        if (placer == 0) {
            place(0, item, out);
        } else {
            try {
                place(placer, item, out);
            } catch (const std::exception &) {
                out.lost = true;   // placed again on this thread when its turn comes
            }
        }
        lock.lock();
        done[item] = 1;
        changed.notify_all();
    };
    auto helper = [&](int placer) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stop || next >= count || next < painted + window; });
            if (stop || next >= count)
                return;
            placeNext(placer, lock);
        }
    };
    std::vector<std::thread> helpers;
    // However this ends, the helpers are told and waited for.
    struct Joiner {
        std::vector<std::thread> &helpers;
        std::mutex &mutex;
        std::condition_variable &changed;
        bool &stop;
        ~Joiner()
        {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            changed.notify_all();
            for (std::thread &t : helpers)
                t.join();
        }
    } joiner{helpers, mutex, changed, stop};
    for (int t = 1; t < threads && count > 1; ++t) {
        try {
            helpers.emplace_back(helper, t);
        } catch (const std::system_error &) {
            break;   // no more threads to be had: fewer do the work
        }
    }
    for (std::size_t item = 0; item < count; ++item) {
        std::unique_lock<std::mutex> lock(mutex);
        while (!done[item]) {
            if (next < count && next < painted + window)
                placeNext(0, lock);
            else
                changed.wait(lock);
        }
        lock.unlock();
        PlacedStretch &placed = ready[item % window];
        if (placed.lost)
            place(0, item, placed);
        paint(item, placed);
        lock.lock();
        painted = item + 1;
        changed.notify_all();
    }
}

} // namespace

QString CMosaic::MissionBaseName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    QString base = cutAtLast(name);
    if (name.contains(QLatin1String("_ortho"), Qt::CaseInsensitive))
        base = cutAtLast(base);
    return base;
}

QString CMosaic::PassName(const QString &orthoPath)
{
    const QString cut = cutAtLast(QFileInfo(orthoPath).completeBaseName());
    const int i = cut.lastIndexOf(QLatin1Char('_'));
    return i < 0 ? cut : cut.mid(i + 1);
}

int CMosaic::FirePointCount() const
{
    int n = 0;
    for (const auto &r : runs_)
        n += int(r.pixels.size());
    return n;
}

CMosaic::CMosaic(const QString &path, bool clusters, int threads)
    : threads_(std::clamp(threads, 1, 16))
{
    passName_.clear();
    const QFileInfo info(path);
    const QString base = MissionBaseName(path);
    const QDir folder = info.absoluteDir();

    const QString heatBase = folder.filePath(base + QStringLiteral("_RawHeatData"));
    OpenHeatFiles(heatBase);
    // The heat points are geographic on the passes' datum.
    auto writeHeatPrj = [&] {
        if (heatWritten_ || (shp_ && dbf_))
            georef::WriteShapefilePrj(heatBase, georef::GeographicWkt(georef::GeographicTypeForDatum(heatDatum_)));
    };

    const QStringList names =
        folder.entryList(QStringList{base + QStringLiteral("_*_ortho.tif")}, QDir::Files, QDir::Name);
    for (const QString &n : names)
        inputs_ << folder.filePath(n);
    if (inputs_.isEmpty()) {
        error_ = QStringLiteral("no ortho images of %1 in %2").arg(base, QDir::toNativeSeparators(folder.path()));
        writeHeatPrj();
        return;
    }
    // The fire pixel records of the passes (a damaged one counts as absent:
    // the pass's ortho image still gives its points).
    for (const QString &in : inputs_) {
        firepoints::RunRecord run;
        const QString runBase = in.left(in.size() - int(qstrlen("_ortho.tif")));
        if (!firepoints::ReadRun(firepoints::RunFileName(runBase), &run)) {
            run = firepoints::RunRecord();
            run.fieldsKnown = false;
            run.log = QFileInfo(in).fileName();
        }
        run.pass = PassName(in);
        runs_.push_back(std::move(run));
    }
    BuildMosaic();
    writeHeatPrj();

    pointsBase_ = firepoints::PointsBase(folder.absolutePath(), base);
    if (!firepoints::WritePointFiles(pointsBase_, runs_, &pointsError_))
        pointsBase_.clear();
    const QString clusterBase = firepoints::ClustersBase(folder.absolutePath(), base);
    if (clusters) {
        const std::vector<firepoints::Cluster> found = firepoints::FindClusters(runs_);
        clusterCount_ = int(found.size());
        if (firepoints::WriteClusterFiles(clusterBase, found, &pointsError_))
            clustersBase_ = clusterBase;
    }
}

CMosaic::~CMosaic()
{
    CloseHeatFiles();
}

bool CMosaic::CloseHeatFiles()
{
    if (heatBase_.isEmpty())
        return heatWritten_;
    const bool open = shp_ && dbf_;
    if (shp_)
        SHPClose(shp_);
    if (dbf_)
        DBFClose(dbf_);
    shp_ = nullptr;
    dbf_ = nullptr;
    // The writers report no failed write (a full disk): the files must hold
    // every point, or the earlier heat files are kept.
    bool whole = open && QFileInfo(heatPartBase_ + QStringLiteral(".shx")).size() == 100 + 8 * qint64(heatPoints_)
                 && QFileInfo(heatPartBase_ + QStringLiteral(".shp")).size() == 100 + 28 * qint64(heatPoints_);
    if (whole) {
        const QByteArray d = QFile::encodeName(heatPartBase_ + QStringLiteral(".dbf"));
        DBFHandle check = DBFOpen(d.constData(), "rb");
        whole = check && DBFGetRecordCount(check) == heatPoints_
                && QFileInfo(heatPartBase_ + QStringLiteral(".dbf")).size()
                       >= qint64(check->nHeaderLength) + qint64(heatPoints_) * check->nRecordLength;
        if (check)
            DBFClose(check);
    }
    // Each file then replaces the earlier file of its final name in one step.
    for (const char *ext : {".shp", ".shx", ".dbf"}) {
        const QString part = heatPartBase_ + QLatin1String(ext);
        if (!whole || !cindrel::replaceFile(part, heatBase_ + QLatin1String(ext))) {
            whole = false;
            QFile::remove(part);
        }
    }
    heatBase_.clear();
    heatWritten_ = whole;
    return whole;
}

void CMosaic::OpenHeatFiles(const QString &finalBase)
{
    heatBase_ = finalBase;
    heatPartBase_ = finalBase + QStringLiteral("_part");
    const QString base = heatPartBase_;
    for (const char *ext : {".shp", ".shx", ".dbf"})
        QFile::remove(base + QLatin1String(ext));
    const QByteArray b = QFile::encodeName(base);
    if (QFile::exists(base + QStringLiteral(".shp")))
        shp_ = SHPOpenLL(b.constData(), "rb+", memoryHooks());
    if (!shp_)
        shp_ = SHPCreateLL(b.constData(), SHPT_POINT, memoryHooks());
    if (!shp_)
        return;
    const QByteArray d = QFile::encodeName(base + QStringLiteral(".dbf"));
    if (QFile::exists(base + QStringLiteral(".dbf")))
        dbf_ = DBFOpenLL(d.constData(), "rb+", memoryHooks());
    if (!dbf_) {
        // The code page DBFCreate gives.
        dbf_ = DBFCreateLL(d.constData(), "LDID/87", memoryHooks());
        // "Pass" first, then the fields of the fire point files.
        bool ok = dbf_ && DBFAddField(dbf_, "Pass", FTString, 3, 0) >= 0;
        const struct {
            const char *name;
            DBFFieldType type;
            int width, decimals;
        } fields[] = {{"latitude", FTDouble, 12, 7}, {"longitude", FTDouble, 13, 7}, {"acq_date", FTString, 10, 0},
                      {"acq_time", FTString, 8, 0},  {"line", FTDouble, 11, 0},      {"sample", FTInteger, 5, 0},
                      {"chan_a", FTInteger, 7, 0},   {"chan_b", FTInteger, 7, 0},    {"cell_m", FTDouble, 8, 2},
                      {"platform", FTString, 24, 0}, {"version", FTString, 24, 0}};
        for (const auto &f : fields)
            ok = ok && DBFAddField(dbf_, f.name, f.type, f.width, f.decimals) >= 0;
        if (dbf_ && !ok) {
            DBFClose(dbf_);
            dbf_ = nullptr;
        }
    }
    if (!dbf_) {
        SHPClose(shp_);
        shp_ = nullptr;
    }
}

int CMosaic::WriteHeatShape(double latitude, double longitude)
{
    if (!shp_ || !dbf_)
        return -1;
    double x = longitude, y = latitude;
    SHPObject *obj = SHPCreateSimpleObject(SHPT_POINT, 1, &x, &y, nullptr);
    if (!obj)
        return -1;
    const int shape = SHPWriteObject(shp_, -1, obj);
    SHPDestroyObject(obj);
    return shape;
}

void CMosaic::AddHeatPoint(double latitude, double longitude, const QString &passName)
{
    const int shape = WriteHeatShape(latitude, longitude);
    if (shape < 0)
        return;
    const QByteArray pass = (passName.isEmpty() ? passName_ : passName).toLatin1();
    DBFWriteStringAttribute(dbf_, shape, 0, pass.constData());
    ++heatPoints_;
}

void CMosaic::AddHeatPoint(const firepoints::RunRecord &run, const firepoints::FirePixel &p)
{
    const int shape = WriteHeatShape(p.lat, p.lon);
    if (shape < 0)
        return;
    // The whole attribute record at once, each field as the attribute
    // writers of the library would put it: text left-aligned, numbers
    // right-aligned in fixed point, and what does not fit cut at the
    // field's width.
    const QString &pass = run.pass.isEmpty() ? passName_ : run.pass;
    if (!recordTextsSet_ || pass != recordPass_ || run.platform != recordPlatform_ || run.version != recordVersion_) {
        recordTextsSet_ = true;
        recordPass_ = pass;
        recordPlatform_ = run.platform;
        recordVersion_ = run.version;
        runPass_ = pass.toLatin1().toStdString();
        runPlatform_ = run.platform.toUtf8().left(24).toStdString();
        runVersion_ = run.version.toUtf8().left(24).toStdString();
    }
    record_.assign(std::size_t(dbf_->nRecordLength), ' ');
    auto put = [&](int field, const char *text, std::size_t length, bool number) {
        if (field >= dbf_->nFields)
            return;
        const std::size_t width = std::size_t(dbf_->panFieldSize[field]);
        char *at = record_.data() + dbf_->panFieldOffset[field];
        if (length > width)
            length = width;
        else if (number)
            at += width - length;
        std::memcpy(at, text, length);
    };
    auto putText = [&](int field, const std::string &text) { put(field, text.data(), text.size(), false); };
    char buf[64];
    auto putNumber = [&](int field, double value, int decimals) {
        const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
        put(field, buf, std::size_t(r.ptr - buf), true);
    };
    auto putInteger = [&](int field, std::int64_t value) {
        const auto r = std::to_chars(buf, buf + sizeof buf, value);
        put(field, buf, std::size_t(r.ptr - buf), true);
    };
    putText(0, runPass_);
    putNumber(1, p.wgsLat, 7);
    putNumber(2, p.wgsLon, 7);
    if (p.timeMs) {
        acquisition_.Set(p.timeMs);
        put(3, acquisition_.Date(), std::strlen(acquisition_.Date()), false);
        put(4, acquisition_.Time(), std::strlen(acquisition_.Time()), false);
    }
    if (run.fieldsKnown) {
        putInteger(5, p.line);
        putInteger(6, p.sample);
        putInteger(7, p.a);
        putInteger(8, p.b);
        putNumber(9, run.cellM, 2);
        putText(10, runPlatform_);
        putText(11, runVersion_);
    }
    if (DBFWriteTuple(dbf_, shape, record_.data()))
        ++heatPoints_;
}

void CMosaic::BuildMosaic()
{
    const double gamma = QSettings().value(SettingsKey::MosaicGamma, 1.5).toDouble();
    const QString first = inputs_.first();
    const QString outBase = cutAtLast(cutAtLast(QFileInfo(first).fileName()));
    outputPath_ = QDir::toNativeSeparators(
        QFileInfo(first).absoluteDir().filePath(outBase + QStringLiteral("_mosaic.jpg")));

    // Extent of every readable input, on the first input's meridian.
    double minE = 9.99e99, minN = 9.99e99, maxE = -9.99e99, maxN = -9.99e99;
    double m = 0;
    bool haveMeridian = false;
    int datum = 0;   // converter datum code of the inputs; 0 = not stated
    int readable = 0;
    for (const QString &in : inputs_) {
        QFile file(in);
        OrthoHeader h;
        if (!file.open(QIODevice::ReadOnly) || !readOrthoHeader(file, &h))
            continue;
        if (!haveMeridian) {
            // The ellipsoid the passes were projected on (Clarke 1866 for
            // NAD27 runs in Alaska, GRS 80 otherwise) re-projects between
            // meridians and gives the heat points their datum.
            if (h.geographicType == georef::kNad27)
                datum = 1;
            else if (h.geographicType == georef::kNad83)
                datum = 3;
            m = std::trunc(h.meridian);
            converter_.SetCentralMeridian(int(m));
            haveMeridian = true;
        }
        ++readable;
        const int reprojectDatum = datum != 0 ? datum : 3;
        const double corners[4][2] = {{32, 0}, {1632, 0}, {32, double(h.height)}, {1632, double(h.height)}};
        for (const auto &c : corners) {
            double x, y;
            h.model(c[0], c[1], &x, &y);
            if (differ(h.meridian, m)) {
                double lat, lon, n, e;
                std::int32_t zone;
                converter_.SetCentralMeridian(int(std::trunc(h.meridian)));
                converter_.UtmToLatLon(y, x, 0, &lat, &lon, reprojectDatum);
                converter_.SetCentralMeridian(int(m));
                converter_.LatLonToUtm(lat, lon, &n, &e, &zone, reprojectDatum);
                x = e;
                y = n;
            }
            minE = qMin(minE, x);
            maxE = qMax(maxE, x);
            minN = qMin(minN, y);
            maxN = qMax(maxN, y);
        }
    }
    if (readable == 0) {
        error_ = QStringLiteral("no readable ortho image");
        return;
    }

    // The whole extent's centre decides the final meridian.
    double swLat, swLon, neLat, neLon, cLat, cLon;
    converter_.UtmToLatLon(minN, minE, 0, &swLat, &swLon, 3);
    converter_.UtmToLatLon(maxN, maxE, 0, &neLat, &neLon, 3);
    converter_.UtmToLatLon((minN + maxN) / 2, (minE + maxE) / 2, 0, &cLat, &cLon, 3);
    const double alaskaTest = swLat;
    // Inputs that do not state their datum: the Alaska test decides.
    const int heatDatum = datum != 0 ? datum : (alaskaTest > 51.0 ? 1 : 3);
    heatDatum_ = heatDatum;
    const int reprojectDatum = datum != 0 ? datum : 3;
    const double rounded = std::ceil(cLon - 0.5);   // nearest degree, a tie goes down
    // A damaged model transform can put the extent anywhere, even beyond
    // the range of the projection: no picture rather than a meridian made up.
    if (!(std::fabs(rounded) <= 180.0 && std::isfinite(minE) && std::isfinite(maxE) && std::isfinite(minN)
          && std::isfinite(maxN))) {
        error_ = QStringLiteral("the ortho images have no usable georeference");
        return;
    }
    if (std::fabs(rounded - m) > 1e-6) {
        double lat1, lon1, lat2, lon2, n, e;
        std::int32_t zone;
        converter_.UtmToLatLon(minN, minE, 0, &lat1, &lon1, reprojectDatum);
        converter_.UtmToLatLon(maxN, maxE, 0, &lat2, &lon2, reprojectDatum);
        converter_.SetCentralMeridian(int(rounded));
        converter_.LatLonToUtm(lat1, lon1, &n, &e, &zone, reprojectDatum);
        minE = e;
        minN = n;
        converter_.LatLonToUtm(lat2, lon2, &n, &e, &zone, reprojectDatum);
        maxE = e;
        maxN = n;
        m = rounded;
    }

    const double colsD = std::trunc((maxE - minE) / kCell + 1.0) + 1;
    const double rowsD = std::trunc((maxN - minN) / kCell + 1.0) + 1;
    if (!(colsD >= 1 && rowsD >= 1 && colsD <= kMaxSide && rowsD <= kMaxSide)) {
        error_ = QStringLiteral("the ortho images span too large an area for one picture");
        return;
    }
    const int cols = int(colsD), rows = int(rowsD);
    CBil grid;
    grid.SetDimensions(cols, rows, 1, Int8);
    grid.SetGeoReference(kCell, kCell, 0, 0, minE, maxN, 0, 0.0, 1);
    QImage image(cols, rows, QImage::Format_RGB888);
    if (image.isNull()) {
        error_ = QStringLiteral("not enough memory for a %1 x %2 picture").arg(cols).arg(rows);
        return;
    }
    image.fill(QColor(kGrey, kGrey, kGrey));

    // Grey level of every ortho byte.
    uchar shade[256];
    for (int v = 0; v < 256; ++v) {
        const int g = int(std::pow(v / 255.0, gamma) * 255.0 + 0.5);
        shade[v] = uchar(255 - g);
    }

    // Positions of passes without a fire pixel record go to WGS 84 through
    // the Alaska grids when they are on NAD27.
    std::unique_ptr<CNadcon> nadcon;
    // The picture's grid is north-up: its pixel position is CBil's
    // GeoToPixel without the rotation, worked out here for every ortho
    // pixel (the same arithmetic, the same floats).
    const BilHeader &gh = grid.Header();
    const bool northUp = gh.rotation == 0.0;
    auto toPixel = [&grid, northUp, left = gh.left, xdim = gh.xdim, top = gh.top, bottom = gh.bottom,
                    ydim = gh.ydim, rowsRunDown = gh.rowsRunDown](double x, double y, double *u, double *v) {
        if (!northUp) {
            grid.GeoToPixel(x, y, u, v);
            return;
        }
        *u = float((x - left) / xdim);
        *v = float(rowsRunDown ? (top - y) / ydim : (y - bottom) / ydim);
    };

    // The readable passes, in input order, and their stretches of rows (at
    // least one each, maybe empty: painting a pass's first stretch starts
    // the pass).
    struct Pass {
        int input = 0;
        OrthoHeader h;
        bool fieldsKnown = true;
        bool reproject = false;
        int inputMeridian = 0;
        bool cut = false;   // a row could not be read
    };
    struct Stretch {
        std::size_t pass;
        qint64 first, end;
    };
    std::vector<Pass> passes;
    std::vector<Stretch> stretches;
    for (int input = 0; input < inputs_.size(); ++input) {
        QFile file(inputs_.at(input));
        Pass p;
        if (!file.open(QIODevice::ReadOnly) || !readOrthoHeader(file, &p.h))
            continue;
        p.input = input;
        p.fieldsKnown = runs_[size_t(input)].fieldsKnown;
        p.reproject = differ(p.h.meridian, m);
        p.inputMeridian = int(std::trunc(p.h.meridian));
        const qint64 lastRow = qMin<qint64>(qint64(p.h.height) - 1, p.h.rowsInFile);
        qint64 first = 0;
        do {
            const qint64 end = qMax<qint64>(first, qMin(first + kStretchRows, lastRow));
            stretches.push_back({passes.size(), first, end});
            first = end;
        } while (first < lastRow);
        passes.push_back(p);
    }

    std::vector<Placer> placers(static_cast<std::size_t>(threads_));
    for (Placer &placer : placers)
        placer.converter = converter_;
    // Places the rows of a stretch, handing each pixel that lands on the
    // picture to pixelAt(u, v, value) and each fire pixel of a pass without
    // a record to fireAt; false when a row could not be read.
    auto placeRows = [&](int placerNumber, std::size_t item, auto &&pixelAt, auto &&fireAt) -> bool {
        // Kept here, where the picture's bytes cannot alias them.
        Placer &placer = placers[size_t(placerNumber)];
        const Stretch &stretch = stretches[item];
        const Pass &pass = passes[stretch.pass];
        const OrthoHeader h = pass.h;
        const bool reproject = pass.reproject;
        const bool fieldsKnown = pass.fieldsKnown;
        const int inputMeridian = pass.inputMeridian;
        const int pictureCols = cols, pictureRows = rows;
        const auto toPicture = toPixel;
        if (stretch.first == stretch.end)
            return true;
        if (placer.input != pass.input) {
            placer.file = std::make_unique<QFile>(inputs_.at(pass.input));
            placer.input = pass.input;
            if (!placer.file->open(QIODevice::ReadOnly))
                placer.file.reset();
        }
        if (!placer.file || !placer.file->seek(8 + stretch.first * kRowBytes))
            return false;
        QFile &file = *placer.file;
        CUtmConverter &converter = placer.converter;
        const std::vector<uchar> &row = placer.row;
        for (qint64 k = stretch.first; k < stretch.end; ++k) {
            if (file.read(reinterpret_cast<char *>(placer.row.data()), kRowBytes) != kRowBytes)
                return false;
            auto isData = [&](int c) { return row[c] != 0 && row[c] != 100 && row[c] != 254; };
            int c0 = kFirstDataColumn;
            while (c0 <= kLastDataColumn && !isData(c0))
                ++c0;
            if (c0 > kLastDataColumn)
                continue;
            int c1 = kLastDataColumn;
            while (c1 > c0 && !isData(c1))
                --c1;
            const double rowY = double(k + 1);
            auto reprojectExact = [&](int c, double *x, double *y) {
                h.model(c, rowY, x, y);
                double lat, lon, n, e;
                std::int32_t zone;
                converter.SetCentralMeridian(inputMeridian);
                converter.UtmToLatLon(*y, *x, 0, &lat, &lon, reprojectDatum);
                converter.SetCentralMeridian(int(m));
                converter.LatLonToUtm(lat, lon, &n, &e, &zone, reprojectDatum);
                *x = e;
                *y = n;
            };
            if (reproject)
                reprojectRow(placer, c0, c1, reprojectExact);
            const double *const reprojectedX = placer.rowX.data();
            const double *const reprojectedY = placer.rowY.data();
            const char *const interpolated = placer.rowInterpolated.data();
            for (int c = c0; c <= c1; ++c) {
                double x, y;
                if (reproject) {
                    x = reprojectedX[c];
                    y = reprojectedY[c];
                } else {
                    h.model(c, rowY, &x, &y);
                }
                double u, v;
                toPicture(x, y, &u, &v);
                // An interpolated position decides the pixel only when it is
                // clear of the pixel's edges by far more than it can be off.
                if (reproject && interpolated[c] && (nearEdge(u) || nearEdge(v))) {
                    reprojectExact(c, &x, &y);
                    toPicture(x, y, &u, &v);
                }
                const double pu = std::trunc(u + 0.5), pv = std::trunc(v + 0.5);
                if (!(pu >= 0 && pv >= 0 && pu < pictureCols && pv < pictureRows))
                    continue;
                const uchar value = row[c];
                if (value == 255 && !fieldsKnown) {
                    // The heat point lies at its pixel's centre.
                    double hx, hy;
                    firepoints::FirePixel p;
                    h.model(c + 0.5, k + 0.5, &hx, &hy);
                    if (reproject)
                        converter.SetCentralMeridian(inputMeridian);
                    converter.UtmToLatLon(hy, hx, 0, &p.lat, &p.lon, heatDatum);
                    if (reproject)
                        converter.SetCentralMeridian(int(m));
                    fireAt(p);
                }
                pixelAt(quint16(pu), quint16(pv), value);
            }
        }
        return true;
    };

    uchar *const bits = image.bits();
    const qsizetype bytesPerLine = image.bytesPerLine();
    auto paintPixel = [bits, bytesPerLine, &shade](quint16 u, quint16 v, uchar value) {
        uchar *px = bits + bytesPerLine * qsizetype(v) + 3 * int(u);
        // Fire always shows, also where an earlier pass painted
        // white (its coldest values); greys never change a pixel
        // whose red is full (fire or white).
        if (value == 255) {
            px[0] = 255;
            px[1] = 0;
            px[2] = 0;
            return;
        }
        if (px[0] == 255)
            return;
        uchar s = shade[value];
        if (px[0] != kGrey)
            s = uchar((px[0] + s) / 2);
        px[0] = px[1] = px[2] = s;
    };
    // The pass of a stretch, started (its recorded heat points written)
    // at its first stretch.
    auto passOf = [&](std::size_t item) -> Pass & {
        Pass &pass = passes[stretches[item].pass];
        if (item == 0 || stretches[item - 1].pass != stretches[item].pass) {
            firepoints::RunRecord &run = runs_[size_t(pass.input)];
            passName_ = PassName(inputs_.at(pass.input));
            if (run.fieldsKnown)
                for (const firepoints::FirePixel &p : run.pixels)
                    AddHeatPoint(run, p);
            else {
                run.datum = heatDatum;
                if (heatDatum == 1 && !nadcon)
                    nadcon = std::make_unique<CNadcon>();
            }
        }
        return pass;
    };
    auto addFire = [&](const Pass &pass, firepoints::FirePixel p) {
        firepoints::RunRecord &run = runs_[size_t(pass.input)];
        p.wgsLat = p.lat;
        p.wgsLon = p.lon;
        if (nadcon)
            nadcon->ShiftToNavDatum(p.lat, p.lon, &p.wgsLat, &p.wgsLon);
        run.pixels.push_back(p);
        AddHeatPoint(run, p);
    };
    if (threads_ == 1) {
        // Painted as placed.
        for (std::size_t item = 0; item < stretches.size(); ++item) {
            Pass &pass = passOf(item);
            if (!pass.cut)
                pass.cut = !placeRows(0, item, paintPixel, [&](const firepoints::FirePixel &p) { addFire(pass, p); });
        }
    } else {
        auto place = [&](int placerNumber, std::size_t item, PlacedStretch &out) {
            out.placed = 0;
            out.fires.clear();
            out.lost = false;
            out.cut = !placeRows(
                placerNumber, item,
                [&out](quint16 u, quint16 v, uchar value) { out.pixels[out.placed++] = {u, v, value}; },
                [&out](const firepoints::FirePixel &p) { out.fires.push_back(p); });
        };
        auto paint = [&](std::size_t item, PlacedStretch &placed) {
            Pass &pass = passOf(item);
            if (pass.cut)
                return;
            pass.cut = placed.cut;
            for (const firepoints::FirePixel &p : placed.fires)
                addFire(pass, p);
            for (const PlacedPixel *q = placed.pixels.get(), *end = q + placed.placed; q != end; ++q)
                paintPixel(q->u, q->v, q->value);
        };
        placeInOrder(stretches.size(), threads_, place, paint);
    }
    for (Placer &placer : placers)
        placer.file.reset();

    DrawGeoOverlays(grid, image);

    // Grid row 0 is the northern edge, as is the picture's top row.
    saved_ = cindrel::saveImageWhole(image, outputPath_, "JPG", 80);
    if (!saved_) {
        error_ = QStringLiteral("cannot write %1").arg(outputPath_);
        return;
    }
    // Where the picture lies: pixel (0, 0) is centred on the grid's
    // reference point, rows run south.
    georef::WorldFile world;
    grid.PixelToGeo(0.0, 0.0, &world.c, &world.f);
    world.a = kCell;
    world.e = -kCell;
    const int geographicType = georef::GeographicTypeForDatum(reprojectDatum);
    georef::WritePictureSidecars(outputPath_, world,
                                 georef::TransverseMercatorWkt(geographicType, m, georef::kUtmScaleFactor));
    if (!CloseHeatFiles()) {
        saved_ = false;
        error_ = QStringLiteral("cannot write the heat point files beside %1").arg(outputPath_);
    }
}

void CMosaic::DrawGeoOverlays(const CBil &grid, QImage &image)
{
    const QString dir = QDir::current().filePath(QStringLiteral("GeoData"));
    DrawShapefileVertices(grid, image, QColor(0, 255, 0), dir + QStringLiteral("/highways"), true);
    DrawShapefileVertices(grid, image, QColor(0, 0, 255), dir + QStringLiteral("/interst"), true);
    DrawShapefileVertices(grid, image, QColor(0, 255, 255), dir + QStringLiteral("/hydrolin"), true);
}

void CMosaic::DrawShapefileVertices(const CBil &grid, QImage &image, const QColor &colour, const QString &path,
                                    bool thick)
{
    const QByteArray name = QFile::encodeName(path);
    if (!QFile::exists(path + QStringLiteral(".shp")) && !QFile::exists(path + QStringLiteral(".SHP")))
        return;
    SHPHandle shp = SHPOpen(name.constData(), "rb");
    if (!shp)
        return;
    const BilHeader &g = grid.Header();
    double south, west, north, east;
    converter_.UtmToLatLon(g.bottom, g.left, 0, &south, &west, 3);
    converter_.UtmToLatLon(g.top, g.right, 0, &north, &east, 3);
    CLineClipper clipper;
    clipper.SetClipWindow(west, north, east, south);

    int count = 0;
    SHPGetInfo(shp, &count, nullptr, nullptr, nullptr);
    auto mark = [&](int px, int py) {
        if (px >= 0 && py >= 0 && px < image.width() && py < image.height())
            image.setPixelColor(px, py, colour);
    };
    for (int i = 0; i < count; ++i) {
        SHPObject *obj = SHPReadObject(shp, i);
        if (!obj)
            continue;
        double x1 = obj->dfXMin, y1 = obj->dfYMin, x2 = obj->dfXMax, y2 = obj->dfYMax;
        if (clipper.ClipSegment(x1, y1, x2, y2)) {
            for (int k = 0; k < obj->nVertices; ++k) {
                double n, e;
                std::int32_t zone;
                converter_.LatLonToUtm(obj->padfY[k], obj->padfX[k], &n, &e, &zone, 3);
                double u, v;
                grid.GeoToPixel(e, n, &u, &v);
                const double pu = std::trunc(u + 0.5), pv = std::trunc(v + 0.5);
                if (!(std::fabs(pu) < 1e9 && std::fabs(pv) < 1e9))
                    continue;
                const int px = int(pu), py = int(pv);
                mark(px, py);
                if (thick) {
                    mark(px - 1, py);
                    mark(px + 1, py);
                    mark(px, py - 1);
                    mark(px, py + 1);
                }
            }
        }
        SHPDestroyObject(obj);
    }
    SHPClose(shp);
}
