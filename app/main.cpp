#include "app/imageviewer.h"
#include "app/startup.h"
#include "platform/identity.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    cindrel::configureMapApiKey();
    cindrel::applyApplicationIdentity();

    auto *window = new ImageViewer;
    cindrel::showMainWindow(window);
    const int rc = app.exec();
    delete window;
    return rc;
}
