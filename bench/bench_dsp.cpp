// Lines per second the acquisition thread moves from the simulated board
// into the ring (interrupt wait, DMA set-up, DMA read with the controller
// mapping, copy, AddLine with the fire test), against AddLine alone in the
// same run. The board side runs on its own thread and only copies a
// prepared record, so the figure is the host's acquisition path.
#include "datasource/cdspdatabuffer.h"
#include "dsp/boardaccess.h"
#include "dsp/dspconsole.h"
#include "dsp/dspworker.h"
#include "dsp/simboard.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

// Copies of one prepared line with advancing line indices.
class ReplaySource : public SimLineSource {
public:
    ReplaySource()
    {
        PatternLineSource p;
        p.next(line_);
    }
    bool next(ScanLineRec &out) override
    {
        out = line_;
        out.lineIndex = n_++ * PatternLineSource::kInterval;
        return true;
    }
    double lineRateHz() const override { return -1; }
    void setChannelB(float, std::int32_t) override {}

private:
    ScanLineRec line_;
    std::uint32_t n_ = 0;
};

double addLineRate(CDspDataBuffer &buf, int lines)
{
    ReplaySource src;
    auto rec = std::make_unique<ScanLineRec>();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < lines; ++i) {
        src.next(*rec);
        buf.AddLine(*rec);
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return lines / s;
}

} // namespace

static void BM_AddLineAlone(benchmark::State &state)
{
    auto curve = std::make_unique<ColdCurve>();
    curve->resetStartValues();
    CDspDataBuffer buf(curve.get());
    buf.SetFireDetectParams(false, 30000, -30000, 0, 0, 0);
    ReplaySource src;
    auto rec = std::make_unique<ScanLineRec>();
    for (auto _ : state) {
        src.next(*rec);
        benchmark::DoNotOptimize(buf.AddLine(*rec));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddLineAlone);

// One iteration = a batch of 1000 lines through the whole acquisition path.
static void BM_AcquisitionPath(benchmark::State &state)
{
    constexpr int kBatch = 1000;
    SimBoardConfig cfg;
    cfg.lineRateHz = -1;    // as fast as the host takes them
    cfg.lossless = true;
    auto board = std::make_shared<SimBoard>(cfg);
    board->setLineSource(std::make_unique<ReplaySource>());
    dspconsole::startCapture();   // no discovery texts in the figures
    BoardAccess access(std::make_unique<SimDriverChannel>(board));
    if (access.Open() != 0) {
        state.SkipWithError("simulated board did not open");
        return;
    }
    board->forceRunning();
    auto curve = std::make_unique<ColdCurve>();
    curve->resetStartValues();
    CDspDataBuffer buf(curve.get());
    buf.SetFireDetectParams(false, 30000, -30000, 0, 0, 0);
    DspWorker worker(&access, &buf, 15308);
    std::thread acquisition([&] { worker.doWork(); });

    // Start the stream the way the host does: the start command in to-DSP mailbox 0.
    access.WriteAddress(4, 0x10860000, 265, true, BoardAccess::kSetRuntime);
    while (worker.linesMoved() < 10)
        std::this_thread::yield();

    std::uint64_t total = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const std::uint64_t target = worker.linesMoved() + kBatch;
        while (worker.linesMoved() < target)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        total += kBatch;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    access.WriteAddress(4, 0x10860000, 272, true, BoardAccess::kSetRuntime);
    worker.requestStop();
    acquisition.join();
    state.SetItemsProcessed(std::int64_t(total));
    dspconsole::stopCapture();

    // AddLine alone, in the same run, over as many lines.
    CDspDataBuffer ref(curve.get());
    ref.SetFireDetectParams(false, 30000, -30000, 0, 0, 0);
    const double alone = addLineRate(ref, 20000);
    const double path = double(total) / seconds;
    state.counters["path_lines_per_s"] = path;
    state.counters["addline_alone_per_s"] = alone;
    state.counters["path_vs_addline"] = path / alone;
}
BENCHMARK(BM_AcquisitionPath)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
