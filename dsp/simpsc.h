#pragma once
// The simulated board's power and sleep controller: power domain and
// module control and status registers, and transitions that complete after
// a number of status reads. Not thread-safe: the board serialises every access.
#include <array>
#include <cstdint>
#include <functional>

class SimPowerController {
public:
    // Told of every module whose domain transition completed: its module
    // number, whether its local reset is released and its state.
    using ModuleListener = std::function<void(std::uint32_t md, bool released, std::uint32_t state)>;

    // completionReads: status reads until a transition completes (0 or less:
    // at once); stuck: transitions never complete.
    SimPowerController(int completionReads, bool stuck, ModuleListener listener);

    // Register offsets inside the controller's block.
    std::uint32_t read(std::uint32_t offset);
    void write(std::uint32_t offset, std::uint32_t value);

    // Power domain of a module.
    static std::uint32_t domainOf(std::uint32_t md);

private:
    void completeDomain(std::uint32_t pd);

    int completionReads_;
    bool stuck_;
    ModuleListener listener_;
    std::array<std::uint32_t, 32> pdctl_{};
    std::array<std::uint32_t, 32> mdctl_{};
    std::array<std::uint32_t, 32> mdstat_{};
    std::uint32_t ptstat_ = 0;
    std::array<int, 32> pendingReads_{};
};
