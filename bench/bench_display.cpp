// One tick of the live displays: the data source's cycle (taking the lines
// the acquisition thread stored), the waterfall's processData and the
// thresholds panel's updateGraph, for 2, 20 and 200 new lines. Reported in
// milliseconds, as a share of the 33 ms tick, and (for 2 lines, about what
// 50 lines per second bring at 30 ticks per second) as a share of one core.
// BM_DisplayTickWithMap adds the map's part of the tick: the aircraft moved
// along a track of 10,000 points, the view re-centred on every 7th tick,
// and the whole map view painted (960 x 400) as the screen would.
#include "datasource/cdatasource.h"
#include "datasource/cdspdatabuffer.h"
#include "datasource/coldcurve.h"
#include "display/displayowner.h"
#include "display/dspsig.h"
#include "display/waterfall.h"
#include "map/arcgisqtwidget.h"
#include "platform/identity.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QObject>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

class RingSource : public CDataSource {
public:
    explicit RingSource(ColdCurve *c) : ring(c) {}
    bool DoNextFwdCycle(int, bool, bool) override
    {
        newLines = ring.TakeNewLineCount();
        return false;
    }
    std::uint32_t GetNumNewImageLines() override { return newLines; }
    void GetPriorImageLine(std::uint32_t age, ScanLineRec *out) override { ring.GetPriorLine(age, out); }
    float GetAltitude() override { return ring.altitude() * 0.01f; }
    float GetPitch() override { return ring.pitch() * 0.01f; }
    float GetRoll() override { return ring.roll() * 0.01f; }
    float GetSpeed() override { return ring.speed() * 0.01f; }
    float GetHeading() override { return ring.heading() * 0.01f; }
    float GetTrack() override { return ring.track() * 0.01f; }
    void GetPosition(double *lat, double *lon) override
    {
        *lat = milliArcSecToDeg(ring.latitude());
        *lon = milliArcSecToDeg(ring.longitude());
    }
    std::uint32_t GetLineIndex() override { return ring.lineIndex(); }
    float GetChnBGain() override { return ring.chnBGain(); }
    void GetChnBMinMax(std::int32_t *mn, std::int32_t *mx) override
    {
        *mn = ring.chnBMin();
        *mx = ring.chnBMax();
    }
    std::int32_t GetChnBOffset() override { return ring.chnBOffset(); }
    void GetStatWords(std::uint32_t *a, std::uint32_t *b) override
    {
        *a = ring.statWord1();
        *b = ring.statWord2();
    }
    void GetVOverH(std::uint32_t *i, bool *on, std::uint32_t *o) override
    {
        *i = ring.vhInterval();
        *on = ring.vhOverrideOn();
        *o = ring.vhOverride();
    }
    std::uint32_t GetFireThreshold() override { return std::uint32_t(ring.fireThreshold()); }

    CDspDataBuffer ring;
    std::uint32_t newLines = 0;
};

class BenchOwner : public DisplayOwner {
public:
    CDataSource *displaySource() override { return source; }
    bool isRunRequested() const override { return false; }
    bool isMapMode() const override { return false; }
    bool isLogOpen() const override { return false; }
    bool isRecordArmed() const override { return true; }
    bool ManipulateLogFile(int, bool) override { return true; }
    void WriteLogLine(const ScanLineRec &) override {}
    PassServices *passServices() override { return nullptr; }
    QObject *stripChartParent() override { return nullptr; }
    std::int32_t chnBFireLimit() const override { return bMax; }
    void setChnBFireLimit(std::int32_t v) override { bMax = v; }
    std::int32_t chnBColdLimit() const override { return bMin; }
    void setChnBColdLimit(std::int32_t v) override { bMin = v; }
    ColdCurve *coldCurve() override { return &curve; }
    int fireZoomIdx() const override { return 2; }
    int fireZoomExp() const override { return 1; }
    int bMaxZoomIdx() const override { return 5; }
    int bMaxZoomExp() const override { return 1; }
    void setFireZoom(int, int) override {}
    void setBMaxZoom(int, int) override {}

    ColdCurve curve;
    CDataSource *source = nullptr;
    std::int32_t bMax = 65000, bMin = 1000;
};

ScanLineRec sampleLine(std::uint32_t index)
{
    ScanLineRec r;
    r.clear();
    r.lineIndex = index;
    r.vhInterval = 1;
    r.chnBGain = 1.0f;
    r.chnBOffset = 100;
    r.chnBMin = -40;
    r.chnBMax = 900 + int(index % 50);
    r.fireMargin = 60 + int(index % 80);
    r.latitude = 162000000;
    r.longitude = -426600000;
    r.altitude = 300000;
    r.speed = 6000;
    r.heading = std::uint16_t((index * 7) % 36000);
    r.roll = std::int16_t(int(index % 200) - 100);
    r.pitch = 150;
    for (int j = 0; j < SAMPLES_PER_LINE; ++j)
        r.pix[j] = std::uint8_t((j + index) % 256);
    return r;
}

void BM_DisplayTick(benchmark::State &state)
{
    const int lines = int(state.range(0));
    BenchOwner owner;
    owner.curve.resetStartValues();
    RingSource source(&owner.curve);
    owner.source = &source;
    WaterFall waterfall(&owner);
    DspSig panel(&owner);
    std::uint32_t index = 1;
    qint64 elapsedNs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QCoreApplication::processEvents();   // what the event loop does between ticks
        for (int i = 0; i < lines; ++i) {
            ScanLineRec l = sampleLine(index++);
            source.ring.StoreLine(l);
        }
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        waterfall.processData();
        panel.updateGraph();
        source.DoNextFwdCycle(0, false, true);
        elapsedNs += clock.nsecsElapsed();
    }
    const double tickMs = double(elapsedNs) / 1e6 / double(state.iterations());
    state.counters["lines"] = lines;
    state.counters["tick_ms"] = tickMs;
    state.counters["share_of_33ms_tick"] = tickMs / 33.0;
    // At about 30 ticks per second (50 lines per second come as 1 or 2 a tick).
    state.counters["core_share_at_30_ticks"] = tickMs * (1000.0 / 33.0) / 1000.0;
}
BENCHMARK(BM_DisplayTick)->Arg(2)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DisplayTickWithMap(benchmark::State &state)
{
    const int lines = int(state.range(0));
    BenchOwner owner;
    owner.curve.resetStartValues();
    RingSource source(&owner.curve);
    owner.source = &source;
    WaterFall waterfall(&owner);
    DspSig panel(&owner);
    ArcGISQTWidget map;
    map.resize(960, 400);
    map.show();
    QImage screen(map.view()->viewport()->size(), QImage::Format_RGB32);
    // A long run's track so far: 10,000 points 20 m apart, eastbound.
    double lon = -121.9;
    const double lat = 44.5;
    const double step = 20.0 / 111320.0 / std::cos(lat * M_PI / 180.0);
    for (int i = 0; i < 10000; ++i)
        map.SetAircraft(lat, lon += step, 90.0f);
    std::uint32_t index = 1;
    int tick = 0;
    qint64 elapsedNs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QCoreApplication::processEvents();
        for (int i = 0; i < lines; ++i) {
            ScanLineRec l = sampleLine(index++);
            source.ring.StoreLine(l);
        }
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        waterfall.processData();
        panel.updateGraph();
        source.DoNextFwdCycle(0, false, true);
        lon += step * lines / 16.0;   // about 1.2 m a line
        map.SetAircraft(lat, lon, 90.0f);
        if (++tick % 7 == 0)
            map.CenterOn(lat, lon);
        QPainter painter(&screen);
        map.view()->viewport()->render(&painter);
        painter.end();
        elapsedNs += clock.nsecsElapsed();
    }
    const double tickMs = double(elapsedNs) / 1e6 / double(state.iterations());
    state.counters["lines"] = lines;
    state.counters["tick_ms"] = tickMs;
    state.counters["share_of_33ms_tick"] = tickMs / 33.0;
    state.counters["track_points"] = map.trackPointCount();
}
BENCHMARK(BM_DisplayTickWithMap)->Arg(2)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    cindrel::applyApplicationIdentity();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
