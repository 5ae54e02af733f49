#include "mission/ancillary.h"

#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QThread>
#include <QtDebug>

namespace {

QMutex g_folderMutex;
QString g_folder;

} // namespace

namespace ancillary {

QString Folder()
{
    {
        QMutexLocker lock(&g_folderMutex);
        if (!g_folder.isEmpty())
            return g_folder;
    }
    const QString programDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return QDir::toNativeSeparators(programDir + QStringLiteral("/ancillaries"));
}

void SetFolder(const QString &folder)
{
    QMutexLocker lock(&g_folderMutex);
    g_folder = folder;
}

QString ScriptName(int which)
{
#ifdef Q_OS_WIN
    const char *suffix = ".bat";
#else
    const char *suffix = ".sh";
#endif
    switch (which) {
    case 1:
        return QStringLiteral("int") + QLatin1String(suffix);
    case 2:
        return QStringLiteral("fin") + QLatin1String(suffix);
    default:
        return QString();
    }
}

QString Interpreter()
{
#ifdef Q_OS_WIN
    return cindrel::mapCDrivePath(QStringLiteral("C:/Windows/System32/cmd.exe"));
#else
    return QStringLiteral("/bin/sh");
#endif
}

QStringList InterpreterArguments(int which, const QStringList &arguments)
{
    QStringList args;
#ifdef Q_OS_WIN
    args << QStringLiteral("/D") << QStringLiteral("/E:ON") << QStringLiteral("/V:OFF") << QStringLiteral("/C");
#endif
    args << ScriptName(which);
    if (!arguments.isEmpty())
        args << arguments.first();
    return args;
}

bool IsSafeArgument(const QString &argument)
{
    for (const QChar c : argument) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
        switch (c.unicode()) {
        case '"':
        case '%':
        case '&':
        case '|':
        case '<':
        case '>':
        case '^':
            return false;
        default:
            break;
        }
    }
    return true;
}

} // namespace ancillary

int RunAncillary(int which, const QStringList &arguments)
{
    const QString script = ancillary::ScriptName(which);
    if (script.isEmpty()) {
        qWarning() << "RunAncillary: no script number" << which;
        return 0;
    }
    if (!arguments.isEmpty() && !ancillary::IsSafeArgument(arguments.first())) {
        qWarning() << "RunAncillary: not starting" << script << "with the unsafe argument" << arguments.first();
        return 0;
    }

    QProcess process;
    process.setProgram(ancillary::Interpreter());
    process.setArguments(ancillary::InterpreterArguments(which, arguments));
    process.setWorkingDirectory(ancillary::Folder());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        qWarning() << "RunAncillary: could not start" << script << "in" << ancillary::Folder() << ":"
                   << process.errorString();
        return 0;
    }
    process.closeWriteChannel();

    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        QEventLoop loop;
        QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                         &QEventLoop::quit);
        QObject::connect(&process, &QProcess::errorOccurred, &loop, [&loop, &process](QProcess::ProcessError) {
            if (process.state() == QProcess::NotRunning)
                loop.quit();
        });
        if (process.state() != QProcess::NotRunning)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    } else {
        process.waitForFinished(-1);
    }
    process.close();
    return 1;
}
