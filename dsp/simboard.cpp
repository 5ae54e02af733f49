#include "dsp/simboard.h"

#include "dsp/dspboot.h"
#include "dsp/dsptiming.h"

#include <QStringList>
#include <QtGlobal>

#include <chrono>
#include <cstring>

using namespace dspdrv;

namespace {

constexpr std::uint32_t kToDsp0 = 0x10860000;
constexpr std::uint32_t kFromDsp0 = 0x10860004;
constexpr std::uint32_t kToDsp1 = 0x10860008;
constexpr std::uint32_t kFromDsp1 = 0x1086000C;
constexpr std::uint32_t kToDsp2 = 0x10860010;
constexpr std::uint32_t kFromDsp2 = 0x10860014;
constexpr std::uint32_t kStatusWord = 0x10860068;
constexpr std::uint32_t kReadyCode = 0xA5A5;
constexpr std::uint32_t kRecordAddress = 0x82014000;
constexpr std::uint32_t kGainAddress = 0x82004004;
constexpr std::uint32_t kOffsetAddress = 0x82004008;
constexpr std::uint32_t kVhOverrideAddress = 0x82004020;
constexpr std::uint32_t kVhEnableAddress = 0x82004024;
constexpr std::uint32_t kThresholdAddress = 0x82004064;
constexpr std::size_t kFifoCapacity = 256;
constexpr std::size_t kLogCapacity = 1000000;

constexpr std::array<std::uint32_t, 6> kBarBase{{0xF7F00000, 0xF6000008, 0xF5000000, 0xF4000000, 0xF3000000, 0}};

// Power domain of each PSC module.
std::uint32_t domainOf(std::uint32_t md)
{
    if (md >= 15 && md <= 22)
        return md - 7;   // core n: module 15 + n, domain 8 + n
    switch (md) {
    case 5: case 6: return 1;
    case 7: case 8: case 9: return 2;
    case 11: return 4;
    case 14: return 7;
    default: return 0;
    }
}

// Core-local memory the programs' loader must clear holds leftovers at power-up.
bool dirtyAtPowerUp(std::uint32_t address)
{
    const std::uint32_t core = (address >> 24) - 0x10;
    if (core > 7)
        return false;
    const std::uint32_t local = address & 0x00FFFFFF;
    return local >= 0x800000 && local < 0x850000;
}

class SimRequest final : public DriverRequest {
public:
    SimRequest(bool ok, std::uint32_t error) : ok_(ok), error_(error) {}
    bool issueFailed() const override { return !ok_; }
    bool waitEvent(int) override { return ok_; }
    void cancel() override {}
    bool result(std::uint32_t *bytes, std::uint32_t *error) override
    {
        if (bytes)
            *bytes = 0;
        if (!ok_ && error)
            *error = error_;
        return ok_;
    }
    std::uint32_t error() const override { return error_; }

private:
    bool ok_;
    std::uint32_t error_;
};

class SimCallbackRequest final : public DriverRequest {
public:
    SimCallbackRequest(std::shared_ptr<SimBoard> board, void *out, std::uint32_t outSize)
        : board_(std::move(board)), out_(out), outSize_(outSize), waiter_(std::make_shared<SimBoard::EventWaiter>())
    {
        board_->addWaiter(waiter_);
    }
    ~SimCallbackRequest() override
    {
        cancel();
    }
    bool issueFailed() const override { return false; }
    std::uint32_t error() const override { return 0; }
    bool waitEvent(int timeoutMs) override
    {
        std::unique_lock<std::mutex> lk(waiter_->m);
        auto done = [this] { return waiter_->done || waiter_->cancelled; };
        if (timeoutMs < 0)
            waiter_->cv.wait(lk, done);
        else
            waiter_->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), done);
        return waiter_->done;
    }
    void cancel() override { board_->cancelWaiter(waiter_); }
    bool result(std::uint32_t *bytes, std::uint32_t *error) override
    {
        std::unique_lock<std::mutex> lk(waiter_->m);
        waiter_->cv.wait(lk, [this] { return waiter_->done || waiter_->cancelled; });
        if (waiter_->done) {
            if (out_ && outSize_ >= 4) {
                const std::uint32_t one = 1;
                std::memcpy(out_, &one, 4);
            }
            if (bytes)
                *bytes = 4;
            return true;
        }
        if (error)
            *error = kErrorOperationAborted;
        return false;
    }

private:
    std::shared_ptr<SimBoard> board_;
    void *out_;
    std::uint32_t outSize_;
    std::shared_ptr<SimBoard::EventWaiter> waiter_;
};

std::uint32_t word(const void *in, std::uint32_t inSize, int i)
{
    std::uint32_t v = 0;
    if (std::uint32_t(i + 1) * 4 <= inSize)
        std::memcpy(&v, static_cast<const std::uint8_t *>(in) + 4 * i, 4);
    return v;
}

} // namespace

// ------------------------------------------------------------------ config

bool SimBoardConfig::parse(const QString &recipe, QString *error)
{
    bool allOk = true;
    const QStringList items = recipe.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString item : items) {
        item = item.trimmed().toLower();
        const int eq = item.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? item : item.left(eq);
        const QString value = eq < 0 ? QString() : item.mid(eq + 1);
        bool ok = true;
        if (key == QLatin1String("no-board"))
            boards = 0;
        else if (key == QLatin1String("two-boards"))
            boards = 2;
        else if (key == QLatin1String("no-handshake"))
            neverReady = true;
        else if (key == QLatin1String("late-handshake"))
            readyAtPoll = 50;
        else if (key == QLatin1String("ins-down"))
            insLinkDown = true;
        else if (key == QLatin1String("bad-rbf"))
            rejectRbf = true;
        else if (key == QLatin1String("psc-stuck"))
            pscStuck = true;
        else if (key == QLatin1String("record-size"))
            recordSize = value.toUInt(&ok);
        else if (key == QLatin1String("dma-fail"))
            dmaFailAfter = value.toInt(&ok);
        else if (key == QLatin1String("stall"))
            stallAfter = value.toInt(&ok);
        else if (key == QLatin1String("rate"))
            lineRateHz = value.toDouble(&ok);
        else if (key == QLatin1String("time-scale"))
            timeScale = value.toDouble(&ok);
        else
            ok = false;
        if (!ok) {
            allOk = false;
            if (error)
                *error += QStringLiteral("unknown simulated board setting \"%1\"\n").arg(item);
        }
    }
    return allOk;
}

SimBoardConfig SimBoardConfig::fromEnvironment()
{
    SimBoardConfig c;
    const QString recipe = qEnvironmentVariable("CINDREL_SIM_DSP");
    QString error;
    if (!recipe.isEmpty() && !c.parse(recipe, &error))
        qWarning("CINDREL_SIM_DSP: %s", qPrintable(error.trimmed()));
    return c;
}

// ------------------------------------------------------------------- board

SimBoard::SimBoard(const SimBoardConfig &config) : cfg_(config)
{
    for (int b = 0; b < 6; ++b)
        barValue_[b] = cfg_.barSize[b] ? kBarBase[b] : 0;
    for (std::uint32_t md = 0; md < 32; ++md) {
        mdctl_[md] = 0x103;
        mdstat_[md] = 0x303;
    }
    pdctl_.fill(1);
}

SimBoard::~SimBoard()
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        stopStream_ = true;
        streaming_ = false;
        for (auto &w : waiters_) {
            std::lock_guard<std::mutex> wl(w->m);
            w->cancelled = true;
            w->cv.notify_all();
        }
        waiters_.clear();
    }
    streamCv_.notify_all();
    if (streamThread_.joinable())
        streamThread_.join();
}

void SimBoard::setLineSource(std::unique_ptr<SimLineSource> source)
{
    std::lock_guard<std::mutex> g(mutex_);
    source_ = std::move(source);
}

std::wstring SimBoard::devicePath(int i)
{
    return L"\\\\?\\pci#ven_104c&dev_b005&subsys_00000000&rev_01#sim" + std::to_wstring(i)
           + L"#{3e05be16-df06-409b-8c39-60b0847f5884}";
}

void SimBoard::record(Write::Kind kind, std::uint32_t address, std::uint32_t value, std::uint32_t count)
{
    if (writes_.size() < kLogCapacity)
        writes_.push_back({kind, address, value, count});
}

void SimBoard::logRequest(std::uint32_t code, const void *in, std::uint32_t inSize, std::uint32_t dataSize)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (requests_.size() >= kLogCapacity)
        return;
    Request r{code, inSize, dataSize, {{0, 0, 0, 0}}};
    for (int i = 0; i < 4; ++i)
        r.in[i] = word(in, inSize, i);
    requests_.push_back(r);
}

// Configuration space: the BAR registers behave as real ones do, keeping
// only the address bits their size allows, so writing all ones and reading
// back gives the size mask.
bool SimBoard::configRead(std::uint32_t offset, std::uint32_t *value, std::uint32_t *)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (offset == 0)
        *value = 0xB005104C;
    else if (offset >= 0x10 && offset < 0x28 && (offset & 3) == 0)
        *value = barValue_[(offset - 0x10) / 4];
    else
        *value = 0;
    return true;
}

bool SimBoard::configWrite(std::uint32_t offset, std::uint32_t value, std::uint32_t *)
{
    std::lock_guard<std::mutex> g(mutex_);
    record(Write::Config, offset, value, 1);
    if (offset >= 0x10 && offset < 0x28 && (offset & 3) == 0) {
        const std::uint32_t bar = (offset - 0x10) / 4;
        const std::uint32_t size = cfg_.barSize[bar];
        if (size == 0)
            barValue_[bar] = 0;
        else
            barValue_[bar] = (value & ~(size - 1) & ~0xFu) | (kBarBase[bar] & 0xFu);
    }
    return true;
}

bool SimBoard::translate(std::uint32_t bar, std::uint32_t byteOffset, std::uint32_t *address, std::uint32_t *error)
{
    if (bar > 5 || cfg_.barSize[bar] == 0 || byteOffset >= cfg_.barSize[bar]) {
        *error = kErrorInvalidParameter;
        return false;
    }
    int best = -1;
    for (int s = 0; s < 4; ++s) {
        const std::uint32_t base = (0x300 + 0x10 * s) / 4;
        if (bar0_[base] == bar && bar0_[base + 1] == (barValue_[bar] & ~0xFu) && setSeq_[s] > 0
            && (best < 0 || setSeq_[s] > setSeq_[best]))
            best = s;
    }
    if (best < 0) {
        if (diagnostics_.size() < 1000)
            diagnostics_.push_back("access through BAR " + std::to_string(bar) + " with no translation set");
        *error = kErrorGenFailure;
        return false;
    }
    *address = (bar0_[(0x300 + 0x10 * best) / 4 + 3] & 0xFFFFFF00u) + byteOffset;
    return true;
}

SimBoard::Page &SimBoard::page(std::uint32_t address)
{
    const std::uint32_t key = address >> 12;
    auto it = pages_.find(key);
    if (it != pages_.end())
        return *it->second;
    auto p = std::make_unique<Page>();
    if (dirtyAtPowerUp(address)) {
        for (std::size_t i = 0; i < p->size(); i += 4) {
            (*p)[i] = 0xEF;
            (*p)[i + 1] = 0xBE;
            (*p)[i + 2] = 0xAD;
            (*p)[i + 3] = 0xDE;
        }
    } else {
        p->fill(0);
    }
    Page &ref = *p;
    pages_.emplace(key, std::move(p));
    return ref;
}

void SimBoard::memRead(std::uint32_t address, std::uint8_t *out, std::uint32_t n)
{
    while (n > 0) {
        const std::uint32_t off = address & 0xFFF;
        const std::uint32_t take = std::min<std::uint32_t>(n, 4096 - off);
        std::memcpy(out, page(address).data() + off, take);
        address += take;
        out += take;
        n -= take;
    }
}

void SimBoard::memWrite(std::uint32_t address, const std::uint8_t *in, std::uint32_t n)
{
    while (n > 0) {
        const std::uint32_t off = address & 0xFFF;
        const std::uint32_t take = std::min<std::uint32_t>(n, 4096 - off);
        std::memcpy(page(address).data() + off, in, take);
        address += take;
        in += take;
        n -= take;
    }
}

std::uint32_t SimBoard::memWord(std::uint32_t address)
{
    std::uint32_t v = 0;
    memRead(address, reinterpret_cast<std::uint8_t *>(&v), 4);
    return v;
}

void SimBoard::setMemWord(std::uint32_t address, std::uint32_t value)
{
    memWrite(address, reinterpret_cast<const std::uint8_t *>(&value), 4);
}

// ------------------------------------------------------------------ BARs

bool SimBoard::barRead(std::uint32_t bar, std::uint32_t wordIndex, std::uint32_t *value, std::uint32_t *error)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (bar == 0) {
        if (wordIndex >= bar0_.size()) {
            *error = kErrorInvalidParameter;
            return false;
        }
        *value = bar0_[wordIndex];
        return true;
    }
    std::uint32_t address = 0;
    if (!translate(bar, wordIndex * 4, &address, error))
        return false;
    *value = readWord(address);
    return true;
}

bool SimBoard::barWrite(std::uint32_t bar, std::uint32_t wordIndex, std::uint32_t value, std::uint32_t *error)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (bar == 0) {
        if (wordIndex >= bar0_.size()) {
            *error = kErrorInvalidParameter;
            return false;
        }
        record(Write::Bar0, wordIndex * 4, value, 1);
        bar0_[wordIndex] = value;
        if (wordIndex * 4 >= 0x300 && wordIndex * 4 < 0x340)
            setSeq_[(wordIndex * 4 - 0x300) / 0x10] = ++seq_;
        if (wordIndex * 4 == dspboot::kMsiOffset)
            wakeCore(0);
        return true;
    }
    std::uint32_t address = 0;
    if (!translate(bar, wordIndex * 4, &address, error))
        return false;
    record(Write::Board, address, value, 1);
    writeWord(address, value);
    return true;
}

bool SimBoard::barWriteBlock(std::uint32_t bar, std::uint32_t wordIndex, std::uint32_t count, std::uint32_t width,
                             const std::uint8_t *data, bool fixedAddress, std::uint32_t *error)
{
    std::lock_guard<std::mutex> g(mutex_);
    const std::uint32_t elem = width == 0 ? 1 : width == 1 ? 2 : width == 2 ? 4 : 0;
    if (elem == 0 || count == 0)
        return true;   // nothing to write
    const std::uint64_t bytes = std::uint64_t(count) * elem;
    if (bar == 0) {
        if (elem != 4 || fixedAddress || wordIndex + count > bar0_.size()) {
            *error = kErrorInvalidParameter;
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t v;
            std::memcpy(&v, data + 4 * i, 4);
            const std::uint32_t w = wordIndex + i;
            record(Write::Bar0, w * 4, v, 1);
            bar0_[w] = v;
            if (w * 4 >= 0x300 && w * 4 < 0x340)
                setSeq_[(w * 4 - 0x300) / 0x10] = ++seq_;
        }
        return true;
    }
    const std::uint64_t span = fixedAddress ? elem : bytes;
    if (std::uint64_t(wordIndex) * 4 + span > cfg_.barSize[bar]) {
        diagnostics_.push_back("block write past the end of BAR " + std::to_string(bar));
        *error = kErrorInvalidParameter;
        return false;
    }
    std::uint32_t address = 0;
    if (!translate(bar, wordIndex * 4, &address, error))
        return false;
    if (fixedAddress) {
        std::uint32_t last = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t v = 0;
            std::memcpy(&v, data + std::size_t(i) * elem, elem);
            last = v;
            writeWord(address, v);
        }
        record(Write::Static, address, last, count);
        return true;
    }
    std::uint32_t first = 0;
    std::memcpy(&first, data, std::min<std::uint64_t>(4, bytes));
    record(Write::Block, address, first, std::uint32_t(bytes));
    memWrite(address, data, std::uint32_t(bytes));
    return true;
}

// -------------------------------------------------------- board registers

std::uint32_t SimBoard::readWord(std::uint32_t a)
{
    if ((a & 0xFFFFF000u) == dspboot::kPscBase)
        return pscRead(a & 0xFFF);
    if ((a & 0xFFFFFF00u) == 0x02320000u) {
        switch (a & 0xFF) {
        case 0x10: return gpioDir_;
        case 0x14: return gpioOut_;
        case 0x20: return (fpgaDone_ ? 2u : 0u) | (gpioOut_ & 0x31u);
        default: return 0;
        }
    }
    if ((a & 0xFFFFF000u) == 0x02620000u) {
        const std::uint32_t off = a & 0xFFF;
        if (off == 0x38)
            return kick0_;
        if (off == 0x3C)
            return kick1_;
        if (off >= 0x40 && off < 0x60)
            return bootAddr_[(off - 0x40) / 4];
    }
    if (a == kFromDsp1)
        return mailboxRead(a);
    return memWord(a);
}

void SimBoard::writeWord(std::uint32_t a, std::uint32_t v)
{
    if ((a & 0xFFFFF000u) == dspboot::kPscBase) {
        pscWrite(a & 0xFFF, v);
        return;
    }
    if ((a & 0xFFFFFF00u) == 0x02320000u) {
        switch (a & 0xFF) {
        case 0x10: gpioDir_ = v; break;
        case 0x14: gpioOutput(v); break;
        case 0x18: gpioOutput(gpioOut_ | v); break;
        case 0x1C: gpioOutput(gpioOut_ & ~v); break;
        default: break;
        }
        return;
    }
    if ((a & 0xFFFFF000u) == 0x02620000u) {
        const std::uint32_t off = a & 0xFFF;
        const bool unlocked = kick0_ == dspboot::kKick0Unlock && kick1_ == dspboot::kKick1Unlock;
        if (off == 0x38) {
            kick0_ = v;
        } else if (off == 0x3C) {
            kick1_ = v;
        } else if (off >= 0x40 && off < 0x60) {
            if (unlocked)
                bootAddr_[(off - 0x40) / 4] = v;
            else
                diagnostics_.push_back("boot address written while the boot configuration is locked");
        } else if (off >= 0x240 && off < 0x260) {
            if ((v & 1u) && off > 0x240)
                wakeCore((off - 0x240) / 4);
        } else {
            setMemWord(a, v);
        }
        return;
    }
    if (a >= kToDsp0 && a <= kFromDsp2) {
        mailboxWritten(a, v);
        return;
    }
    setMemWord(a, v);
}

// ------------------------------------------------ power and sleep controller

std::uint32_t SimBoard::pscRead(std::uint32_t off)
{
    if (off == dspboot::kPtcmd)
        return 0;
    if (off == dspboot::kPtstat) {
        const std::uint32_t v = ptstat_;
        if (!cfg_.pscStuck) {
            for (std::uint32_t pd = 0; pd < 32; ++pd) {
                if ((ptstat_ & (1u << pd)) && --pendingReads_[pd] <= 0)
                    completeDomain(pd);
            }
        }
        return v;
    }
    if (off >= 0x300 && off < 0x380)
        return pdctl_[(off - 0x300) / 4];
    if (off >= 0x800 && off < 0x880)
        return mdstat_[(off - 0x800) / 4];
    if (off >= 0xA00 && off < 0xA80)
        return mdctl_[(off - 0xA00) / 4];
    return 0;
}

void SimBoard::pscWrite(std::uint32_t off, std::uint32_t v)
{
    if (off == dspboot::kPtcmd) {
        for (std::uint32_t pd = 0; pd < 32; ++pd) {
            if (v & (1u << pd)) {
                ptstat_ |= 1u << pd;
                pendingReads_[pd] = cfg_.pscCompletionReads;
                if (!cfg_.pscStuck && cfg_.pscCompletionReads <= 0)
                    completeDomain(pd);
            }
        }
    } else if (off >= 0x300 && off < 0x380) {
        pdctl_[(off - 0x300) / 4] = v;
    } else if (off >= 0xA00 && off < 0xA80) {
        mdctl_[(off - 0xA00) / 4] = v;
    }
}

void SimBoard::completeDomain(std::uint32_t pd)
{
    ptstat_ &= ~(1u << pd);
    for (std::uint32_t md = 0; md < 32; ++md) {
        if (domainOf(md) != pd)
            continue;
        const bool lrstz = (mdctl_[md] & 0x100u) != 0;
        const std::uint32_t state = mdctl_[md] & 0x1Fu;
        mdstat_[md] = state | (lrstz ? 0x300u : 0u);
        if (md >= 15 && md < 23) {
            const std::uint32_t core = md - 15;
            Core &c = cores_[core];
            if (!lrstz || state != 3) {
                c = Core();
            } else if (!c.wokenToProgram && !c.running) {
                // Out of reset: the core runs from its boot address. The
                // built-in boot image waits there for a start request.
                std::string why;
                c.wokenToProgram = bootAddr_[core] == dspboot::translateLocalAddress(dspboot::kBootImageEntry, core)
                                   && bootImageLoaded(core, &why);
            }
        }
    }
}

bool SimBoard::bootImageLoaded(std::uint32_t core, std::string *why)
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
            if (memWord(address + 4 * w) != be(i)) {
                *why = "boot image of core " + std::to_string(core) + " differs at " + std::to_string(address + 4 * w);
                return false;
            }
        }
    }
}

// A start request: the boot image jumps to the address left in the core's
// boot magic word.
void SimBoard::wakeCore(std::uint32_t core)
{
    if (core > 7)
        return;
    Core &c = cores_[core];
    if (!c.wokenToProgram) {
        diagnostics_.push_back("core " + std::to_string(core) + " woken without its boot loader running");
        return;
    }
    const std::uint32_t entry = memWord(dspboot::bootMagicAddress(core));
    std::string why;
    if (entry != bootAddr_[core]) {
        diagnostics_.push_back("core " + std::to_string(core) + ": boot magic and boot address differ");
        return;
    }
    if (!checkProgram(core, entry, &why)) {
        diagnostics_.push_back(why);
        return;
    }
    c.running = true;
    if (core == 0) {
        for (std::uint32_t a = kToDsp0; a <= kFromDsp2; a += 4)
            setMemWord(a, 0);
        setMemWord(kStatusWord, cfg_.insLinkDown ? 3 : 0);
    }
    programsReady_ = cores_[0].running && cores_[1].running && cores_[2].running;
}

bool SimBoard::checkProgram(std::uint32_t core, std::uint32_t entry, std::string *why)
{
    const std::string who = "core " + std::to_string(core) + ": ";
    if ((entry >> 24) != 0x10 + core) {
        *why = who + "entry outside the core's memory";
        return false;
    }
    if (memWord(entry) != simboot::kProgramMagic || memWord(entry + 4) != core) {
        *why = who + "no program for this core at its entry";
        return false;
    }
    const std::uint32_t bss = memWord(entry + 8);
    const std::uint32_t bssSize = memWord(entry + 12);
    const std::uint32_t n = memWord(entry + 16);
    const std::uint32_t sum = memWord(entry + 20);
    if (n > 65536) {
        *why = who + "program corrupt";
        return false;
    }
    std::uint32_t s = 0;
    for (std::uint32_t i = 0; i < n; ++i)
        s += memWord(entry + 24 + 4 * i);
    if (s != sum) {
        *why = who + "program checksum wrong";
        return false;
    }
    const std::uint32_t bssGlobal = dspboot::translateLocalAddress(bss, core);
    for (std::uint32_t i = 0; i < bssSize; i += 4) {
        if (memWord(bssGlobal + i) != 0) {
            *why = who + "uninitialised data not cleared";
            return false;
        }
    }
    return true;
}

// ------------------------------------------------------------ GPIO / FPGA

void SimBoard::gpioOutput(std::uint32_t v)
{
    const std::uint32_t old = gpioOut_;
    gpioOut_ = v;
    // Only pins set as outputs (direction bit 0) reach the FPGA.
    const bool driven = (gpioDir_ & 0x31u) == 0;
    if (!driven)
        return;
    const bool nconfigWas = old & 1u;
    const bool nconfig = v & 1u;
    if (nconfigWas && !nconfig) {
        configuring_ = false;
        fpgaDone_ = false;
    } else if (!nconfigWas && nconfig) {
        configuring_ = true;
        bitPos_ = 0;
        shift_ = 0;
        fpgaBytes_.clear();
        rbf_.reset();
    }
    if (configuring_ && nconfig && !(old & 0x10u) && (v & 0x10u)) {
        shift_ |= std::uint8_t(((v >> 5) & 1u) << bitPos_);
        if (++bitPos_ == 8) {
            fpgaBytes_.push_back(shift_);
            rbf_.push(shift_);
            if (rbf_.complete() && !cfg_.rejectRbf)
                fpgaDone_ = true;
            bitPos_ = 0;
            shift_ = 0;
        }
    }
}

// -------------------------------------------------------------- mailboxes

std::uint32_t SimBoard::mailboxRead(std::uint32_t a)
{
    if (a == kFromDsp1 && programsReady_ && !readyPosted_ && !cfg_.neverReady && !cfg_.insLinkDown) {
        if (++readyPolls_ >= cfg_.readyAtPoll) {
            setMemWord(kFromDsp1, kReadyCode);
            readyPosted_ = true;
        }
    }
    return memWord(a);
}

void SimBoard::mailboxWritten(std::uint32_t a, std::uint32_t v)
{
    setMemWord(a, v);
    if (!programsReady_)
        return;
    if (a == kFromDsp1 && v == 0 && readyPosted_ && !readyTaken_) {
        readyTaken_ = true;
        if (!cfg_.silentAfterReady) {
            setMemWord(kFromDsp1, cfg_.recordSize);
            sizePosted_ = true;
        }
        return;
    }
    if (a == kToDsp0 && !cfg_.commandsStuck) {
        commands_.push_back(v);
        setMemWord(a, 0);
        if (v == 265)
            startStream();
        else if (v == 272) {
            streaming_ = false;
            streamCv_.notify_all();
        }
        return;
    }
    if ((a == kToDsp1 || a == kToDsp2) && !(cfg_.silentAfterReady && readyTaken_)) {
        if (a == kToDsp1)
            parameters_.push_back(v);
        setMemWord(a, 0);
    }
}

// ----------------------------------------------------------------- stream

void SimBoard::startStream()
{
    streaming_ = true;
    if (!streamThread_.joinable())
        streamThread_ = std::thread(&SimBoard::streamLoop, this);
    streamCv_.notify_all();
}

void SimBoard::streamLoop()
{
    using clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lk(mutex_);
    bool wasOn = false;
    clock::time_point due = clock::now();
    while (!stopStream_) {
        if (!streaming_) {
            wasOn = false;
            streamCv_.wait(lk);
            continue;
        }
        if (!source_) {
            // Building the scene takes a moment: not while holding the board.
            lk.unlock();
            auto source = makeDefaultSimLineSource();
            lk.lock();
            if (!source_)
                source_ = std::move(source);
            continue;
        }
        if (!wasOn) {
            wasOn = true;
            due = clock::now();
        }
        if (cfg_.stallAfter >= 0 && produced_.load() >= std::uint64_t(cfg_.stallAfter)) {
            streamCv_.wait(lk);
            continue;
        }
        if (cfg_.lossless && fifo_.size() >= kFifoCapacity) {
            streamCv_.wait(lk);
            continue;
        }
        const double rate = cfg_.lineRateHz != 0 ? cfg_.lineRateHz : (source_ ? source_->lineRateHz() : 20.0);
        if (rate > 0) {
            const auto now = clock::now();
            if (now < due) {
                streamCv_.wait_until(lk, due);
                continue;
            }
            due += std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / rate));
            if (now - due > std::chrono::seconds(1))
                due = now;   // fell far behind: do not burst
        }
        produceLocked(lk);
    }
}

void SimBoard::produceLocked(std::unique_lock<std::mutex> &lk)
{
    std::uint32_t gainBits = memWord(kGainAddress);
    const std::int32_t offset = std::int32_t(memWord(kOffsetAddress));
    const std::uint32_t vhOverride = memWord(kVhOverrideAddress);
    const std::uint32_t vhOn = memWord(kVhEnableAddress);
    const std::int32_t threshold = std::int32_t(memWord(kThresholdAddress));
    float gain = 0;
    std::memcpy(&gain, &gainBits, 4);
    const bool hostGain = gain >= 0.1f && gain <= 50.0f;

    auto rec = std::make_unique<ScanLineRec>();
    {
        SimLineSource *src = source_.get();
        lk.unlock();
        if (hostGain)
            src->setChannelB(gain, offset);
        bool ok = src->next(*rec);
        lk.lock();
        if (!ok) {
            // The pass is over: the next pass starts.
            lk.unlock();
            auto fresh = makeDefaultSimLineSource();
            lk.lock();
            source_ = std::move(fresh);
            src = source_.get();
            lk.unlock();
            if (hostGain)
                src->setChannelB(gain, offset);
            ok = src->next(*rec);
            lk.lock();
            if (!ok)
                return;
        }
    }
    if (hostGain) {
        rec->chnBGain = gain;
        rec->chnBOffset = offset;
    }
    rec->vhOverride = vhOverride;
    rec->vhOverrideOn = vhOn;
    if (threshold != 0)
        rec->fireThreshold = threshold;
    // Line indices advance by the effective interval of the line before.
    if (lastIndexValid_)
        rec->lineIndex = lastIndex_ + lastInterval_;
    lastIndexValid_ = true;
    lastIndex_ = rec->lineIndex;
    lastInterval_ = rec->effectiveInterval();

    if (!cfg_.lossless && fifo_.size() >= kFifoCapacity)
        fifo_.pop_front();   // the host fell behind: the oldest line is lost
    fifo_.push_back(std::move(rec));
    ++produced_;
    deliverLocked();
}

void SimBoard::deliverLocked()
{
    while (!waiters_.empty() && !fifo_.empty()) {
        std::shared_ptr<EventWaiter> w = waiters_.front();
        waiters_.pop_front();
        std::unique_ptr<ScanLineRec> rec = std::move(fifo_.front());
        fifo_.pop_front();
        const std::uint32_t n = std::min<std::uint32_t>(cfg_.recordSize, sizeof(ScanLineRec));
        std::vector<std::uint8_t> bytes(std::max<std::uint32_t>(cfg_.recordSize, 4), 0);
        std::memcpy(bytes.data(), rec.get(), n);
        memWrite(kRecordAddress, bytes.data(), std::uint32_t(bytes.size()));
        ++delivered_;
        std::lock_guard<std::mutex> wl(w->m);
        w->done = true;
        w->cv.notify_all();
    }
    if (cfg_.lossless)
        streamCv_.notify_all();
}

void SimBoard::addWaiter(const std::shared_ptr<EventWaiter> &w)
{
    std::lock_guard<std::mutex> g(mutex_);
    waiters_.push_back(w);
    deliverLocked();
}

void SimBoard::cancelWaiter(const std::shared_ptr<EventWaiter> &w)
{
    std::lock_guard<std::mutex> g(mutex_);
    std::lock_guard<std::mutex> wl(w->m);
    if (w->done || w->cancelled)
        return;
    w->cancelled = true;
    for (auto it = waiters_.begin(); it != waiters_.end(); ++it) {
        if (*it == w) {
            waiters_.erase(it);
            break;
        }
    }
    w->cv.notify_all();
}

void SimBoard::raiseLine()
{
    std::unique_lock<std::mutex> lk(mutex_);
    if (!source_) {
        lk.unlock();
        auto source = makeDefaultSimLineSource();
        lk.lock();
        if (!source_)
            source_ = std::move(source);
    }
    produceLocked(lk);
}

void SimBoard::forceRunning()
{
    std::lock_guard<std::mutex> g(mutex_);
    for (std::uint32_t c = 0; c < 3; ++c) {
        cores_[c].running = true;
        cores_[c].wokenToProgram = true;
    }
    for (std::uint32_t a = kToDsp0; a <= kFromDsp2; a += 4)
        setMemWord(a, 0);
    programsReady_ = true;
    readyPosted_ = readyTaken_ = sizePosted_ = true;
}

// ---------------------------------------------------------------- DMA

bool SimBoard::setupDma(const std::uint32_t *words, std::uint32_t *)
{
    std::lock_guard<std::mutex> g(mutex_);
    std::memcpy(dmaWords_.data(), words, 36);
    dmaSetUp_ = true;
    return true;
}

bool SimBoard::dmaRead(std::uint32_t address, std::uint32_t, std::uint32_t count, std::uint8_t *out,
                       std::uint32_t *error)
{
    std::lock_guard<std::mutex> g(mutex_);
    std::uint32_t mapped = 0;
    if (!dmaSetUp_ || !translate(3, 0, &mapped, error) || mapped < dspboot::kDmaController0
        || mapped > dspboot::kDmaController0 + 0x40000 || (mapped & 0x1FFFF) != 0) {
        diagnostics_.push_back("DMA read without a set-up and mapped channel controller");
        *error = kErrorGenFailure;
        return false;
    }
    if (address == kRecordAddress) {
        ++recordReads_;
        if (cfg_.dmaFailAfter >= 0 && recordReads_ > cfg_.dmaFailAfter) {
            *error = kErrorIoDevice;
            return false;
        }
    }
    memRead(address, out, count);
    return true;
}

bool SimBoard::dmaWrite(std::uint32_t address, std::uint32_t, std::uint32_t count, const std::uint8_t *in,
                        std::uint32_t *error)
{
    std::lock_guard<std::mutex> g(mutex_);
    std::uint32_t mapped = 0;
    if (!dmaSetUp_ || !translate(3, 0, &mapped, error) || mapped < dspboot::kDmaController0
        || mapped > dspboot::kDmaController0 + 0x40000 || (mapped & 0x1FFFF) != 0) {
        diagnostics_.push_back("DMA write without a set-up and mapped channel controller");
        *error = kErrorGenFailure;
        return false;
    }
    record(Write::Block, address, 0, count);
    memWrite(address, in, count);
    return true;
}

// ---------------------------------------------------------- inspection

std::vector<SimBoard::Write> SimBoard::writes() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return writes_;
}

void SimBoard::clearWrites()
{
    std::lock_guard<std::mutex> g(mutex_);
    writes_.clear();
}

std::vector<SimBoard::Request> SimBoard::requests() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return requests_;
}

void SimBoard::clearRequests()
{
    std::lock_guard<std::mutex> g(mutex_);
    requests_.clear();
}

std::uint32_t SimBoard::peek(std::uint32_t address) const
{
    std::lock_guard<std::mutex> g(mutex_);
    return const_cast<SimBoard *>(this)->memWord(address);
}

void SimBoard::poke(std::uint32_t address, std::uint32_t value)
{
    std::lock_guard<std::mutex> g(mutex_);
    setMemWord(address, value);
}

std::vector<std::uint8_t> SimBoard::fpgaBytes() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return fpgaBytes_;
}

bool SimBoard::fpgaConfigured() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return fpgaDone_;
}

bool SimBoard::coreRunning(std::uint32_t core) const
{
    std::lock_guard<std::mutex> g(mutex_);
    return core < 8 && cores_[core].running;
}

std::vector<std::string> SimBoard::diagnostics() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return diagnostics_;
}

std::vector<std::uint32_t> SimBoard::commands() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return commands_;
}

std::vector<std::uint32_t> SimBoard::parameters() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return parameters_;
}

// ---------------------------------------------------------------- channel

SimDriverChannel::SimDriverChannel(std::shared_ptr<SimBoard> board) : board_(std::move(board)) {}

SimDriverChannel::~SimDriverChannel() { closeDevice(); }

bool SimDriverChannel::openDeviceInfoSet(std::uint32_t *)
{
    infoSet_ = true;
    return true;
}

void SimDriverChannel::closeDeviceInfoSet() { infoSet_ = false; }

bool SimDriverChannel::enumInterface(std::uint32_t index, std::uint32_t *error)
{
    if (!infoSet_) {
        *error = kErrorInvalidHandle;
        return false;
    }
    if (int(index) >= board_->config().boards) {
        *error = kErrorNoMoreItems;
        return false;
    }
    return true;
}

bool SimDriverChannel::interfaceDetail(std::uint32_t index, std::wstring *path, std::uint32_t *error)
{
    if (!enumInterface(index, error))
        return false;
    *path = SimBoard::devicePath(int(index));
    return true;
}

bool SimDriverChannel::registryProperty(std::uint32_t index, std::uint32_t property, std::wstring *value,
                                        std::uint32_t *error)
{
    if (!enumInterface(index, error))
        return false;
    if (property == kPropertyDeviceDescription) {
        *value = L"KEPA KeyStone PCIe DSP board (simulated)";
        return true;
    }
    if (property == kPropertyLocationInformation) {
        *value = L"PCI bus " + std::to_wstring(3 + index) + L", device 0, function 0";
        return true;
    }
    *error = kErrorInvalidParameter;
    return false;
}

bool SimDriverChannel::openDevice(const std::wstring &path, std::uint32_t *error)
{
    for (int i = 0; i < board_->config().boards; ++i) {
        if (path == SimBoard::devicePath(i)) {
            if (!open_)
                board_->handleOpened();
            open_ = true;
            return true;
        }
    }
    *error = kErrorFileNotFound;
    return false;
}

void SimDriverChannel::closeDevice()
{
    if (open_)
        board_->handleClosed();
    open_ = false;
}

std::unique_ptr<DriverRequest> SimDriverChannel::issue(std::uint32_t code, const void *in, std::uint32_t inSize,
                                                       void *data, std::uint32_t dataSize, bool)
{
    board_->logRequest(code, in, inSize, dataSize);
    auto done = [](bool ok, std::uint32_t err) { return std::unique_ptr<DriverRequest>(new SimRequest(ok, err)); };
    if (!open_)
        return done(false, kErrorInvalidHandle);
    std::uint32_t err = 0;
    auto *bytes = static_cast<std::uint8_t *>(data);
    switch (code) {
    case IOCTL_READ_CONFIG_SPACE: {
        if (inSize != 4 || dataSize != 4)
            return done(false, kErrorInvalidParameter);
        std::uint32_t v = 0;
        const bool ok = board_->configRead(word(in, inSize, 0), &v, &err);
        if (ok)
            std::memcpy(data, &v, 4);
        return done(ok, err);
    }
    case IOCTL_WRITE_CONFIG_SPACE:
        if (inSize != 12 || word(in, inSize, 1) != 4)
            return done(false, kErrorInvalidParameter);
        return done(board_->configWrite(word(in, inSize, 0), word(in, inSize, 2), &err), err);
    case IOCTL_READ_ADDRESS: {
        if (inSize != 8 || dataSize != 4)
            return done(false, kErrorInvalidParameter);
        std::uint32_t v = 0;
        const bool ok = board_->barRead(word(in, inSize, 0), word(in, inSize, 1), &v, &err);
        if (ok)
            std::memcpy(data, &v, 4);
        return done(ok, err);
    }
    case IOCTL_WRITE_ADDRESS:
        if (inSize != 12)
            return done(false, kErrorInvalidParameter);
        return done(board_->barWrite(word(in, inSize, 0), word(in, inSize, 1), word(in, inSize, 2), &err), err);
    case IOCTL_WRITE_ADDRESS_BUF:
    case IOCTL_WRITE_ADDRESS_STATIC: {
        if (inSize != 16)
            return done(false, kErrorInvalidParameter);
        const std::uint32_t count = word(in, inSize, 2);
        const std::uint32_t width = word(in, inSize, 3);
        const std::uint64_t expect = width == 0 ? count : width == 1 ? 2ull * count : width == 2 ? 4ull * count : 0;
        if (expect != dataSize || (dataSize && !data))
            return done(false, kErrorInvalidParameter);
        return done(board_->barWriteBlock(word(in, inSize, 0), word(in, inSize, 1), count, width, bytes,
                                          code == IOCTL_WRITE_ADDRESS_STATIC, &err),
                    err);
    }
    case IOCTL_READ_DMA:
    case IOCTL_WRITE_DMA: {
        if (inSize != 12 || word(in, inSize, 2) != dataSize || (dataSize && !data))
            return done(false, kErrorInvalidParameter);
        const bool ok = code == IOCTL_READ_DMA
                            ? board_->dmaRead(word(in, inSize, 0), word(in, inSize, 1), dataSize, bytes, &err)
                            : board_->dmaWrite(word(in, inSize, 0), word(in, inSize, 1), dataSize, bytes, &err);
        return done(ok, err);
    }
    case IOCTL_SETUP_DMA: {
        if (inSize != 36)
            return done(false, kErrorInvalidParameter);
        std::uint32_t w[9];
        std::memcpy(w, in, 36);
        return done(board_->setupDma(w, &err), err);
    }
    case IOCTL_CALLBACK_EVENT_0:
    case IOCTL_CALLBACK_EVENT_1:
        if (inSize != 0 || dataSize != 4)
            return done(false, kErrorInvalidParameter);
        return std::unique_ptr<DriverRequest>(new SimCallbackRequest(board_, data, dataSize));
    default:
        return done(false, kErrorInvalidFunction);
    }
}

std::wstring SimDriverChannel::systemMessage(std::uint32_t error)
{
    switch (error) {
    case kErrorInvalidFunction: return L"Incorrect function.\r\n";
    case kErrorFileNotFound: return L"The system cannot find the file specified.\r\n";
    case kErrorInvalidHandle: return L"The handle is invalid.\r\n";
    case kErrorNotEnoughMemory: return L"Not enough memory resources are available to process this command.\r\n";
    case kErrorGenFailure: return L"A device attached to the system is not functioning.\r\n";
    case kErrorInvalidParameter: return L"The parameter is incorrect.\r\n";
    case kErrorOperationAborted:
        return L"The I/O operation has been aborted because of either a thread exit or an application request.\r\n";
    case kErrorIoDevice: return L"The request could not be performed because of an I/O device error.\r\n";
    default: return L"Unknown error.\r\n";
    }
}

std::unique_ptr<DriverChannel> makeDefaultDriverChannel()
{
#ifdef _WIN32
    if (qEnvironmentVariable("CINDREL_DSP_CHANNEL") == QLatin1String("driver"))
        return makeWindowsDriverChannel();
#endif
    const SimBoardConfig cfg = SimBoardConfig::fromEnvironment();
    if (cfg.timeScale >= 0)
        dsptiming::setScale(cfg.timeScale);
    return std::make_unique<SimDriverChannel>(std::make_shared<SimBoard>(cfg));
}
