// Flight log reader: a log of any content replayed with the host fire test
// through the ring, with a range filter, rewound and replayed again.
// Input: two bytes choosing the range filter, then the log file's bytes.
#include "datasource/ccindreldsplog.h"
#include "datasource/coldcurve.h"
#include "fuzz/fuzzsupport.h"

#include <memory>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // 0: no bound; otherwise a bound near the small indices seeds start at.
    const std::uint32_t first = data[0] ? std::uint32_t(data[0]) * 4 : 0;
    const std::uint32_t last = data[1] ? first + std::uint32_t(data[1]) * 8 : 0;
    const QString path = fuzzsupport::workDir() + QStringLiteral("/20240715_1432_Fuzz_1.plf");
    if (!fuzzsupport::writeFile(path, data + 2, size - 2))
        return 0;

    static ColdCurve curve;
    curve.resetStartValues();
    CCindrelDspLog log(first, last, &curve);
    log.OnFileOpen(path);
    auto line = std::make_unique<ScanLineRec>();
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < 64; ++k) {
            const bool ended = log.DoNextFwdCycle(0, false, true);
            if (log.GetNumNewImageLines() > 0) {
                log.GetPriorImageLine(0, line.get());
                double lat, lon;
                log.GetPosition(&lat, &lon);
                (void)log.GetTrack();
                (void)log.GetAltitude();
            }
            if (ended)
                break;
        }
        log.RewindLog();
    }
    std::uint32_t w, n, e, s;
    log.GetBoundingAreaOfLog(&w, &n, &e, &s);
    double mean, sd;
    log.GetImageStats(&mean, &sd);
    float a, b;
    log.GetScanRates(&a, &b);
    (void)log.IsOldLog();
    fuzzsupport::forgetNotices();
    return 0;
}
