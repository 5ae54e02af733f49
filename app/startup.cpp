#include "app/startup.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

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

void showMainWindow(QWidget *window)
{
    if (!window)
        return;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window->setGeometry(screen->availableGeometry());
    window->showMaximized();
}

} // namespace cindrel
