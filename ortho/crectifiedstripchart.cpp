#include "ortho/crectifiedstripchart.h"
#include "platform/settingskeys.h"

#include "datasource/ccindreldsplog.h"
#include "datasource/cdatasource.h"
#include "geodata/celevationdata.h"
#include "geodata/cnadcon.h"
#include "platform/wholefile.h"
#include "stripchart/tiffstream.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
constexpr double kDeg = 0.017453292519943295;
constexpr double kTan60 = 1.7320508075688772;
// Sample positions beyond this many cells from the grid are dropped before
// any integer conversion (a ray nearly parallel to the ground).
constexpr double kFarCells = 1.0e6;
// Floor and ceiling of a value well inside the int range, from the
// truncation: std::floor and std::ceil are library rounding otherwise.
inline int FloorToInt(double v)
{
    const int t = int(v);
    return double(t) > v ? t - 1 : t;
}
inline int CeilToInt(double v)
{
    const int t = int(v);
    return double(t) < v ? t + 1 : t;
}
} // namespace

CRectifiedStripChart::CRectifiedStripChart(CDataSource *source)
    : line_(std::make_unique<ScanLineRec>()), source_(source)
{
    QSettings s;
    left_ = s.value(SettingsKey::LeftOrthoAngleCor, 60.0).toDouble();
    right_ = s.value(SettingsKey::RightOrthoAngleCor, 60.0).toDouble();
    rollAdjust_ = s.value(SettingsKey::RollAdjust, 0.0).toDouble();
    pitchAdjust_ = s.value(SettingsKey::PitchAdjust, 0.0).toDouble();
    hdgAdjust_ = s.value(SettingsKey::HdgAdjust, 0.0).toDouble();
    sigmaB_ = s.value(SettingsKey::ImageSigmaB, 3.0).toDouble();
    skipBadLines_ = s.value(SettingsKey::SkipBadLines, 0).toInt() != 0;

    orthoWriter_ = std::make_unique<CTiffFile>();
    colorWriter_ = std::make_unique<CTiffFile>();
    colorWriter_->SetTwoColor();

    for (int i = 0; i < kSamples; ++i) {
        tanTheta_[i] = std::tan(ScanAngle(i, left_, right_) * kDeg);
        // Footprint of the sample from its nominal angle.
        const double c = std::cos((i - 840 + 0.5) * 120.0 / 1680.0 * kDeg);
        splatA_[i] = 0.25 / c;
        splatB_[i] = 0.25 / (c * c);
    }
    threads_ = std::thread::hardware_concurrency() > 1 ? 2 : 1;
    paletteRow_.assign(ortho::kPaletteRowBytes, 0);
    rgbRow_.assign(ortho::kRgbRowBytes, 0);
}

CRectifiedStripChart::~CRectifiedStripChart() = default;

void CRectifiedStripChart::SetOutputDirectory(const QString &path)
{
    outputDir_ = path;
    if (outputDir_.endsWith(QLatin1Char('\\')) || (outputDir_.size() > 1 && outputDir_.endsWith(QLatin1Char('/'))))
        outputDir_.chop(1);
}

QString CRectifiedStripChart::OutcomeText(Outcome outcome)
{
    switch (outcome) {
    case NotRun: return QStringLiteral("not run");
    case Produced: return QStringLiteral("products written");
    case NoElevation: return QStringLiteral("the elevation raster of the run cannot be opened");
    case NoTemporaryFiles: return QStringLiteral("the temporary product files cannot be created");
    case NoLines: return QStringLiteral("the log holds no line");
    case NoHeight: return QStringLiteral("the aircraft is not above the terrain");
    case NoRows: return QStringLiteral("no sample reached the ground grid");
    case Cancelled: return QStringLiteral("cancelled");
    case WriteFailed: return QStringLiteral("a product file could not be finished");
    }
    return QString();
}

void CRectifiedStripChart::GetBoundingBox(double *west, double *north, double *east, double *south) const
{
    if (west) *west = west_;
    if (north) *north = north_;
    if (east) *east = east_;
    if (south) *south = south_;
}

// ------------------------------------------------------------------ geometry

double CRectifiedStripChart::ScanAngle(int i, double leftAngle, double rightAngle)
{
    double u = i - 840 + 0.5;
    if (u < 0)
        u = u * 2.0 * leftAngle / 1680.0;
    else if (u > 0)
        u = u * 2.0 * rightAngle / 1680.0;
    return -u;
}

int CRectifiedStripChart::MeanTrackOf(double sumOfTracks, int count)
{
    if (count <= 0)
        return 0;
    int t = int(std::floor(sumOfTracks / count + 0.5));
    if (t > 360)
        t -= 360;
    else if (t < 0)
        t += 360;
    return t;
}

bool CRectifiedStripChart::InAlaska(double lat, double lon) { return lat >= 51.0 && lon <= -129.75; }

void CRectifiedStripChart::ProjectPosition(double lat, double lon, double *e, double *n)
{
    if (alaska_ && nadcon_)
        nadcon_->ShiftToGridDatum(lat, lon, &lat, &lon);
    std::int32_t zone = 0;
    utm_.LatLonToUtm(lat, lon, n, e, &zone, datum_);
    frame_.zone = zone;
}

void CRectifiedStripChart::SetLineAttitude(const ScanLineRec &rec)
{
    // The recorded roll with the operator's correction (and the scan timing
    // correction of old logs).
    double r = rec.roll * 0.01 + rollAdjust_;
    if (source_ && source_->IsOldLog() && rec.scanPeriod != 0)
        r += -240.0 / double(rec.scanPeriod) * 210.0;
    const double p = rec.pitch * 0.01 + pitchAdjust_;
    double y = rec.heading * 0.01;
    if (std::fabs(y - refHeading_) > 180.0)
        y += y > refHeading_ ? -360.0 : 360.0;
    y += hdgAdjust_;
    // The heading is measured from true north; the projected grid's north
    // differs from it by the grid convergence at the aircraft.
    ProjectPosition(milliArcSecToDeg(rec.latitude), milliArcSecToDeg(rec.longitude), &frame_.e, &frame_.n);
    lineConvergence_ = utm_.GetConvergence() / kDeg;
    frame_.reference = utm_.ReferenceAt(frame_.n);
    if (convergenceCorrection_)
        y -= lineConvergence_;

    const double cr = std::cos(r * kDeg), sr = std::sin(r * kDeg);
    const double cp = std::cos(p * kDeg), sp = std::sin(p * kDeg);
    const double cy = std::cos(y * kDeg), sy = std::sin(y * kDeg);
    double *m = frame_.m;
    m[0] = sp * cy * sr - sy * cr;
    m[1] = sp * cy * cr + sy * sr;
    m[2] = sy * sp * sr + cy * cr;
    m[3] = sy * sp * cr - sr * cy;
    m[4] = sr * cp;
    m[5] = cp * cr;
    frame_.alt = rec.altitude * 0.01;
}

void CRectifiedStripChart::ViewTerrain()
{
    terrain_ = TerrainView();
    const CBil &e = elevation_;
    if (e.GetPixelType() != Int16 || e.GetNBands() != 1 || e.GetRotation() != 0.0 || e.GetNRows() < 1)
        return;
    terrain_.data = e.RowData(0);
    terrain_.rowBytes = std::size_t(e.GetTotalRowBytes());
    terrain_.columns = e.GetNCols();
    terrain_.rows = e.GetNRows();
    terrain_.left = e.GetLeft();
    terrain_.top = e.GetTop();
    terrain_.bottom = e.GetBottom();
    terrain_.xdim = e.GetXDim();
    terrain_.ydim = e.GetYDim();
    terrain_.rowsRunDown = e.GetRowsRunDown() != 0;
    const bool hostLittle = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
    terrain_.little = (e.GetByteOrder() == (hostLittle ? 1 : 0)) == hostLittle;
}

// The usual raster, read without calls: the pixel position exactly as
// CBil::GeoToPixel gives it (single precision), then as TerrainAt below.
inline bool CRectifiedStripChart::TerrainView::At(double lon, double lat, double *z) const
{
    const float c = float((lon - left) / xdim);
    const float r = float(rowsRunDown ? (top - lat) / ydim : (lat - bottom) / ydim);
    const double column = double(c) - 0.5, row = double(r) - 0.5;
    // Both corners inside the raster: floor(v) + 1 < n is v < n - 1.
    if (!(column >= 0.0 && row >= 0.0 && column < columns - 1 && row < rows - 1))
        return false;
    // Non-negative: the truncation is the floor.
    const int ci = int(column), ri = int(row);
    const double c0 = ci, r0 = ri;
    const unsigned char *upperRow = data + std::size_t(ri) * rowBytes + std::size_t(ci) * 2;
    const unsigned char *lowerRow = upperRow + rowBytes;
    const bool isLittle = little;
    auto sample = [isLittle](const unsigned char *p) {
        return double(isLittle ? qFromLittleEndian<qint16>(p) : qFromBigEndian<qint16>(p));
    };
    const double s00 = sample(upperRow), s10 = sample(upperRow + 2);
    const double s01 = sample(lowerRow), s11 = sample(lowerRow + 2);
    const double fx = column - c0, fy = row - r0;
    const double upper = s00 + (s10 - s00) * fx;
    const double lower = s01 + (s11 - s01) * fx;
    *z = upper + (lower - upper) * fy;
    return true;
}

bool CRectifiedStripChart::TerrainAt(double lon, double lat, double *z) const
{
    if (terrain_.data)
        return terrain_.At(lon, lat, z);
    // Bilinear between cell centres: the raster's cell (c, r) is centred at
    // pixel position (c + 0.5, r + 0.5).
    double column, row;
    elevation_.GeoToPixel(lon, lat, &column, &row);
    column -= 0.5;
    row -= 0.5;
    if (!(column >= 0.0 && row >= 0.0))
        return false;
    const double c0 = std::floor(column), r0 = std::floor(row);
    double s00, s01, s10, s11;
    if (elevation_.GetPixelType() == Int16 && elevation_.GetNBands() == 1) {
        // The usual raster: the four samples straight from its two rows.
        if (!(c0 + 1 < elevation_.GetNCols() && r0 + 1 < elevation_.GetNRows()))
            return false;
        const unsigned char *upperRow = elevation_.RowData(int(r0));
        if (!upperRow)
            return false;
        const unsigned char *lowerRow = upperRow + elevation_.GetTotalRowBytes();
        const bool hostLittle = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
        const bool little = (elevation_.GetByteOrder() == (hostLittle ? 1 : 0)) == hostLittle;
        const std::size_t at = std::size_t(c0) * 2;
        auto sample = [little](const unsigned char *p) {
            return double(little ? qFromLittleEndian<qint16>(p) : qFromBigEndian<qint16>(p));
        };
        s00 = sample(upperRow + at);
        s10 = sample(upperRow + at + 2);
        s01 = sample(lowerRow + at);
        s11 = sample(lowerRow + at + 2);
    } else if (!elevation_.GetValue(c0, r0, 0, &s00) || !elevation_.GetValue(c0 + 1, r0, 0, &s10)
               || !elevation_.GetValue(c0, r0 + 1, 0, &s01) || !elevation_.GetValue(c0 + 1, r0 + 1, 0, &s11)) {
        return false;
    }
    const double fx = column - c0, fy = row - r0;
    const double upper = s00 + (s10 - s00) * fx;
    const double lower = s01 + (s11 - s01) * fx;
    *z = upper + (lower - upper) * fy;
    return true;
}

void CRectifiedStripChart::TraceSamples(const LineFrame &frame, const CUtmConverter &utm, int first, int last,
                                        double lowest, Box *box, GroundPoint *out, const CBil *grid) const
{
    // Each sample searches the height where its ray meets the terrain: from
    // the mean elevation, the terrain under the ray at the height found
    // last, until two heights agree within a cell. The searches run in
    // rounds, one step of every sample still searching per round: steps of
    // one round do not wait for each other, so the processor overlaps them,
    // and each sample's arithmetic is the same as if it were searched alone.
    double ke[kSamples], kn[kSamples], lat[kSamples], lon[kSamples];
    int searching[kSamples];
    int active = 0;
    for (int i = first; i < last; ++i) {
        GroundPoint &g = out[i - first];
        g = GroundPoint();
        const double t = tanTheta_[i];
        const double *m = frame.m;
        const double d = t * m[4] - m[5];
        // A ray that does not point below the horizon never meets the ground.
        if (!(d < -1e-6))
            continue;
        ke[i] = (t * m[2] - m[3]) / d;
        kn[i] = (t * m[0] - m[1]) / d;
        g.z = z0_;
        searching[active++] = i;
    }
    const double lineE = frame.e, lineN = frame.n, lineAlt = frame.alt, cell = cellSize_;
    const TerrainView &view = terrain_;
    Box b = *box;
    for (int it = 0; it < kMaxIterations && active > 0; ++it) {
        // Where each ray is at its present height ...
        for (int k = 0; k < active; ++k) {
            const int i = searching[k];
            // Terrain above the aircraft would turn the ray round; keep it below.
            const double h = std::max(lineAlt - out[i - first].z, 1.0);
            const double e = lineE + ke[i] * h;
            const double n = lineN + kn[i] * h;
            // On the datum's ellipsoid, chosen by the line's ProjectPosition.
            utm.GridToLatLon(n, e, frame.zone, frame.reference, &lat[i], &lon[i]);
        }
        // ... and the terrain there.
        int still = 0;
        for (int k = 0; k < active; ++k) {
            const int i = searching[k];
            GroundPoint &g = out[i - first];
            b.Add(lat[i], lon[i]);
            double nz;
            if (!(view.data ? view.At(lon[i], lat[i], &nz) : TerrainAt(lon[i], lat[i], &nz)))
                nz = lowest;
            const double z = g.z;
            g.lat = lat[i];
            g.lon = lon[i];
            g.z = nz;
            g.iterations = it + 1;
            // Kept in the next round unless the heights agree.
            searching[still] = i;
            still += std::fabs(nz - z) <= cell ? 0 : 1;
        }
        active = still;
    }
    *box = b;
    // Each ground point at the height its search settled on.
    for (int i = first; i < last; ++i) {
        GroundPoint &g = out[i - first];
        if (g.iterations == 0)
            continue;
        const double h = std::max(lineAlt - g.z, 1.0);
        g.e = lineE + ke[i] * h;
        g.n = lineN + kn[i] * h;
        if (!grid)
            continue;
        grid->GeoToPixel(g.e, g.n, &g.column, &g.row);
        g.valid = std::fabs(g.column) < kFarCells && std::fabs(g.row) < kFarCells;
    }
}

CRectifiedStripChart::GroundPoint CRectifiedStripChart::ProjectSample(int i)
{
    Box box{west_, east_, north_, south_};
    GroundPoint g;
    TraceSamples(frame_, utm_, i, i + 1, lowestTerrain_, &box, &g, &grid_);
    west_ = box.west;
    east_ = box.east;
    north_ = box.north;
    south_ = box.south;
    // Only a traced sample has a height (an untraced one keeps 0).
    if (g.iterations > 0 && g.z < lowestTerrain_)
        lowestTerrain_ = g.z;
    return g;
}

void CRectifiedStripChart::TraceLine()
{
    ground_.resize(kSamples);
    // The whole line against the lowest terrain known at the line's start.
    const double lowest = lowestTerrain_;
    Box box{west_, east_, north_, south_};
    TraceSamples(frame_, utm_, 0, kSamples, lowest, &box, ground_.data(), &grid_);
    // A sample below that terrain changes what later samples fall back to:
    // then the line is traced again one sample after the other, as
    // ProjectSample would (rare: only where the raster runs out or was
    // extracted anew).
    for (const GroundPoint &g : ground_) {
        if (g.iterations > 0 && g.z < lowest) {
            for (int i = 0; i < kSamples; ++i)
                ground_[std::size_t(i)] = ProjectSample(i);
            return;
        }
    }
    west_ = box.west;
    east_ = box.east;
    north_ = box.north;
    south_ = box.south;
}

// The main pass's lines traced ahead of it, a block of lines at a time. The
// second thread takes the next block while it is allowed to (a core is free
// for it); the main pass takes the block it needs when nobody has, and a
// later one rather than wait while the second thread traces that one. A
// line is traced from its surveyed header exactly as TraceLine would trace
// it, but to projected positions only: the main pass turns them into grid
// positions when it reaches the line (the grid scrolls in between). The
// main pass traces a line itself when the lowest terrain changed since it
// was traced ahead, when one of its samples fell below that terrain, or
// when the line read is not the one surveyed.
class CRectifiedStripChart::TraceAhead {
public:
    // allowed: whether the second thread may start before it is told.
    TraceAhead(CRectifiedStripChart &owner, bool allowed) : o_(owner), allowed_(allowed)
    {
        lines_ = int(o_.headers_.size() / kHeaderBytes);
        blocks_ = (lines_ + kBlockLines - 1) / kBlockLines;
        frames_.resize(std::size_t(lines_));
        skip_.resize(std::size_t(lines_));
        // Every line's frame as the main pass will set it.
        auto rec = std::make_unique<ScanLineRec>();
        for (int k = 0; k < lines_; ++k) {
            std::memcpy(static_cast<void *>(rec.get()), &o_.headers_[std::size_t(k) * kHeaderBytes], kHeaderBytes);
            o_.SetLineAttitude(*rec);
            frames_[std::size_t(k)] = o_.frame_;
            skip_[std::size_t(k)] = o_.skipBadLines_ && rec->scanPeriod < std::uint32_t(kBadScanPeriod);
        }
        // A converter of our own: the main pass's one changes with every line.
        utm_ = o_.utm_;
        lowest_ = o_.lowestTerrain_;
        slots_.resize(kSlots);
        for (Slot &s : slots_) {
            s.en.resize(std::size_t(kBlockLines) * kSamples * 2);
            s.boxes.resize(kBlockLines);
            s.below.resize(kBlockLines);
        }
        ownScratch_.resize(kSamples);
        thread_ = std::thread([this] { Loop(); });
    }
    ~TraceAhead()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    TraceAhead(const TraceAhead &) = delete;
    TraceAhead &operator=(const TraceAhead &) = delete;

    // Whether the second thread may take more blocks.
    void Allow(bool on)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            allowed_ = on;
        }
        changed_.notify_all();
    }

    // ground_ for surveyed line k, read as rec; false: the caller traces it.
    bool Place(int k, const ScanLineRec &rec)
    {
        if (k < 0 || k >= lines_
            || std::memcmp(&rec, &o_.headers_[std::size_t(k) * kHeaderBytes], kHeaderBytes) != 0)
            return false;
        const int b = k / kBlockLines;
        Slot &slot = slots_[std::size_t(b % kSlots)];
        {
            std::unique_lock<std::mutex> lock(mutex_);
            lowest_ = o_.lowestTerrain_;
            if (consumed_ < b) {
                consumed_ = b;   // earlier blocks' slots may be taken again
                changed_.notify_all();
            }
            for (;;) {
                if (slot.block == b) {
                    if (slot.ready)
                        break;
                } else if (next_ > b) {
                    return false;   // passed over: traced line by line
                } else if (!allowed_) {
                    next_ = b + 1;   // no second core: trace it line by line
                    return false;
                }
                if (TakeLocked(lock, ownScratch_))
                    continue;
                changed_.wait(lock);
            }
        }
        const int j = k % kBlockLines;
        if (slot.lowest != o_.lowestTerrain_ || slot.below[std::size_t(j)])
            return false;
        o_.ground_.resize(kSamples);
        const double *en = &slot.en[std::size_t(j) * kSamples * 2];
        for (int i = 0; i < kSamples; ++i) {
            GroundPoint &g = o_.ground_[std::size_t(i)];
            g = GroundPoint();
            const double e = en[2 * i], n = en[2 * i + 1];
            if (std::isnan(e))
                continue;   // not traced (or nowhere): never placed
            g.e = e;
            g.n = n;
            g.iterations = 1;
            o_.grid_.GeoToPixel(e, n, &g.column, &g.row);
            g.valid = std::fabs(g.column) < kFarCells && std::fabs(g.row) < kFarCells;
        }
        const Box &box = slot.boxes[std::size_t(j)];
        o_.west_ = std::min(o_.west_, box.west);
        o_.east_ = std::max(o_.east_, box.east);
        o_.north_ = std::max(o_.north_, box.north);
        o_.south_ = std::min(o_.south_, box.south);
        ++o_.linesTracedAhead_;
        return true;
    }

private:
    static constexpr int kBlockLines = 16;
    static constexpr int kSlots = 8;
    struct Slot {
        int block = -1;
        bool ready = false;
        double lowest = 0.0;
        std::vector<double> en;   // easting, northing of every sample (NaN: not traced)
        std::vector<Box> boxes;
        std::vector<char> below;
    };

    // Under the lock: takes the next block when its slot is free and traces
    // it (without the lock). False when there is none to take.
    bool TakeLocked(std::unique_lock<std::mutex> &lock, std::vector<GroundPoint> &scratch)
    {
        if (next_ >= blocks_ || next_ >= consumed_ + kSlots)
            return false;
        const int b = next_++;
        Slot &slot = slots_[std::size_t(b % kSlots)];
        slot.block = b;
        slot.ready = false;
        slot.lowest = lowest_;
        lock.unlock();
        Trace(b, slot, scratch);
        lock.lock();
        slot.ready = true;
        changed_.notify_all();
        return true;
    }

    void Trace(int b, Slot &slot, std::vector<GroundPoint> &scratch) const
    {
        const double lowest = slot.lowest;
        constexpr double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (int j = 0; j < kBlockLines; ++j) {
            const int k = b * kBlockLines + j;
            if (k >= lines_)
                break;
            double *en = &slot.en[std::size_t(j) * kSamples * 2];
            bool below = false;
            Box box{inf, -inf, -inf, inf};
            if (!skip_[std::size_t(k)])
                o_.TraceSamples(frames_[std::size_t(k)], utm_, 0, kSamples, lowest, &box, scratch.data(), nullptr);
            for (int i = 0; i < kSamples; ++i) {
                const GroundPoint &g = scratch[std::size_t(i)];
                const bool traced = !skip_[std::size_t(k)] && g.iterations > 0;
                en[2 * i] = traced ? g.e : nan;
                en[2 * i + 1] = traced ? g.n : nan;
                below |= traced && g.z < lowest;
            }
            slot.boxes[std::size_t(j)] = box;
            slot.below[std::size_t(j)] = below;
        }
    }

    void Loop()
    {
        std::vector<GroundPoint> scratch(kSamples);
        std::unique_lock<std::mutex> lock(mutex_);
        while (!quit_) {
            if (!(allowed_ && TakeLocked(lock, scratch)))
                changed_.wait(lock);
        }
    }

    CRectifiedStripChart &o_;
    CUtmConverter utm_;
    std::vector<LineFrame> frames_;
    std::vector<char> skip_;
    int lines_ = 0, blocks_ = 0;
    std::vector<Slot> slots_;
    std::vector<GroundPoint> ownScratch_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int next_ = 0;       // the next block to take
    int consumed_ = 0;   // the main pass is past the blocks below this one
    bool allowed_, quit_ = false;
    double lowest_ = 0.0;   // the main pass's lowest terrain, for blocks taken
    std::thread thread_;
};

void CRectifiedStripChart::SetGrid(double originE, double originN, double cell)
{
    cellSize_ = cell;
    grid_.SetDimensions(ortho::kGridColumns, ortho::kGridRows, 1, UInt8);
    grid_.SetGeoReference(cell, cell, 0.0, 0.0, originE, originN, 0, -double(meanTrack_), 1);
}

bool CRectifiedStripChart::AllocateGrid()
{
    try {
        cells_.assign(std::size_t(ortho::kGridColumns) * ortho::kGridRows, ortho::OrthoCell{0, 0, 0, 0, 0});
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

bool CRectifiedStripChart::Splat(double x, double y, int i, int a, int b, bool fire)
{
    if (cells_.empty() || !(std::fabs(x) < kFarCells && std::fabs(y) < kFarCells))
        return false;
    const double ha = splatA_[i], hb = splatB_[i];
    const int c0 = FloorToInt(x - hb), c1 = CeilToInt(x + hb);
    const int r0 = FloorToInt(y - ha), r1 = CeilToInt(y + ha);
    bool placed = false;
    const int firstRow = std::max(r0, 0), lastRow = std::min(r1, ortho::kGridRows - 1);
    const int firstCol = std::max(c0, 0), lastCol = std::min(c1, ortho::kGridColumns - 1);
    for (int row = firstRow; row <= lastRow; ++row) {
        ortho::OrthoCell *line = &cells_[std::size_t(row) * ortho::kGridColumns];
        const double dy = row - y;
        for (int col = firstCol; col <= lastCol; ++col) {
            const double dx = col - x;
            // 1 - d / (4 r): d the cell's distance from the sample, r the
            // footprint's radius towards it (half-axes ha along the rows,
            // hb across), r = sqrt((ha dy)^2 + (hb dx)^2) / d.
            const double d2 = dx * dx + dy * dy;
            const double r2d2 = ha * ha * dy * dy + hb * hb * dx * dx;
            // w <= 0.4 is d2^2 >= 5.76 r2d2: cells clearly beyond that
            // are passed over without the root and the division.
            if (d2 * d2 > 5.8 * r2d2)
                continue;
            const double w = r2d2 > 0.0 ? 1.0 - d2 / (4.0 * std::sqrt(r2d2)) : 1.0;
            if (w <= 0.4)
                continue;
            ortho::OrthoCell &cell = line[col];
            cell.sumA += a * w;
            cell.sumB += b * w;
            cell.weight += w;
            ++cell.count;
            if (w > 0.5 && fire)
                cell.fire = 1;
            placed = true;
        }
    }
    return placed;
}

// ---------------------------------------------------------------- line access

bool CRectifiedStripChart::ForEachLine(bool rewind, const std::function<bool(const ScanLineRec &)> &fn)
{
    if (!source_)
        return false;
    if (rewind)
        source_->RewindLog();
    long emptyCycles = 0;
    for (;;) {
        const std::uint32_t n = source_->GetNumNewImageLines();
        for (std::uint32_t k = n; k > 0; --k) {
            if (cancel_.load())
                return false;
            source_->GetPriorImageLine(k - 1, line_.get());
            if (!fn(*line_))
                return false;
        }
        emptyCycles = n ? 0 : emptyCycles + 1;
        const bool end = source_->DoNextFwdCycle(0, false, false);
        if ((end && source_->GetNumNewImageLines() == 0) || emptyCycles > 1000000)
            break;
    }
    return !cancel_.load();
}

bool CRectifiedStripChart::ForEachSurveyedLine(const std::function<bool(const ScanLineRec &)> &fn)
{
    for (std::size_t at = 0; at + kHeaderBytes <= headers_.size(); at += kHeaderBytes) {
        if (cancel_.load())
            return false;
        std::memcpy(static_cast<void *>(line_.get()), &headers_[at], kHeaderBytes);
        if (!fn(*line_))
            return false;
    }
    return !cancel_.load();
}

// ------------------------------------------------------------------ pipeline

bool CRectifiedStripChart::OpenElevation(const QString &sourcePath)
{
    const QString name = CCindrelDspLog::ElevationFileName(sourcePath);
    if (name.isEmpty())
        return false;
    elevationName_ = CBil::BaseName(name);
    const bool opened = elevation_.Open(elevationName_);
    ViewTerrain();
    return opened;
}

bool CRectifiedStripChart::OpenProducts()
{
    const QString dir = outputDir_.isEmpty() ? QFileInfo(sourcePath_).absolutePath() : outputDir_;
    orthoTmp_ = dir + QLatin1Char('/') + baseName_ + QStringLiteral("_ortho.tmp");
    colorTmp_ = dir + QLatin1Char('/') + baseName_ + QStringLiteral("_color.tmp");
    if (!orthoWriter_->Open(orthoTmp_) && !orthoWriter_->Open(orthoTmp_))
        return false;
    if (!colorWriter_->Open(colorTmp_)) {
        orthoWriter_.reset(new CTiffFile);
        QFile::remove(orthoTmp_);
        return false;
    }
    return true;
}

void CRectifiedStripChart::DropTemporaries()
{
    orthoWriter_ = std::make_unique<CTiffFile>();   // closes the streams
    colorWriter_ = std::make_unique<CTiffFile>();
    if (!orthoTmp_.isEmpty())
        QFile::remove(orthoTmp_);
    if (!colorTmp_.isEmpty())
        QFile::remove(colorTmp_);
}

bool CRectifiedStripChart::Survey()
{
    lineCount_ = 0;
    stats_.Reset();
    headers_.clear();
    double sumTrack = 0.0, sumAlt = 0.0, sumLon = 0.0;
    const bool ok = ForEachLine(true, [&](const ScanLineRec &rec) {
        if (lineCount_ == 0) {
            refHeading_ = rec.heading * 0.01;
            refTrack_ = rec.track * 0.01;
            firstLat_ = milliArcSecToDeg(rec.latitude);
            firstLon_ = milliArcSecToDeg(rec.longitude);
            alaska_ = InAlaska(firstLat_, firstLon_);
        }
        stats_.AddLine(rec);
        const auto *header = reinterpret_cast<const unsigned char *>(&rec);
        headers_.insert(headers_.end(), header, header + kHeaderBytes);
        double track = rec.track * 0.01;
        if (track - refTrack_ > 180.0)
            track -= 360.0;
        else if (refTrack_ - track > 180.0)
            track += 360.0;
        sumTrack += track;
        sumAlt += rec.altitude * 0.01;
        sumLon += milliArcSecToDeg(rec.longitude);
        ++lineCount_;
        if (progress_ && lineCount_ % 500 == 0)
            progress_(0, lineCount_, 0);
        return true;
    });
    if (!ok || lineCount_ == 0)
        return false;
    meanTrack_ = MeanTrackOf(sumTrack, lineCount_);
    meanAltitude_ = sumAlt / lineCount_;
    utm_.SetCentralMeridian(int(std::round(sumLon / lineCount_)));
    datum_ = alaska_ ? 1 : 3;
    if (alaska_)
        nadcon_ = std::make_unique<CNadcon>();
    return true;
}

bool CRectifiedStripChart::InitialGrid()
{
    double minimum = 0.0, maximum = 0.0, mean = 0.0;
    elevation_.ComputeStatistics(&minimum, &maximum, &mean);
    z0_ = mean;
    lowestTerrain_ = minimum;
    const double halfSwath = kTan60 * (meanAltitude_ - z0_);
    if (!(halfSwath > 1.0))
        return false;
    const double cell = 2.0 * halfSwath / ortho::kGridColumns;
    double e, n;
    ProjectPosition(firstLat_, firstLon_, &e, &n);
    const double h = meanTrack_ * kDeg;
    const double oe = e + halfSwath * std::sin(h - M_PI / 2) + ortho::kGridRows * cell * std::sin(h);
    const double on = n + halfSwath * std::cos(h - M_PI / 2) + ortho::kGridRows * cell * std::cos(h);
    SetGrid(oe, on, cell);
    return true;
}

bool CRectifiedStripChart::ExtentPasses()
{
    // Pass 1: the swath's ends in the initial grid.
    double minCol = 1e300, maxCol = -1e300, maxRow = -1e300;
    int done = 0;
    bool ok = ForEachSurveyedLine([&](const ScanLineRec &rec) {
        SetLineAttitude(rec);
        for (int i : {0, kSamples - 1}) {
            const GroundPoint g = ProjectSample(i);
            if (!g.valid)
                continue;
            minCol = std::min(minCol, g.column);
            maxCol = std::max(maxCol, g.column);
            maxRow = std::max(maxRow, g.row);
        }
        if (progress_ && ++done % 500 == 0)
            progress_(1, done, lineCount_);
        return true;
    });
    if (!ok || minCol > maxCol)
        return false;

    // The terrain of the whole swath: extract a larger raster when the
    // swath leaves the one we have.
    if (west_ < elevation_.GetLeft() || east_ > elevation_.GetRight() || south_ < elevation_.GetBottom()
        || north_ > elevation_.GetTop()) {
        elevation_.Release();   // the raster is rewritten under the same name
        CElevationData extractor;
        extractor.ExtractArea(west_, north_, east_, south_, elevationName_);
        elevation_.Open(elevationName_);   // the new raster, or the old one when extraction failed
        ViewTerrain();
    }

    // The grid that holds the swath's full width.
    const double oldCell = cellSize_;
    const double width = (std::ceil(maxCol) - std::floor(minCol)) * oldCell;
    const double cell = width / ortho::kGridColumns;
    double re, rn;
    grid_.PixelToGeo((std::ceil(maxCol) + std::floor(minCol)) / 2.0 - 1.0, std::ceil(maxRow) + 1.0, &re, &rn);
    const double h = meanTrack_ * kDeg;
    const double oe = re + width / 2.0 * std::sin(h - M_PI / 2) + cell * ortho::kGridRows * std::sin(h);
    const double on = rn + width / 2.0 * std::cos(h - M_PI / 2) + cell * ortho::kGridRows * std::cos(h);
    SetGrid(oe, on, cell);

    // Pass 2: the row the run starts at in the new grid.
    maxRow = -1e300;
    done = 0;
    ok = ForEachSurveyedLine([&](const ScanLineRec &rec) {
        SetLineAttitude(rec);
        for (int i : {0, kSamples - 1}) {
            const GroundPoint g = ProjectSample(i);
            if (g.valid)
                maxRow = std::max(maxRow, g.row);
        }
        if (progress_ && ++done % 500 == 0)
            progress_(2, done, lineCount_);
        return true;
    });
    if (!ok || maxRow < -1e299)
        return false;
    emitRow_ = int(std::min(maxRow, 1e6)) + 1;
    return true;
}

void CRectifiedStripChart::ConvertGridRow(int row)
{
    if (row < 0 || row >= ortho::kGridRows)
        return;
    ortho::ConvertRow(&cells_[std::size_t(row) * ortho::kGridColumns], tables_, paletteRow_.data(), rgbRow_.data());
    orthoWriter_->WriteRow(paletteRow_.data(), ortho::kPaletteRowBytes);
    colorWriter_->WriteRow(rgbRow_.data(), ortho::kRgbRowBytes);
    lastConvertedRow_ = row;
}

void CRectifiedStripChart::RecordFire(const GroundPoint &g, int sample, const ScanLineRec &rec, qint64 timeMs)
{
    // The cell the sample is drawn in: the one its ground point lies in.
    const double c = std::round(g.column), r = std::round(g.row);
    if (!(c >= 0 && r >= 0 && c < ortho::kGridColumns && r < ortho::kGridRows))
        return;
    firepoints::FirePixel p;
    double e = 0.0, n = 0.0;
    grid_.PixelToGeo(c, r, &e, &n);
    utm_.UtmToLatLon(n, e, frame_.zone, &p.lat, &p.lon, datum_);
    p.wgsLat = p.lat;
    p.wgsLon = p.lon;
    if (alaska_ && nadcon_)
        nadcon_->ShiftToNavDatum(p.lat, p.lon, &p.wgsLat, &p.wgsLon);
    p.timeMs = timeMs;
    p.line = rec.lineIndex;
    p.sample = sample;
    const int s = kSamples - 1 - sample;
    p.a = rec.chanA[s];
    p.b = rec.chanB[s];
    fires_.pixels.push_back(p);
}

void CRectifiedStripChart::Scroll()
{
    const double h = meanTrack_ * kDeg;
    const double step = 1200.0 * cellSize_;
    grid_.SetGeoReference(cellSize_, cellSize_, 0.0, 0.0, grid_.GetULXMap() + step * std::sin(h),
                          grid_.GetULYMap() + step * std::cos(h), 0, -double(meanTrack_), 1);
    const std::size_t rowCells = ortho::kGridColumns;
    std::memcpy(&cells_[1200 * rowCells], &cells_[0], 400 * rowCells * sizeof(ortho::OrthoCell));
    std::fill(cells_.begin(), cells_.begin() + std::ptrdiff_t(1200 * rowCells), ortho::OrthoCell{0, 0, 0, 0, 0});
    emitRow_ += 1200;
    ++scrolls_;
}

bool CRectifiedStripChart::MainPass()
{
    bool placedAny = false;
    bool anyLine = false;
    int lastSmallest = 0;
    linesProcessed_ = 0;
    int done = 0;
    // With two threads the lines are traced ahead, by the second thread
    // while the gate allows it.
    linesTracedAhead_ = 0;
    std::unique_ptr<TraceAhead> ahead(threads_ > 1 ? new TraceAhead(*this, !gate_) : nullptr);
    constexpr int kGateLines = 256;
    int gateLines = 0;
    int lineNumber = -1;   // of the surveyed lines
    // Scan times: the log's start time, then the scans counted by the line
    // index at the line's scan period (microseconds per scan).
    fires_.pixels.clear();
    const QDateTime start = source_ ? source_->GetDateTime() : QDateTime();
    const qint64 startMs = start.isValid() ? start.toUTC().toMSecsSinceEpoch() : 0;
    double elapsedMs = 0.0;
    bool firstLine = true;
    std::uint32_t previousIndex = 0;
    qint64 lineMs = 0;
    const bool ok = ForEachLine(true, [&](const ScanLineRec &rec) {
        if (progress_ && ++done % 250 == 0)
            progress_(3, done, lineCount_);
        ++lineNumber;
        if (!firstLine && rec.lineIndex > previousIndex)
            elapsedMs += double(rec.lineIndex - previousIndex) * rec.scanPeriod * 1e-3;
        lineMs = startMs ? startMs + qint64(std::llround(elapsedMs)) : 0;
        if (firstLine)
            fires_.start = startMs ? QDateTime::fromMSecsSinceEpoch(lineMs, Qt::UTC) : QDateTime();
        fires_.end = startMs ? QDateTime::fromMSecsSinceEpoch(lineMs, Qt::UTC) : QDateTime();
        firstLine = false;
        previousIndex = rec.lineIndex;
        if (skipBadLines_ && rec.scanPeriod < std::uint32_t(kBadScanPeriod))
            return true;
        // The grid scrolls forward once the emitted rows come near its top
        // and another line follows.
        if (anyLine && emitRow_ < 400)
            Scroll();
        SetLineAttitude(rec);
        if (ahead && gate_ && gateLines-- == 0) {
            gateLines = kGateLines - 1;
            ahead->Allow(gate_(true));
        }
        if (!(ahead && ahead->Place(lineNumber, rec)))
            TraceLine();
        int smallest = INT_MAX, largest = INT_MIN;
        bool placed = false;
        for (int i = 0; i < kSamples; ++i) {
            const GroundPoint &g = ground_[std::size_t(i)];
            if (!g.valid)
                continue;
            const int s = 1679 - i;
            placed |= Splat(g.column, g.row, i, ortho::ClampSample(rec.chanA[s]), ortho::ClampSample(rec.chanB[s]),
                            rec.pix[i] == FIRE_PIXEL);
            if (rec.pix[i] == FIRE_PIXEL)
                RecordFire(g, i, rec, lineMs);
            const int r = int(g.row);
            smallest = std::min(smallest, r);
            largest = std::max(largest, r);
        }
        ++linesProcessed_;
        if (smallest == INT_MAX)
            return true;   // no ground point: nothing to place or emit
        if (placed && !placedAny) {
            placedAny = true;
            orthoWriter_->ResetRowCount2();
            colorWriter_->ResetRowCount2();
        }
        // Rows more than 100 behind the line are complete; catch up to 110.
        if (emitRow_ - largest > 100 && emitRow_ >= 0) {
            ConvertGridRow(emitRow_--);
            ++rowsEmitted_;
            while (emitRow_ - largest > 110 && emitRow_ >= 0) {
                ConvertGridRow(emitRow_--);
                ++rowsEmitted_;
            }
        }
        lastSmallest = smallest;
        anyLine = true;
        return true;
    });
    // The second thread stops before its core goes back.
    const bool gated = ahead && gate_;
    ahead.reset();
    if (gated)
        gate_(false);
    if (!ok)
        return false;
    // The rest of the run, down to the last line's front (never above the
    // grid's first row).
    if (anyLine) {
        for (; emitRow_ >= std::max(lastSmallest, 0); --emitRow_) {
            ConvertGridRow(emitRow_);
            ++rowsEmitted_;
        }
    }
    return true;
}

bool CRectifiedStripChart::Finish()
{
    if (orthoWriter_->GetRowsWritten() == 0) {
        outcome_ = NoRows;
        DropTemporaries();
        return false;
    }
    const double sumB = stats_.SumB(), sumB2 = stats_.SumB2();
    const std::uint32_t countB = std::uint32_t(std::min<std::uint64_t>(stats_.CountB(), 0xFFFFFFFFu));
    orthoWriter_->SetCentralMeridian(utm_.GetCentralMeridian());
    orthoWriter_->SetDatumFlag(alaska_);
    colorWriter_->SetCentralMeridian(utm_.GetCentralMeridian());
    colorWriter_->SetDatumFlag(alaska_);
    const std::uint32_t orthoRows = orthoWriter_->GetRowsWritten();

    bool allOk = true;
    const QString orthoTif = tiffstream::FinalPathFor(orthoTmp_);
    const QString colorTif = tiffstream::FinalPathFor(colorTmp_);
    const bool orthoOk = orthoWriter_->WriteTrailer(grid_, lastConvertedRow_)
                         && orthoWriter_->Finalize(orthoTmp_, sumB, sumB2, countB);
    if (orthoOk) {
        products_ << orthoTif;
        if (orthoWriter_->SaveJpeg(orthoTif))
            products_ << tiffstream::JpegPathFor(orthoTif);
    }
    allOk &= orthoOk;
    const bool colorOk = colorWriter_->WriteTrailer(grid_, lastConvertedRow_)
                         && colorWriter_->Finalize(colorTmp_, sumB, sumB2, countB);
    if (colorOk) {
        products_ << colorTif;
        if (colorWriter_->SaveJpeg(colorTif))
            products_ << tiffstream::JpegPathFor(colorTif);
    }
    allOk &= colorOk;

    // The fire image: the ortho image with every data pixel but fire blanked.
    if (orthoOk) {
        const QString fireTif = orthoTif.left(orthoTif.size() - int(qstrlen("_ortho.tif"))) + QStringLiteral("_fire.tif");
        const QString fireTmp = fireTif.left(fireTif.size() - 4) + QStringLiteral(".tmp");
        QFile in(orthoTif), out(fireTmp);
        bool fireOk = false;
        if (in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            QByteArray header = in.read(tiffstream::kHeaderBytes);
            fireOk = header.size() == tiffstream::kHeaderBytes && out.write(header) == header.size();
            for (std::uint32_t r = 0; fireOk && r < orthoRows; ++r) {
                QByteArray row = in.read(ortho::kPaletteRowBytes);
                if (row.size() != ortho::kPaletteRowBytes) {
                    fireOk = false;
                    break;
                }
                char *data = row.data() + ortho::kDataColumn;
                for (int c = 0; c < ortho::kGridColumns; ++c)
                    if (std::uint8_t(data[c]) < ortho::kFire)
                        data[c] = 0;
                fireOk = out.write(row) == row.size();
            }
            if (fireOk) {
                const QByteArray rest = in.readAll();
                fireOk = out.write(rest) == rest.size();
            }
            fireOk = out.flush() && fireOk;
            out.close();
        }
        if (fireOk)
            fireOk = cindrel::replaceFile(fireTmp, fireTif);   // an earlier fire image stays until then
        if (fireOk) {
            products_ << fireTif;
            if (tiffstream::SaveJpegCopy(fireTif))
                products_ << tiffstream::JpegPathFor(fireTif);
        } else {
            QFile::remove(fireTmp);
            allOk = false;
        }
    }
    // The fire pixels of the run, beside the ortho image they were drawn in.
    if (orthoOk) {
        fires_.log = QFileInfo(sourcePath_).fileName();
        const int cut = baseName_.lastIndexOf(QLatin1Char('_'));
        fires_.pass = cut < 0 ? baseName_ : baseName_.mid(cut + 1);
        fires_.lines = lineCount_;
        fires_.track = meanTrack_;
        fires_.cellM = cellSize_;
        fires_.datum = datum_;
        fires_.meridian = utm_.GetCentralMeridian();
        fires_.platform = tailNumber_;
        fires_.version = productVersion_;
        std::stable_sort(fires_.pixels.begin(), fires_.pixels.end(),
                         [](const firepoints::FirePixel &a, const firepoints::FirePixel &b) {
                             return a.line != b.line ? a.line < b.line : a.sample < b.sample;
                         });
        firePixelsPath_ = firepoints::RunFileName(orthoTif.left(orthoTif.size() - int(qstrlen("_ortho.tif"))));
        allOk &= firepoints::WriteRun(firePixelsPath_, fires_);
    }
    outcome_ = allOk ? Produced : WriteFailed;
    return allOk;
}

bool CRectifiedStripChart::PrepareGeometry(const QString &sourcePath)
{
    sourcePath_ = sourcePath.isEmpty() && source_ ? source_->GetFileName() : sourcePath;
    if (!OpenElevation(sourcePath_))
        return false;
    if (!Survey())
        return false;
    return InitialGrid();
}

void CRectifiedStripChart::Process(const QString &sourcePath)
{
    products_.clear();
    outcome_ = NotRun;
    sourcePath_ = sourcePath.isEmpty() && source_ ? source_->GetFileName() : sourcePath;
    baseName_ = QFileInfo(sourcePath_).completeBaseName();
    if (!OpenElevation(sourcePath_)) {
        outcome_ = NoElevation;
        return;
    }
    if (!OpenProducts()) {
        outcome_ = NoTemporaryFiles;
        return;
    }
    auto stop = [this](Outcome why) {
        if (cancel_.load()) {
            // The temporary files stay as they are.
            outcome_ = Cancelled;
            orthoWriter_ = std::make_unique<CTiffFile>();
            colorWriter_ = std::make_unique<CTiffFile>();
            return;
        }
        outcome_ = why;
        DropTemporaries();
    };
    if (!AllocateGrid()) {
        stop(NoRows);
        return;
    }
    if (!Survey()) {
        stop(NoLines);
        return;
    }
    tables_.Build(stats_, sigmaB_);
    if (!InitialGrid()) {
        stop(NoHeight);
        return;
    }
    if (!ExtentPasses() || !MainPass()) {
        stop(NoRows);
        return;
    }
    if (progress_)
        progress_(3, lineCount_, lineCount_);
    Finish();
}
