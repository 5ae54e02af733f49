#pragma once
// The only code that talks to the DSP board's kernel driver. It finds the
// board through the device interface class, opens the driver, and offers
// register reads and writes, block writes, configuration space access, DMA
// transfers and the wait for the board's interrupt, each as one driver
// request. Board addresses outside a BAR's fixed mapping are reached by
// moving one of the board's inbound translation windows first.
//
// Results: 0 for success, -1 for failure (SetInboundWindow: the window size
// or -1).
//
// One object is shared by the GUI thread and the acquisition thread; every
// request has its own event and overlapped structure. A window move and the
// access after it are two requests, so each translation set must have one
// user at a time (0x330 for the GUI thread, 0x320 for the acquisition
// thread once the boot sequence is over).
//
// The board does not promise which set translates a BAR that two sets map,
// so no BAR is ever left mapped by two sets: Open points every set at BAR 0
// (never translated), and pointing a set at a BAR first does the same to
// any other set on that BAR.
#include "dsp/driverchannel.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class BoardAccess {
public:
    // Inbound translation sets (BAR 0 offsets).
    static constexpr std::uint32_t kSetBootImage = 0x300;
    static constexpr std::uint32_t kSetBoot = 0x320;
    static constexpr std::uint32_t kSetRuntime = 0x330;

    // Uses the default channel (makeDefaultDriverChannel).
    BoardAccess();
    explicit BoardAccess(std::unique_ptr<dspdrv::DriverChannel> channel);
    ~BoardAccess();
    BoardAccess(const BoardAccess &) = delete;
    BoardAccess &operator=(const BoardAccess &) = delete;

    // Discovery and open.
    int Open();
    bool isOpen() const;
    void Close();

    int ReadConfigSpace(std::uint32_t offset, std::uint32_t *value);
    int WriteConfigSpace(std::uint32_t offset, std::uint32_t value);
    int ReadAddress(std::uint32_t bar, std::uint32_t address, std::uint32_t *value, bool moveWindow = false,
                    std::uint32_t set = kSetBoot);
    int WriteAddress(std::uint32_t bar, std::uint32_t address, std::uint32_t value, bool moveWindow = false,
                     std::uint32_t set = kSetBoot);
    // count elements of width code 0 (bytes), 1 (16-bit) or 2 (32-bit);
    // any other width sends no data.
    int WriteAddressBuf(std::uint32_t bar, std::uint32_t address, std::uint32_t count, std::uint32_t width,
                        const void *data, bool moveWindow = false, std::uint32_t set = kSetBoot);
    // The same into one fixed register (every element to the same address);
    // window moves use set 0x320.
    int WriteAddressStatic(std::uint32_t bar, std::uint32_t address, std::uint32_t count, std::uint32_t width,
                           const void *data, bool moveWindow = false);
    // Points translation set `set` of `bar` at board address `address`.
    // Returns the window size in bytes, or -1 (always for BAR 0).
    std::int64_t SetInboundWindow(std::uint32_t bar, std::uint32_t set, std::uint32_t address);

    // DMA between host memory and board memory. With mapController set,
    // BAR 3 is first pointed at DMA channel controller `controller`.
    int ReadDma(std::uint32_t boardAddress, std::uint32_t controller, std::uint32_t channelWord,
                std::uint32_t byteCount, void *buffer, bool mapController);
    int WriteDma(std::uint32_t boardAddress, std::uint32_t controller, std::uint32_t channelWord,
                 std::uint32_t byteCount, const void *buffer, bool mapController);
    int SetupDMA(const std::uint32_t words[9]);

    // Waits for the board's data interrupt. 0 when it came within timeoutMs
    // (negative: without limit), -1 otherwise. variant 0 or 1.
    int SetupCallbackEvent(std::uint32_t *out, int timeoutMs, int variant);

    // Shows "<name> failed with error <n>: <system text>" (title "Error")
    // for the calling thread's last error. Off the GUI thread the box is
    // passed to the GUI thread instead of blocking the caller.
    void ShowLastError(const char *operationName);

    static std::uint32_t lastError();
    static void setLastError(std::uint32_t error);

    dspdrv::DriverChannel *channel() const { return channel_.get(); }

    // Number of driver requests issued so far (for tests).
    std::uint64_t requestCount() const { return requests_.load(); }

private:
    int GetDevicePath();
    int GetDeviceHandle();
    // The request pattern: issue, wait for a pending request, report failure.
    int request(std::uint32_t code, const void *in, std::uint32_t inSize, void *data, std::uint32_t dataSize,
                bool autoReset, const char *name, bool showError = true);
    int writeBlock(std::uint32_t code, std::uint32_t bar, std::uint32_t address, std::uint32_t count,
                   std::uint32_t width, const void *data, bool moveWindow, std::uint32_t set);
    int mapDmaController(std::uint32_t controller);
    // Takes set `set` for `bar`, retiring any other set that maps it.
    void claimSet(std::uint32_t set, std::uint32_t bar);
    void retireAllSets();
    int dmaTransfer(std::uint32_t code, const char *name, std::uint32_t boardAddress, std::uint32_t controller,
                    std::uint32_t channelWord, std::uint32_t byteCount, void *buffer, bool mapController);

    std::unique_ptr<dspdrv::DriverChannel> channel_;
    bool infoSet_ = false;
    bool discoveryFailed_ = false;
    bool haveDetail_ = false;
    std::wstring devicePath_;
    std::wstring firstDescription_;
    std::wstring lastLocation_;
    std::atomic<std::uint64_t> requests_{0};
    std::mutex setsMutex_;
    std::map<std::uint32_t, std::uint32_t> setBar_;   // set -> the BAR it maps (0: none)
};

// The channel the program selected (channelselect.h): the real board's
// driver, or the simulated board configured from CINDREL_SIM_DSP.
std::unique_ptr<dspdrv::DriverChannel> makeDefaultDriverChannel();
