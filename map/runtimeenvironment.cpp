#include "map/runtimeenvironment.h"

#include <QMutex>
#include <QMutexLocker>

namespace cindrelmap {
namespace {
QMutex keyMutex;
QString &storedKey()
{
    static QString key;
    return key;
}
} // namespace

void RuntimeEnvironment::setApiKey(const QString &key)
{
    QMutexLocker lock(&keyMutex);
    storedKey() = key;
}

QString RuntimeEnvironment::apiKey()
{
    QMutexLocker lock(&keyMutex);
    return storedKey();
}

} // namespace cindrelmap
