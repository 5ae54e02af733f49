#include "platform/wholefile.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace cindrel {

bool saveImageWhole(const QImage &image, const QString &path, const char *format, int quality)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&out, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
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

} // namespace cindrel
