#pragma once
// Where a picture without embedded georeference lies, told to GIS tools by
// files beside it:
//   "<name>.jgw"        world file (JPEG: "jgw"; other suffixes: first and
//                       last letter of the suffix + "w"), pixel-centre form;
//   "<name>.prj"        the coordinate system as ESRI WKT;
//   "<name>.jpg.aux.xml" the same WKT in GDAL's auxiliary form, which GDAL
//                       reads for JPEG pictures (it ignores ".prj" there).
// Shapefiles get only the ".prj".
//
// The coordinate systems are those this system writes: geographic NAD83,
// NAD27 (Clarke 1866) or WGS 84, and the transverse Mercator grid of the
// coordinate converter on one of them (metres, false easting 500000).
#include <QByteArray>
#include <QString>

namespace georef {

// GeoTIFF geographic type codes used by the products.
constexpr int kNad27 = 4267;
constexpr int kNad83 = 4269;
constexpr int kWgs84 = 4326;
// Scale factor on the central meridian of the coordinate converter's
// transverse Mercator grid (the UTM k0).
constexpr double kUtmScaleFactor = 0.9996;

// Geographic type of a converter datum code (1 Clarke 1866 / NAD27,
// 2 WGS 84, 3 GRS 80 / NAD83).
int GeographicTypeForDatum(int datumCode);

QByteArray GeographicWkt(int geographicType);
QByteArray TransverseMercatorWkt(int geographicType, double centralMeridian, double scaleFactor);

// The six world file values: x = a*col + b*row + c, y = d*col + e*row + f
// for the centre of pixel (col, row).
struct WorldFile {
    double a = 1, b = 0, c = 0, d = 0, e = -1, f = 0;
};
// World file built from a corner-based affine transformation (model x =
// a*col + b*row + x0, model y = d*col + e*row + y0 with col, row at pixel
// corners).
WorldFile WorldFileFromCornerTransform(double a, double b, double x0, double d, double e, double y0);

QString WorldFilePath(const QString &imagePath);
// Writes the world file, the ".prj" and the GDAL auxiliary file of a
// picture. False when any of them cannot be written.
bool WritePictureSidecars(const QString &imagePath, const WorldFile &world, const QByteArray &wkt);
// "<base>.prj" for a shapefile given by its base name (no extension).
bool WriteShapefilePrj(const QString &shapeBase, const QByteArray &wkt);

} // namespace georef
