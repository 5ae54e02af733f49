// Flight log reader: a log of any content replayed with the host fire test
// through the ring, with a range filter, rewound and replayed again in
// batches.
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
    // First pass one cycle at a time with the fire test, second pass in
    // batches of three without it; every new line is taken from the ring as
    // the displays take them (the fuzz build's ring is small, so it wraps).
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < 64; ++k) {
            const bool ended = pass == 0 ? log.DoNextFwdCycle(0, false, true) : log.DoNextFwdCycles(3, false) < 3;
            const std::uint32_t fresh = log.GetNumNewImageLines();
            for (std::uint32_t age = 0; age < fresh; ++age)
                log.GetPriorImageLine(age, line.get());
            if (fresh > 0) {
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
