#pragma once
// Whole-log reads shared by the commands that re-detect fire on the ground.
#include <QString>

class ColdCurve;

struct LogScan {
    bool ok = false;
    QString why;
    long long lines = 0;
    long long firePixels = 0;
};

// Reads every record of a log; with a curve, the records also go through
// the host fire test so that the curve learns the log's coldest channel A
// values, as it does while the log is recorded or replayed.
LogScan scanLog(const QString &path, ColdCurve *learn);
