#include "fuzz/fuzzsupport.h"

#include "platform/identity.h"
#include "platform/notice.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace fuzzsupport {

namespace {
QTemporaryDir *gTemp = nullptr;
QString gWork;
}

void init()
{
    if (gTemp)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    gTemp = new QTemporaryDir(base + QStringLiteral("/cindrel-fuzz-XXXXXX"));
    if (!gTemp->isValid())
        std::abort();
    const QString root = gTemp->path();
    for (const char *d : {"/work", "/config", "/c-drive"})
        QDir().mkpath(root + QLatin1String(d));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(root + QStringLiteral("/c-drive")));
    gWork = root + QStringLiteral("/work");
    QDir::setCurrent(gWork);
    static int argc = 1;
    static char name[] = "cindrel-fuzz";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);   // lives as long as the process
    cindrel::applyApplicationIdentity();
    Notice::setTestMode(true);
    // The folder goes with the process.
    std::atexit([] { delete gTemp; });
}

QString workDir()
{
    return gWork;
}

bool writeFile(const QString &path, const std::uint8_t *data, std::size_t size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size);
}

void forgetNotices()
{
    Notice::clearRecords();
    Notice::clearReplies();
}

} // namespace fuzzsupport
