#pragma once
// The streaming TIFF technique shared by every image product.
//
// Every image (strip charts, ortho products) is an uncompressed,
// little-endian, single-image baseline TIFF with GeoTIFF tags, produced as a
// stream in four steps, each a routine of this header:
//
//   1. WriteHeader     - "II", 42 and an IFD offset of 0 into a temporary
//                        ".tmp" file (C stdio stream);
//   2. WriteRow        - the image rows, bottom row first, each padded with
//                        zeros to the row width;
//   3. WriteTrailer    - the tag values (BuildTrailer: description, strip
//                        offsets and byte counts, resolutions, software,
//                        date-time, copyright, colour map or bits per sample,
//                        model transformation, GeoKey directory, GeoKey
//                        doubles, in that order with no padding), then the
//                        IFD (IfdBuilder), then the IFD offset is patched
//                        into the header;
//   4. FinalPass       - copies the temporary file into the final ".tif"
//                        with the rows in reverse order (the last row
//                        produced becomes the top row), the trailer copied
//                        unchanged (its offsets stay valid), an optional
//                        20-byte stamp over the top row, and deletes the
//                        temporary file; SaveJpegCopy then writes the
//                        quality-35 JPEG copy into the "jpeg" subfolder.
//
// CTiffFile (ctifffile.h) drives these steps for the ortho products; the
// strip chart builder drives them itself with its own tag set (TrailerTags
// with a 1728-pixel palette of gamma 2, GeographicType 4326 and the geo
// blocks only when the aircraft moves). Both get the same layout.
#include <QByteArray>
#include <QImage>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <cstdint>
#include <cstdio>

class CBil;

namespace tiffstream {

constexpr int kHeaderBytes = 8;
constexpr int kRowsPerStrip = 10;
constexpr int kGeoKeyShorts = 52;
constexpr int kGeoDoubles = 5;

// The deployer's copyright sentence; the year follows it directly.
extern const char kCopyrightNotice[];
QByteArray CopyrightText(int year);

// TIFF field types used here.
enum FieldType : std::uint16_t {
    Ascii = 2,
    Short = 3,
    Long = 4,
    Rational = 5,
    Double = 12,
};

// TIFF tags used here.
enum Tag : std::uint16_t {
    ImageWidth = 256,
    ImageLength = 257,
    BitsPerSample = 258,
    Compression = 259,
    PhotometricInterpretation = 262,
    ImageDescription = 270,
    StripOffsets = 273,
    Orientation = 274,
    SamplesPerPixel = 277,
    RowsPerStrip = 278,
    StripByteCounts = 279,
    XResolution = 282,
    YResolution = 283,
    ResolutionUnit = 296,
    Software = 305,
    DateTime = 306,
    ColorMap = 320,
    Copyright = 33432,
    ModelTransformationTag = 34264,
    GeoKeyDirectoryTag = 34735,
    GeoDoubleParamsTag = 34736,
};

struct IfdEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint32_t value = 0;   // the value itself (SHORT in the low half) or an offset
};

// Collects the directory entries. A value block whose bytes fit in four
// bytes is stored in the entry itself, as TIFF requires; otherwise the
// entry holds the block's file offset.
class IfdBuilder {
public:
    void AddShort(std::uint16_t tag, std::uint16_t value);
    void AddLong(std::uint16_t tag, std::uint32_t value);
    // count values of the given type held in block (little-endian bytes),
    // written at file offset offset.
    void AddBlock(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                  std::uint32_t offset, const QByteArray &block);
    const QVector<IfdEntry> &Entries() const { return entries_; }
    // Entry count, the entries and a next-IFD offset of 0.
    QByteArray Serialize() const;

private:
    QVector<IfdEntry> entries_;
};

// Strip offsets and byte counts of image data ending at dataEnd.
struct StripLayout {
    QVector<std::uint32_t> offsets;
    QVector<std::uint32_t> counts;
};
StripLayout ComputeStrips(std::int64_t dataEnd, int rowWidth);

// 768 SHORTs (256 red, 256 green, 256 blue): 0..253 grey from white to
// black with the gamma, 254 black, 255 red.
QVector<std::uint16_t> MakeColorMap(double gamma);

// 52 SHORTs: the directory header and the 12 keys of a user-defined
// transverse Mercator projection in metres on the given geographic type.
QVector<std::uint16_t> MakeGeoKeyDirectory(std::uint16_t geographicType);
// central meridian, 0, 500000, 0, and the coordinate converter's scale
// factor (0.9996)
QVector<double> MakeGeoDoubleParams(double centralMeridian);
// 16 doubles: the grid's cell size and rotation, with the image's upper
// left corner at the grid position (column, row).
QVector<double> MakeModelTransformation(const CBil &grid, double column, double row);

// Everything the trailer says about one image.
struct TrailerTags {
    std::uint32_t imageWidth = 1728;   // pixels
    int rowWidth = 1728;               // bytes per row
    std::uint32_t rows = 0;            // ImageLength
    bool rgb = false;                  // 24-bit RGB, else 8-bit palette
    bool samplesPerPixelTag = false;   // write SamplesPerPixel (RGB images)
    double gamma = 1.0;                // palette gamma
    QByteArray description;            // texts without their NUL
    QByteArray software;
    QByteArray dateTime;
    QByteArray copyright;
    bool geo = true;                   // write the three GeoTIFF blocks
    QVector<double> modelTransformation;   // 16 doubles
    std::uint16_t geographicType = 4326;
    double centralMeridian = 0.0;
};

// The two tag sets. Strip charts (palette, gamma 2, GeographicType 4326,
// description "Infrared strip chart image for mission: <m>  run: <n>",
// date-time of the run's start as "dd-MMMM-yyyy hh:mm:ss", geo blocks only
// when geo is set) and ortho products (palette of gamma 1 or two-colour
// RGB, GeographicType 4267 for NAD27 else 4269, date-time of the trailer as
// "yyyy-MM-dd HH:mm:ss"). The copyright year is that of the date-time.
TrailerTags MakeStripChartTrailer(std::uint32_t rows, const QString &missionName, int runNumber,
                                  const QDateTime &startTime, bool geo,
                                  const QVector<double> &modelTransformation,
                                  double centralMeridian);
TrailerTags MakeOrthoTrailer(std::uint32_t rows, int rowWidth, bool twoColor, bool nad27,
                             const QDateTime &trailerTime,
                             const QVector<double> &modelTransformation,
                             double centralMeridian);

// File offsets and counts of the trailer blocks (0 for absent blocks).
struct TrailerLayout {
    std::uint32_t description = 0, descriptionCount = 0;
    std::uint32_t stripOffsets = 0, stripByteCounts = 0, strips = 0;
    std::uint32_t xResolution = 0, yResolution = 0;
    std::uint32_t software = 0, softwareCount = 0;
    std::uint32_t dateTime = 0, dateTimeCount = 0;
    std::uint32_t copyright = 0, copyrightCount = 0;
    std::uint32_t colorMap = 0;          // palette images
    std::uint32_t bitsPerSample = 0;     // RGB images
    std::uint32_t modelTransformation = 0, geoKeyDirectory = 0, geoDoubleParams = 0;
    std::uint32_t ifd = 0, ifdEntries = 0;
    std::int64_t end = 0;                // file length after the trailer
};

// Step 1: the 8-byte header with an IFD offset of 0.
bool WriteHeader(std::FILE *f);
// Step 2: one row; a shorter row is padded with zeros, a longer one cut.
bool WriteRow(std::FILE *f, const void *row, int length, int rowWidth);
// The trailer blocks and the IFD for image data ending at dataEnd.
// Fails (layout->end < 0) when an offset would pass 32 bits.
QByteArray BuildTrailer(const TrailerTags &recipe, std::int64_t dataEnd, TrailerLayout *layout);
// Step 3: appends the trailer at dataEnd and patches the IFD offset.
bool WriteTrailer(std::FILE *f, const TrailerTags &recipe, std::int64_t dataEnd,
                  TrailerLayout *layout = nullptr);

// The 20 bytes laid over the top row of an ortho image.
struct Stamp {
    double a = 0.0;
    double b = 0.0;
    std::uint32_t c = 0;
};

// base name + ".tif" beside the temporary file, and the JPEG copy's path
// (folder "jpeg" beside the TIFF, base name + ".jpg").
QString FinalPathFor(const QString &tmpPath);
QString JpegPathFor(const QString &tifPath);

// Step 4: the final file with the rows in reverse order. The final file
// appears under its name only when it is complete; the temporary file is
// deleted then. Fails, leaving the temporary file, when it cannot be read,
// is shorter than its rows, or the final file cannot be made.
bool FinalPass(const QString &tmpPath, const QString &finalPath, int rowWidth,
               std::int64_t rows, const Stamp *stamp = nullptr);
// The georeference of an image read back: corner-based affine transform
// (x = a*col + b*row + x0, y = d*col + e*row + y0), the geographic type
// and the transverse Mercator parameters.
struct ImageGeoReference {
    bool valid = false;
    double a = 1, b = 0, x = 0, d = 0, e = -1, y = 0;
    int geographicType = 4326;
    double centralMeridian = 0.0;
    double scaleFactor = 0.9996;
};
// Reads an image of this module's own layout (palette or RGB, uncompressed)
// into 24-bit RGB, with its georeference when it has one. False for any
// other file.
bool ReadImage(const QString &tifPath, QImage *image, ImageGeoReference *geo = nullptr);
// The JPEG copy of a final TIFF (24-bit RGB, quality 35); false when the
// TIFF cannot be loaded or the copy cannot be saved. A georeferenced TIFF's
// copy gets a world file, a ".prj" and a GDAL auxiliary file beside it.
bool SaveJpegCopy(const QString &tifPath);

} // namespace tiffstream
