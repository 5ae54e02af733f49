// The simulated board's default lines: passes of the scene and flight
// model over the demo scene, flown back and forth across the fires.
#include "dsp/simlinesource.h"

#include "sim/linegenerator.h"
#include "sim/scene.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace {

std::shared_ptr<const sim::Scene> demoScene()
{
    static std::mutex m;
    static std::shared_ptr<const sim::Scene> scene;
    std::lock_guard<std::mutex> g(m);
    if (!scene)
        scene = std::make_shared<const sim::Scene>(sim::SceneParams());
    return scene;
}

class GeneratorLineSource final : public SimLineSource {
public:
    GeneratorLineSource(std::shared_ptr<const sim::Scene> scene, const sim::PassParams &pass)
        : scene_(std::move(scene)), gen_(*scene_, pass)
    {
    }
    bool next(ScanLineRec &out) override { return gen_.next(out); }
    double lineRateHz() const override { return gen_.lineRateHz(); }
    void setChannelB(float gain, std::int32_t offset) override { gen_.setChannelB(gain, offset); }

private:
    std::shared_ptr<const sim::Scene> scene_;   // outlives the generator, which refers to it
    sim::LineGenerator gen_;
};

std::atomic<int> g_pass{0};

} // namespace

std::unique_ptr<SimLineSource> makeDefaultSimLineSource()
{
    auto scene = demoScene();
    const int k = g_pass.fetch_add(1);
    const sim::SceneParams &sp = scene->params();
    sim::PassParams p;
    p.passNumber = k + 1;
    p.lineCount = 2000;
    // Alternate north- and southbound passes through the middle of the scene.
    const double halfLength = 0.03;
    p.headingDeg = (k % 2 == 0) ? 0.0 : 180.0;
    p.startLat = sp.centerLat + ((k % 2 == 0) ? -halfLength : halfLength);
    p.startLon = sp.centerLon + 0.004 * ((k / 2) % 3 - 1);
    p.firstLineIndex = 1000;
    return std::make_unique<GeneratorLineSource>(scene, p);
}
