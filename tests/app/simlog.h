#pragma once
// Simulated flight logs for the main window's tests.
#include "datasource/scanline.h"

#include <QString>

class QProcess;

#include <vector>

namespace apptest {
// Writes a simulated eastbound pass of `lines` lines as a flight log.
// Returns false when the log cannot be written.
bool writeSimLog(const QString &path, int lines);
// Every record of a log, read without the fire test.
std::vector<ScanLineRec> readLog(const QString &path);
// Starts Xvfb with one screen of `screen` ("1280x1024") on a free display;
// returns the display name (":N") or empty when it did not start.
QString startXvfb(QProcess &xvfb, const QString &screen);
} // namespace apptest
