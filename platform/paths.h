#pragma once
#include <QString>

namespace cindrel {

// Every fixed "C:\..." path of the system goes through this function.
// On Windows the path is returned unchanged. Elsewhere the drive "C:" stands
// for the folder named by the environment variable CINDREL_C_DRIVE (the
// user's home folder when unset or empty) and backslashes become slashes.
// Paths without a "C:" drive are returned with backslashes turned into
// slashes (off Windows) and otherwise unchanged.
QString mapCDrivePath(const QString &windowsPath);

// The folder that stands for "C:\" off Windows (no trailing slash).
QString cDriveRoot();

} // namespace cindrel
