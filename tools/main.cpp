// The `cindrel` command-line tool: the ground analyst's batch processing.
// Subcommands register themselves (see tools/command.h).
#include "platform/identity.h"
#include "platform/notice.h"
#include "tools/command.h"

#include <QApplication>

#include <cstdio>

namespace {
// Library chatter stays out of the tool's output; real problems still show.
void toolMessages(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type == QtDebugMsg || type == QtInfoMsg || msg.contains(QLatin1String("XDG_RUNTIME_DIR")))
        return;
    std::fprintf(stderr, "cindrel: %s\n", qPrintable(msg));
}
} // namespace

int main(int argc, char *argv[])
{
    // Some data classes are widgets; the tool shows no window.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(toolMessages);
    QApplication app(argc, argv);
    cindrel::applyApplicationIdentity();
    // Boxes become messages: nothing modal in a batch tool.
    Notice::setTestMode(true);

    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return cindrel::tool::runTool(args, out, err);
}
