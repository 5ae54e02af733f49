// Entry point of every test program: isolates settings, the "C:\" folder
// and the working directory in a temporary folder, puts the notice layer in
// test mode and creates the application object the widgets need.
#include "platform/identity.h"
#include "platform/notice.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

namespace testsupport {
void setTempRoot(const QString &root);
}

// Sanitizer options built in, so no variable has to be exported by hand;
// main also puts them into the environment for the programs tests start.
#ifdef CINDREL_LSAN_OPTIONS
extern "C" const char *__lsan_default_options()
{
    return CINDREL_LSAN_OPTIONS;
}
#endif
#ifdef CINDREL_TSAN_OPTIONS
extern "C" const char *__tsan_default_options()
{
    return CINDREL_TSAN_OPTIONS;
}
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef CINDREL_LSAN_OPTIONS
    if (qEnvironmentVariableIsEmpty("LSAN_OPTIONS"))
        qputenv("LSAN_OPTIONS", CINDREL_LSAN_OPTIONS);
#endif
#ifdef CINDREL_TSAN_OPTIONS
    if (qEnvironmentVariableIsEmpty("TSAN_OPTIONS"))
        qputenv("TSAN_OPTIONS", CINDREL_TSAN_OPTIONS);
#endif

    QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/cindrel-test-XXXXXX"));
    if (!temp.isValid())
        return 3;
    const QString root = temp.path();
    QDir().mkpath(root + QStringLiteral("/work"));
    QDir().mkpath(root + QStringLiteral("/config"));
    QDir().mkpath(root + QStringLiteral("/c-drive"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("CINDREL_C_DRIVE", QFile::encodeName(root + QStringLiteral("/c-drive")));
    qunsetenv("CINDREL_MAP_API_KEY");
    testsupport::setTempRoot(root);
    QDir::setCurrent(root + QStringLiteral("/work"));

    QApplication app(argc, argv);
    cindrel::applyApplicationIdentity();
    Notice::setTestMode(true);

    const int rc = RUN_ALL_TESTS();
    QDir::setCurrent(QDir::tempPath());
    return rc;
}
