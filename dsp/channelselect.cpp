#include "dsp/channelselect.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace dspdrv {
namespace {

std::atomic<bool> g_simulatedRequested{false};

#ifndef _WIN32
// Off Windows there is no kernel driver: discovery finds no board.
class NoDriverChannel final : public DriverChannel {
public:
    bool openDeviceInfoSet(std::uint32_t *) override { return true; }
    void closeDeviceInfoSet() override {}
    bool enumInterface(std::uint32_t, std::uint32_t *error) override
    {
        *error = kErrorNoMoreItems;
        return false;
    }
    bool interfaceDetail(std::uint32_t, std::wstring *, std::uint32_t *error) override
    {
        *error = kErrorNoMoreItems;
        return false;
    }
    bool registryProperty(std::uint32_t, std::uint32_t, std::wstring *, std::uint32_t *error) override
    {
        *error = kErrorNoMoreItems;
        return false;
    }
    bool openDevice(const std::wstring &, std::uint32_t *error) override
    {
        *error = kErrorFileNotFound;
        return false;
    }
    void closeDevice() override {}
    bool deviceOpen() const override { return false; }
    std::unique_ptr<DriverRequest> issue(std::uint32_t, const void *, std::uint32_t, void *, std::uint32_t,
                                         bool) override
    {
        struct Failed final : DriverRequest {
            bool issueFailed() const override { return true; }
            bool waitEvent(int) override { return false; }
            void cancel() override {}
            bool result(std::uint32_t *, std::uint32_t *error) override
            {
                if (error)
                    *error = kErrorInvalidHandle;
                return false;
            }
            std::uint32_t error() const override { return kErrorInvalidHandle; }
        };
        return std::unique_ptr<DriverRequest>(new Failed);
    }
    std::wstring systemMessage(std::uint32_t error) override
    {
        return error == kErrorInvalidHandle ? L"The handle is invalid.\r\n" : L"Unknown error.\r\n";
    }
};
#endif

} // namespace

BoardKind chooseBoardKind(bool simulatedRequested, const char *channelVariable)
{
    if (simulatedRequested)
        return BoardKind::Simulated;
    if (channelVariable && std::strcmp(channelVariable, "simulated") == 0)
        return BoardKind::Simulated;
    if (channelVariable && std::strcmp(channelVariable, "driver") == 0)
        return BoardKind::Real;
    return kDefaultBoardKind;
}

void setSimulatedBoardRequested(bool requested) { g_simulatedRequested.store(requested); }
bool simulatedBoardRequested() { return g_simulatedRequested.load(); }

BoardKind selectedBoardKind() { return chooseBoardKind(simulatedBoardRequested(), std::getenv(kChannelVariable)); }

std::unique_ptr<DriverChannel> makeRealDriverChannel()
{
#ifdef _WIN32
    return makeWindowsDriverChannel();
#else
    return std::unique_ptr<DriverChannel>(new NoDriverChannel);
#endif
}

std::unique_ptr<DriverChannel> makeSelectedChannel(const std::function<std::unique_ptr<DriverChannel>()> &simulated)
{
    if (selectedBoardKind() == BoardKind::Simulated && simulated)
        return simulated();
    return makeRealDriverChannel();
}

} // namespace dspdrv
