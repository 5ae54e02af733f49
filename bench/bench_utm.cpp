// Forward and inverse transverse Mercator conversions per second over the
// service area, zoned and on a fixed central meridian.
#include "datasource/cutmconverter.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {
struct LatLon {
    double lat, lon;
};
std::vector<LatLon> points()
{
    std::vector<LatLon> p;
    for (double lat = 24.0; lat <= 71.5; lat += 0.5)
        for (double lon = -170.0; lon <= -66.0; lon += 0.5)
            p.push_back({lat, lon});
    return p;
}
} // namespace

static void BM_Forward(benchmark::State &state)
{
    CUtmConverter c;
    if (state.range(0) != 0)
        c.SetCentralMeridian(int(state.range(0)));
    const auto pts = points();
    std::size_t i = 0;
    double n, e;
    std::int32_t z;
    for (auto _ : state) {
        const LatLon &p = pts[i];
        c.LatLonToUtm(p.lat, p.lon, &n, &e, &z, 3);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(e);
        i = i + 1 == pts.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Forward)->Arg(0)->Arg(-120);

static void BM_Inverse(benchmark::State &state)
{
    CUtmConverter c;
    struct Grid {
        double n, e;
        std::int32_t zone;
    };
    std::vector<Grid> grid;
    for (const LatLon &p : points()) {
        Grid g;
        c.LatLonToUtm(p.lat, p.lon, &g.n, &g.e, &g.zone, 3);
        grid.push_back(g);
    }
    std::size_t i = 0;
    double lat, lon;
    for (auto _ : state) {
        const Grid &g = grid[i];
        c.UtmToLatLon(g.n, g.e, g.zone, &lat, &lon, 3);
        benchmark::DoNotOptimize(lat);
        benchmark::DoNotOptimize(lon);
        i = i + 1 == grid.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Inverse);

BENCHMARK_MAIN();
