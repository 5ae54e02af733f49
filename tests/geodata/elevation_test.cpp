#include "geodata/cbil.h"
#include "geodata/celevationdata.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Synthetic DEM tiles as real 1 degree tiles are laid out: Int16, cell
// centres on whole multiples of the cell from the listed box's west edge to
// its east edge and from its north edge to its south edge (neighbouring
// tiles share their edge cells), each sample encoding its global cell so
// any misplacement shows.
qint16 code(long long gx, long long gy)
{
    auto m = [](long long v) { return ((v % 150) + 150) % 150; };
    return qint16(m(gx) * 200 + m(gy) + 1);
}

struct TileLayout {
    int index;
    double left, top, right, bottom;
};

void writeTile(const TileLayout &t, double cell)
{
    const int ncols = int(std::lround((t.right - t.left) / cell)) + 1;
    const int nrows = int(std::lround((t.top - t.bottom) / cell)) + 1;
    CBil b;
    b.SetDimensions(ncols, nrows, 1, Int16);
    b.SetGeoReference(cell, cell, 0, 0, t.left, t.top, 0, 0.0, 1);
    ASSERT_TRUE(b.Allocate());
    const long long gx0 = std::llround(t.left / cell), gy0 = std::llround(t.top / cell);
    for (int r = 0; r < nrows; ++r) {
        unsigned char *row = b.MutableRowData(r);
        for (int c = 0; c < ncols; ++c) {
            const qint16 v = code(gx0 + c, gy0 - r);
            row[2 * c] = uchar(quint16(v) >> 8);   // big-endian ("M")
            row[2 * c + 1] = uchar(v & 0xff);
        }
    }
    const QString name = CElevationData::TileName(t.index);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(name).path()));
    ASSERT_TRUE(b.Write(name));
}

void writeBoundaries(const std::vector<TileLayout> &tiles, const QByteArray &extra = QByteArray())
{
    QFile f(CElevationData::BoundaryFilePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("// index, x1, y1, x2, y2\r\n\r\n");
    f.write(extra);
    for (const TileLayout &t : tiles)
        // Corners in mixed order: the reader normalises them.
        f.write(QByteArray::number(t.index) + "," + QByteArray::number(t.right, 'g', 12) + ","
                + QByteArray::number(t.bottom, 'g', 12) + "," + QByteArray::number(t.left, 'g', 12)
                + "," + QByteArray::number(t.top, 'g', 12) + "\n");
}

// Expected sample of the output cell centred at (x, y): the tile cell with
// that centre, 0 where no tile has it.
qint16 expected(const std::vector<TileLayout> &tiles, double cell, double x, double y)
{
    const long long gx = std::llround(x / cell), gy = std::llround(y / cell);
    for (const TileLayout &t : tiles) {
        const long long l = std::llround(t.left / cell), r = std::llround(t.right / cell);
        const long long top = std::llround(t.top / cell), b = std::llround(t.bottom / cell);
        if (gx >= l && gx <= r && gy <= top && gy >= b)
            return code(gx, gy);
    }
    return 0;
}

// Opens the extracted raster and compares every cell.
void checkOutput(const QString &name, const std::vector<TileLayout> &tiles, double cell,
                 int *filled = nullptr)
{
    CBil out;
    ASSERT_TRUE(out.Open(name));
    ASSERT_EQ(out.GetPixelType(), Int16);
    EXPECT_EQ(out.GetByteOrder(), 0);
    EXPECT_NEAR(out.GetXDim(), cell, 1e-13);   // 14 decimals in the world file
    int bad = 0, nonZero = 0;
    for (int r = 0; r < out.GetNRows(); ++r)
        for (int c = 0; c < out.GetNCols(); ++c) {
            double v;
            ASSERT_TRUE(out.GetValue(c, r, 0, &v));
            const double x = out.GetULXMap() + c * cell, y = out.GetULYMap() - r * cell;
            const qint16 e = expected(tiles, cell, x, y);
            if (v != 0)
                ++nonZero;
            if (v != e && ++bad < 5)
                ADD_FAILURE() << "cell " << c << "," << r << " is " << v << ", expected " << e;
        }
    EXPECT_EQ(bad, 0);
    if (filled)
        *filled = nonZero;
}

constexpr double kArcSec = 0.0002777777777777778;
constexpr double kTwoArcSec = 0.0005555555555555556;

struct Elevation : ::testing::Test {
    void SetUp() override
    {
        QFile::remove(CElevationData::BoundaryFilePath());
        QDir(cindrel::mapCDrivePath("C:\\demdata")).removeRecursively();
        QSettings().remove("LastUsed/LastStage");
    }
    QString out(const char *n) { return QDir::currentPath() + QLatin1Char('/') + QLatin1String(n); }
};

} // namespace

TEST_F(Elevation, BoundaryFileParsing)
{
    writeBoundaries({{3, -121.0, 46.0, -120.75, 45.75}},
                    "1,-120.5,45.5,-120.25,45.25\n"
                    "// 2,0,0,1,1\n"
                    "bad line\n"
                    "300,-1,1,1,-1\n"
                    "2,-1,1\n");
    CElevationData e;
    EXPECT_EQ(e.TileCount(), 3);
    EXPECT_TRUE(e.IsTileListed(1));
    EXPECT_FALSE(e.IsTileListed(2));
    ASSERT_TRUE(e.IsTileListed(3));
    EXPECT_EQ(e.Tile(3).left, -121.0f);
    EXPECT_EQ(e.Tile(3).right, -120.75f);
    EXPECT_EQ(e.Tile(3).top, 46.0f);
    EXPECT_EQ(e.Tile(3).bottom, 45.75f);
    EXPECT_EQ(CElevationData::TileName(7),
              cindrel::mapCDrivePath("C:\\demdata\\cd07\\demimage"));
    EXPECT_EQ(CElevationData::TileName(123),
              cindrel::mapCDrivePath("C:\\demdata\\cd123\\demimage"));
}

TEST_F(Elevation, CellSizeRule)
{
    EXPECT_EQ(CElevationData::CellSizeFor(60.0, -150.0), kTwoArcSec);
    EXPECT_EQ(CElevationData::CellSizeFor(51.0, -129.75), kTwoArcSec);
    EXPECT_EQ(CElevationData::CellSizeFor(50.9, -150.0), kArcSec);
    EXPECT_EQ(CElevationData::CellSizeFor(60.0, -129.7), kArcSec);
}

TEST_F(Elevation, OneTileFillsTheBoxAndItsMargin)
{
    const std::vector<TileLayout> tiles{{1, -121.0, 46.0, -120.75, 45.75},
                                      {2, -100.0, 40.0, -99.75, 39.75}};
    for (const auto &t : tiles)
        writeTile(t, kArcSec);
    writeBoundaries(tiles);
    CElevationData e;
    ASSERT_TRUE(e.ExtractArea(-120.9, 45.9, -120.85, 45.85, out("one")));
    EXPECT_EQ(e.TilesRead(), 1);
    int filled = 0;
    checkOutput(out("one"), tiles, kArcSec, &filled);
    const CBil &o = e.Output();
    EXPECT_EQ(filled, o.GetNCols() * o.GetNRows());   // wholly inside the tile
    EXPECT_EQ(QSettings().value("LastUsed/LastStage").toInt(), 6417);
}

TEST_F(Elevation, BoxStraddlingTwoTilesAndTileWhollyInside)
{
    // Tiles 1 and 2 side by side; tile 3 a small tile that the box contains
    // entirely (its edges cross none of the box's edges).
    const std::vector<TileLayout> tiles{{1, -121.0, 46.0, -120.75, 45.75},
                                      {2, -120.75, 46.0, -120.5, 45.75},
                                      {3, -120.375, 45.625, -120.3125, 45.5625}};
    for (const auto &t : tiles)
        writeTile(t, kArcSec);
    writeBoundaries(tiles);
    CElevationData e;
    ASSERT_TRUE(e.ExtractArea(-120.8, 45.9, -120.7, 45.85, out("two")));
    EXPECT_EQ(e.TilesRead(), 2);
    checkOutput(out("two"), tiles, kArcSec);

    ASSERT_TRUE(e.ExtractArea(-120.45, 45.7, -120.25, 45.5, out("inside")));
    EXPECT_EQ(e.TilesRead(), 1);   // tile 3, which no edge of the box crosses
    int filled = 0;
    checkOutput(out("inside"), tiles, kArcSec, &filled);
    EXPECT_EQ(filled, 226 * 226);   // every cell of tile 3
    double v;
    CBil o;
    ASSERT_TRUE(o.Open(out("inside")));
    double x = -120.34, y = 45.6, c, r;
    o.GeoToPixel(x, y, &c, &r);
    ASSERT_TRUE(o.GetValue(c, r, 0, &v));
    EXPECT_NE(v, 0);
}

TEST_F(Elevation, AlaskaBoxUsesTwoSecondCells)
{
    const std::vector<TileLayout> tiles{{1, -150.5, 60.5, -150.0, 60.0}};
    writeTile(tiles[0], kTwoArcSec);
    writeBoundaries(tiles);
    CElevationData e;
    ASSERT_TRUE(e.ExtractArea(-150.3, 60.3, -150.2, 60.2, out("ak")));
    EXPECT_EQ(e.Output().GetXDim(), kTwoArcSec);
    checkOutput(out("ak"), tiles, kTwoArcSec);
}

TEST_F(Elevation, SnappingMarginAndNegativeEastTruncation)
{
    writeBoundaries({});
    CElevationData e;
    // No tiles: nothing written, success.
    ASSERT_TRUE(e.ExtractArea(-120.0101, 45.0102, -120.0001, 45.0001, out("snap")));
    const CBil &o = e.Output();
    const double cell = kArcSec;
    // west: floor(-432036.36) = -432037 cells, minus the margin.
    EXPECT_NEAR(o.GetULXMap(), (-432037 - 75) * cell, 1e-9);
    // north: floor(162036.72) + 1 = 162037 cells, plus the margin.
    EXPECT_NEAR(o.GetULYMap(), (162037 + 75) * cell, 1e-9);
    // east -120.0001 truncates toward zero to -432000 cells, plus one:
    // -431999 cells (-119.99972), then the margin.
    const double east = o.GetULXMap() + (o.GetNCols() - 1) * cell;
    EXPECT_NEAR(east, (-431999 + 75) * cell, 0.5 * cell);
    // south: floor(162000.36) = 162000 cells, minus the margin.
    const double south = o.GetULYMap() - (o.GetNRows() - 1) * cell;
    EXPECT_NEAR(south, (162000 - 75) * cell, 0.5 * cell);
    EXPECT_FALSE(QFileInfo::exists(out("snap.bil")));
}

TEST_F(Elevation, TwoDegreeLimitAndMissingBoundaryFile)
{
    CElevationData none;
    EXPECT_EQ(none.TileCount(), 0);
    EXPECT_TRUE(none.ExtractArea(-121, 46, -120, 45, out("none")));
    EXPECT_FALSE(QFileInfo::exists(out("none.hdr")));

    const std::vector<TileLayout> tiles{{1, -121.0, 46.0, -120.75, 45.75}};
    writeTile(tiles[0], kArcSec);
    writeBoundaries(tiles);
    QSettings().remove("LastUsed/LastStage");
    CElevationData e;
    // 1.97 degrees plus 150 cells of margin is more than 2.
    EXPECT_FALSE(e.ExtractArea(-121.0, 45.9, -119.03, 45.85, out("wide")));
    EXPECT_FALSE(e.ExtractArea(-120.9, 46.0, -120.85, 44.03, out("tall")));
    EXPECT_FALSE(QFileInfo::exists(out("wide.bil")));
    EXPECT_FALSE(QFileInfo::exists(out("tall.bil")));
    EXPECT_FALSE(QSettings().contains("LastUsed/LastStage"));
    // 1.9 degrees wide fits.
    EXPECT_TRUE(e.ExtractArea(-121.0, 45.9, -119.1, 45.89, out("fits")));
    EXPECT_TRUE(QFileInfo::exists(out("fits.bil")));
}

TEST_F(Elevation, UnreadableOrShortTilesFailTheExtraction)
{
    // A listed tile that cannot be read would leave sea level in the
    // raster: the extraction fails, says which tile, and writes nothing.
    const std::vector<TileLayout> listed{{1, -121.0, 46.0, -120.75, 45.75}};
    writeBoundaries(listed);
    CElevationData e;
    EXPECT_FALSE(e.ExtractArea(-120.9, 45.9, -120.85, 45.85, out("missing")));
    EXPECT_TRUE(e.LastError().contains("tile 1")) << e.LastError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(out("missing.hdr")));

    // A tile smaller than its listed box.
    const TileLayout small{1, -121.0, 46.0, -120.875, 45.875};
    writeTile(small, kArcSec);
    CElevationData f;
    EXPECT_FALSE(f.ExtractArea(-120.9, 45.9, -120.85, 45.85, out("small")));
    EXPECT_FALSE(QFileInfo::exists(out("small.hdr")));
}

TEST_F(Elevation, BoundaryLinesInAnyOrderAndTilesOfAnotherCellSize)
{
    // Tile 2 listed before tile 1: both count.
    const std::vector<TileLayout> tiles{{2, -120.75, 46.0, -120.5, 45.75}, {1, -121.0, 46.0, -120.75, 45.75}};
    for (const TileLayout &t : tiles)
        writeTile(t, kArcSec);
    writeBoundaries(tiles);
    CElevationData e;
    EXPECT_EQ(e.TileCount(), 2);
    ASSERT_TRUE(e.ExtractArea(-120.8, 45.9, -120.7, 45.85, out("both")));
    EXPECT_EQ(e.TilesRead(), 2);
    checkOutput(out("both"), tiles, kArcSec);

    // A two arc-second tile inside a one arc-second box: output cells on a
    // tile centre take its sample, the others lie between their neighbours.
    const TileLayout coarse{1, -121.0, 46.0, -120.75, 45.75};
    QDir(cindrel::mapCDrivePath("C:\\demdata")).removeRecursively();
    writeTile(coarse, kTwoArcSec);
    writeBoundaries({coarse});
    CElevationData c;
    ASSERT_TRUE(c.ExtractArea(-120.9, 45.9, -120.89, 45.89, out("coarse")));
    CBil o;
    ASSERT_TRUE(o.Open(out("coarse")));
    int onCentre = 0, bad = 0;
    for (int r = 0; r < o.GetNRows(); ++r)
        for (int col = 0; col < o.GetNCols(); ++col) {
            double v;
            ASSERT_TRUE(o.GetValue(col, r, 0, &v));
            const long long gx = std::llround((o.GetULXMap() + col * kArcSec) / kArcSec);
            const long long gy = std::llround((o.GetULYMap() - r * kArcSec) / kArcSec);
            // Tile cells around the output centre (2 arc-second indices).
            const long long x0 = gx >= 0 ? gx / 2 : -((1 - gx) / 2), y0 = gy >= 0 ? gy / 2 : -((1 - gy) / 2);
            if (gx % 2 == 0 && gy % 2 == 0) {
                ++onCentre;
                bad += v != code(x0, y0);
                continue;
            }
            double lo = 1e9, hi = -1e9;
            for (long long dx = 0; dx <= 1; ++dx)
                for (long long dy = 0; dy <= 1; ++dy) {
                    lo = std::min(lo, double(code(x0 + dx, y0 + dy)));
                    hi = std::max(hi, double(code(x0 + dx, y0 + dy)));
                }
            bad += !(v >= lo - 0.5 && v <= hi + 0.5);
        }
    EXPECT_GT(onCentre, 100);
    EXPECT_EQ(bad, 0);
}
