#include "app/imageviewer.h"

#include "app/debuglog.h"

#include <QDebug>

ImageViewer::ImageViewer(QWidget *parent) : QMainWindow(parent)
{
    DebugLog::install();
    qDebug() << "Cindrel program started";
    qDebug() << "Debug Handler Started!";
    setObjectName(QStringLiteral("ImageViewer"));
}

ImageViewer::~ImageViewer() = default;
