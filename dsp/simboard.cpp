#include "dsp/simboard.h"

#include "dsp/boardmap.h"
#include "dsp/dspboot.h"
#include "dsp/dsptiming.h"

#include <QStringList>
#include <QtGlobal>

#include <cstring>

using namespace dspdrv;

namespace {

constexpr std::size_t kLogCapacity = 1000000;

std::uint32_t word(const void *in, std::uint32_t inSize, int i)
{
    std::uint32_t v = 0;
    if (std::uint32_t(i + 1) * 4 <= inSize)
        std::memcpy(&v, static_cast<const std::uint8_t *>(in) + 4 * i, 4);
    return v;
}

SimProgramBehaviour programBehaviour(const SimBoardConfig &c)
{
    SimProgramBehaviour b;
    b.neverReady = c.neverReady;
    b.readyAtPoll = c.readyAtPoll;
    b.insLinkDown = c.insLinkDown;
    b.recordSize = c.recordSize;
    b.silentAfterReady = c.silentAfterReady;
    b.commandsStuck = c.commandsStuck;
    return b;
}

SimStreamBehaviour streamBehaviour(const SimBoardConfig &c)
{
    SimStreamBehaviour b;
    b.recordSize = c.recordSize;
    b.dmaFailAfter = c.dmaFailAfter;
    b.stallAfter = c.stallAfter;
    b.lineRateHz = c.lineRateHz;
    b.lossless = c.lossless;
    b.missedInterrupts = c.missedInterrupts;
    return b;
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
        else if (key == QLatin1String("missed-interrupts"))
            missedInterrupts = true;
        else if (key == QLatin1String("lowest-set"))
            lowestSetWins = true;
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

SimBoard::SimBoard(const SimBoardConfig &config)
    : cfg_(config), pcie_(cfg_.barSize, cfg_.lowestSetWins, &diagnostics_),
      psc_(cfg_.pscCompletionReads, cfg_.pscStuck,
           [this](std::uint32_t md, bool released, std::uint32_t state) { cores_.moduleChanged(md, released, state); }),
      fpga_(cfg_.rejectRbf), cores_(programBehaviour(cfg_), &memory_, &diagnostics_,
                                     [this](std::uint32_t w) { command(w); }),
      stream_(streamBehaviour(cfg_), &mutex_, &memory_, &pcie_, &diagnostics_)
{
}

SimBoard::~SimBoard() { stream_.shutdown(); }

void SimBoard::setLineSource(std::unique_ptr<SimLineSource> source)
{
    std::lock_guard<std::mutex> g(mutex_);
    stream_.setSource(std::move(source));
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

void SimBoard::command(std::uint32_t w)
{
    if (w == boardmap::kStartCommand)
        stream_.start();
    else if (w == boardmap::kStopCommand)
        stream_.stop();
}

// --------------------------------------------------------- configuration space

bool SimBoard::configRead(std::uint32_t offset, std::uint32_t *value, std::uint32_t *)
{
    std::lock_guard<std::mutex> g(mutex_);
    *value = pcie_.configRead(offset);
    return true;
}

bool SimBoard::configWrite(std::uint32_t offset, std::uint32_t value, std::uint32_t *)
{
    std::lock_guard<std::mutex> g(mutex_);
    record(Write::Config, offset, value, 1);
    pcie_.configWrite(offset, value);
    return true;
}

// ------------------------------------------------------------------------ BARs

void SimBoard::bar0Write(std::uint32_t wordIndex, std::uint32_t value)
{
    record(Write::Bar0, wordIndex * 4, value, 1);
    pcie_.bar0Write(wordIndex, value);
}

bool SimBoard::barRead(std::uint32_t bar, std::uint32_t wordIndex, std::uint32_t *value, std::uint32_t *error)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (bar == 0) {
        if (!pcie_.bar0Valid(wordIndex)) {
            *error = kErrorInvalidParameter;
            return false;
        }
        *value = pcie_.bar0Read(wordIndex);
        return true;
    }
    std::uint32_t address = 0;
    if (!pcie_.translate(bar, wordIndex * 4, &address, error))
        return false;
    *value = readWord(address);
    return true;
}

bool SimBoard::barWrite(std::uint32_t bar, std::uint32_t wordIndex, std::uint32_t value, std::uint32_t *error)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (bar == 0) {
        if (!pcie_.bar0Valid(wordIndex)) {
            *error = kErrorInvalidParameter;
            return false;
        }
        bar0Write(wordIndex, value);
        if (wordIndex * 4 == dspboot::kMsiOffset)
            cores_.wake(0);
        return true;
    }
    std::uint32_t address = 0;
    if (!pcie_.translate(bar, wordIndex * 4, &address, error))
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
        if (elem != 4 || fixedAddress || std::uint64_t(wordIndex) + count > SimPcie::kBar0Words) {
            *error = kErrorInvalidParameter;
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t v;
            std::memcpy(&v, data + 4 * i, 4);
            bar0Write(wordIndex + i, v);
        }
        return true;
    }
    const std::uint64_t span = fixedAddress ? elem : bytes;
    if (std::uint64_t(wordIndex) * 4 + span > pcie_.barSize(bar)) {
        diagnostics_.push_back("block write past the end of BAR " + std::to_string(bar));
        *error = kErrorInvalidParameter;
        return false;
    }
    std::uint32_t address = 0;
    if (!pcie_.translate(bar, wordIndex * 4, &address, error))
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
    memory_.write(address, data, std::uint32_t(bytes));
    return true;
}

// ----------------------------------------------------------- address routing

std::uint32_t SimBoard::readWord(std::uint32_t a)
{
    if ((a & 0xFFFFF000u) == dspboot::kPscBase)
        return psc_.read(a & 0xFFF);
    if ((a & 0xFFFFFF00u) == SimFpga::kGpioBase)
        return fpga_.read(a & 0xFF);
    std::uint32_t v = 0;
    if ((a & 0xFFFFF000u) == SimCores::kBootConfigBase && cores_.readBootConfig(a & 0xFFF, &v))
        return v;
    if (SimCores::isMailbox(a))
        return cores_.mailboxRead(a);
    return memory_.word(a);
}

void SimBoard::writeWord(std::uint32_t a, std::uint32_t v)
{
    if ((a & 0xFFFFF000u) == dspboot::kPscBase)
        psc_.write(a & 0xFFF, v);
    else if ((a & 0xFFFFFF00u) == SimFpga::kGpioBase)
        fpga_.write(a & 0xFF, v);
    else if ((a & 0xFFFFF000u) == SimCores::kBootConfigBase)
        cores_.writeBootConfig(a & 0xFFF, v);
    else if (SimCores::isMailbox(a))
        cores_.mailboxWritten(a, v);
    else
        memory_.setWord(a, v);
}

// --------------------------------------------------------------- DMA, stream

bool SimBoard::setupDma(const std::uint32_t *words, std::uint32_t *)
{
    std::lock_guard<std::mutex> g(mutex_);
    stream_.setupDma(words);
    return true;
}

bool SimBoard::dmaRead(std::uint32_t address, std::uint32_t, std::uint32_t count, std::uint8_t *out,
                       std::uint32_t *error)
{
    std::lock_guard<std::mutex> g(mutex_);
    return stream_.dmaRead(address, count, out, error);
}

bool SimBoard::dmaWrite(std::uint32_t address, std::uint32_t, std::uint32_t count, const std::uint8_t *in,
                        std::uint32_t *error)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (!stream_.dmaWrite(address, count, in, error))
        return false;
    record(Write::Block, address, 0, count);
    return true;
}

void SimBoard::addWaiter(const std::shared_ptr<EventWaiter> &w)
{
    std::lock_guard<std::mutex> g(mutex_);
    stream_.addWaiter(w);
}

void SimBoard::cancelWaiter(const std::shared_ptr<EventWaiter> &w)
{
    std::lock_guard<std::mutex> g(mutex_);
    stream_.cancelWaiter(w);
}

void SimBoard::raiseLine()
{
    std::unique_lock<std::mutex> lk(mutex_);
    stream_.raiseLine(lk);
}

void SimBoard::forceRunning()
{
    std::lock_guard<std::mutex> g(mutex_);
    cores_.forceRunning();
}

// ---------------------------------------------------------------- inspection

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
    return const_cast<SimMemory &>(memory_).word(address);
}

void SimBoard::poke(std::uint32_t address, std::uint32_t value)
{
    std::lock_guard<std::mutex> g(mutex_);
    memory_.setWord(address, value);
}

std::vector<std::uint8_t> SimBoard::fpgaBytes() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return fpga_.bytes();
}

bool SimBoard::fpgaConfigured() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return fpga_.configured();
}

bool SimBoard::coreRunning(std::uint32_t core) const
{
    std::lock_guard<std::mutex> g(mutex_);
    return cores_.running(core);
}

std::vector<std::string> SimBoard::diagnostics() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return diagnostics_;
}

std::vector<std::uint32_t> SimBoard::commands() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return cores_.commands();
}

std::vector<std::uint32_t> SimBoard::parameters() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return cores_.parameters();
}

std::unique_ptr<DriverChannel> makeSimulatedDriverChannel()
{
    const SimBoardConfig cfg = SimBoardConfig::fromEnvironment();
    if (cfg.timeScale >= 0)
        dsptiming::setScale(cfg.timeScale);
    return std::make_unique<SimDriverChannel>(std::make_shared<SimBoard>(cfg));
}
