#pragma once
// Offline fire processing of a finished flight log: the fire pixels of every
// line are recomputed from the raw channel samples with the stored detection
// parameters, pixels of large connected clusters are removed unless their
// channel B value reaches the fire limit (smoke and hot ground rather than
// fire), and the result is written back into the log's image rows. The
// untouched log is kept beside it as "<stem>orig.plf".
//
// The work goes through plain work files in the log's folder, all named
// from the log path without its extension ("run07.plf" -> "run07A.dat"):
//
//   A.dat        1680 channel A samples per line, i16
//   B.dat        1680 channel B samples per line, i16
//   Image.dat    the pix row widened to u16, in sample order
//   Thresh.dat   the line's fire threshold, i32
//   Fire.dat     re-detected fire mask in sample order, u16 (255 fire, 0 not)
//   NoSmoke.dat  fire mask without large-cluster pixels below the fire limit
//   Sparkle.dat  fire mask without any large-cluster pixel
//   desmoked.plf the new log, written completely before it replaces the log
//
// Safety of the flight's data: until the new log is complete, flushed and
// checked, the log is only read. The original is then kept as "orig.plf"
// (a hard link, or a copy written under a temporary name, so the log's name
// never stops holding a whole log), and the new log replaces the log's name
// in one atomic rename. A second run on the same log keeps the first
// "orig.plf", which is the untouched recording. Any failure leaves the log
// exactly as it was and removes the work files; the result is -1 and the
// program carries on.
//
// Every record layout of the flight log (versions 1, 2 and 3, told from the
// file size as the log reader does) is processed with its own offsets, and
// the new log keeps the layout of the old one. A partial record at the end
// of the log is ignored (the kept original still holds it).
//
// Progress texts go to the given stream (standard output by default).
#include "datasource/coldcurve.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

// Where the parts that the processing uses lie in one record of a log.
struct DesmokeLayout {
    int version = 1;
    qint64 recordSize = 8560;
    int thresholdOffset = 100;   // fireThreshold, i32
    int samplesOffset = 144;     // 1680 channel A then 1680 channel B, i16
    int pixOffset = 6864;        // 1680 pix bytes, element j belongs to sample 1679 - j

    static DesmokeLayout ForVersion(int version);
    static DesmokeLayout ForFileSize(qint64 size);
};

// Threads of the per-line steps (the split, the re-detection and the new
// log): 1, or 2 with a second thread that takes the later half of every
// round of lines while the gate lets it (asked with want before every
// round, and with !want once a step is done, so a core it holds goes back
// between the steps; unset: it always may). The files are the same for one
// thread or two. The cluster pass is always one thread: its marks carry
// from each line to the next.
struct DesmokeThreads {
    int count = 1;
    std::function<bool(bool want)> gate;
};

// The work file names of one log.
struct DesmokeFiles {
    explicit DesmokeFiles(const QString &logPath);

    // False when the log's file name has no "." (nothing to cut the
    // extension at); the work files would not be named from the log then.
    bool valid = false;
    QString log;
    QString a, b, image, thresh, fire, noSmoke, sparkle;
    QString desmoked;   // the new log
    QString orig;       // the untouched log
    QString origTmp;    // the untouched log while it is being copied

    // The seven per-line work files, in the order they are made.
    QStringList workFiles() const;
};

// The whole processing. a2 and a1 belong to the stored detection
// parameters and are accepted for them; the test itself uses a0, the two
// channel B limits and the curve. Returns 0 on success, -1 on failure (the
// log then is unchanged). The log comes out the same whatever `threads`.
// mayReplace, when given, is asked once the new log is complete, before it
// takes the log's place: false leaves the log as it was (-1).
int DesmokeLog(const QString &logPath, double a2, double a1, double a0, int fireLimit, int coldLimit,
               const ColdCurve *curve, std::FILE *progress = stdout, const DesmokeThreads &threads = DesmokeThreads(),
               const std::function<bool()> &mayReplace = {});

// The steps, each reading and writing the work files named by `files`.
// Each returns false (after a message on `progress`) when a file cannot be
// opened, read or written.
namespace desmoke {

constexpr int kSamples = 1680;

// Whole records of the log -> A.dat, B.dat, Image.dat, Thresh.dat.
// *lines receives the number of records split.
bool SplitLog(const DesmokeFiles &files, const DesmokeLayout &layout, std::FILE *progress, qint64 *lines,
              const DesmokeThreads &threads = DesmokeThreads());

// A.dat, B.dat, Thresh.dat, Image.dat -> Fire.dat. Per sample with channel
// values a and b and the line's threshold t: fire when b > fireLimit, or
// when b >= coldLimit and a > min(curve[b + 32769], kCurveCeiling) + a0 +
// t - 32768.
bool RedetectFire(const DesmokeFiles &files, int fireLimit, int coldLimit, double a0, const ColdCurve &curve,
                  std::FILE *progress, const DesmokeThreads &threads = DesmokeThreads());

// The curve entries re-detection trusts: an entry above the curve's start
// value for channel B 0 and warmer (channel A at half scale, hotter than any
// ground) was set by flame, whose own channel A taught it, or comes from a
// curve started higher (65536 in earlier versions). Re-detection compares
// with half scale instead, so a small fire seen at a channel B no ground
// reached still stands out in channel A.
constexpr std::int32_t kCurveCeiling = ColdCurve::kPositiveStart;

// The fire test of one sample, as RedetectFire applies it.
bool IsFire(int a, int b, std::int32_t threshold, int fireLimit, int coldLimit, double a0, const ColdCurve &curve);

// Fire.dat, B.dat -> NoSmoke.dat, Sparkle.dat in blocks of 25 lines. A
// second pass goes over the blocks from the last line back to the first
// and carries every removal up the lines the way the marks carry it down
// (see CDesmokeBlock::ProcessUpward), so that a plume loses its upper edge
// as it loses its lower one. A fire that reaches the fire limit keeps its
// edge pixels in NoSmoke (see CFireClusters): desmoke never cuts such a
// fire in part.
bool DesmokeClusters(const DesmokeFiles &files, int fireLimit, std::FILE *progress);

// Log, NoSmoke.dat -> desmoked.plf: every record of the log with its pix
// row rebuilt: 255 where NoSmoke is fire, otherwise channel B scaled to
// 0..254 ((b + 32768) / 256, with 255 lowered to 254 so that 255 keeps
// meaning fire). Fails unless exactly `lines` records were written.
bool MergeDesmoked(const DesmokeFiles &files, const DesmokeLayout &layout, qint64 lines, std::FILE *progress,
                   const DesmokeThreads &threads = DesmokeThreads());

// The image value of a sample in the new log.
std::uint8_t MergedPixel(std::uint16_t noSmoke, int b);

// Keeps the untouched log as orig.plf (unless one is there already) and
// puts desmoked.plf in the log's place. `expectedSize` is the log's size
// when it was split; a log that changed since is left alone.
bool ReplaceLog(const DesmokeFiles &files, qint64 expectedSize, std::FILE *progress);

} // namespace desmoke

// The fires desmoke must keep whole. A fire pixel whose channel B reaches
// the fire limit is flame; the fire pixels within kReach samples and lines
// of it (touching it, or one pixel apart) are the same fire's edge, pixels
// only partly filled by flame, and are kept with it. Smoke or hot ground
// further out is still removed. Followed line by line over a whole log;
// remembers the pixels desmoke cut that belong to such a fire.
class CFireClusters {
public:
    static constexpr int kReach = 2;

    explicit CFireClusters(int fireLimit) : fireLimit_(fireLimit) {}

    // Line `line` of the fire mask (255 = fire), its channel B and the
    // NoSmoke result of the line, in sample order. The lines come one after
    // the other, from the first to the last or from the last to the first.
    void AddLine(qint64 line, const std::uint16_t *fire, const std::int16_t *chanB, const std::uint16_t *noSmoke);

    struct Span {
        qint64 line;
        int first, last;   // samples, inclusive
    };
    // After the last line: the runs of pixels desmoke cut that belong to a
    // fire reaching the fire limit.
    std::vector<Span> RunsToRestore();

private:
    struct Line {
        qint64 line = 0;
        bool anyHot = false;
        std::vector<char> nearHot;   // per sample: a flame pixel within kReach samples on this line
        std::vector<int> cut;        // samples desmoke cut
    };
    void Decide(std::size_t k);

    int fireLimit_;
    std::vector<Line> window_;   // the newest 2 kReach + 1 lines, oldest first
    std::vector<Span> restore_;
};

// The cluster working set: one block of up to 25 lines of the fire mask and
// channel B, the two output masks, and the per-sample mark that carries
// from line to line and from block to block.
class CDesmokeBlock {
public:
    static constexpr int kSamples = desmoke::kSamples;
    static constexpr int kBlockLines = 25;
    static constexpr int kReach = 9;          // cluster search: samples and lines from the seed
    static constexpr int kMaxDepth = 10;      // steps along one path (restarted by its gap)
    static constexpr int kLargeCluster = 35;  // positions that make a cluster large
    static constexpr int kSpan = 10;          // suppression: samples either side

    explicit CDesmokeBlock(int fireLimit);

    // Starts a block of `lines` lines (0..25); the masks and channel B of
    // the block are then filled through fire()/chanB(). The marks carry on.
    void StartBlock(int lines);
    int Lines() const { return lines_; }

    std::uint16_t &fire(int x, int y) { return fire_[std::size_t(y) * kSamples + std::size_t(x)]; }
    std::int16_t &chanB(int x, int y) { return chanB_[std::size_t(y) * kSamples + std::size_t(x)]; }
    std::uint16_t noSmoke(int x, int y) const { return noSmoke_[std::size_t(y) * kSamples + std::size_t(x)]; }
    std::uint16_t sparkle(int x, int y) const { return sparkle_[std::size_t(y) * kSamples + std::size_t(x)]; }
    const std::uint16_t *noSmokeRow(int y) const { return &noSmoke_[std::size_t(y) * kSamples]; }
    const std::uint16_t *sparkleRow(int y) const { return &sparkle_[std::size_t(y) * kSamples]; }
    std::uint16_t *noSmokeRow(int y) { return &noSmoke_[std::size_t(y) * kSamples]; }
    std::uint16_t *sparkleRow(int y) { return &sparkle_[std::size_t(y) * kSamples]; }
    std::uint16_t *fireRow(int y) { return &fire_[std::size_t(y) * kSamples]; }
    std::int16_t *chanBRow(int y) { return &chanB_[std::size_t(y) * kSamples]; }

    // '0' or 's' for sample x.
    char mark(int x) const { return mark_[std::size_t(x)]; }

    // Copies the fire mask into both output masks and runs the cluster pass
    // over every line of the block.
    void Process();

    // Positions reachable from the seed (x, y) within the search window
    // (kReach samples and lines): a path may cross one non-fire position
    // (which restarts its depth count and is counted itself), paths end
    // after kMaxDepth steps, and each position counts once, when a path
    // first reaches it within the depth limit. Clears the visited grid.
    int CountCluster(int x, int y);

    // Suppresses the fire pixels within kSpan samples of x on line y and
    // sets their marks; non-fire samples in the span get mark '0'.
    void SuppressSpan(int x, int y);

    // The way up. Process carries a removal only down the lines: the marks
    // of a line's removed pixels suppress the next line's fire within kSpan
    // samples of them, and so on while the lines hold fire there. The upper
    // edge of a plume, the lines above the first that reach a large count,
    // would stay as scattered pixels. This pass goes over the block's lines
    // from the last to the first, after Process, with the block's NoSmoke
    // and Sparkle rows as Process left them (reloaded through noSmokeRow()
    // and sparkleRow() when the block comes back from its files), and
    // carries every removal up: a line loses its fire within kSpan samples
    // of a pixel removed on the line below (NoSmoke keeps what reaches the
    // fire limit, as in SuppressSpan), so the reach widens by kSpan a line
    // and ends at a line without fire there. The up marks ('s' at a removed
    // pixel of the line last processed) carry to the block above, which is
    // to be processed next. Returns the number of pixels it removed.
    int ProcessUpward();
    char upMark(int x) const { return upMark_[std::size_t(x)]; }

private:
    bool isFire(int x, int y) const { return fire_[std::size_t(y) * kSamples + std::size_t(x)] == 255; }
    int Count(int x, int y, int depth, bool gapCrossed);

    int fireLimit_;
    int lines_ = 0;
    int seedX_ = 0, seedY_ = 0;
    std::vector<std::uint16_t> fire_, noSmoke_, sparkle_;
    std::vector<std::int16_t> chanB_;
    std::vector<char> mark_, upMark_;
    bool visited_[2 * kReach + 1][2 * kReach + 1];
};
