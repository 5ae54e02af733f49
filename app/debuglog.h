#pragma once
// The debug log: every message of the toolkit's logging, from every thread,
// appended to "mylogfile.log" in the working directory, one backup
// generation "mylogfile.log.1" above 3,000,000 bytes.
#include <QString>
#include <QtGlobal>

namespace DebugLog {

constexpr qint64 kSizeLimit = 3000000;

// The global message handler.
void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// Installs the handler (replacing any earlier one).
void install();

// Writes one line exactly as the handler does (used by the handler and tests).
void write(QtMsgType type, const QString &msg);

// Level tag for a message type ("[Debug*] " ...).
QString levelTag(QtMsgType type);

} // namespace DebugLog
