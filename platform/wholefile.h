#pragma once
// Final files appear whole or not at all: they are written under a
// temporary name beside the final one and renamed over it in one step, so
// a program killed (or a disk filling up) in the middle of a write leaves
// the earlier file of that name as it was.
#include <QString>

#include <memory>
#include <string>

class QImage;
class QSaveFile;

namespace cindrel {

// Saves image as path in format ("JPG", "PNG", ...) with the given quality
// (-1: the format's default). False when it could not be written whole;
// an earlier file of that name is then kept.
bool saveImageWhole(const QImage &image, const QString &path, const char *format, int quality = -1);

// A text file written whole through a buffer: the caller appends to
// Text() and calls Drain() now and then (it writes once the buffer holds a
// chunk), then Commit() puts the file in place. Destroyed uncommitted, it
// leaves the earlier file of that name as it was.
class WholeFileWriter {
public:
    explicit WholeFileWriter(const QString &path);
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter &) = delete;
    WholeFileWriter &operator=(const WholeFileWriter &) = delete;

    std::string &Text() { return text_; }
    void Drain()
    {
        if (text_.size() >= kChunk)
            WriteOut();
    }
    // False when the file could not be opened or written whole.
    bool Commit();

private:
    static constexpr std::size_t kChunk = 1 << 20;
    void WriteOut();
    std::unique_ptr<QSaveFile> file_;
    std::string text_;
    bool ok_ = false;
};

// Renames from over to (replacing an existing file in one step). False
// when the rename failed; both files are then as they were.
bool replaceFile(const QString &from, const QString &to);

// Writes what the operating system holds of an open file descriptor to the
// disk. True on success (and for an invalid descriptor: nothing to do).
bool syncHandle(int fd);

} // namespace cindrel
