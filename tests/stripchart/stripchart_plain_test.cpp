// Plain mode: resampling, fire rules, labels, emission and the row layout.
#include "stripchart/cstripchartimagery.h"
#include "stripchart/standalonepassservices.h"
#include "geodata/cbil.h"
#include "stripfixtures.h"
#include "common/testsupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSet>

#include <memory>

using stripfix::countValue;
using stripfix::makeLine;

namespace {

struct PlainRun {
    explicit PlainRun(const QString &name)
    {
        svc.pathPrefix = testsupport::workDir() + QLatin1Char('/') + name;
        svc.tailNumber = QStringLiteral("N123");
        svc.techName = QStringLiteral("Kim");
        svc.missionName = QStringLiteral("Test");
        chart = std::make_unique<CStripChartImagery>(&svc);
    }
    ScanLineRec line(std::uint32_t index) const { return makeLine(45.0, -120.0, 1500.0, 60.0, 0.0, index); }
    const std::uint8_t *newestRow() const { return chart->Grid()->RowData(chart->WriteRow() + 1); }

    stripfix::FakeSource source;
    StandalonePassServices svc{&source};
    std::unique_ptr<CStripChartImagery> chart;
};

constexpr int kHeaderRows = 60 + 59;   // START RUN and start bar

TEST(StripPlainTest, EightyInputsNeverReachTheStrip)
{
    PlainRun run(QStringLiteral("unused"));
    run.chart->SetFileOutput(false);
    run.chart->SetFireDilation(false);
    QSet<int> unused;
    for (int k = 0; k < SAMPLES_PER_LINE; ++k) {
        ScanLineRec l = run.line(std::uint32_t(k));
        l.pix[k] = 7;
        run.chart->AddLine(l, false);
        const std::uint8_t *row = run.newestRow();
        ASSERT_NE(row, nullptr);
        if (countValue(row, 0, 1600, 7) == 0)
            unused.insert(k);
        // Every cell comes from some input: nothing of the empty fill remains.
        ASSERT_EQ(countValue(row, 0, 1600, 100), 0) << k;
    }
    EXPECT_EQ(unused.size(), 80);
    for (int k : {10, 32, 53, 74, 94, 115})
        EXPECT_TRUE(unused.contains(k)) << k;
    for (int k : {0, 9, 11, 20, 21, 31, 33, 1679})
        EXPECT_FALSE(unused.contains(k)) << k;
}

TEST(StripPlainTest, FireIsCarriedToTheNextBlockAndNeverOverwritten)
{
    PlainRun run(QStringLiteral("fire"));
    run.chart->SetFileOutput(false);
    run.chart->SetFireDilation(false);
    ScanLineRec l = run.line(1);
    l.pix[20] = 255;
    run.chart->AddLine(l, false);
    EXPECT_EQ(l.pix[21], 255);   // in the line record itself
    EXPECT_EQ(l.pix[22], 0);
    const std::uint8_t *row = run.newestRow();
    // Cells 19 (input 20) and 20 (input 21) are fire, their neighbours not.
    EXPECT_EQ(row[19], 255);
    EXPECT_EQ(row[20], 255);
    EXPECT_EQ(row[18], 0);
    EXPECT_EQ(row[21], 0);
    EXPECT_EQ(countValue(row, 0, 1600, 255), 2);

    // The last block's input has no block after it.
    ScanLineRec last = run.line(2);
    last.pix[1679] = 255;
    run.chart->AddLine(last, false);
    EXPECT_EQ(run.newestRow()[1599], 255);
}

TEST(StripPlainTest, DilationSetsFourNeighboursButNotAtTheEdge)
{
    PlainRun run(QStringLiteral("dilate"));
    run.chart->SetFileOutput(false);
    // The first line lands on the grid's last row, where nothing dilates.
    ScanLineRec first = run.line(0);
    first.pix[500] = 255;
    run.chart->AddLine(first, false);
    EXPECT_EQ(countValue(run.newestRow(), 0, 1600, 255), 1);
    EXPECT_EQ(countValue(run.chart->Grid()->RowData(1598), 0, 1600, 255), 0);

    ScanLineRec l = run.line(1);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i)
        l.pix[i] = 3;
    l.pix[500] = 255;   // cell 476, inside
    l.pix[0] = 255;     // cell 0, first column
    run.chart->AddLine(l, false);
    const int r = run.chart->WriteRow() + 1;
    const CBil *g = run.chart->Grid();
    int cell = -1;
    for (int c = 1; c < 1599; ++c)
        if (g->RowData(r)[c] == 255 && g->RowData(r)[c - 1] == 255 && g->RowData(r)[c + 1] == 255)
            cell = c;
    ASSERT_GT(cell, 0);
    EXPECT_EQ(g->RowData(r - 1)[cell], 255);
    EXPECT_EQ(g->RowData(r + 1)[cell], 255);
    EXPECT_EQ(g->RowData(r - 1)[cell - 1], 100);   // not diagonal
    // The first column: no neighbour is set.
    EXPECT_EQ(g->RowData(r)[0], 255);
    EXPECT_EQ(g->RowData(r)[1], 3);
    EXPECT_EQ(g->RowData(r - 1)[0], 100);

    // The next line lands on the dilated row and keeps its fire cell.
    ScanLineRec next = run.line(2);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i)
        next.pix[i] = 9;
    run.chart->AddLine(next, false);
    EXPECT_EQ(g->RowData(r - 1)[cell], 255);
    EXPECT_EQ(g->RowData(r - 1)[cell - 1], 9);
}

TEST(StripPlainTest, ScrollingKeepsTheNewestRowsAndMovesTheGeoreference)
{
    PlainRun run(QStringLiteral("scroll"));
    run.chart->SetFileOutput(false);
    std::uint32_t n = 0;
    ScanLineRec first = run.line(n++);
    run.chart->AddLine(first, false);
    // Run until the next line is the one that scrolls.
    while (run.chart->WriteRow() > 200) {
        ScanLineRec l = run.line(n);
        std::memset(l.pix, int(n % 200), sizeof l.pix);
        run.chart->AddLine(l, false);
        ++n;
    }
    ASSERT_EQ(run.chart->WriteRow(), 200);
    const CBil *g = run.chart->Grid();
    std::vector<std::vector<std::uint8_t>> before(400);
    for (int r = 0; r < 400; ++r)
        before[std::size_t(r)].assign(g->RowData(r), g->RowData(r) + 1600);
    double x0, y0, x1, y1;
    g->PixelToGeo(10.0, 20.0, &x0, &y0);
    const int emitBefore = run.chart->EmitRow();

    ScanLineRec l = run.line(n);
    std::memset(l.pix, 250, sizeof l.pix);
    run.chart->AddLine(l, false);   // written at row 200, then the grid scrolls

    EXPECT_EQ(run.chart->WriteRow(), 199 + 1200);
    EXPECT_EQ(run.chart->EmitRow(), emitBefore + 1200 - 1);
    before[200].assign(1600, 250);
    for (int r = 0; r < 400; ++r)
        ASSERT_EQ(0, std::memcmp(g->RowData(r + 1200), before[std::size_t(r)].data(), 1600)) << r;
    EXPECT_EQ(countValue(g->RowData(0), 0, 1600, 100), 1600);
    EXPECT_EQ(countValue(g->RowData(1199), 0, 1600, 100), 1600);
    g->PixelToGeo(10.0, 20.0 + 1200.0, &x1, &y1);
    EXPECT_NEAR(x1, x0, 1e-3);
    EXPECT_NEAR(y1, y0, 1e-3);
}

TEST(StripPlainTest, RowsFollowOneHundredLinesBehindUntilTheRunEnds)
{
    PlainRun run(QStringLiteral("emit"));
    for (std::uint32_t i = 0; i < 100; ++i) {
        ScanLineRec l = run.line(i);
        run.chart->AddLine(l, false);
    }
    EXPECT_EQ(run.chart->RowsWritten(), kHeaderRows);   // no data row yet
    ScanLineRec l = run.line(100);
    run.chart->AddLine(l, false);
    EXPECT_EQ(run.chart->RowsWritten(), kHeaderRows + 1);
    for (std::uint32_t i = 101; i < 120; ++i) {
        l = run.line(i);
        run.chart->AddLine(l, false);
    }
    EXPECT_EQ(run.chart->RowsWritten(), kHeaderRows + 20);
    run.chart->FinishRun();
    // FinishRun flushes every line and the rest of the first label block.
    EXPECT_EQ(run.chart->RowsWritten(), kHeaderRows + 160);
    EXPECT_EQ(run.chart->EmitRow(), run.chart->WriteRow() - (160 - 120));
}

TEST(StripPlainTest, ShortRunWritesItsRowsOnlyAtTheEnd)
{
    PlainRun run(QStringLiteral("short"));
    for (std::uint32_t i = 0; i < 100; ++i) {
        ScanLineRec l = run.line(i);
        run.chart->AddLine(l, false);
    }
    EXPECT_EQ(run.chart->RowsWritten(), kHeaderRows);
    // FinishRun flushes every line and the rest of the first label block.
    run.chart->FinishRun();
    EXPECT_EQ(run.chart->RowsWritten(), kHeaderRows + 160);
}

// A plain run whose lines carry fire in chosen quarters and a recording
// stretch, read back from the final TIFF.
TEST(StripPlainTest, RowLayoutOfTheFinalImage)
{
    const int lines = 700;
    QString path;
    {
        PlainRun run(QStringLiteral("layout"));
        for (int i = 0; i < lines; ++i) {
            ScanLineRec l = run.line(std::uint32_t(i));
            std::memset(l.pix, i == lines - 1 ? 7 : (i == 0 ? 9 : 30), sizeof l.pix);
            if (i == 300)
                l.pix[100] = 255;    // first quarter
            if (i == 301)
                l.pix[1000] = 255;   // third quarter
            const bool recording = i >= 400 && i < 500;
            run.chart->AddLine(l, recording);
        }
        run.chart->FinishRun();
        path = run.chart->FinalPath();
    }
    ASSERT_FALSE(QFile::exists(path.left(path.size() - 4) + QStringLiteral(".tmp")));
    const stripfix::TiffFile t = stripfix::readTiff(path);
    ASSERT_TRUE(t.ok);
    ASSERT_EQ(t.width, 1728);
    // From the top: END RUN, end bar, data rows (newest first), start bar,
    // START RUN. No logos in the working directory, no scale line.
    const int top = 60 + 59;
    const int dataRows = t.rows - top - kHeaderRows;
    ASSERT_EQ(dataRows, lines);
    // The top data row is the last line produced; the bottom one the first.
    EXPECT_EQ(countValue(t.row(top), 33, 1633, 7), 1600);
    EXPECT_EQ(countValue(t.row(top + lines - 1), 33, 1633, 9), 1600);
    // Margins stay white except for ticks, labels and the recording mark.
    for (int r = top; r < top + lines; ++r) {
        const std::uint8_t *row = t.row(r);
        const int line = lines - 1 - (r - top);
        const bool q1 = line == 300 || line == 299 || line == 301;   // dilated rows
        const bool q3 = line == 301 || line == 300 || line == 302;
        EXPECT_EQ(countValue(row, 0, 13, 254), q1 ? 13 : 0) << line;
        EXPECT_EQ(countValue(row, 13, 26, 254), 0) << line;
        EXPECT_EQ(countValue(row, 26, 33, 0), 7);
        EXPECT_EQ(countValue(row, 1633, 1640, 0), 7);
        EXPECT_EQ(countValue(row, 1640, 1653, 254), q3 ? 13 : 0) << line;
        EXPECT_EQ(countValue(row, 1653, 1666, 254), 0) << line;
        EXPECT_EQ(countValue(row, 1666, 1673, 0), 7);
        // The mark in the last column follows the line that caused the
        // row's emission, 100 lines after the row's own line; the rows
        // flushed at the end carry the last line's flag.
        const int causing = std::min(line + 100, lines - 1);
        const bool marked = causing >= 400 && causing < 500;
        EXPECT_EQ(row[1727], marked ? 254 : 0) << line;
        for (int c = 1673; c < 1727; ++c)
            ASSERT_TRUE(row[c] == 0 || row[c] == 254);
    }
    // Label blocks: 160 rows from the first data row, the next 501 rows on.
    auto labelInk = [&](int line) { return countValue(t.row(top + lines - 1 - line), 1673, 1727, 254); };
    int inkFirst = 0, inkGap = 0, inkSecond = 0;
    for (int line = 0; line < 160; ++line)
        inkFirst += labelInk(line);
    for (int line = 160; line < 500; ++line)
        inkGap += labelInk(line);
    for (int line = 502; line < 660; ++line)
        inkSecond += labelInk(line);
    EXPECT_GT(inkFirst, 200);
    EXPECT_EQ(inkGap, 0);
    EXPECT_GT(inkSecond, 200);
}

} // namespace
