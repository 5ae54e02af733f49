// BIL trio: header, world file and pixel data of any content opened,
// sampled, interpolated and copied window by window into rasters of the
// same layout. Input: the header text, then "#BLW\n" and the world file,
// then "#BIL\n" and the pixel bytes (a missing part is a missing file).
#include "fuzz/fuzzsupport.h"
#include "geodata/cbil.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray in = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const int blw = in.indexOf("#BLW\n");
    const int bil = in.indexOf("#BIL\n", blw < 0 ? 0 : blw);
    const int hdrEnd = blw >= 0 ? blw : (bil >= 0 ? bil : in.size());
    const QString base = fuzzsupport::workDir() + QStringLiteral("/raster");
    for (const char *e : {".hdr", ".blw", ".bil"})
        QFile::remove(base + QLatin1String(e));
    auto put = [&](const char *ext, int from, int to) {
        fuzzsupport::writeFile(base + QLatin1String(ext), data + from, std::size_t(to - from));
    };
    put(".hdr", 0, hdrEnd);
    if (blw >= 0)
        put(".blw", blw + 5, bil >= 0 ? bil : in.size());
    if (bil >= 0)
        put(".bil", bil + 5, in.size());

    CBil r;
    if (!r.Open(base + QStringLiteral(".bil")))
        return 0;
    const int nc = r.GetNCols(), nr = r.GetNRows();
    double v;
    for (int b = 0; b < std::min(r.GetNBands(), 4); ++b) {   // a header may claim 2^31 bands
        r.GetValue(nc / 2, nr / 2, b, &v);
        r.GetValue(nc - 1, nr - 1, b, &v);
        double x, y;
        r.PixelToGeo(nc / 2.0, nr / 2.0, &x, &y);
        r.Interpolate(x, y, b, &v);
    }
    double mn, mx, mean;
    r.ComputeStatistics(&mn, &mx, &mean);

    // Window copies into rasters of the same layout (same grid, and one
    // moved by a third of it), as the elevation extraction makes them.
    if (qint64(nc) * nr * r.GetNBands() > (1 << 22))
        return 0;
    for (int shift = 0; shift < 2; ++shift) {
        CBil dst;
        dst.SetDimensions(nc, nr, r.GetNBands(), r.GetPixelType());
        dst.SetGeoReference(r.GetXDim(), r.GetYDim(), 0, 0, r.GetLeft() + shift * nc / 3 * r.GetXDim(),
                            r.GetTop() - shift * nr / 3 * r.GetYDim(), 1, 0.0, 1);
        dst.SetByteOrder(1 - r.GetByteOrder());
        if (!dst.Allocate())
            continue;
        r.SetWindow(0, 0, nc, nr);
        r.CopyWindowInto(dst);
        r.SetWindow(nc / 4, nr / 4, nc / 2 + 1, nr / 2 + 1);
        r.CopyWindowInto(dst);
    }
    return 0;
}
