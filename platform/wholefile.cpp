#include "platform/wholefile.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace cindrel {

bool saveImageWhole(const QImage &image, const QString &path, const char *format, int quality)
{
    // Encoded in memory first: an image writer does not report every
    // failed write of its device, and a small file's bytes only reach the
    // disk when flushed, which must be seen to succeed before the rename.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image))
        return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(bytes) != bytes.size() || !out.flush()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

WholeFileWriter::WholeFileWriter(const QString &path) : file_(std::make_unique<QSaveFile>(path))
{
    // Unbuffered: the chunks go to the file as they are, without a copy.
    ok_ = file_->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    text_.reserve(kChunk + kChunk / 4);
}

WholeFileWriter::~WholeFileWriter() = default;

void WholeFileWriter::WriteOut()
{
    if (ok_ && !text_.empty())
        ok_ = file_->write(text_.data(), qint64(text_.size())) == qint64(text_.size());
    text_.clear();
}

bool WholeFileWriter::Commit()
{
    WriteOut();
    if (!ok_) {
        file_->cancelWriting();
        return false;
    }
    return file_->commit();
}

bool replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t *>(from.utf16()), reinterpret_cast<const wchar_t *>(to.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

bool syncHandle(int fd)
{
    if (fd < 0)
        return true;
#ifdef Q_OS_WIN
    return _commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}

} // namespace cindrel
