#include "app/imageviewer.h"
#include "app/startup.h"
#include "dsp/channelselect.h"
#include "platform/identity.h"
#include "platform/settingskeys.h"

#include <QApplication>
#include <QSettings>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    cindrel::configureMapApiKey();
    cindrel::applyApplicationIdentity();
    // The simulated board only when asked for (the demo start-up does).
    dspdrv::setSimulatedBoardRequested(
        app.arguments().contains(QLatin1String(dspdrv::kSimulatedBoardOption))
        || QSettings().value(SettingsKey::SimulatedBoard, false).toBool());

    auto *window = new ImageViewer;
    cindrel::showMainWindow(window);
    const int rc = app.exec();
    delete window;
    return rc;
}
