#pragma once
// The launcher of the site's ancillary scripts, kept in the folder
// "ancillaries" beside the program: "int.bat" runs after a flight log has
// been processed (argument: the log's base name), "fin.bat" hands a mission
// to the site's transfer (argument: the mission name). On Windows they run
// through "C:/Windows/System32/cmd.exe" with AutoRun commands disabled,
// command extensions on and delayed expansion off; elsewhere the scripts
// "int.sh" and "fin.sh" of the same folder run through /bin/sh with the
// same argument. The script's working directory is the folder, its output
// goes to the null device, and its input is closed at once, so a script
// that asks for a key press (a "pause") ends instead of waiting forever.
//
// The caller waits until the script ends, without a time limit. On a worker
// thread the thread simply blocks. On the GUI thread the wait keeps
// serving timers and other non-input events, so the processing loop (the
// display, the recording) carries on while the script runs; user input
// waits until the script has ended.
//
// An argument that the Windows command interpreter would take as syntax
// (one of " % & | < > ^ or a control character) is never passed: the
// script is then not started at all.
#include <QString>
#include <QStringList>

// Runs script `which` (1: "int.bat", 2: "fin.bat") with the first element
// of `arguments` (if any) and waits for it to end. Returns 1 when the
// script ran (its exit code is not examined), 0 when it could not be
// started or was refused.
int RunAncillary(int which, const QStringList &arguments);

namespace ancillary {

// The scripts' folder: the program's own folder followed by "ancillaries",
// unless SetFolder chose another one.
QString Folder();
// Chooses the scripts' folder (tests, tools); empty restores the default.
void SetFolder(const QString &folder);

// "int.bat"/"fin.bat" on Windows, "int.sh"/"fin.sh" elsewhere; empty for
// any other `which`.
QString ScriptName(int which);
// The interpreter that runs the scripts.
QString Interpreter();
// The interpreter's full argument list for script `which`.
QStringList InterpreterArguments(int which, const QStringList &arguments);

// False for texts the command interpreter would not pass through as one
// plain argument.
bool IsSafeArgument(const QString &argument);

} // namespace ancillary
