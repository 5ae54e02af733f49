#pragma once
// Standard output and input of the board layer's low-level diagnostics
// (discovery, boot progress). Everything written also goes to an optional
// capture that tests read; console input can be replaced by tests.
#include <functional>
#include <string>

namespace dspconsole {

// Writes UTF-8 text to standard output (flushed), or to the capture while it is on.
void write(const std::string &text);
// printf-style write.
void print(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Wide text, written as UTF-8.
void writeWide(const std::wstring &text);

// Reads one integer ("%d") from standard input, or from the provider set by
// setInputProvider. False when none can be read.
bool readInt(int *value);
void setInputProvider(std::function<bool(int *)> provider);   // empty: standard input

// Capture of everything written instead of standard output (for tests).
void startCapture();
std::string takeCapture();   // returns and clears; capture stays on
void stopCapture();

} // namespace dspconsole
