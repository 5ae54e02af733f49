#include "dsp/dspconsole.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace dspconsole {
namespace {
std::mutex &lock()
{
    static std::mutex m;
    return m;
}
bool g_capturing = false;
std::string g_capture;
std::function<bool(int *)> g_input;

std::string utf8(const std::wstring &w)
{
    std::string out;
    for (wchar_t wc : w) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}
} // namespace

void write(const std::string &text)
{
    std::lock_guard<std::mutex> g(lock());
    if (g_capturing) {
        g_capture += text;
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void print(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    va_list ap2;
    va_copy(ap2, ap);
    const int n = std::vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n < 0) {
        va_end(ap2);
        return;
    }
    std::vector<char> buf(std::size_t(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, ap2);
    va_end(ap2);
    write(std::string(buf.data(), std::size_t(n)));
}

void writeWide(const std::wstring &text) { write(utf8(text)); }

bool readInt(int *value)
{
    std::function<bool(int *)> provider;
    {
        std::lock_guard<std::mutex> g(lock());
        provider = g_input;
    }
    if (provider)
        return provider(value);
    int v = 0;
    if (std::scanf("%d", &v) != 1)
        return false;
    *value = v;
    return true;
}

void setInputProvider(std::function<bool(int *)> provider)
{
    std::lock_guard<std::mutex> g(lock());
    g_input = std::move(provider);
}

void startCapture()
{
    std::lock_guard<std::mutex> g(lock());
    g_capturing = true;
    g_capture.clear();
}

std::string takeCapture()
{
    std::lock_guard<std::mutex> g(lock());
    std::string s;
    s.swap(g_capture);
    return s;
}

void stopCapture()
{
    std::lock_guard<std::mutex> g(lock());
    g_capturing = false;
    g_capture.clear();
}

} // namespace dspconsole
