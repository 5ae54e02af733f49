#include "dsp/simbootfiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <array>
#include <vector>

namespace simboot {
namespace {

std::array<std::uint32_t, 256> makeCrcTable()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

const std::array<std::uint32_t, 256> &crcTable()
{
    static const std::array<std::uint32_t, 256> t = makeCrcTable();
    return t;
}

std::uint32_t crcUpdate(std::uint32_t crc, std::uint8_t byte)
{
    return crcTable()[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

void put32(QByteArray &a, std::uint32_t v)
{
    a.append(char(v & 0xFF));
    a.append(char((v >> 8) & 0xFF));
    a.append(char((v >> 16) & 0xFF));
    a.append(char((v >> 24) & 0xFF));
}

void put16(QByteArray &a, std::uint16_t v)
{
    a.append(char(v & 0xFF));
    a.append(char((v >> 8) & 0xFF));
}

struct Segment {
    std::uint32_t type, paddr, memsz, flags;
    QByteArray data;
};

} // namespace

bool writeFile(const QString &path, const QByteArray &data)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (f.write(data) != data.size())
        return false;
    return f.commit();
}

std::uint32_t crc32(const std::uint8_t *data, std::size_t size)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        c = crcUpdate(c, data[i]);
    return c ^ 0xFFFFFFFFu;
}

QByteArray makeRbf(int totalSize, std::uint32_t seed)
{
    if (totalSize < kRbfOverhead)
        totalSize = kRbfOverhead;
    const std::uint32_t payload = std::uint32_t(totalSize - kRbfOverhead);
    QByteArray a;
    a.reserve(totalSize);
    a.append(QByteArray(kRbfPadding, char(0xFF)));
    for (std::uint8_t b : kRbfSync)
        a.append(char(b));
    put32(a, payload);
    const int start = a.size();
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint32_t i = 0; i < payload; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // Configuration frames: mostly sparse bits, as real images are.
        a.append(char((x & 0x7) == 0 ? (x >> 8) & 0xFF : 0));
    }
    put32(a, crc32(reinterpret_cast<const std::uint8_t *>(a.constData() + start), payload));
    return a;
}

QByteArray makeProgram(const ProgramOptions &o)
{
    // Text segment: the descriptor at the entry, then the payload words.
    QByteArray text;
    const std::uint32_t bssAddress = kDataAddress + kDataFileSize;
    std::vector<std::uint32_t> payload(o.payloadWords);
    std::uint32_t x = 0x9E3779B9u * (o.core + 1);
    std::uint32_t sum = 0;
    for (auto &w : payload) {
        x = x * 1103515245u + 12345u;
        w = (x & 0x0FFFFFFCu) | 0x20000000u;
        sum += w;
    }
    put32(text, kProgramMagic);
    put32(text, o.core);
    put32(text, o.bss ? bssAddress : 0);
    put32(text, o.bss ? kBssSize : 0);
    put32(text, o.payloadWords);
    put32(text, sum);
    for (std::uint32_t w : payload)
        put32(text, w);

    std::vector<Segment> segs;
    segs.push_back({1, o.textAddress, std::uint32_t(text.size()), 5, text});
    QByteArray data;
    for (std::uint32_t i = 0; i < kDataFileSize / 4; ++i)
        put32(data, 0x01010101u * (i + 1));
    segs.push_back({1, kDataAddress, kDataFileSize + (o.bss ? kBssSize : 0), 6, data});
    if (o.noteSegment) {
        QByteArray note;
        put32(note, 8);
        put32(note, 0);
        put32(note, 1);
        note.append("Cindrel\0", 8);
        segs.push_back({4, 0, std::uint32_t(note.size()), 4, note});
    }
    if (o.ddrSegment) {
        QByteArray ddr(256, char(0x5A));
        segs.push_back({1, kDdrAddress, 256, 6, ddr});
    }

    const std::uint32_t phoff = 52;
    const std::uint32_t phnum = std::uint32_t(segs.size());
    std::uint32_t offset = phoff + 32 * phnum;
    QByteArray out;
    // ELF header
    out.append("\x7F" "ELF", 4);
    out.append(char(1));   // 32-bit
    out.append(char(1));   // little-endian
    out.append(char(1));   // version
    out.append(QByteArray(9, '\0'));
    put16(out, 2);         // executable
    put16(out, 140);       // TI C6000
    put32(out, 1);
    put32(out, o.textAddress);   // entry
    put32(out, phoff);
    put32(out, 0);         // no section headers
    put32(out, 0);
    put16(out, 52);
    put16(out, 32);
    put16(out, std::uint16_t(phnum));
    put16(out, 40);
    put16(out, 0);
    put16(out, 0);
    for (const Segment &s : segs) {
        put32(out, s.type);
        put32(out, offset);
        put32(out, s.paddr);   // virtual
        put32(out, s.paddr);   // physical
        put32(out, std::uint32_t(s.data.size()));
        put32(out, s.memsz);
        put32(out, s.flags);
        put32(out, 4);
        offset += std::uint32_t(s.data.size());
    }
    for (const Segment &s : segs)
        out.append(s.data);
    return out;
}

void RbfChecker::reset() { *this = RbfChecker(); }

void RbfChecker::push(std::uint8_t byte)
{
    ++received_;
    switch (state_) {
    case State::Padding:
        if (byte == 0xFF)
            return;
        state_ = State::Sync;
        pos_ = 0;
        [[fallthrough]];
    case State::Sync:
        if (byte != kRbfSync[pos_]) {
            state_ = State::Bad;
            return;
        }
        if (++pos_ == 4) {
            state_ = State::Length;
            pos_ = 0;
            length_ = 0;
        }
        return;
    case State::Length:
        length_ |= std::uint32_t(byte) << (8 * pos_);
        if (++pos_ == 4) {
            pos_ = 0;
            got_ = 0;
            crc_ = 0xFFFFFFFFu;
            state_ = length_ == 0 ? State::Crc : State::Payload;
            expect_ = 0;
        }
        return;
    case State::Payload:
        crc_ = crcUpdate(crc_, byte);
        if (++got_ == length_)
            state_ = State::Crc;
        return;
    case State::Crc:
        expect_ |= std::uint32_t(byte) << (8 * pos_);
        if (++pos_ == 4)
            state_ = expect_ == (crc_ ^ 0xFFFFFFFFu) ? State::Done : State::Bad;
        return;
    case State::Done:
    case State::Bad:
        return;
    }
}

} // namespace simboot

bool writeSimulatedBootFiles(const QString &dir)
{
    if (!QDir().mkpath(dir))
        return false;
    const QDir d(dir);
    if (!simboot::writeFile(d.filePath(QStringLiteral("a.rbf")), simboot::makeRbf()))
        return false;
    for (std::uint32_t core = 0; core < 3; ++core) {
        simboot::ProgramOptions o;
        o.core = core;
        o.payloadWords = 256 + 64 * core;
        o.ddrSegment = core == 2;
        if (!simboot::writeFile(d.filePath(QStringLiteral("c%1.out").arg(core)), simboot::makeProgram(o)))
            return false;
    }
    return true;
}
