#pragma once

namespace cindrel {

// Names the settings store: organisation "Tarn", application "Cindrel64",
// and makes INI the default format so that every QSettings created without
// arguments opens the same per-user INI file.
void applyApplicationIdentity();

} // namespace cindrel
