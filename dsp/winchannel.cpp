// The channel to the board's kernel driver on Windows: SetupAPI discovery
// through the device interface class, CreateFileW with overlapped I/O, and
// DeviceIoControl requests that each carry their own event. Free of Qt.
#ifdef _WIN32

#include "dsp/driverchannel.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <vector>

namespace dspdrv {
namespace {

GUID interfaceClassGuid()
{
    GUID g;
    static_assert(sizeof(GUID) == sizeof(kInterfaceClassGuid), "GUID size");
    std::memcpy(&g, kInterfaceClassGuid, sizeof(g));
    return g;
}

class WinRequest final : public DriverRequest {
public:
    WinRequest(HANDLE device, std::uint32_t code, const void *in, std::uint32_t inSize, void *data,
               std::uint32_t dataSize, bool autoReset)
        : device_(device)
    {
        std::memset(&ov_, 0, sizeof(ov_));
        event_ = CreateEventW(nullptr, autoReset ? FALSE : TRUE, FALSE, nullptr);
        if (!event_) {
            failed_ = true;
            error_ = GetLastError();
            return;
        }
        ov_.hEvent = event_;
        DWORD returned = 0;
        if (DeviceIoControl(device_, code, const_cast<void *>(in), inSize, data, dataSize, &returned, &ov_)) {
            inFlight_ = false;
            return;
        }
        const DWORD err = GetLastError();
        if (err == ERROR_IO_PENDING) {
            inFlight_ = true;
            return;
        }
        failed_ = true;
        error_ = err;
    }

    ~WinRequest() override
    {
        if (inFlight_) {
            CancelIoEx(device_, &ov_);
            DWORD n = 0;
            GetOverlappedResult(device_, &ov_, &n, TRUE);
        }
        if (event_)
            CloseHandle(event_);
    }

    bool issueFailed() const override { return failed_; }
    std::uint32_t error() const override { return error_; }

    bool waitEvent(int timeoutMs) override
    {
        if (failed_)
            return false;
        const DWORD t = timeoutMs < 0 ? INFINITE : DWORD(timeoutMs);
        return WaitForSingleObject(event_, t) == WAIT_OBJECT_0;
    }

    void cancel() override
    {
        if (!failed_ && inFlight_)
            CancelIoEx(device_, &ov_);
    }

    bool result(std::uint32_t *bytes, std::uint32_t *error) override
    {
        if (failed_) {
            if (error)
                *error = error_;
            return false;
        }
        DWORD n = 0;
        const BOOL ok = GetOverlappedResult(device_, &ov_, &n, TRUE);
        inFlight_ = false;
        if (bytes)
            *bytes = n;
        if (!ok) {
            if (error)
                *error = GetLastError();
            return false;
        }
        return true;
    }

private:
    HANDLE device_;
    HANDLE event_ = nullptr;
    OVERLAPPED ov_;
    bool failed_ = false;
    bool inFlight_ = false;
    std::uint32_t error_ = 0;
};

class WinChannel final : public DriverChannel {
public:
    ~WinChannel() override
    {
        closeDevice();
        closeDeviceInfoSet();
    }

    bool openDeviceInfoSet(std::uint32_t *error) override
    {
        closeDeviceInfoSet();
        const GUID g = interfaceClassGuid();
        info_ = SetupDiGetClassDevsW(&g, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (info_ == INVALID_HANDLE_VALUE) {
            if (error)
                *error = GetLastError();
            return false;
        }
        return true;
    }

    void closeDeviceInfoSet() override
    {
        if (info_ != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(info_);
        info_ = INVALID_HANDLE_VALUE;
    }

    bool enumInterface(std::uint32_t index, std::uint32_t *error) override
    {
        SP_DEVICE_INTERFACE_DATA data;
        return enumData(index, &data, error);
    }

    bool interfaceDetail(std::uint32_t index, std::wstring *path, std::uint32_t *error) override
    {
        SP_DEVICE_INTERFACE_DATA data;
        if (!enumData(index, &data, error))
            return false;
        DWORD required = 0;
        if (SetupDiGetDeviceInterfaceDetailW(info_, &data, nullptr, 0, &required, nullptr)
            || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            if (error)
                *error = GetLastError();
            return false;
        }
        std::vector<std::uint8_t> buf;
        try {
            buf.resize(required + sizeof(WCHAR));
        } catch (...) {
            if (error)
                *error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(buf.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);   // 8 on 64-bit Windows
        SP_DEVINFO_DATA devInfo;
        devInfo.cbSize = sizeof(devInfo);
        if (!SetupDiGetDeviceInterfaceDetailW(info_, &data, detail, required, nullptr, &devInfo)) {
            if (error)
                *error = GetLastError();
            return false;
        }
        if (path)
            *path = detail->DevicePath;
        return true;
    }

    bool registryProperty(std::uint32_t index, std::uint32_t property, std::wstring *value,
                          std::uint32_t *error) override
    {
        SP_DEVICE_INTERFACE_DATA data;
        if (!enumData(index, &data, error))
            return false;
        SP_DEVINFO_DATA devInfo;
        devInfo.cbSize = sizeof(devInfo);
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(info_, &data, nullptr, 0, &required, nullptr);
        std::vector<std::uint8_t> detailBuf(required + sizeof(WCHAR));
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(detailBuf.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(info_, &data, detail, required, nullptr, &devInfo)) {
            if (error)
                *error = GetLastError();
            return false;
        }
        DWORD type = 0;
        required = 0;
        if (SetupDiGetDeviceRegistryPropertyW(info_, &devInfo, property, &type, nullptr, 0, &required)
            || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            if (error)
                *error = GetLastError();
            return false;
        }
        std::vector<std::uint8_t> buf(required + sizeof(WCHAR), 0);
        if (!SetupDiGetDeviceRegistryPropertyW(info_, &devInfo, property, &type, buf.data(), required,
                                               nullptr)) {
            if (error)
                *error = GetLastError();
            return false;
        }
        if (value)
            *value = reinterpret_cast<const wchar_t *>(buf.data());
        return true;
    }

    bool openDevice(const std::wstring &path, std::uint32_t *error) override
    {
        closeDevice();
        device_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (device_ == INVALID_HANDLE_VALUE) {
            if (error)
                *error = GetLastError();
            return false;
        }
        return true;
    }

    void closeDevice() override
    {
        if (device_ != INVALID_HANDLE_VALUE)
            CloseHandle(device_);
        device_ = INVALID_HANDLE_VALUE;
    }

    bool deviceOpen() const override { return device_ != INVALID_HANDLE_VALUE; }

    std::unique_ptr<DriverRequest> issue(std::uint32_t code, const void *in, std::uint32_t inSize, void *data,
                                         std::uint32_t dataSize, bool autoResetEvent) override
    {
        return std::unique_ptr<DriverRequest>(
            new WinRequest(device_, code, in, inSize, data, dataSize, autoResetEvent));
    }

    std::wstring systemMessage(std::uint32_t error) override
    {
        wchar_t *text = nullptr;
        const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                           | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                       reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        std::wstring s;
        if (n && text)
            s.assign(text, n);
        if (text)
            LocalFree(text);
        return s;
    }

private:
    bool enumData(std::uint32_t index, SP_DEVICE_INTERFACE_DATA *data, std::uint32_t *error)
    {
        if (info_ == INVALID_HANDLE_VALUE) {
            if (error)
                *error = ERROR_INVALID_HANDLE;
            return false;
        }
        const GUID g = interfaceClassGuid();
        data->cbSize = sizeof(*data);
        if (!SetupDiEnumDeviceInterfaces(info_, nullptr, &g, index, data)) {
            if (error)
                *error = GetLastError();
            return false;
        }
        return true;
    }

    HDEVINFO info_ = INVALID_HANDLE_VALUE;
    HANDLE device_ = INVALID_HANDLE_VALUE;
};

} // namespace

std::unique_ptr<DriverChannel> makeWindowsDriverChannel()
{
    return std::unique_ptr<DriverChannel>(new WinChannel);
}

} // namespace dspdrv

#endif // _WIN32
