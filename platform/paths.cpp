#include "platform/paths.h"

#include <QDir>

namespace cindrel {

QString cDriveRoot()
{
    QString root = qEnvironmentVariable("CINDREL_C_DRIVE");
    if (root.isEmpty())
        root = QDir::homePath();
    root = QDir::fromNativeSeparators(root);
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

QString mapCDrivePath(const QString &windowsPath)
{
#ifdef Q_OS_WIN
    return windowsPath;
#else
    QString p = windowsPath;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (p.size() >= 2 && (p[0] == QLatin1Char('C') || p[0] == QLatin1Char('c')) && p[1] == QLatin1Char(':')) {
        QString rest = p.mid(2);
        while (rest.startsWith(QLatin1Char('/')))
            rest.remove(0, 1);
        const QString root = cDriveRoot();
        if (rest.isEmpty())
            return root;
        return root == QLatin1String("/") ? root + rest : root + QLatin1Char('/') + rest;
    }
    return p;
#endif
}

} // namespace cindrel
