#include "geodata/georefsidecar.h"

#include <QFileInfo>
#include <QSaveFile>

namespace georef {

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (f.write(bytes) != bytes.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

QByteArray number(double v) { return QByteArray::number(v, 'g', 17); }

} // namespace

int GeographicTypeForDatum(int datumCode)
{
    switch (datumCode) {
    case 1:
        return kNad27;
    case 2:
        return kWgs84;
    default:
        return kNad83;
    }
}

QByteArray GeographicWkt(int geographicType)
{
    switch (geographicType) {
    case kNad27:
        return "GEOGCS[\"GCS_North_American_1927\",DATUM[\"D_North_American_1927\","
               "SPHEROID[\"Clarke_1866\",6378206.4,294.9786982]],PRIMEM[\"Greenwich\",0.0],"
               "UNIT[\"Degree\",0.0174532925199433]]";
    case kWgs84:
        return "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
               "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
    default:
        return "GEOGCS[\"GCS_North_American_1983\",DATUM[\"D_North_American_1983\","
               "SPHEROID[\"GRS_1980\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],"
               "UNIT[\"Degree\",0.0174532925199433]]";
    }
}

QByteArray TransverseMercatorWkt(int geographicType, double centralMeridian, double scaleFactor)
{
    return "PROJCS[\"Transverse_Mercator_" + QByteArray::number(centralMeridian, 'f', 0).replace('-', 'W') + "\","
           + GeographicWkt(geographicType)
           + ",PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],"
             "PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\","
           + number(centralMeridian) + "],PARAMETER[\"Scale_Factor\"," + number(scaleFactor)
           + "],PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";
}

WorldFile WorldFileFromCornerTransform(double a, double b, double x0, double d, double e, double y0)
{
    WorldFile w;
    w.a = a;
    w.b = b;
    w.d = d;
    w.e = e;
    w.c = x0 + 0.5 * a + 0.5 * b;
    w.f = y0 + 0.5 * d + 0.5 * e;
    return w;
}

QString WorldFilePath(const QString &imagePath)
{
    const QFileInfo fi(imagePath);
    const QString suffix = fi.suffix();
    QString ext = QStringLiteral("wld");
    if (suffix.compare(QLatin1String("jpg"), Qt::CaseInsensitive) == 0
        || suffix.compare(QLatin1String("jpeg"), Qt::CaseInsensitive) == 0)
        ext = QStringLiteral("jgw");
    else if (suffix.size() >= 2)
        ext = QString(suffix.front()) + suffix.back() + QLatin1Char('w');
    return fi.path() + QLatin1Char('/') + fi.completeBaseName() + QLatin1Char('.') + ext;
}

bool WritePictureSidecars(const QString &imagePath, const WorldFile &w, const QByteArray &wkt)
{
    // Order A, D, B, E, C, F as world files have it.
    const QByteArray world = number(w.a) + '\n' + number(w.d) + '\n' + number(w.b) + '\n' + number(w.e) + '\n'
                             + number(w.c) + '\n' + number(w.f) + '\n';
    const QFileInfo fi(imagePath);
    const QString stem = fi.path() + QLatin1Char('/') + fi.completeBaseName();
    const QByteArray aux = "<PAMDataset>\n  <SRS>" + QString::fromLatin1(wkt).toHtmlEscaped().toLatin1() + "</SRS>\n</PAMDataset>\n";
    bool ok = writeFile(WorldFilePath(imagePath), world);
    ok = writeFile(stem + QStringLiteral(".prj"), wkt) && ok;
    ok = writeFile(imagePath + QStringLiteral(".aux.xml"), aux) && ok;
    return ok;
}

bool WriteShapefilePrj(const QString &shapeBase, const QByteArray &wkt)
{
    return writeFile(shapeBase + QStringLiteral(".prj"), wkt);
}

} // namespace georef
