#include "app/debuglog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace DebugLog {
namespace {
QMutex &logMutex()
{
    static QMutex m;
    return m;
}
const char *const kLogName = "mylogfile.log";
const char *const kBackupName = "mylogfile.log.1";
} // namespace

QString levelTag(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("[Debug*] ");
    case QtWarningMsg: return QStringLiteral("[Warning] ");
    case QtCriticalMsg: return QStringLiteral("[Critical] ");
    case QtFatalMsg: return QStringLiteral("[Fatal] ");
    case QtInfoMsg: return QStringLiteral("[Info] ");
    }
    return QString();
}

void write(QtMsgType type, const QString &msg)
{
    QMutexLocker lock(&logMutex());
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy.MM.dd hh:mm:ss"));
    const QString tag = levelTag(type);

    const QString logName = QString::fromLatin1(kLogName);
    QFileInfo info(logName);
    if (info.exists() && info.size() > kSizeLimit) {
        QFile::remove(QString::fromLatin1(kBackupName));
        QFile::rename(logName, QString::fromLatin1(kBackupName));
        QFile truncated(logName);
        if (truncated.open(QIODevice::WriteOnly | QIODevice::Truncate))
            truncated.close();
    }
    QFile out(logName);
    if (out.open(QIODevice::WriteOnly | QIODevice::Append)) {
        const QByteArray line = (stamp + tag + msg + QLatin1Char('\n')).toLocal8Bit();
        out.write(line);
        out.close();
    }
}

void handler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    write(type, msg);
}

void install()
{
    qInstallMessageHandler(handler);
}

} // namespace DebugLog
