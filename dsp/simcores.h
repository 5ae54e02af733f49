#pragma once
// The simulated board's DSP cores and their programs: the boot
// configuration registers (kick lock, boot addresses, start requests),
// cores coming out of local reset onto the built-in boot image, the check
// of the program a core is started on, and the mailboxes through which the
// programs answer the host. Not thread-safe: the board serialises every access.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class SimMemory;

struct SimProgramBehaviour {
    bool neverReady = false;          // the programs never answer the handshake
    int readyAtPoll = 1;              // the ready code shows at this poll of from-DSP mailbox 1
    bool insLinkDown = false;         // status word 3, no ready code
    std::uint32_t recordSize = 15308; // record size the programs report
    bool silentAfterReady = false;    // after the ready code: no record size, to-DSP words not taken
    bool commandsStuck = false;       // to-DSP mailbox 0 never taken
};

class SimCores {
public:
    static constexpr std::uint32_t kBootConfigBase = 0x02620000;
    static constexpr std::uint32_t kCores = 8;
    static constexpr std::uint32_t kProgramCores = 3;   // the programs run on cores 0 to 2

    // Told of every command word the programs take from to-DSP mailbox 0.
    using CommandListener = std::function<void(std::uint32_t command)>;

    SimCores(const SimProgramBehaviour &behaviour, SimMemory *memory, std::vector<std::string> *diagnostics,
             CommandListener commands);

    // Boot configuration block (offsets inside it). read: false when the
    // offset is plain memory.
    bool readBootConfig(std::uint32_t offset, std::uint32_t *value) const;
    void writeBootConfig(std::uint32_t offset, std::uint32_t value);

    // A module of the power controller changed state.
    void moduleChanged(std::uint32_t md, bool released, std::uint32_t state);
    // A start request (inter-processor interrupt or MSI for core 0).
    void wake(std::uint32_t core);

    static bool isMailbox(std::uint32_t address);
    std::uint32_t mailboxRead(std::uint32_t address);
    void mailboxWritten(std::uint32_t address, std::uint32_t value);

    bool running(std::uint32_t core) const { return core < kCores && cores_[core].running; }
    const std::vector<std::uint32_t> &commands() const { return commands_; }
    const std::vector<std::uint32_t> &parameters() const { return parameters_; }
    // The state a completed start-up leaves.
    void forceRunning();

private:
    struct Core {
        bool wokenToProgram = false;
        bool running = false;
    };
    bool checkProgram(std::uint32_t core, std::uint32_t entry, std::string *why);
    bool bootImageLoaded(std::uint32_t core, std::string *why);
    void clearMailboxes();

    SimProgramBehaviour behaviour_;
    SimMemory *memory_;
    std::vector<std::string> *diagnostics_;
    CommandListener commandListener_;

    // boot configuration
    std::uint32_t kick0_ = 0, kick1_ = 0;
    std::array<std::uint32_t, kCores> bootAddr_{};
    std::array<Core, kCores> cores_{};

    // programs and mailboxes
    bool programsReady_ = false;
    int readyPolls_ = 0;
    bool readyPosted_ = false;
    bool readyTaken_ = false;
    std::vector<std::uint32_t> commands_;
    std::vector<std::uint32_t> parameters_;
};
