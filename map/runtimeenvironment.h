#pragma once
#include <QString>

namespace cindrelmap {

// Process-wide settings of the map layer.
class RuntimeEnvironment {
public:
    static void setApiKey(const QString &key);
    static QString apiKey();
};

} // namespace cindrelmap
