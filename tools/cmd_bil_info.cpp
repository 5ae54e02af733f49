// cindrel bil-info: header, georeference and statistics of a BIL raster.
#include "geodata/cbil.h"
#include "tools/command.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace {
using namespace cindrel::tool;

QString typeName(int t)
{
    static const char *names[] = {"Int16", "Int32", "Float32", "Float64", "Int8", "UInt8", "UInt16", "UInt32"};
    return (t >= 0 && t < 8) ? QString::fromLatin1(names[t]) : QStringLiteral("unknown (%1)").arg(t);
}

int run(const Invocation &in)
{
    const QString name = in.positional(0);
    CBil bil;
    if (!bil.Open(name))
        return in.error(QStringLiteral("%1: cannot open the BIL raster (needs %2.hdr and %2.bil)")
                            .arg(QDir::toNativeSeparators(name), QDir::toNativeSeparators(CBil::BaseName(name))));
    QTextStream &o = in.out();
    auto g = [](double v) { return QString::number(v, 'g', 15); };
    o << "ncols: " << bil.GetNCols() << "\n";
    o << "nrows: " << bil.GetNRows() << "\n";
    o << "nbands: " << bil.GetNBands() << "\n";
    o << "pixel type: " << typeName(bil.GetPixelType()) << "\n";
    o << "byte order: " << (bil.GetByteOrder() == 0 ? "M" : "I") << "\n";
    o << "xdim: " << g(bil.GetXDim()) << "\n";
    o << "ydim: " << g(bil.GetYDim()) << "\n";
    o << "ulxmap: " << g(bil.GetULXMap()) << "\n";
    o << "ulymap: " << g(bil.GetULYMap()) << "\n";
    o << "left: " << g(bil.GetLeft()) << "\n";
    o << "right: " << g(bil.GetRight()) << "\n";
    o << "bottom: " << g(bil.GetBottom()) << "\n";
    o << "top: " << g(bil.GetTop()) << "\n";
    // Statistics of band 0 over every sample.
    double mn = HUGE_VAL, mx = -HUGE_VAL, sum = 0.0;
    long long count = 0, zeros = 0;
    for (int r = 0; r < bil.GetNRows(); ++r)
        for (int c = 0; c < bil.GetNCols(); ++c) {
            double v;
            if (!bil.GetValue(c, r, 0, &v) || std::isnan(v))
                continue;
            mn = std::min(mn, v);
            mx = std::max(mx, v);
            sum += v;
            ++count;
            zeros += v == 0.0;
        }
    o << "samples: " << count << "\n";
    o << "zero samples: " << zeros << "\n";
    if (count > 0) {
        o << "minimum: " << g(mn) << "\n";
        o << "maximum: " << g(mx) << "\n";
        o << "mean: " << QString::number(sum / count, 'f', 4) << "\n";
    }
    return kSuccess;
}

const bool registered = registerCommand(
    {QStringLiteral("bil-info"), QStringLiteral("Describe a BIL raster"), QStringLiteral("NAME"),
     QStringLiteral("NAME is the raster's path with or without .bil/.hdr. Prints the header, the georeference\n"
                    "(cell size, upper-left cell centre, extent) and minimum, maximum and mean of band 0."),
     {}, 1, 1, run});
} // namespace
