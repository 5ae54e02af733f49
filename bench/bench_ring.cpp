// AddLine throughput against a plain copy of one record.
#include "datasource/cdspdatabuffer.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>

namespace {
std::unique_ptr<ScanLineRec> makeLine()
{
    auto r = std::make_unique<ScanLineRec>();
    r->clear();
    r->chnBGain = 1.0f;
    r->vhInterval = 1;
    r->altitude = 300000;
    r->heading = 9000;
    r->latitude = 45 * 3600 * 1000;
    r->longitude = -120 * 3600 * 1000;
    r->fireThreshold = 100;
    std::mt19937 rng(1);
    for (int i = 0; i < SAMPLES_PER_LINE; ++i) {
        r->chanA[i] = int(rng() % 4000) - 2000;
        r->chanB[i] = int(rng() % 4000) - 2000;
        r->pix[i] = uint8_t(rng() % 256);
    }
    return r;
}
} // namespace

// Copy of one record into the next slot of a ring of the same size as the
// scan line ring (Arg 4096), and into a small cache-resident ring (Arg 16).
static void BM_RecordCopy(benchmark::State &state)
{
    const int slots = int(state.range(0));
    auto src = makeLine();
    auto ring = std::make_unique<ScanLineRec[]>(slots);
    std::memset(static_cast<void *>(ring.get()), 0, sizeof(ScanLineRec) * slots);
    int slot = 0;
    for (auto _ : state) {
        std::memcpy(static_cast<void *>(&ring[slot]), src.get(), sizeof(ScanLineRec));
        benchmark::DoNotOptimize(ring[slot].lineIndex);
        slot = slot + 1 == slots ? 0 : slot + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordCopy)->Arg(4096)->Arg(16);

static void BM_AddLine(benchmark::State &state)
{
    auto curve = std::make_unique<ColdCurve>();
    curve->resetStartValues();
    CDspDataBuffer buf(curve.get());
    buf.SetFireDetectParams(false, 1500, -1500, 0, 0, 10);
    auto line = makeLine();
    uint32_t idx = 0;
    for (auto _ : state) {
        line->lineIndex = idx++;
        buf.AddLine(*line);
        if ((idx & 1023) == 0)
            buf.TakeNewLineCount();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddLine);

BENCHMARK_MAIN();
