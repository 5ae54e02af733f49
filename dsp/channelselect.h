#pragma once
// Which board "Initialize DSP Hardware" talks to. On Windows the real board
// through its kernel driver is the default, and the simulated board is used
// only on request: the command-line option "--simulated-board", the setting
// "DSP/SimulatedBoard", or CINDREL_DSP_CHANNEL=simulated. Elsewhere there
// is no driver and the simulated board is the default;
// CINDREL_DSP_CHANNEL=driver asks for the real board anyway, which then is
// not found.
//
// Free of Qt and of the simulator, so that the Windows build of this unit is
// checked on its own.
#include "dsp/driverchannel.h"

#include <functional>
#include <memory>

namespace dspdrv {

enum class BoardKind { Real, Simulated };

#ifdef _WIN32
constexpr BoardKind kDefaultBoardKind = BoardKind::Real;
#else
constexpr BoardKind kDefaultBoardKind = BoardKind::Simulated;
#endif

// The command-line option and the settings key (a bool) that ask for the
// simulated board.
constexpr const char *kSimulatedBoardOption = "--simulated-board";
// The environment variable that names the channel: "driver" or "simulated".
constexpr const char *kChannelVariable = "CINDREL_DSP_CHANNEL";

// The kind chosen from a request (option or setting) and the value of
// CINDREL_DSP_CHANNEL (null when unset). A request or "simulated" gives the
// simulated board; "driver" the real one; anything else the default.
BoardKind chooseBoardKind(bool simulatedRequested, const char *channelVariable);

// The process-wide request, made once at start-up.
void setSimulatedBoardRequested(bool requested);
bool simulatedBoardRequested();
// The kind the program uses now: the request and the environment.
BoardKind selectedBoardKind();

// The channel to the real board's driver; off Windows a channel that finds
// no board (discovery reports that no board is present).
std::unique_ptr<DriverChannel> makeRealDriverChannel();

// The channel of the selected kind; `simulated` makes the simulated board's.
std::unique_ptr<DriverChannel> makeSelectedChannel(const std::function<std::unique_ptr<DriverChannel>()> &simulated);

} // namespace dspdrv
