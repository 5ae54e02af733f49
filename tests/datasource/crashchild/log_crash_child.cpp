// Test helper: records lines tick by tick through the recording control
// until it is killed. Prints "open <path>" once the log is open and
// "tick <t> <lines>" after each completed tick (lines = lines handed over
// so far). The C: drive folder comes from CINDREL_C_DRIVE.
#include "crashline.h"

#include "datasource/cdatasource.h"
#include "datasource/coldcurve.h"
#include "datasource/recordingcontrol.h"
#include "platform/notice.h"

#include <QApplication>
#include <QThread>

#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Notice::setTestMode(true);

    auto curve = std::make_unique<ColdCurve>();
    CRecordingControl control(curve.get());
    control.SetMission(QStringLiteral("Crash Test"), QStringLiteral("N1"), QStringLiteral("tech"), 0.0);
    CDataSource source;
    if (control.StartPass(QDateTime(QDate(2024, 7, 15), QTime(14, 32)), &source) != 1)
        return 2;
    if (!control.ManipulateLogFile(1, false))
        return 3;
    std::printf("open %s\n", qPrintable(control.currentLogPath));
    std::fflush(stdout);

    auto line = std::make_unique<ScanLineRec>();
    std::uint32_t handed = 0;
    for (std::uint32_t tick = 0;; ++tick) {
        for (std::uint32_t k = 0; k < crashLinesInTick(tick); ++k) {
            makeCrashLine(handed, *line);
            control.WriteLogLine(*line);
            ++handed;
        }
        std::printf("tick %u %u\n", tick, handed);
        std::fflush(stdout);
        QThread::usleep(1500);
    }
}
