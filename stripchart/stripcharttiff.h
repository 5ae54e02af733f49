#pragma once
// The strip chart's TIFF: 1728-byte palette rows streamed bottom-up into a
// temporary file, then the strip chart tag set (with the GeoTIFF tags when
// the run was flown fast enough to be ground-true), then the final pass that
// reverses the rows, and the JPEG copy.
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <cstdio>

namespace stripchart {

struct StripChartTrailer {
    std::uint32_t rows = 0;        // rows written
    QString description;
    QDateTime startTime;           // DateTime tag and copyright year
    bool geo = false;              // add ModelTransformation and GeoKeys
    double cellSize = 1.0;
    double cosRot = 1.0, sinRot = 0.0;   // of the grid's rotation angle
    double originX = 0.0, originY = 0.0; // the image's upper-left corner
    double centralMeridian = 0.0;        // degrees, negative west
};

// Writes the 8-byte header with IFD offset 0.
void writeTiffHeader(std::FILE *f);
// Writes the trailer blocks and the IFD after the rows and patches the IFD
// offset. Returns the number of IFD entries (17 or 20).
int writeStripChartTrailer(std::FILE *f, const StripChartTrailer &t);
// The final pass: temporary file -> final file with the rows reversed; the
// temporary file is removed. False (and the temporary file kept) when
// either file cannot be opened.
bool finalizeTiff(const QString &tmpPath, const QString &finalPath);
// The JPEG copy in "jpeg" beside the final file.
bool saveJpegCopy(const QString &finalPath);

} // namespace stripchart
