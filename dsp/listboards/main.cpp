// cindrel-list-boards: opens the DSP board channel the program would use
// and lists the boards its driver offers (device path, description,
// location), then opens the first one. Free of Qt, so that it is built for
// Windows on its own. Exit status 0 when a board opened, 1 otherwise.
#include "dsp/channelselect.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::string narrow(const std::wstring &w)
{
    std::string s;
    for (wchar_t c : w)
        s += (c >= 32 && c < 127) ? char(c) : '?';
    return s;
}

} // namespace

int main()
{
    using namespace dspdrv;
#ifdef _WIN32
    static_assert(kDefaultBoardKind == BoardKind::Real, "on Windows the real board is the default");
#endif
    if (selectedBoardKind() == BoardKind::Simulated) {
        std::printf("The simulated board is selected (%s); listing the real boards anyway.\n", kChannelVariable);
    }
    const std::unique_ptr<DriverChannel> channel = makeRealDriverChannel();
    std::uint32_t error = 0;
    if (!channel->openDeviceInfoSet(&error)) {
        std::printf("The board driver's device list could not be read (error %u).\n", unsigned(error));
        return 1;
    }
    std::uint32_t count = 0;
    std::wstring first;
    for (std::uint32_t i = 0; channel->enumInterface(i, &error); ++i, ++count) {
        std::wstring path, description, location;
        if (!channel->interfaceDetail(i, &path, &error)) {
            std::printf("%u: no device path (error %u)\n", unsigned(i), unsigned(error));
            continue;
        }
        if (i == 0)
            first = path;
        channel->registryProperty(i, kPropertyDeviceDescription, &description, &error);
        channel->registryProperty(i, kPropertyLocationInformation, &location, &error);
        std::printf("%u: %s\n   %s\n   %s\n", unsigned(i), narrow(description).c_str(), narrow(location).c_str(),
                    narrow(path).c_str());
    }
    channel->closeDeviceInfoSet();
    if (count == 0) {
        std::printf("No KEPA devices are present and enabled in the system.\n");
        return 1;
    }
    if (!channel->openDevice(first, &error)) {
        std::printf("Board 0 could not be opened (error %u).\n", unsigned(error));
        return 1;
    }
    std::printf("Board 0 opened.\n");
    channel->closeDevice();
    return 0;
}
