#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

namespace testsupport {

static QString g_root;

void setTempRoot(const QString &root) { g_root = root; }

QString tempRoot() { return g_root; }
QString workDir() { return g_root + QStringLiteral("/work"); }

ProcessResult run(const QString &program, const QStringList &args, int timeoutMs, const QString &workingDir)
{
    ProcessResult r;
    QProcess p;
    if (!workingDir.isEmpty())
        p.setWorkingDirectory(workingDir);
    p.start(program, args);
    r.started = p.waitForStarted(20000);
    if (!r.started)
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        r.timedOut = true;
        p.kill();
        p.waitForFinished(5000);
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

bool haveTool(const QString &program) { return !QStandardPaths::findExecutable(program).isEmpty(); }

QString toolPath() { return QStringLiteral(CINDREL_TOOL_PATH); }
QString guiPath() { return QStringLiteral(CINDREL_GUI_PATH); }
QString sourceDir() { return QStringLiteral(CINDREL_SOURCE_DIR); }

SmallDisk::SmallDisk(const QString &path, qint64 bytes) : path_(path)
{
    QDir().mkpath(path);
#ifdef Q_OS_LINUX
    if (::geteuid() == 0 && haveTool(QStringLiteral("mount"))) {
        const auto r = run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                     QStringLiteral("size=%1").arg(bytes), QStringLiteral("tmpfs"), path},
                           20000);
        mounted_ = r.exitCode == 0;
    }
#else
    Q_UNUSED(bytes)
#endif
}

SmallDisk::~SmallDisk()
{
    if (mounted_)
        run(QStringLiteral("umount"), {QStringLiteral("-l"), path_}, 20000);
}

} // namespace testsupport
