#include "dsp/dsptiming.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace dsptiming {
namespace {
std::atomic<double> g_scale{1.0};
}

void setScale(double s) { g_scale.store(s < 0 ? 0.0 : s); }
double scale() { return g_scale.load(); }

void sleepMs(int ms)
{
    const double us = double(ms) * 1000.0 * g_scale.load();
    if (us < 1.0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(us)));
}

} // namespace dsptiming
