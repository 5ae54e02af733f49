#pragma once
// Builds the annotated strip chart image of one run: an 8-bit palette TIFF
// 1728 pixels wide with the infrared swath in the middle, fire ticks in the
// margins, position and flight labels, start and end annotations, and a JPEG
// copy. One builder per run: create it when the run starts, feed every scan
// line with AddLine, call FinishRun, delete it (deletion writes the end
// annotations and makes the final files).
//
// Two modes: plain (each line one image row) and map (each line projected
// onto flat ground and drawn into a grid laid along the run heading).
#include <QImage>
#include <QObject>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "datasource/scanline.h"

class CBil;
class CDataSource;
class CLineClipper;
class PassServices;

class CStripChartImagery : public QObject {
public:
    static constexpr int kGridSize = 1600;      // grid columns and rows
    static constexpr int kRowBytes = 1728;      // bytes of every image row
    static constexpr int kGridLeft = 33;        // image column of grid column 0
    static constexpr std::uint8_t kEmptyCell = 100;
    static constexpr std::uint8_t kBlack = 254;

    // mainWindow provides the pass services; parent owns the builder.
    explicit CStripChartImagery(PassServices *mainWindow, QObject *parent = nullptr);
    // Finishes the image: end bar, footer, logos, scale line (map mode), END
    // RUN text, TIFF trailer, final file, JPEG copy.
    ~CStripChartImagery() override;

    void SetMapMode(bool on);
    void SetFireDilation(bool on);
    // File output is on at construction; off, nothing is written to disk.
    void SetFileOutput(bool on);
    // Replaces the output naming (path prefix + "_<run>.tmp") by the given
    // temporary file path; its base name names the final files. Set it
    // before the first line.
    void SetOutputPath(const QString &tmpPath);

    // One scan line, in acquisition order. The line may be changed (a fire
    // pixel is carried to its unused neighbour in plain mode). recording
    // tells whether the line also goes to the flight log.
    void AddLine(ScanLineRec &line, bool recording);
    // Ends the run: end time, end of pass reported, every remaining row
    // written to the file.
    void FinishRun();
    // Completes the image file (end bar, footer, trailer, final TIFF and its
    // JPEG copy); done by the destructor when not called before. True when
    // the final TIFF was written whole now (an earlier file of that name is
    // kept when it could not be, e.g. on a full disk).
    bool CompleteImage();
    bool JpegWritten() const { return jpegWritten; }

    // ---- state, for the owner and for checks ----
    std::int32_t RunNumber() const { return runNumber; }
    bool IsMapMode() const { return mapMode; }
    bool IsAborted() const { return aborted; }
    bool IsDetached() const { return services == nullptr; }
    bool FirstLinePending() const { return firstLinePending; }
    QString TempPath() const { return tmpPath; }
    QString FinalPath() const;
    QString JpegPath() const;
    const CBil *Grid() const { return grid.get(); }
    int WriteRow() const { return writeRow; }
    int EmitRow() const { return emitRow; }
    long RowsWritten() const { return rowsWritten; }
    double CellSize() const { return cellSize; }
    double GridHeading() const { return gridHeading; }

    // The 1681 tangents of the scan's pixel boundaries, tan(-60 deg + k/14 deg).
    static const double *ScanTangents();
    // Makes the next run's grid allocation fail (to exercise that path).
    static void FailNextGridAllocation(bool fail);

private:
    void FirstLine(ScanLineRec &line);
    bool Project(const ScanLineRec &line, double *x, double *y, int *zone);
    static bool GroundOffset(const double m[6], double t, double h, double *along, double *across);
    void DrawPlain(ScanLineRec &line);
    void DrawMap(ScanLineRec &line, double col, double row, double heightCells, const double m[6]);
    void SetCell(int col, int row, std::uint8_t value);
    void ScrollGrid();
    void ComposeLabel(const ScanLineRec &line, double heightAboveGround);
    void EmitOneRow(bool recording);
    void WriteFileRow(const std::uint8_t *row);
    void WriteImage(const QImage &img);
    void WriteBar(bool start);
    void WriteTrailer();
    QString RunText(const QString &what, int heading, const QDateTime &when) const;
    void CloseAndRemoveTemp();

    PassServices *services = nullptr;   // null once the run was refused
    CDataSource *dataSource = nullptr;

    bool fileOutput = true;
    std::FILE *file = nullptr;
    QString tmpPath;
    QString outputOverride;
    QString baseName;

    QDateTime startTime;
    QDateTime endTime;
    std::int32_t runNumber = 0;

    bool mapMode = false;
    bool plainRows = false;   // some line was drawn in plain mode: no georeference
    bool fireDilation = true;
    bool firstLinePending = true;
    bool aborted = false;
    bool finished = false;
    bool imageWritten = false;
    bool jpegWritten = false;
    bool lastRecording = false;
    bool endAnnotations = false;

    double groundElevation = 0.0;   // metres, read at the first line
    double altitude = 0.0;          // metres
    double gridHeading = 0.0;       // degrees
    double cellSize = 1.0;          // metres per cell
    double halfSwath = 0.0;         // at the first line
    float lineHeading = 0.0f;       // heading of the newest line
    float lastHalfWidth = 0.0f;

    double startX = 0.0, startY = 0.0;
    double curX = 0.0, curY = 0.0;
    int zone = 0;
    double originX = 0.0, originY = 0.0;   // centre of cell (0, 0)

    std::unique_ptr<CBil> grid;
    std::unique_ptr<CLineClipper> clipper;
    std::uint8_t *cells = nullptr;   // the grid's pixel data

    int writeRow = 0;
    int prevWriteRow = 0;
    int emitRow = 0;
    int labelCountdown = -1;
    int labelRow = -1;
    bool positionBlockNext = true;

    long rowsWritten = 0;
    long rowsSinceEnd = 0;

    QImage label;
};
