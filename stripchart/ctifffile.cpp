#include "stripchart/ctifffile.h"

#include "geodata/cbil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

CTiffFile::CTiffFile()
    : rowBuffer_(kPaletteRowWidth, '\0')
{
}

CTiffFile::~CTiffFile()
{
    CloseStream();
}

void CTiffFile::CloseStream()
{
    if (file_) {
        if (std::fclose(file_) != 0)
            writesOk_ = false;
        file_ = nullptr;
    }
}

bool CTiffFile::Open(const QString &tmpPath)
{
    CloseStream();
    const QFileInfo fi(tmpPath);
    baseName_ = fi.completeBaseName();
    tmpPath_ = tmpPath;
    rowsWritten_ = 0;
    rowCount2_ = 0;
    writesOk_ = true;
    trailerDone_ = false;
    layout_ = tiffstream::TrailerLayout();
    file_ = std::fopen(QFile::encodeName(QDir::toNativeSeparators(tmpPath)).constData(), "wb");
    if (!file_)
        return false;
    if (!tiffstream::WriteHeader(file_))
        writesOk_ = false;
    return true;
}

void CTiffFile::SetTwoColor()
{
    twoColor_ = true;
    rowWidth_ = kPaletteRowWidth * 3;
    rowBuffer_ = QByteArray(rowWidth_, '\0');
}

bool CTiffFile::WriteRow(const void *bytes, int length)
{
    if (!file_)
        return false;
    const int n = std::max(0, std::min(length, rowWidth_));
    std::memset(rowBuffer_.data(), 0, size_t(rowWidth_));
    if (n > 0)
        std::memcpy(rowBuffer_.data(), bytes, size_t(n));
    if (!tiffstream::WriteRow(file_, rowBuffer_.constData(), rowWidth_, rowWidth_))
        writesOk_ = false;
    ++rowsWritten_;
    ++rowCount2_;
    return writesOk_;
}

bool CTiffFile::WriteTrailer(const CBil &grid, double rowValue)
{
    if (!file_)
        return false;
    trailerTime_ = QDateTime::currentDateTime();
    const QVector<double> mt =
        tiffstream::MakeModelTransformation(grid, -(leftMargin_ + 0.5), rowValue - 0.5);
    const tiffstream::TrailerTags recipe = tiffstream::MakeOrthoTrailer(
        rowsWritten_, rowWidth_, twoColor_, nad27_, trailerTime_, mt, centralMeridian_);
    const std::int64_t dataEnd = tiffstream::kHeaderBytes + std::int64_t(rowsWritten_) * rowWidth_;
    if (!tiffstream::WriteTrailer(file_, recipe, dataEnd, &layout_))
        writesOk_ = false;
    CloseStream();
    trailerDone_ = true;
    return writesOk_;
}

bool CTiffFile::Finalize(const QString &tmpPath, double a, double b, std::uint32_t c)
{
    if (!trailerDone_ || !writesOk_)
        return false;
    const tiffstream::Stamp stamp{a, b, c};
    return tiffstream::FinalPass(tmpPath, tiffstream::FinalPathFor(tmpPath), rowWidth_,
                                 rowsWritten_, &stamp);
}

bool CTiffFile::SaveJpeg(const QString &path)
{
    const QFileInfo fi(path);
    QString tif;
    if (fi.isDir())
        tif = fi.filePath() + QLatin1Char('/') + baseName_ + QStringLiteral(".tif");
    else
        tif = tiffstream::FinalPathFor(path);
    return tiffstream::SaveJpegCopy(tif);
}
