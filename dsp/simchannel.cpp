// The driver in front of a simulated board: each request checked for its
// buffer layout as the kernel driver checks it, then handed to the board.
#include "dsp/simboard.h"

#include <chrono>
#include <cstring>

using namespace dspdrv;

namespace {

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
