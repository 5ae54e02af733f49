#pragma once
// The fixed pauses of the board start-up (power controller retries, FPGA
// settling, the 5 s reset hold, the handshake polls). A time scale lets
// tests and simulated runs shorten them; 1.0 (the default) is real time.
namespace dsptiming {

void setScale(double scale);   // 0 makes every pause return at once
double scale();

// Sleeps for ms milliseconds times the scale.
void sleepMs(int ms);

} // namespace dsptiming
