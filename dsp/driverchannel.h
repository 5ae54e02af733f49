#pragma once
// The channel through which BoardAccess talks to the DSP board's kernel
// driver: device discovery through the interface class, opening the device
// for overlapped I/O, and one overlapped request per driver call.
//
// Two implementations exist: the Windows one (SetupAPI, CreateFileW,
// DeviceIoControl, events; built on Windows only) and the simulated board,
// a software model of the board and its driver behind the same requests.
//
// This header is free of Qt so that the Windows channel compiles on its own.
#include <cstdint>
#include <memory>
#include <string>

namespace dspdrv {

// Device interface class of the board's driver:
// {3E05BE16-DF06-409B-8C39-60B0847F5884}.
constexpr std::uint8_t kInterfaceClassGuid[16] = {0x16, 0xBE, 0x05, 0x3E, 0x06, 0xDF, 0x9B, 0x40,
                                                  0x8C, 0x39, 0x60, 0xB0, 0x84, 0x7F, 0x58, 0x84};

// Request codes: device type 0x22, any access; function and transfer method
// as the driver defines them.
constexpr std::uint32_t ctlCode(std::uint32_t function, std::uint32_t method)
{
    return (0x22u << 16) | (function << 2) | method;
}
constexpr std::uint32_t kMethodBuffered = 0;
constexpr std::uint32_t kMethodInDirect = 1;
constexpr std::uint32_t kMethodOutDirect = 2;

constexpr std::uint32_t IOCTL_READ_CONFIG_SPACE = ctlCode(0x800, kMethodBuffered);      // 0x222000
constexpr std::uint32_t IOCTL_WRITE_CONFIG_SPACE = ctlCode(0x801, kMethodBuffered);     // 0x222004
constexpr std::uint32_t IOCTL_READ_ADDRESS = ctlCode(0x802, kMethodBuffered);           // 0x222008
constexpr std::uint32_t IOCTL_WRITE_ADDRESS = ctlCode(0x803, kMethodBuffered);          // 0x22200C
constexpr std::uint32_t IOCTL_WRITE_ADDRESS_BUF = ctlCode(0x805, kMethodInDirect);      // 0x222015
constexpr std::uint32_t IOCTL_READ_DMA = ctlCode(0x806, kMethodOutDirect);              // 0x22201A
constexpr std::uint32_t IOCTL_WRITE_DMA = ctlCode(0x807, kMethodInDirect);              // 0x22201D
constexpr std::uint32_t IOCTL_SETUP_DMA = ctlCode(0x809, kMethodBuffered);              // 0x222024
constexpr std::uint32_t IOCTL_WRITE_ADDRESS_STATIC = ctlCode(0x80B, kMethodInDirect);   // 0x22202D
constexpr std::uint32_t IOCTL_CALLBACK_EVENT_0 = ctlCode(0x810, kMethodBuffered);       // 0x222040
constexpr std::uint32_t IOCTL_CALLBACK_EVENT_1 = ctlCode(0x811, kMethodBuffered);       // 0x222044

static_assert(IOCTL_READ_CONFIG_SPACE == 0x222000, "code");
static_assert(IOCTL_WRITE_CONFIG_SPACE == 0x222004, "code");
static_assert(IOCTL_READ_ADDRESS == 0x222008, "code");
static_assert(IOCTL_WRITE_ADDRESS == 0x22200C, "code");
static_assert(IOCTL_WRITE_ADDRESS_BUF == 0x222015, "code");
static_assert(IOCTL_READ_DMA == 0x22201A, "code");
static_assert(IOCTL_WRITE_DMA == 0x22201D, "code");
static_assert(IOCTL_SETUP_DMA == 0x222024, "code");
static_assert(IOCTL_WRITE_ADDRESS_STATIC == 0x22202D, "code");
static_assert(IOCTL_CALLBACK_EVENT_0 == 0x222040, "code");
static_assert(IOCTL_CALLBACK_EVENT_1 == 0x222044, "code");

// System error numbers the layer looks at.
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorWaitTimeout = 258;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorOperationAborted = 995;
constexpr std::uint32_t kErrorIoPending = 997;
constexpr std::uint32_t kErrorIoDevice = 1117;

// Registry properties read during discovery.
constexpr std::uint32_t kPropertyDeviceDescription = 0;
constexpr std::uint32_t kPropertyLocationInformation = 13;

// One overlapped driver request: its own event, overlapped structure and
// buffers. The destructor returns only once the request is no longer in
// flight (a pending request is cancelled and waited for).
class DriverRequest {
public:
    virtual ~DriverRequest() = default;

    // True when issuing failed at once (not the pending status); error() tells why.
    virtual bool issueFailed() const = 0;
    // Waits for the request's event up to timeoutMs (negative: without
    // limit). True when the event was signalled.
    virtual bool waitEvent(int timeoutMs) = 0;
    // Cancels the request (it may have completed already).
    virtual void cancel() = 0;
    // Waits until the request has completed and gives its outcome: true on
    // success with the bytes transferred, false with the system error.
    virtual bool result(std::uint32_t *bytes, std::uint32_t *error) = 0;
    // The error of a failed issue.
    virtual std::uint32_t error() const = 0;
};

class DriverChannel {
public:
    virtual ~DriverChannel() = default;

    // ---- discovery (device information set of the interface class) ----
    // Gets the set with the flags present-only and device-interface.
    virtual bool openDeviceInfoSet(std::uint32_t *error) = 0;
    virtual void closeDeviceInfoSet() = 0;
    // Enumerates interface `index`; false when there is none (or on error).
    virtual bool enumInterface(std::uint32_t index, std::uint32_t *error) = 0;
    // The interface's detail (its device path), after the size query that
    // must answer the insufficient-buffer error. False with the error of the
    // failing call (kErrorNotEnoughMemory when the buffer could not be had).
    virtual bool interfaceDetail(std::uint32_t index, std::wstring *path, std::uint32_t *error) = 0;
    // A registry property of the interface's device (description, location).
    virtual bool registryProperty(std::uint32_t index, std::uint32_t property, std::wstring *value,
                                  std::uint32_t *error) = 0;

    // ---- the device ----
    // Opens the device path for reading and writing with overlapped I/O.
    virtual bool openDevice(const std::wstring &path, std::uint32_t *error) = 0;
    virtual void closeDevice() = 0;
    virtual bool deviceOpen() const = 0;

    // Issues one request. `in` is the input buffer; `data` is the buffer
    // passed as the output buffer (for the direct-I/O requests it carries
    // data to the driver). The buffers must stay valid until the request
    // object is destroyed. autoResetEvent selects the kind of event.
    virtual std::unique_ptr<DriverRequest> issue(std::uint32_t code, const void *in, std::uint32_t inSize,
                                                 void *data, std::uint32_t dataSize, bool autoResetEvent) = 0;

    // The system's message text for an error number.
    virtual std::wstring systemMessage(std::uint32_t error) = 0;

    // True for the simulated board, which the operator must be told about.
    virtual bool simulated() const { return false; }
};

#ifdef _WIN32
// The channel to the real kernel driver.
std::unique_ptr<DriverChannel> makeWindowsDriverChannel();
#endif

} // namespace dspdrv
