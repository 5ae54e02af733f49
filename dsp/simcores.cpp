#include "dsp/simcores.h"

#include "dsp/boardmap.h"
#include "dsp/dspboot.h"
#include "dsp/simbootfiles.h"
#include "dsp/simmemory.h"

using namespace boardmap;

SimCores::SimCores(const SimProgramBehaviour &behaviour, SimMemory *memory, std::vector<std::string> *diagnostics,
                   CommandListener commands)
    : behaviour_(behaviour), memory_(memory), diagnostics_(diagnostics), commandListener_(std::move(commands))
{
}

// ---------------------------------------------------------- boot configuration

bool SimCores::readBootConfig(std::uint32_t off, std::uint32_t *value) const
{
    if (off == 0x38)
        *value = kick0_;
    else if (off == 0x3C)
        *value = kick1_;
    else if (off >= 0x40 && off < 0x60)
        *value = bootAddr_[(off - 0x40) / 4];
    else
        return false;
    return true;
}

void SimCores::writeBootConfig(std::uint32_t off, std::uint32_t v)
{
    const bool unlocked = kick0_ == dspboot::kKick0Unlock && kick1_ == dspboot::kKick1Unlock;
    if (off == 0x38) {
        kick0_ = v;
    } else if (off == 0x3C) {
        kick1_ = v;
    } else if (off >= 0x40 && off < 0x60) {
        if (unlocked)
            bootAddr_[(off - 0x40) / 4] = v;
        else
            diagnostics_->push_back("boot address written while the boot configuration is locked");
    } else if (off >= 0x240 && off < 0x260) {
        if ((v & 1u) && off > 0x240)
            wake((off - 0x240) / 4);
    } else {
        memory_->setWord(kBootConfigBase + off, v);
    }
}

// ---------------------------------------------------------------------- cores

void SimCores::moduleChanged(std::uint32_t md, bool released, std::uint32_t state)
{
    if (md < 15 || md >= 15 + kCores)
        return;
    const std::uint32_t core = md - 15;
    Core &c = cores_[core];
    if (!released || state != 3) {
        c = Core();
    } else if (!c.wokenToProgram && !c.running) {
        // Out of reset: the core runs from its boot address. The built-in
        // boot image waits there for a start request.
        std::string why;
        c.wokenToProgram = bootAddr_[core] == dspboot::translateLocalAddress(dspboot::kBootImageEntry, core)
                           && bootImageLoaded(core, &why);
    }
}

bool SimCores::bootImageLoaded(std::uint32_t core, std::string *why)
{
    const auto &img = dspboot::bootImage();
    auto be = [&](std::size_t i) {
        return (std::uint32_t(img[i]) << 24) | (std::uint32_t(img[i + 1]) << 16) | (std::uint32_t(img[i + 2]) << 8)
               | img[i + 3];
    };
    std::size_t i = 4;
    for (;;) {
        const std::uint32_t size = be(i);
        i += 4;
        if (size == 0)
            return true;
        const std::uint32_t address = dspboot::translateLocalAddress(be(i), core);
        i += 4;
        for (std::uint32_t w = 0; w < size / 4; ++w, i += 4) {
            if (memory_->word(address + 4 * w) != be(i)) {
                *why = "boot image of core " + std::to_string(core) + " differs at " + std::to_string(address + 4 * w);
                return false;
            }
        }
    }
}

// A start request: the boot image jumps to the address left in the core's
// boot magic word.
void SimCores::wake(std::uint32_t core)
{
    if (core >= kCores)
        return;
    Core &c = cores_[core];
    if (!c.wokenToProgram) {
        diagnostics_->push_back("core " + std::to_string(core) + " woken without its boot loader running");
        return;
    }
    const std::uint32_t entry = memory_->word(dspboot::bootMagicAddress(core));
    std::string why;
    if (entry != bootAddr_[core]) {
        diagnostics_->push_back("core " + std::to_string(core) + ": boot magic and boot address differ");
        return;
    }
    if (!checkProgram(core, entry, &why)) {
        diagnostics_->push_back(why);
        return;
    }
    c.running = true;
    if (core == 0) {
        clearMailboxes();
        memory_->setWord(kBoardStatus, behaviour_.insLinkDown ? kStatusInsLinkDown : 0);
    }
    programsReady_ = cores_[0].running && cores_[1].running && cores_[2].running;
}

bool SimCores::checkProgram(std::uint32_t core, std::uint32_t entry, std::string *why)
{
    const std::string who = "core " + std::to_string(core) + ": ";
    if ((entry >> 24) != 0x10 + core) {
        *why = who + "entry outside the core's memory";
        return false;
    }
    if (memory_->word(entry) != simboot::kProgramMagic || memory_->word(entry + 4) != core) {
        *why = who + "no program for this core at its entry";
        return false;
    }
    const std::uint32_t bss = memory_->word(entry + 8);
    const std::uint32_t bssSize = memory_->word(entry + 12);
    const std::uint32_t n = memory_->word(entry + 16);
    const std::uint32_t sum = memory_->word(entry + 20);
    if (n > 65536) {
        *why = who + "program corrupt";
        return false;
    }
    std::uint32_t s = 0;
    for (std::uint32_t i = 0; i < n; ++i)
        s += memory_->word(entry + 24 + 4 * i);
    if (s != sum) {
        *why = who + "program checksum wrong";
        return false;
    }
    const std::uint32_t bssGlobal = dspboot::translateLocalAddress(bss, core);
    for (std::uint32_t i = 0; i < bssSize; i += 4) {
        if (memory_->word(bssGlobal + i) != 0) {
            *why = who + "uninitialised data not cleared";
            return false;
        }
    }
    return true;
}

void SimCores::forceRunning()
{
    for (std::uint32_t c = 0; c < kProgramCores; ++c) {
        cores_[c].running = true;
        cores_[c].wokenToProgram = true;
    }
    clearMailboxes();
    programsReady_ = true;
    readyPosted_ = readyTaken_ = true;
}

// ------------------------------------------------------------------ mailboxes

bool SimCores::isMailbox(std::uint32_t address) { return address >= kToDspMailbox0 && address <= kLastMailboxWord; }

void SimCores::clearMailboxes()
{
    for (std::uint32_t a = kToDspMailbox0; a <= kLastMailboxWord; a += 4)
        memory_->setWord(a, 0);
}

std::uint32_t SimCores::mailboxRead(std::uint32_t a)
{
    if (a == fromDspMailbox(1) && programsReady_ && !readyPosted_ && !behaviour_.neverReady
        && !behaviour_.insLinkDown) {
        if (++readyPolls_ >= behaviour_.readyAtPoll) {
            memory_->setWord(a, kReadyCode);
            readyPosted_ = true;
        }
    }
    return memory_->word(a);
}

void SimCores::mailboxWritten(std::uint32_t a, std::uint32_t v)
{
    memory_->setWord(a, v);
    if (!programsReady_)
        return;
    if (a == fromDspMailbox(1) && v == 0 && readyPosted_ && !readyTaken_) {
        readyTaken_ = true;
        if (!behaviour_.silentAfterReady)
            memory_->setWord(a, behaviour_.recordSize);
        return;
    }
    if (a == toDspMailbox(0) && !behaviour_.commandsStuck) {
        commands_.push_back(v);
        memory_->setWord(a, 0);
        if (commandListener_)
            commandListener_(v);
        return;
    }
    if ((a == toDspMailbox(1) || a == toDspMailbox(2)) && !(behaviour_.silentAfterReady && readyTaken_)) {
        if (a == toDspMailbox(1))
            parameters_.push_back(v);
        memory_->setWord(a, 0);
    }
}
