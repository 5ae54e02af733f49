#pragma once
// CBil: the raster class. A georeferenced grid of samples in
// band-interleaved-by-line order, held in memory (Allocate) or mapped
// read-only from an ESRI BIL trio (name.hdr text header, name.blw world
// file, name.bil pixel data). It maps positions to pixels and back, reads
// single samples, interpolates bilinearly, copies a window of one raster
// into another and computes simple statistics. Also used as a pure
// georeference (no pixel data) by the strip chart, ortho and mosaic grids.
//
// Sample (column c, row r, band b) lies at sample index
//   r * samplesPerRow + b * ncols + c
// from the start of the pixel data (skipbytes precede it in the file).
//
// Sizes are kept in 64 bits; Open refuses headers whose sizes are negative,
// overflow or exceed the .bil file, so no access can run past the mapping.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>

enum PixelType {
    Int16 = 0,
    Int32 = 1,
    Float32 = 2,
    Float64 = 3,
    Int8 = 4,
    UInt8 = 5,
    UInt16 = 6,
    UInt32 = 7,
};

struct BilHeader {
    static constexpr int kTextBytes = 250;   // title, command and each comment
    static constexpr int kMaxComments = 25;

    int ncols = 0;
    int nrows = 0;
    int nbands = 1;
    int pixelType = Int16;
    int byteOrder = 0;          // 0: most significant byte first ("M"), 1: least first ("I")
    int skipbytes = 0;

    // Derived (64-bit so that no size can overflow).
    int bytesPerSample = 2;
    qint64 bandRowBytes = 0;
    qint64 pixelBytes = 2;
    qint64 samplesPerRow = 0;
    qint64 totalRowBytes = 0;
    qint64 pixelsPerBand = 0;
    qint64 bandBytes = 0;
    qint64 totalSamples = 0;
    qint64 totalBytes = 0;
    qint64 fileBytes = 0;
    bool sizesValid = true;     // false when the dimensions are negative or overflow

    double xdim = 1.0;
    double ydim = 1.0;
    double refColumn = 0.0;
    double refRow = 0.0;
    double ulxmap = 0.0;
    double ulymap = 0.0;
    int cornerRegistration = 0; // 0: ulxmap/ulymap is the reference cell's centre
    double rotation = 0.0;      // degrees
    int rowsRunDown = 0;        // non-zero: row 0 is the top

    double left = 0.0, right = 0.0, bottom = 0.0, top = 0.0;
    double width = 0.0, height = 0.0;
    double rotationCos = 1.0, rotationSin = 0.0;   // of the rotation, for GeoToPixel

    QByteArray title;
    QByteArray command;
    QList<QByteArray> comments;  // at most kMaxComments

    // Bytes per sample of a pixel type; 0 for an unknown type.
    static int BytesPerSample(int pixelType);
    // Recomputes the size fields and the extent.
    void Derive();
};

class CBil {
public:
    enum Storage { None, Mapped, Owned };

    CBil();
    ~CBil();
    CBil(const CBil &) = delete;
    CBil &operator=(const CBil &) = delete;

    // Header to its defaults; the pixel buffer is kept.
    void Reset();
    // Frees an owned buffer or unmaps a mapped one, then Reset.
    void Release();

    void SetDimensions(int ncols, int nrows, int nbands, int pixelType);
    void SetGeoReference(double xdim, double ydim, double refColumn, double refRow,
                         double ulxmap, double ulymap, int cornerRegistration,
                         double rotation, int rowsRunDown);
    void SetByteOrder(int byteOrder) { h_.byteOrder = byteOrder; }
    void SetTitle(const QByteArray &title);
    void SetCommand(const QByteArray &command);
    bool AddComment(const QByteArray &comment);

    // Allocates total bytes of zeroed pixel data owned by this raster.
    bool Allocate();
    // Sets every byte of the pixel data to the value; false without data.
    bool Fill(unsigned char value);

    // name: full path, with or without ".bil.ers", ".bil" or ".hdr".
    // The .bil stays mapped (and its file open) until Release, another
    // Open or destruction; on Windows a mapped file cannot be replaced, so
    // release a raster before writing a new one under its name.
    bool Open(const QString &name);
    // Writes the trio; each file is renamed into place only when all of
    // them are complete, so a failed Write leaves no partial file. An
    // earlier trio of the name stays whole when writing fails; while the
    // new one is renamed into place its header is the last file to appear.
    bool Write(const QString &name) const;
    // The base name Open and Write use for a given name.
    static QString BaseName(const QString &name);

    // Cell-edge coordinates: (0, 0) is the outer corner of the first cell.
    void PixelToGeo(double column, double row, double *x, double *y) const;
    void GeoToPixel(double x, double y, double *column, double *row) const;

    // Raw sample in host byte order, written to out (bytes per sample bytes).
    bool GetRawSample(double column, double row, int band, void *out) const;
    bool GetValue(double column, double row, int band, double *value) const;
    // Bilinear interpolation at a map position between the centres of the
    // four cells around it (a sample stands at its cell's centre); 0 and
    // false when a neighbour lies outside the raster, that is from the last
    // column's or row's centre on and in the outer half of the first cell.
    bool Interpolate(double x, double y, int band, double *value) const;

    void SetWindow(double columnA, double rowA, double columnB, double rowB);
    // Copies the window into the destination with the window's first cell
    // corner on the destination cell corner nearest to it (for grids whose
    // cells coincide, every cell keeps its place), byte-swapping when the
    // byte orders differ. Rows and columns that would fall outside the
    // destination are not copied.
    bool CopyWindowInto(CBil &destination) const;

    // Over band 0 read as signed 16-bit samples: minimum of the non-zero
    // samples (32000 when none), maximum of all, truncated mean of all.
    // With no samples only *mean is set (to 0).
    bool ComputeStatistics(double *minimum, double *maximum, double *mean);

    // Header values.
    const BilHeader &Header() const { return h_; }
    int GetNCols() const { return h_.ncols; }
    int GetNRows() const { return h_.nrows; }
    int GetNBands() const { return h_.nbands; }
    int GetPixelType() const { return h_.pixelType; }
    int GetByteOrder() const { return h_.byteOrder; }
    int GetBytesPerSample() const { return h_.bytesPerSample; }
    qint64 GetTotalRowBytes() const { return h_.totalRowBytes; }
    qint64 GetTotalBytes() const { return h_.totalBytes; }
    double GetXDim() const { return h_.xdim; }
    double GetYDim() const { return h_.ydim; }
    double GetRefColumn() const { return h_.refColumn; }
    double GetRefRow() const { return h_.refRow; }
    double GetULXMap() const { return h_.ulxmap; }
    double GetULYMap() const { return h_.ulymap; }
    int GetCornerRegistration() const { return h_.cornerRegistration; }
    double GetRotation() const { return h_.rotation; }
    int GetRowsRunDown() const { return h_.rowsRunDown; }
    double GetLeft() const { return h_.left; }
    double GetRight() const { return h_.right; }
    double GetTop() const { return h_.top; }
    double GetBottom() const { return h_.bottom; }

    // Pixel data: read-only view of any storage; writable only when owned.
    // Bytes available at Data() (may exceed the header's total bytes).
    qint64 GetDataBytes() const { return dataBytes_; }
    Storage GetStorage() const { return storage_; }
    const unsigned char *Data() const { return data_; }
    unsigned char *MutableData() { return storage_ == Owned ? data_ : nullptr; }
    // Start of a row (band 0) or nullptr when out of range or no data.
    const unsigned char *RowData(int row) const;
    unsigned char *MutableRowData(int row);

    // The copy window of SetWindow.
    int WindowFirstColumn() const { return winC0_; }
    int WindowLastColumn() const { return winC1_; }
    int WindowFirstRow() const { return winR0_; }
    int WindowLastRow() const { return winR1_; }

    // Statistics of the last ComputeStatistics.
    qint64 StatNonZeroCount() const { return statNonZero_; }
    qint64 StatZeroCount() const { return statZero_; }
    double StatSum() const { return statSum_; }
    double StatSumSquares() const { return statSumSq_; }

private:
    bool ReadHeader(const QString &path, BilHeader *h);
    void DropData();
    // The pixel data holds every byte the header describes. SetDimensions
    // on a mapped or allocated raster may describe more; every access
    // checks this first.
    bool DataCoversHeader() const;

    BilHeader h_;
    Storage storage_ = None;
    unsigned char *data_ = nullptr;
    qint64 dataBytes_ = 0;   // bytes available at data_
    QFile file_;
    uchar *map_ = nullptr;

    int winC0_ = 0, winC1_ = 0, winR0_ = 0, winR1_ = 0;

    qint64 statNonZero_ = 0;
    qint64 statZero_ = 0;
    double statSum_ = 0.0;
    double statSumSq_ = 0.0;
};
