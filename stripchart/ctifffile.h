#pragma once
// CTiffFile: the streaming GeoTIFF writer of the ortho products. It drives
// the shared steps of tiffstream.h (header, rows bottom-up, trailer and
// directory, row-reversing final pass, JPEG copy) with the ortho tag set:
// an 8-bit palette image (gamma 1) or, after SetTwoColor, a 24-bit RGB
// image, georeferenced as transverse Mercator on NAD27 or NAD83.
//
// Use: Open(tmp) -> [SetTwoColor] -> WriteRow ... -> WriteTrailer(grid, row)
// -> Finalize(tmp, a, b, c) -> SaveJpeg(tif).
#include <QDateTime>
#include <QString>
#include <QVector>

#include <cstdint>
#include <cstdio>

#include "stripchart/tiffstream.h"

class CBil;

class CTiffFile {
public:
    static constexpr int kPaletteRowWidth = 1728;
    static constexpr int kLeftMargin = 33;

    CTiffFile();
    virtual ~CTiffFile();
    CTiffFile(const CTiffFile &) = delete;
    CTiffFile &operator=(const CTiffFile &) = delete;

    // Creates the temporary file and writes the header; false (and the
    // writer stays inert) when the file cannot be created.
    bool Open(const QString &tmpPath);
    // 24-bit RGB: rows of 1728 x 3 bytes.
    void SetTwoColor();
    // On: NAD27 (GeographicType 4267); off: NAD83 (4269).
    void SetDatumFlag(bool nad27) { nad27_ = nad27; }
    // Degrees, negative west.
    void SetCentralMeridian(double degrees) { centralMeridian_ = degrees; }

    // One row; shorter rows are padded with zeros, longer ones cut.
    bool WriteRow(const void *bytes, int length);
    // Trailer and directory for the grid; rowValue is the grid row whose
    // half-cell-up edge is the image's top. Closes the file.
    bool WriteTrailer(const CBil &grid, double rowValue);
    // The final base-name ".tif" beside the temporary file, with the
    // 20-byte stamp over the top row; deletes the temporary file.
    bool Finalize(const QString &tmpPath, double a, double b, std::uint32_t c);
    // The JPEG copy of the final TIFF. path: the final TIFF, the temporary
    // file or the output folder (the base name of Open is used then).
    bool SaveJpeg(const QString &path);

    bool IsOpen() const { return file_ != nullptr; }
    bool IsTwoColor() const { return twoColor_; }
    bool GetDatumFlag() const { return nad27_; }
    double GetCentralMeridian() const { return centralMeridian_; }
    int GetRowWidth() const { return rowWidth_; }
    QString GetBaseName() const { return baseName_; }
    std::uint32_t GetRowsWritten() const { return rowsWritten_; }
    std::uint32_t GetRowCount2() const { return rowCount2_; }
    void ResetRowCount2() { rowCount2_ = 0; }
    QDateTime GetTrailerTime() const { return trailerTime_; }
    const tiffstream::TrailerLayout &GetLayout() const { return layout_; }
    // False once a write to the temporary file failed; Finalize then keeps
    // the temporary file instead of making a damaged final file.
    bool WritesOk() const { return writesOk_; }

private:
    void CloseStream();

    std::FILE *file_ = nullptr;
    QString baseName_;
    QString tmpPath_;
    QDateTime trailerTime_;
    bool twoColor_ = false;
    bool nad27_ = false;
    int rowWidth_ = kPaletteRowWidth;
    int leftMargin_ = kLeftMargin;
    QByteArray rowBuffer_;
    std::uint32_t rowsWritten_ = 0;
    std::uint32_t rowCount2_ = 0;
    double centralMeridian_ = 0.0;
    bool writesOk_ = true;
    bool trailerDone_ = false;
    tiffstream::TrailerLayout layout_;
};
