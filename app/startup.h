#pragma once
#include <QString>

namespace cindrel {

// The map layer's key comes from the environment variable
// CINDREL_MAP_API_KEY. An empty key is logged as a warning; otherwise it is
// handed to the map layer's runtime environment.
void configureMapApiKey();

// The warning logged when no key is configured.
QString mapApiKeyWarning();

} // namespace cindrel
