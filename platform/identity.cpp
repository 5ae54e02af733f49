#include "platform/identity.h"

#include <QCoreApplication>
#include <QSettings>

namespace cindrel {

void applyApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tarn"));
    QCoreApplication::setApplicationName(QStringLiteral("Cindrel64"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

} // namespace cindrel
