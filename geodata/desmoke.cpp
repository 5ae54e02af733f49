#include "geodata/desmoke.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr int kSamples = desmoke::kSamples;
constexpr std::size_t kIoBuffer = 1 << 16;

void say(std::FILE *progress, const char *format, ...)
{
    if (!progress)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(progress, format, args);
    va_end(args);
    std::fflush(progress);
}

QByteArray local(const QString &path) { return QFile::encodeName(path); }

std::filesystem::path fsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(local(path).toStdString());
#endif
}

std::FILE *openFile(const QString &path, const char *mode)
{
#ifdef Q_OS_WIN
    return _wfopen(reinterpret_cast<const wchar_t *>(path.utf16()), QString::fromLatin1(mode).toStdWString().c_str());
#else
    return std::fopen(local(path).constData(), mode);
#endif
}

// One C stream, closed when it goes out of scope. Writers are closed
// through close(), which reports a failed flush or close.
class CStream {
public:
    CStream(const QString &path, const char *mode) : fp_(openFile(path, mode))
    {
        if (fp_)
            std::setvbuf(fp_, nullptr, _IOFBF, kIoBuffer);
    }
    ~CStream()
    {
        if (fp_)
            std::fclose(fp_);
    }
    CStream(const CStream &) = delete;
    CStream &operator=(const CStream &) = delete;

    explicit operator bool() const { return fp_ != nullptr; }
    std::FILE *get() const { return fp_; }

    template <typename T> bool write(const T *data, std::size_t count)
    {
        return std::fwrite(data, sizeof(T), count, fp_) == count;
    }
    template <typename T> std::size_t read(T *data, std::size_t count) { return std::fread(data, sizeof(T), count, fp_); }

    // Flushes to the operating system and, when `durable`, to the disk.
    bool close(bool durable = false)
    {
        if (!fp_)
            return false;
        bool ok = std::fflush(fp_) == 0 && !std::ferror(fp_);
        if (ok && durable) {
#ifdef Q_OS_WIN
            ok = _commit(_fileno(fp_)) == 0;
#else
            ok = ::fsync(fileno(fp_)) == 0;
#endif
        }
        ok = std::fclose(fp_) == 0 && ok;
        fp_ = nullptr;
        return ok;
    }

private:
    std::FILE *fp_;
};

// Makes the renames in a folder durable (no-op where folders cannot be
// synced).
void syncFolder(const QString &folder)
{
#ifndef Q_OS_WIN
    const int fd = ::open(local(folder).constData(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder)
#endif
}

// Moves a stream to a byte offset that may lie beyond 2 GiB.
bool seekTo(std::FILE *fp, qint64 offset)
{
#ifdef Q_OS_WIN
    return _fseeki64(fp, offset, SEEK_SET) == 0;
#else
    return fseeko(fp, off_t(offset), SEEK_SET) == 0;
#endif
}

bool openError(std::FILE *progress, const QString &path)
{
    say(progress, "\n Error: could not open %s\n", local(path).constData());
    return false;
}

bool writeError(std::FILE *progress, const QString &path)
{
    say(progress, "\n Error: could not write %s\n", local(path).constData());
    return false;
}

bool readError(std::FILE *progress, const QString &path)
{
    say(progress, "\n Error: could not read %s\n", local(path).constData());
    return false;
}

// Copies a file under a new name, flushed to disk.
bool copyDurably(const QString &from, const QString &to, std::FILE *progress)
{
    CStream in(from, "rb");
    if (!in)
        return openError(progress, from);
    CStream out(to, "wb");
    if (!out)
        return openError(progress, to);
    std::vector<char> buf(kIoBuffer);
    for (;;) {
        const std::size_t n = in.read(buf.data(), buf.size());
        if (n > 0 && !out.write(buf.data(), n))
            return writeError(progress, to);
        if (n < buf.size())
            break;
    }
    if (std::ferror(in.get()))
        return readError(progress, from);
    if (!out.close(true))
        return writeError(progress, to);
    return true;
}

// The size of an open file, from its start.
qint64 streamSize(std::FILE *fp)
{
#ifdef Q_OS_WIN
    if (_fseeki64(fp, 0, SEEK_END) != 0)
        return -1;
    const qint64 size = _ftelli64(fp);
#else
    if (fseeko(fp, 0, SEEK_END) != 0)
        return -1;
    const qint64 size = qint64(ftello(fp));
#endif
    return seekTo(fp, 0) ? size : -1;
}

// What went wrong in one thread's share of a step. It is told on the
// progress stream once the threads are joined, so that no two messages mix.
struct Failure {
    enum Kind { None, Open, Read, Write };
    Kind kind = None;
    QString path;

    bool set(Kind k, const QString &p)
    {
        if (kind == None) {
            kind = k;
            path = p;
        }
        return false;
    }
    bool tell(std::FILE *progress) const
    {
        switch (kind) {
        case Open:
            return openError(progress, path);
        case Read:
            return readError(progress, path);
        case Write:
            return writeError(progress, path);
        case None:
            break;
        }
        return false;
    }
};

// One input work file as one thread reads it, line by line. The stream is
// moved only when the thread's next line is not the one after its last, so
// that one thread reads every file straight through.
class LineFile {
public:
    bool open(const QString &path, qint64 lineBytes)
    {
        path_ = path;
        lineBytes_ = lineBytes;
        next_ = 0;
        stream_ = std::make_unique<CStream>(path, "rb");
        return bool(*stream_);
    }
    bool isOpen() const { return stream_ && *stream_; }
    std::FILE *get() const { return stream_->get(); }
    const QString &path() const { return path_; }

    bool seekLine(qint64 line)
    {
        if (line == next_)
            return true;
        next_ = -1;
        if (!seekTo(stream_->get(), line * lineBytes_))
            return false;
        next_ = line;
        return true;
    }
    template <typename T> bool readLine(T *data, std::size_t count)
    {
        if (stream_->read(data, count) != count) {
            next_ = -1;
            return false;
        }
        ++next_;
        return true;
    }

private:
    std::unique_ptr<CStream> stream_;
    QString path_;
    qint64 lineBytes_ = 0;
    qint64 next_ = 0;
};

// Where one thread's lines of an output file go. Every output file is
// written by the calling thread alone, line after line: its own lines
// straight into the file, the second thread's lines through memory, which
// the calling thread writes once its share of the round is done (two
// threads writing one file would only wait for each other).
class LineSink {
public:
    explicit LineSink(CStream *file = nullptr) : file_(file) {}
    template <typename T> bool write(const T *data, std::size_t count)
    {
        if (file_)
            return file_->write(data, count);
        const char *bytes = reinterpret_cast<const char *>(data);
        held_.insert(held_.end(), bytes, bytes + sizeof(T) * count);
        return true;
    }
    // The calling thread: the lines the second thread held, into `file`.
    bool writeHeld(CStream &file)
    {
        const bool ok = held_.empty() || file.write(held_.data(), held_.size());
        held_.clear();
        return ok;
    }

private:
    CStream *file_;
    std::vector<char> held_;
};

// Lines handed to the threads of a per-line step in one round.
constexpr qint64 kRoundLines = 1024;

// Runs a per-line step over lines 0 .. total - 1 in rounds of kRoundLines.
// share(slot, first, count) does `count` lines from `first` with the
// streams of its thread (slot 0 the calling thread, 1 the second one) and
// returns false when it failed. With two threads the second takes the later
// half of a round whenever the gate lets it, and once both are done the
// calling thread writes the second one's lines (writeHeld). The gate hears
// !want after the last round. Every line is made by the same code whichever
// thread makes it and the files are written in line order, so they do not
// depend on the threads.
bool forLineRounds(qint64 total, const DesmokeThreads &threads, const std::function<bool(int, qint64, qint64)> &share,
                   const std::function<bool()> &writeHeld)
{
    const bool two = threads.count > 1;
    bool ok = true;
    for (qint64 first = 0; ok && first < total; first += kRoundLines) {
        const qint64 count = std::min(kRoundLines, total - first);
        const bool second = two && count > 1 && (!threads.gate || threads.gate(true));
        if (!second) {
            ok = share(0, first, count);
            continue;
        }
        const qint64 half = count / 2;
        bool helperOk = false;
        std::thread helper;
        try {
            helper = std::thread([&] { helperOk = share(1, first + half, count - half); });
        } catch (const std::system_error &) {
            // No thread to be had: the caller does the round alone.
            ok = share(0, first, count);
            continue;
        }
        ok = share(0, first, half);
        helper.join();
        ok = ok && helperOk && writeHeld();
    }
    if (two && threads.gate)
        threads.gate(false);
    return ok;
}

} // namespace

// ---------------------------------------------------------------------------
// Layout and names

DesmokeLayout DesmokeLayout::ForVersion(int version)
{
    DesmokeLayout l;
    l.version = version;
    switch (version) {
    case 2:
        l.recordSize = CCindrelDspLog::kRecordSizeV2;
        break;
    case 3:
        // The header leaves out bytes 72..87 of the scan line record.
        l.recordSize = CCindrelDspLog::kRecordSizeV3;
        l.thresholdOffset = 100 - 16;
        l.samplesOffset = 128;
        l.pixOffset = 6848;
        break;
    default:
        l.version = 1;
        break;
    }
    return l;
}

DesmokeLayout DesmokeLayout::ForFileSize(qint64 size)
{
    return ForVersion(CCindrelDspLog::VersionForSize(size));
}

DesmokeFiles::DesmokeFiles(const QString &logPath) : log(logPath)
{
    // Cut at the last "." of the file name itself, so that a dot in a folder
    // name never moves the work files out of the log's folder.
    const QString name = QFileInfo(logPath).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (name.isEmpty() || dot < 0)
        return;
    valid = true;
    const QString stem = logPath.left(logPath.size() - (name.size() - dot));
    a = stem + QStringLiteral("A.dat");
    b = stem + QStringLiteral("B.dat");
    image = stem + QStringLiteral("Image.dat");
    thresh = stem + QStringLiteral("Thresh.dat");
    fire = stem + QStringLiteral("Fire.dat");
    noSmoke = stem + QStringLiteral("NoSmoke.dat");
    sparkle = stem + QStringLiteral("Sparkle.dat");
    desmoked = stem + QStringLiteral("desmoked.plf");
    orig = stem + QStringLiteral("orig.plf");
    origTmp = stem + QStringLiteral("orig.plf.tmp");
}

QStringList DesmokeFiles::workFiles() const
{
    return {a, b, image, thresh, fire, noSmoke, sparkle};
}

// ---------------------------------------------------------------------------
// Steps

namespace desmoke {

bool SplitLog(const DesmokeFiles &files, const DesmokeLayout &layout, std::FILE *progress, qint64 *lines,
              const DesmokeThreads &threads)
{
    *lines = 0;
    const qint64 recordSize = layout.recordSize;
    struct Share {
        LineFile in;
        LineSink a, b, image, thresh;
        Failure failure;
    } shares[2];
    Share &caller = shares[0];
    if (!caller.in.open(files.log, recordSize))
        return openError(progress, files.log);
    CStream outA(files.a, "wb");
    if (!outA)
        return openError(progress, files.a);
    CStream outB(files.b, "wb");
    if (!outB)
        return openError(progress, files.b);
    CStream outImage(files.image, "wb");
    if (!outImage)
        return openError(progress, files.image);
    CStream outThresh(files.thresh, "wb");
    if (!outThresh)
        return openError(progress, files.thresh);
    caller.a = LineSink(&outA);
    caller.b = LineSink(&outB);
    caller.image = LineSink(&outImage);
    caller.thresh = LineSink(&outThresh);
    const qint64 size = streamSize(caller.in.get());
    if (size < 0)
        return readError(progress, files.log);
    const qint64 total = size / recordSize;

    const auto share = [&](int s, qint64 first, qint64 count) {
        Share &own = shares[s];
        if (!own.in.isOpen() && !own.in.open(files.log, recordSize))
            return own.failure.set(Failure::Open, files.log);
        if (!own.in.seekLine(first))
            return own.failure.set(Failure::Read, files.log);
        std::vector<unsigned char> rec(static_cast<std::size_t>(recordSize));
        std::int16_t a[kSamples], b[kSamples];
        std::uint16_t image[kSamples];
        for (qint64 line = 0; line < count; ++line) {
            if (!own.in.readLine(rec.data(), rec.size()))
                return own.failure.set(Failure::Read, files.log);
            const unsigned char *samples = rec.data() + layout.samplesOffset;
            const unsigned char *pix = rec.data() + layout.pixOffset;
            for (int i = 0; i < kSamples; ++i) {
                a[i] = qFromLittleEndian<qint16>(samples + 2 * i);
                b[i] = qFromLittleEndian<qint16>(samples + 2 * (kSamples + i));
                image[i] = pix[kSamples - 1 - i];
            }
            const std::int32_t threshold = qFromLittleEndian<qint32>(rec.data() + layout.thresholdOffset);
            if (!own.a.write(a, kSamples))
                return own.failure.set(Failure::Write, files.a);
            if (!own.b.write(b, kSamples))
                return own.failure.set(Failure::Write, files.b);
            if (!own.thresh.write(&threshold, 1))
                return own.failure.set(Failure::Write, files.thresh);
            if (!own.image.write(image, kSamples))
                return own.failure.set(Failure::Write, files.image);
        }
        return true;
    };
    const auto writeHeld = [&] {
        Share &second = shares[1];
        if (!second.a.writeHeld(outA))
            return caller.failure.set(Failure::Write, files.a);
        if (!second.b.writeHeld(outB))
            return caller.failure.set(Failure::Write, files.b);
        if (!second.thresh.writeHeld(outThresh))
            return caller.failure.set(Failure::Write, files.thresh);
        if (!second.image.writeHeld(outImage))
            return caller.failure.set(Failure::Write, files.image);
        return true;
    };
    if (!forLineRounds(total, threads, share, writeHeld))
        return caller.failure.kind != Failure::None ? caller.failure.tell(progress) : shares[1].failure.tell(progress);
    if (!outA.close())
        return writeError(progress, files.a);
    if (!outB.close())
        return writeError(progress, files.b);
    if (!outImage.close())
        return writeError(progress, files.image);
    if (!outThresh.close())
        return writeError(progress, files.thresh);
    *lines = total;
    return true;
}

bool IsFire(int a, int b, std::int32_t threshold, int fireLimit, int coldLimit, double a0, const ColdCurve &curve)
{
    if (b > fireLimit)
        return true;
    if (b < coldLimit)
        return false;
    const std::int32_t c = std::min(curve.at(b + 32769), desmoke::kCurveCeiling);
    return double(a) > double(c) + a0 + double(threshold) - 32768.0;
}

bool RedetectFire(const DesmokeFiles &files, int fireLimit, int coldLimit, double a0, const ColdCurve &curve,
                  std::FILE *progress, const DesmokeThreads &threads)
{
    constexpr qint64 kRow = qint64(kSamples) * 2;
    struct Share {
        LineFile a, b, thresh;
        LineSink fire;
        Failure failure;
    } shares[2];
    Share &caller = shares[0];
    if (!caller.a.open(files.a, kRow)) {
        say(progress, "\nError: could not open inAfile");
        return false;
    }
    if (!caller.b.open(files.b, kRow)) {
        say(progress, "\nError: could not open inBfile");
        return false;
    }
    // The image rows are not needed for the test; the file must be there.
    CStream inImage(files.image, "rb");
    if (!inImage) {
        say(progress, "\nError: could not open inImagefile");
        return false;
    }
    if (!caller.thresh.open(files.thresh, 4)) {
        say(progress, "\nError: could not open threshOutfile");
        return false;
    }
    CStream out(files.fire, "wb");
    if (!out) {
        say(progress, "\nError: could not open fireoutfile");
        return false;
    }
    caller.fire = LineSink(&out);
    // Whole lines of both channels.
    const qint64 sizeA = streamSize(caller.a.get());
    if (sizeA < 0)
        return readError(progress, files.a);
    const qint64 sizeB = streamSize(caller.b.get());
    if (sizeB < 0)
        return readError(progress, files.b);
    const qint64 total = std::min(sizeA, sizeB) / kRow;

    const auto share = [&](int s, qint64 first, qint64 count) {
        Share &own = shares[s];
        Failure &failure = own.failure;
        if (!own.a.isOpen()) {
            if (!own.a.open(files.a, kRow))
                return failure.set(Failure::Open, files.a);
            if (!own.b.open(files.b, kRow))
                return failure.set(Failure::Open, files.b);
            if (!own.thresh.open(files.thresh, 4))
                return failure.set(Failure::Open, files.thresh);
        }
        for (LineFile *f : {&own.a, &own.b, &own.thresh})
            if (!f->seekLine(first))
                return failure.set(Failure::Read, f->path());
        // The test's values held by the thread itself, not read through
        // the captures at every sample.
        const int hot = fireLimit, cold = coldLimit;
        const double offset = a0;
        std::int16_t a[kSamples], b[kSamples];
        std::uint16_t mask[kSamples];
        for (qint64 line = 0; line < count; ++line) {
            if (!own.a.readLine(a, kSamples))
                return failure.set(Failure::Read, files.a);
            if (!own.b.readLine(b, kSamples))
                return failure.set(Failure::Read, files.b);
            std::int32_t t = 0;
            if (!own.thresh.readLine(&t, 1))
                return failure.set(Failure::Read, files.thresh);
            for (int i = 0; i < kSamples; ++i)
                mask[i] = IsFire(a[i], b[i], t, hot, cold, offset, curve) ? 255 : 0;
            if (!own.fire.write(mask, kSamples))
                return failure.set(Failure::Write, files.fire);
        }
        return true;
    };
    const auto writeHeld = [&] {
        return shares[1].fire.writeHeld(out) || caller.failure.set(Failure::Write, files.fire);
    };
    if (!forLineRounds(total, threads, share, writeHeld))
        return caller.failure.kind != Failure::None ? caller.failure.tell(progress) : shares[1].failure.tell(progress);
    if (!out.close())
        return writeError(progress, files.fire);
    return true;
}

bool DesmokeClusters(const DesmokeFiles &files, int fireLimit, std::FILE *progress)
{
    say(progress, "\nopening files");
    CStream inFire(files.fire, "rb");
    if (!inFire) {
        say(progress, "\nError: couln not open %s", local(files.fire).constData());
        return false;
    }
    say(progress, "\nopen1");
    CStream inB(files.b, "rb");
    if (!inB) {
        say(progress, "\nError: couln not open %s", local(files.b).constData());
        return false;
    }
    say(progress, "\nopen2");
    CStream outNoSmoke(files.noSmoke, "wb");
    if (!outNoSmoke) {
        say(progress, "\nError: could not open %s", local(files.noSmoke).constData());
        return false;
    }
    say(progress, "\nopen3");
    CStream outSparkle(files.sparkle, "wb");
    if (!outSparkle) {
        say(progress, "\nError: could not open %s", local(files.sparkle).constData());
        return false;
    }
    say(progress, "\neverything opened");
    say(progress, "\nstarting hard stuff");

    CDesmokeBlock block(fireLimit);
    constexpr std::size_t kBlockValues = std::size_t(CDesmokeBlock::kBlockLines) * kSamples;
    qint64 total = 0;
    for (;;) {
        const std::size_t fireValues = inFire.read(block.fireRow(0), kBlockValues);
        const std::size_t bValues = inB.read(block.chanBRow(0), kBlockValues);
        if (std::ferror(inFire.get()))
            return readError(progress, files.fire);
        if (std::ferror(inB.get()))
            return readError(progress, files.b);
        const int lines = int(std::min(fireValues, bValues) / kSamples);
        if (lines == 0)
            break;
        block.StartBlock(lines);
        block.Process();
        total += lines;
        for (int y = 0; y < lines; ++y) {
            if (!outNoSmoke.write(block.noSmokeRow(y), kSamples))
                return writeError(progress, files.noSmoke);
            if (!outSparkle.write(block.sparkleRow(y), kSamples))
                return writeError(progress, files.sparkle);
        }
    }
    say(progress, "\ncomplete");
    if (!outNoSmoke.close())
        return writeError(progress, files.noSmoke);
    if (!outSparkle.close())
        return writeError(progress, files.sparkle);

    // The way up: the blocks again, from the last line back to the first.
    // Fires that reach the fire limit are followed on this pass, over the
    // final NoSmoke rows.
    CStream upFire(files.fire, "rb");
    if (!upFire)
        return openError(progress, files.fire);
    CStream upB(files.b, "rb");
    if (!upB)
        return openError(progress, files.b);
    CStream upNoSmoke(files.noSmoke, "r+b");
    if (!upNoSmoke)
        return openError(progress, files.noSmoke);
    CStream upSparkle(files.sparkle, "r+b");
    if (!upSparkle)
        return openError(progress, files.sparkle);
    CFireClusters clusters(fireLimit);
    for (qint64 end = total; end > 0;) {
        const int lines = int(std::min<qint64>(CDesmokeBlock::kBlockLines, end));
        const qint64 first = end - lines;
        const qint64 at = first * kSamples * qint64(sizeof(std::uint16_t));
        const std::size_t values = std::size_t(lines) * kSamples;
        if (!seekTo(upFire.get(), at) || upFire.read(block.fireRow(0), values) != values)
            return readError(progress, files.fire);
        if (!seekTo(upB.get(), at) || upB.read(block.chanBRow(0), values) != values)
            return readError(progress, files.b);
        if (!seekTo(upNoSmoke.get(), at) || upNoSmoke.read(block.noSmokeRow(0), values) != values)
            return readError(progress, files.noSmoke);
        if (!seekTo(upSparkle.get(), at) || upSparkle.read(block.sparkleRow(0), values) != values)
            return readError(progress, files.sparkle);
        block.StartBlock(lines);
        if (block.ProcessUpward() > 0) {
            if (!seekTo(upNoSmoke.get(), at) || !upNoSmoke.write(block.noSmokeRow(0), values))
                return writeError(progress, files.noSmoke);
            if (!seekTo(upSparkle.get(), at) || !upSparkle.write(block.sparkleRow(0), values))
                return writeError(progress, files.sparkle);
        }
        for (int y = lines - 1; y >= 0; --y)
            clusters.AddLine(first + y, block.fireRow(y), block.chanBRow(y), block.noSmokeRow(y));
        end = first;
    }
    if (!upSparkle.close())
        return writeError(progress, files.sparkle);

    // Fires that reach the fire limit: what desmoke cut of their edges goes
    // back into NoSmoke.
    std::uint16_t fire[kSamples];
    std::fill(fire, fire + kSamples, std::uint16_t(255));
    for (const CFireClusters::Span &span : clusters.RunsToRestore()) {
        const qint64 at = (span.line * kSamples + span.first) * qint64(sizeof(std::uint16_t));
        if (!seekTo(upNoSmoke.get(), at) || !upNoSmoke.write(fire, std::size_t(span.last - span.first + 1)))
            return writeError(progress, files.noSmoke);
    }
    if (!upNoSmoke.close())
        return writeError(progress, files.noSmoke);
    return true;
}

std::uint8_t MergedPixel(std::uint16_t noSmoke, int b)
{
    if (noSmoke == 255)
        return FIRE_PIXEL;
    const int v = (b + 32768) / 256;
    return std::uint8_t(std::clamp(v, 0, int(FIRE_PIXEL) - 1));
}

bool MergeDesmoked(const DesmokeFiles &files, const DesmokeLayout &layout, qint64 lines, std::FILE *progress,
                   const DesmokeThreads &threads)
{
    constexpr qint64 kRow = qint64(kSamples) * 2;
    const qint64 recordSize = layout.recordSize;
    struct Share {
        LineFile in, noSmoke;
        LineSink out;
        Failure failure;
        qint64 made = 0;   // lines made (the second thread's: since its lines were last written)
    } shares[2];
    Share &caller = shares[0];
    if (!caller.in.open(files.log, recordSize))
        return openError(progress, files.log);
    if (!caller.noSmoke.open(files.noSmoke, kRow))
        return openError(progress, files.noSmoke);
    CStream out(files.desmoked, "wb");
    if (!out)
        return openError(progress, files.desmoked);
    caller.out = LineSink(&out);
    say(progress, "\nfiles opened");

    const auto share = [&](int s, qint64 first, qint64 count) {
        Share &own = shares[s];
        Failure &failure = own.failure;
        if (!own.in.isOpen()) {
            if (!own.in.open(files.log, recordSize))
                return failure.set(Failure::Open, files.log);
            if (!own.noSmoke.open(files.noSmoke, kRow))
                return failure.set(Failure::Open, files.noSmoke);
        }
        if (!own.in.seekLine(first))
            return failure.set(Failure::Read, files.log);
        if (!own.noSmoke.seekLine(first))
            return failure.set(Failure::Read, files.noSmoke);
        std::vector<unsigned char> rec(static_cast<std::size_t>(recordSize));
        std::uint16_t row[kSamples];
        for (qint64 line = 0; line < count; ++line) {
            if (!own.in.readLine(rec.data(), rec.size())) {
                if (std::ferror(own.in.get()))
                    return failure.set(Failure::Read, files.log);
                return false;   // the log ended before the lines did
            }
            if (!own.noSmoke.readLine(row, kSamples)) {
                if (std::ferror(own.noSmoke.get()))
                    return failure.set(Failure::Read, files.noSmoke);
                return false;   // NoSmoke ended before the lines did
            }
            const unsigned char *chanB = rec.data() + layout.samplesOffset + 2 * kSamples;
            unsigned char *pix = rec.data() + layout.pixOffset;
            for (int i = 0; i < kSamples; ++i)
                pix[kSamples - 1 - i] = MergedPixel(row[i], qFromLittleEndian<qint16>(chanB + 2 * i));
            if (!own.out.write(rec.data(), rec.size()))
                return failure.set(Failure::Write, files.desmoked);
            ++own.made;
        }
        return true;
    };
    qint64 heldWritten = 0;   // lines of the second thread in the file
    const auto writeHeld = [&] {
        if (!shares[1].out.writeHeld(out))
            return caller.failure.set(Failure::Write, files.desmoked);
        heldWritten += shares[1].made;
        shares[1].made = 0;
        return true;
    };
    if (!forLineRounds(lines, threads, share, writeHeld)) {
        for (const Share &own : shares)
            if (own.failure.kind != Failure::None)
                return own.failure.tell(progress);
        say(progress, "\n Error: %s holds %lld of %lld lines\n", local(files.desmoked).constData(),
            static_cast<long long>(caller.made + heldWritten), static_cast<long long>(lines));
        return false;
    }
    if (!out.close(true))
        return writeError(progress, files.desmoked);
    return true;
}

bool ReplaceLog(const DesmokeFiles &files, qint64 expectedSize, std::FILE *progress)
{
    const QFileInfo logInfo(files.log);
    if (!logInfo.isFile() || logInfo.size() != expectedSize) {
        say(progress, "\n Error: %s changed while it was processed; left as it is\n", local(files.log).constData());
        return false;
    }
    std::error_code ec;
    if (!QFileInfo::exists(files.orig)) {
        // Keep the untouched log. A hard link costs nothing; where the file
        // system has none, a copy is made under a temporary name first so
        // that "orig.plf" is only ever a whole log.
        std::filesystem::create_hard_link(fsPath(files.log), fsPath(files.orig), ec);
        if (ec) {
            ec.clear();
            if (!copyDurably(files.log, files.origTmp, progress))
                return false;
            std::filesystem::rename(fsPath(files.origTmp), fsPath(files.orig), ec);
            if (ec) {
                say(progress, "\n Error: could not rename %s: %s\n", local(files.origTmp).constData(),
                    ec.message().c_str());
                return false;
            }
        }
    }
    // One atomic rename puts the new log in place of the old one.
    std::filesystem::rename(fsPath(files.desmoked), fsPath(files.log), ec);
    if (ec) {
        say(progress, "\n Error: could not replace %s: %s\n", local(files.log).constData(), ec.message().c_str());
        return false;
    }
    syncFolder(logInfo.absolutePath());
    return true;
}

} // namespace desmoke

// ---------------------------------------------------------------------------
// The whole processing

int DesmokeLog(const QString &logPath, double a2, double a1, double a0, int fireLimit, int coldLimit,
               const ColdCurve *curve, std::FILE *progress, const DesmokeThreads &threads,
               const std::function<bool()> &mayReplace)
{
    Q_UNUSED(a2)
    Q_UNUSED(a1)
    const DesmokeFiles files(logPath);
    if (!files.valid) {
        say(progress, "Error: invalid file name");
        return -1;
    }
    if (!curve) {
        say(progress, "\n Error: no fire detection curve\n");
        return -1;
    }
    const QFileInfo info(logPath);
    if (!info.isFile()) {
        openError(progress, logPath);
        return -1;
    }
    const qint64 size = info.size();
    const DesmokeLayout layout = DesmokeLayout::ForVersion(CCindrelDspLog::VersionForFile(logPath));

    qint64 lines = 0;
    bool ok = desmoke::SplitLog(files, layout, progress, &lines, threads);
    ok = ok && desmoke::RedetectFire(files, fireLimit, coldLimit, a0, *curve, progress, threads);
    if (ok) {
        say(progress, "\n\n\n\ncalling desmoke\n");
        ok = desmoke::DesmokeClusters(files, fireLimit, progress);
    }
    ok = ok && desmoke::MergeDesmoked(files, layout, lines, progress, threads);
    ok = ok && (!mayReplace || mayReplace());
    if (ok) {
        say(progress, "\n\n\nupdating the log file\n");
        say(progress, "\n\n\nto the end");
        ok = desmoke::ReplaceLog(files, size, progress);
    }

    for (const QString &work : files.workFiles())
        QFile::remove(work);
    if (!ok) {
        QFile::remove(files.desmoked);
        QFile::remove(files.origTmp);
    }
    return ok ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Fires reaching the fire limit, with their edges

void CFireClusters::AddLine(qint64 line, const std::uint16_t *fire, const std::int16_t *chanB, const std::uint16_t *noSmoke)
{
    Line next;
    if (window_.size() == std::size_t(2 * kReach + 1)) {
        next = std::move(window_.front());
        window_.erase(window_.begin());
    }
    next.line = line;
    next.anyHot = false;
    next.cut.clear();
    next.nearHot.assign(kSamples, 0);
    for (int x = 0; x < kSamples; ++x) {
        if (fire[x] != 255)
            continue;
        if (noSmoke[x] != 255)
            next.cut.push_back(x);
        if (chanB[x] >= fireLimit_) {
            next.anyHot = true;
            for (int q = std::max(0, x - kReach); q <= std::min(kSamples - 1, x + kReach); ++q)
                next.nearHot[std::size_t(q)] = 1;
        }
    }
    window_.push_back(std::move(next));
    // The line kReach lines back now has all its neighbours.
    if (window_.size() > std::size_t(kReach))
        Decide(window_.size() - 1 - std::size_t(kReach));
}

void CFireClusters::Decide(std::size_t k)
{
    const Line &me = window_[k];
    if (me.cut.empty())
        return;
    const std::size_t from = k >= std::size_t(kReach) ? k - std::size_t(kReach) : 0;
    const std::size_t to = std::min(window_.size() - 1, k + std::size_t(kReach));
    bool anyHot = false;
    for (std::size_t j = from; j <= to; ++j)
        anyHot = anyHot || window_[j].anyHot;
    if (!anyHot)
        return;
    for (int x : me.cut) {
        bool keep = false;
        for (std::size_t j = from; j <= to && !keep; ++j)
            keep = window_[j].nearHot[std::size_t(x)] != 0;
        if (!keep)
            continue;
        if (!restore_.empty() && restore_.back().line == me.line && restore_.back().last == x - 1)
            restore_.back().last = x;
        else
            restore_.push_back(Span{me.line, x, x});
    }
}

std::vector<CFireClusters::Span> CFireClusters::RunsToRestore()
{
    // The last kReach lines have no later neighbours.
    const std::size_t undecided = std::min(window_.size(), std::size_t(kReach));
    for (std::size_t k = window_.size() - undecided; k < window_.size(); ++k)
        Decide(k);
    window_.clear();
    return std::move(restore_);
}

// ---------------------------------------------------------------------------
// Cluster working set

CDesmokeBlock::CDesmokeBlock(int fireLimit)
    : fireLimit_(fireLimit),
      fire_(std::size_t(kBlockLines) * kSamples, 0),
      noSmoke_(std::size_t(kBlockLines) * kSamples, 0),
      sparkle_(std::size_t(kBlockLines) * kSamples, 0),
      chanB_(std::size_t(kBlockLines) * kSamples, 0),
      mark_(std::size_t(kSamples), '0'),
      upMark_(std::size_t(kSamples), '0')
{
    std::memset(visited_, 0, sizeof(visited_));
}

void CDesmokeBlock::StartBlock(int lines)
{
    lines_ = std::clamp(lines, 0, int(kBlockLines));
}

void CDesmokeBlock::Process()
{
    const std::size_t n = std::size_t(lines_) * kSamples;
    std::copy(fire_.begin(), fire_.begin() + std::ptrdiff_t(n), noSmoke_.begin());
    std::copy(fire_.begin(), fire_.begin() + std::ptrdiff_t(n), sparkle_.begin());
    for (int y = 0; y < lines_; ++y) {
        for (int x = 0; x < kSamples; ++x) {
            if (mark_[std::size_t(x)] == 's') {
                SuppressSpan(x, y);
            } else if (isFire(x, y)) {
                if (CountCluster(x, y) >= kLargeCluster)
                    SuppressSpan(x, y);
            }
        }
    }
}

int CDesmokeBlock::CountCluster(int x, int y)
{
    seedX_ = x;
    seedY_ = y;
    std::memset(visited_, 0, sizeof(visited_));
    return Count(x, y, 0, false);
}

int CDesmokeBlock::Count(int x, int y, int depth, bool gapCrossed)
{
    if (x < 0 || x >= kSamples || y < 0 || y >= lines_)
        return 0;
    const int dx = x - seedX_;
    const int dy = y - seedY_;
    if (dx < -kReach || dx > kReach || dy < -kReach || dy > kReach)
        return 0;
    if (!isFire(x, y)) {
        if (gapCrossed)
            return 0;
        gapCrossed = true;
        depth = 0;
    }
    // A position that a path reaches too deep is not marked visited: a
    // shorter path may still count it. (Marking it would make the count
    // depend on which path the search happened to try first; a 6 x 6 block
    // of fire seeded at its corner would then count only 29.)
    if (depth > kMaxDepth)
        return 0;
    bool &seen = visited_[dx + kReach][dy + kReach];
    if (seen)
        return 0;
    seen = true;
    // Neighbours in a fixed order: the diagonals, then above and below,
    // then left and right. The order decides which path reaches a position
    // first, so it is part of the result.
    static constexpr int kNext[8][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}, {0, -1}, {0, 1}, {-1, 0}, {1, 0}};
    int count = 1;
    for (const auto &d : kNext)
        count += Count(x + d[0], y + d[1], depth + 1, gapCrossed);
    return count;
}

int CDesmokeBlock::ProcessUpward()
{
    int removed = 0;
    std::vector<char> near(std::size_t(kSamples), 0);
    for (int y = lines_ - 1; y >= 0; --y) {
        // Samples within kSpan of a mark of the line below: a running count
        // of the marks in the window [x - kSpan, x + kSpan].
        int marks = 0;
        for (int q = 0; q < std::min(kSpan, kSamples); ++q)
            marks += upMark_[std::size_t(q)] == 's';
        for (int x = 0; x < kSamples; ++x) {
            if (x + kSpan < kSamples)
                marks += upMark_[std::size_t(x + kSpan)] == 's';
            near[std::size_t(x)] = marks > 0;
            if (x - kSpan >= 0)
                marks -= upMark_[std::size_t(x - kSpan)] == 's';
        }
        const std::size_t row = std::size_t(y) * kSamples;
        for (int x = 0; x < kSamples; ++x) {
            const std::size_t at = row + std::size_t(x);
            if (!isFire(x, y)) {
                upMark_[std::size_t(x)] = '0';
                continue;
            }
            if (near[std::size_t(x)] && sparkle_[at] == 255) {
                ++removed;
                sparkle_[at] = 0;
                if (chanB_[at] < fireLimit_)
                    noSmoke_[at] = 0;
            }
            upMark_[std::size_t(x)] = sparkle_[at] == 0 ? 's' : '0';
        }
    }
    return removed;
}

void CDesmokeBlock::SuppressSpan(int x, int y)
{
    const int from = std::max(0, x - kSpan);
    const int to = std::min(kSamples - 1, x + kSpan);
    const std::size_t row = std::size_t(y) * kSamples;
    for (int q = from; q <= to; ++q) {
        if (isFire(q, y)) {
            mark_[std::size_t(q)] = 's';
            sparkle_[row + std::size_t(q)] = 0;
            if (chanB_[row + std::size_t(q)] < fireLimit_)
                noSmoke_[row + std::size_t(q)] = 0;
        } else {
            mark_[std::size_t(q)] = '0';
        }
    }
}
