#include "app/startup.h"

#include "map/runtimeenvironment.h"

#include <QDebug>
#include <QtGlobal>

namespace cindrel {

QString mapApiKeyWarning()
{
    return QStringLiteral("Use of Esri location services, including basemaps, requires you to authenticate "
                          "with an ArcGIS identity or set the API Key property.");
}

void configureMapApiKey()
{
    const QString key = qEnvironmentVariable("CINDREL_MAP_API_KEY");
    if (key.isEmpty())
        qWarning().noquote() << mapApiKeyWarning();
    else
        cindrelmap::RuntimeEnvironment::setApiKey(key);
}

} // namespace cindrel
