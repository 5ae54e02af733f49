#include "dsp/boardaccess.h"

#include "dsp/channelselect.h"
#include "dsp/dspconsole.h"
#include "dsp/simboard.h"
#include "platform/notice.h"

#include <QApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <cstring>

using namespace dspdrv;

namespace {
thread_local std::uint32_t t_lastError = 0;

std::uint32_t barRegister(std::uint32_t bar) { return 0x10 + 4 * bar; }
} // namespace

std::unique_ptr<DriverChannel> makeDefaultDriverChannel()
{
    return makeSelectedChannel([] { return makeSimulatedDriverChannel(); });
}

BoardAccess::BoardAccess() : BoardAccess(makeDefaultDriverChannel()) {}

BoardAccess::BoardAccess(std::unique_ptr<DriverChannel> channel) : channel_(std::move(channel)) {}

BoardAccess::~BoardAccess() { Close(); }

void BoardAccess::Close()
{
    if (!channel_)
        return;
    if (infoSet_)
        channel_->closeDeviceInfoSet();
    infoSet_ = false;
    haveDetail_ = false;
    devicePath_.clear();
    channel_->closeDevice();
}

bool BoardAccess::isOpen() const { return channel_ && channel_->deviceOpen(); }

std::uint32_t BoardAccess::lastError() { return t_lastError; }
void BoardAccess::setLastError(std::uint32_t error) { t_lastError = error; }

// ---------------------------------------------------------------- discovery

int BoardAccess::GetDevicePath()
{
    std::uint32_t err = 0;
    if (infoSet_)
        channel_->closeDeviceInfoSet();
    infoSet_ = channel_->openDeviceInfoSet(&err);
    if (!infoSet_) {
        dspconsole::print("SetupDiGetClassDevs failed, Error: %u\n", err);
        return -1;
    }

    std::uint32_t boards = 0;
    while (channel_->enumInterface(boards, &err))
        ++boards;
    if (boards == 0) {
        dspconsole::write("No KEPA devices are present and enabled in the system.\n");
        return -1;
    }

    for (std::uint32_t i = 0; i < boards; ++i) {
        std::wstring path;
        if (!channel_->interfaceDetail(i, &path, &err)) {
            if (err == kErrorNotEnoughMemory)
                dspconsole::write("Insufficient memory.\n");
            else
                dspconsole::print("SetupDiGetDeviceInterfaceDetail failed, Error: %u", err);
            return -1;
        }
        std::wstring description;
        if (!channel_->registryProperty(i, kPropertyDeviceDescription, &description, &err)) {
            if (err == kErrorNotEnoughMemory)
                dspconsole::write("Insufficient memory.\n");
            else
                dspconsole::print("SetupDiGetDeviceRegistryProperty failed, Error: %u", err);
            return -1;
        }
        std::wstring location;
        const bool haveLocation = channel_->registryProperty(i, kPropertyLocationInformation, &location, &err);

        if (boards > 1)
            dspconsole::print("%u- ", i);
        dspconsole::writeWide(L"\n|  DeviceName: " + description);
        if (i == 0)
            firstDescription_ = description;
        if (haveLocation) {
            dspconsole::writeWide(L"\n|  DeviceLocation: " + location);
            lastLocation_ = location;
        }
    }

    int chosen = 0;
    if (boards > 1) {
        dspconsole::write("\nSelect Device: ");
        if (!dspconsole::readInt(&chosen))
            return -1;
    }
    if (chosen < 0 || !channel_->enumInterface(std::uint32_t(chosen), &err)) {
        dspconsole::print("SetupDiEnumDeviceInterfaces failed, Error: %u", chosen < 0 ? kErrorNoMoreItems : err);
        return -1;
    }
    std::wstring path;
    if (!channel_->interfaceDetail(std::uint32_t(chosen), &path, &err)) {
        if (err == kErrorNotEnoughMemory)
            dspconsole::write("Insufficient memory.\n");
        else
            dspconsole::print("SetupDiGetDeviceInterfaceDetail failed, Error: %u", err);
        return -1;
    }
    devicePath_ = path;
    haveDetail_ = true;
    return 0;
}

int BoardAccess::GetDeviceHandle()
{
    if (discoveryFailed_) {
        dspconsole::write("\nGetDevicePath failed");
        return -1;
    }
    if (!haveDetail_ && GetDevicePath() != 0) {
        dspconsole::write("\nGetDevicePath failed");
        return -1;
    }
    std::uint32_t err = 0;
    if (!channel_->openDevice(devicePath_, &err)) {
        dspconsole::print("CreateFile failed.  Error:%u", err);
        dspconsole::write("\nGetDeviceHandle failed");
        return -1;
    }
    firstDescription_.clear();
    lastLocation_.clear();
    return 0;
}

int BoardAccess::Open()
{
    if (!channel_)
        return -1;
    discoveryFailed_ = GetDevicePath() != 0;
    if (GetDeviceHandle() != 0)
        return -1;
    retireAllSets();
    return 0;
}

void BoardAccess::retireAllSets()
{
    std::lock_guard<std::mutex> g(setsMutex_);
    setBar_.clear();
    for (const std::uint32_t set : {kSetBootImage, kSetBoot, kSetRuntime}) {
        WriteAddress(0, set, 0);
        setBar_[set] = 0;
    }
}

void BoardAccess::claimSet(std::uint32_t set, std::uint32_t bar)
{
    std::lock_guard<std::mutex> g(setsMutex_);
    for (auto &other : setBar_) {
        if (other.first != set && other.second == bar) {
            WriteAddress(0, other.first, 0);
            other.second = 0;
        }
    }
    setBar_[set] = bar;
}

// ------------------------------------------------------------ request pattern

int BoardAccess::request(std::uint32_t code, const void *in, std::uint32_t inSize, void *data,
                         std::uint32_t dataSize, bool autoReset, const char *name, bool showError)
{
    ++requests_;
    auto req = channel_->issue(code, in, inSize, data, dataSize, autoReset);
    std::uint32_t err = 0;
    std::uint32_t bytes = 0;
    if (req->issueFailed()) {
        err = req->error();
    } else if (req->result(&bytes, &err)) {
        return 0;
    }
    t_lastError = err;
    if (showError)
        ShowLastError(name);
    return -1;
}

int BoardAccess::ReadConfigSpace(std::uint32_t offset, std::uint32_t *value)
{
    std::uint32_t out = 0;
    if (request(IOCTL_READ_CONFIG_SPACE, &offset, 4, &out, 4, true, "ReadConfigSpace") != 0)
        return -1;
    if (value)
        *value = out;
    return 0;
}

int BoardAccess::WriteConfigSpace(std::uint32_t offset, std::uint32_t value)
{
    const std::uint32_t in[3] = {offset, 4, value};
    return request(IOCTL_WRITE_CONFIG_SPACE, in, sizeof(in), nullptr, 0, true, "WriteConfigSpace");
}

int BoardAccess::ReadAddress(std::uint32_t bar, std::uint32_t address, std::uint32_t *value, bool moveWindow,
                             std::uint32_t set)
{
    std::uint32_t offset = address;
    if (moveWindow) {
        if (bar == 0 || SetInboundWindow(bar, set, address) <= 0)
            return -1;
        offset = address & 0xFF;
    }
    const std::uint32_t in[2] = {bar, offset / 4};
    std::uint32_t out = 0;
    if (request(IOCTL_READ_ADDRESS, in, sizeof(in), &out, 4, true, "ReadAddress", false) != 0)
        return -1;
    if (value)
        *value = out;
    return 0;
}

int BoardAccess::WriteAddress(std::uint32_t bar, std::uint32_t address, std::uint32_t value, bool moveWindow,
                              std::uint32_t set)
{
    std::uint32_t offset = address;
    if (moveWindow) {
        if (bar == 0 || SetInboundWindow(bar, set, address) <= 0)
            return -1;
        offset = address & 0xFF;
    }
    const std::uint32_t in[3] = {bar, offset / 4, value};
    return request(IOCTL_WRITE_ADDRESS, in, sizeof(in), nullptr, 0, false, "WriteAddress");
}

int BoardAccess::writeBlock(std::uint32_t code, std::uint32_t bar, std::uint32_t address, std::uint32_t count,
                            std::uint32_t width, const void *data, bool moveWindow, std::uint32_t set)
{
    std::uint32_t offset = address;
    if (moveWindow) {
        if (bar == 0 || SetInboundWindow(bar, set, address) <= 0)
            return -1;
        offset = address & 0xFF;
    }
    std::uint32_t bytes = 0;
    switch (width) {
    case 0: bytes = count; break;
    case 1: bytes = count * 2; break;
    case 2: bytes = count * 4; break;
    default: bytes = 0; break;
    }
    const std::uint32_t in[4] = {bar, offset / 4, count, width};
    return request(code, in, sizeof(in), bytes ? const_cast<void *>(data) : nullptr, bytes, false,
                   "WriteAddressBuf");
}

int BoardAccess::WriteAddressBuf(std::uint32_t bar, std::uint32_t address, std::uint32_t count,
                                 std::uint32_t width, const void *data, bool moveWindow, std::uint32_t set)
{
    return writeBlock(IOCTL_WRITE_ADDRESS_BUF, bar, address, count, width, data, moveWindow, set);
}

int BoardAccess::WriteAddressStatic(std::uint32_t bar, std::uint32_t address, std::uint32_t count,
                                    std::uint32_t width, const void *data, bool moveWindow)
{
    return writeBlock(IOCTL_WRITE_ADDRESS_STATIC, bar, address, count, width, data, moveWindow, kSetBoot);
}

std::int64_t BoardAccess::SetInboundWindow(std::uint32_t bar, std::uint32_t set, std::uint32_t address)
{
    if (bar == 0 || bar > 5)
        return -1;
    std::uint32_t saved = 0;
    std::uint32_t mask = 0;
    if (ReadConfigSpace(barRegister(bar), &saved) != 0 || WriteConfigSpace(barRegister(bar), 0xFFFFFFF0u) != 0
        || ReadConfigSpace(barRegister(bar), &mask) != 0 || WriteConfigSpace(barRegister(bar), saved) != 0)
        return -1;
    const std::uint32_t size = std::uint32_t(0u - (mask & ~0xFu));
    claimSet(set, bar);
    const std::uint32_t words[4] = {bar, saved & ~0xFu, 0, address};
    if (WriteAddressBuf(0, set, 4, 2, words, false, set) != 0)
        return -1;
    return std::int64_t(size);
}

// ---------------------------------------------------------------------- DMA

int BoardAccess::mapDmaController(std::uint32_t controller)
{
    std::uint32_t saved = 0;
    std::uint32_t mask = 0;
    if (ReadConfigSpace(barRegister(3), &saved) != 0 || WriteConfigSpace(barRegister(3), 0xFFFFFFF0u) != 0
        || ReadConfigSpace(barRegister(3), &mask) != 0 || WriteConfigSpace(barRegister(3), saved) != 0) {
        dspconsole::write("Unable to read configuration space!\n");
        return -1;
    }
    claimSet(kSetBoot, 3);
    const std::uint32_t words[4] = {3, saved & ~0xFu, 0, (controller + 312u) << 17};
    if (WriteAddressBuf(0, kSetBoot, 4, 2, words, false, kSetBoot) != 0) {
        dspconsole::write("Unable to write buffer!\n");
        return -1;
    }
    return 0;
}

int BoardAccess::dmaTransfer(std::uint32_t code, const char *name, std::uint32_t boardAddress,
                             std::uint32_t controller, std::uint32_t channelWord, std::uint32_t byteCount,
                             void *buffer, bool mapController)
{
    if (mapController && mapDmaController(controller) != 0)
        return -1;
    const std::uint32_t in[3] = {boardAddress, channelWord, byteCount};
    return request(code, in, sizeof(in), buffer, byteCount, false, name);
}

int BoardAccess::ReadDma(std::uint32_t boardAddress, std::uint32_t controller, std::uint32_t channelWord,
                         std::uint32_t byteCount, void *buffer, bool mapController)
{
    return dmaTransfer(IOCTL_READ_DMA, "ReadDma", boardAddress, controller, channelWord, byteCount, buffer,
                       mapController);
}

int BoardAccess::WriteDma(std::uint32_t boardAddress, std::uint32_t controller, std::uint32_t channelWord,
                          std::uint32_t byteCount, const void *buffer, bool mapController)
{
    return dmaTransfer(IOCTL_WRITE_DMA, "WriteDma", boardAddress, controller, channelWord, byteCount,
                       const_cast<void *>(buffer), mapController);
}

int BoardAccess::SetupDMA(const std::uint32_t words[9])
{
    return request(IOCTL_SETUP_DMA, words, 36, nullptr, 0, false, "SetupDMA");
}

int BoardAccess::SetupCallbackEvent(std::uint32_t *out, int timeoutMs, int variant)
{
    ++requests_;
    std::uint32_t word = 0;
    const std::uint32_t code = variant == 0 ? IOCTL_CALLBACK_EVENT_0 : IOCTL_CALLBACK_EVENT_1;
    auto req = channel_->issue(code, nullptr, 0, &word, 4, false);
    if (req->issueFailed()) {
        t_lastError = req->error();
        ShowLastError("SetupCallbackEvent");
        return -1;
    }
    std::uint32_t bytes = 0;
    std::uint32_t err = 0;
    if (req->waitEvent(timeoutMs)) {
        if (!req->result(&bytes, &err)) {
            t_lastError = err;
            ShowLastError("SetupCallbackEvent");
            return -1;
        }
        if (out)
            *out = word;
        return 0;
    }
    // Time-out: cancel and wait until the request has completed. An event
    // that arrived while the time-out ran out still counts, so that its
    // scan line is not lost.
    req->cancel();
    if (req->result(&bytes, &err)) {
        if (out)
            *out = word;
        return 0;
    }
    t_lastError = kErrorWaitTimeout;
    return -1;
}

// ------------------------------------------------------------------- errors

void BoardAccess::ShowLastError(const char *operationName)
{
    const std::uint32_t err = t_lastError;
    QString system = QString::fromStdWString(channel_ ? channel_->systemMessage(err) : std::wstring());
    while (system.endsWith(QLatin1Char('\n')) || system.endsWith(QLatin1Char('\r')))
        system.chop(1);
    const QString text = QStringLiteral("%1 failed with error %2: %3")
                             .arg(QString::fromLatin1(operationName))
                             .arg(err)
                             .arg(system);
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        dspconsole::write(text.toStdString() + "\n");
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        Notice::critical(nullptr, QStringLiteral("Error"), text, QMessageBox::Ok);
        return;
    }
    // Message boxes belong to the GUI thread; the acquisition thread must not wait on one.
    QMetaObject::invokeMethod(
        app, [text]() { Notice::critical(nullptr, QStringLiteral("Error"), text, QMessageBox::Ok); },
        Qt::QueuedConnection);
}
