#pragma once
#include <QString>

class QWidget;

namespace cindrel {

// The map layer's key comes from the environment variable
// CINDREL_MAP_API_KEY. An empty key is logged as a warning; otherwise it is
// handed to the map layer's runtime environment.
void configureMapApiKey();

// The warning logged when no key is configured.
QString mapApiKeyWarning();

// Shows the main window maximised, first placed on the primary screen's
// available area so that it fits the screen even where no window manager
// maximises it.
void showMainWindow(QWidget *window);

} // namespace cindrel
