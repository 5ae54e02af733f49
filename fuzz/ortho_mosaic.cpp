// Ortho TIFF reader of the mission mosaic: a palette ortho image of any
// content made into the mission's mosaic picture and heat point file.
// Input: the TIFF file's bytes.
#include "fuzz/fuzzsupport.h"
#include "geodata/cmosaic.h"

#include <QDir>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::init();
    QDir().mkpath(fuzzsupport::workDir() + QStringLiteral("/mosaic"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = fuzzsupport::workDir() + QStringLiteral("/mosaic/Fuzz_1_ortho.tif");
    if (!fuzzsupport::writeFile(path, data, size))
        return 0;
    CMosaic mosaic(path);
    (void)mosaic.Saved();
    return 0;
}
