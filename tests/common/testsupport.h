#pragma once
// Shared helpers of the test programs. Every test program runs in its own
// temporary folder: the working directory, XDG_CONFIG_HOME (settings) and
// CINDREL_C_DRIVE (the "C:\" folder) all point into it.
#include <QString>
#include <QStringList>

namespace testsupport {

// The per-process temporary root (holds work/, config/ and c-drive/).
QString tempRoot();
// The working directory the tests start in.
QString workDir();

struct ProcessResult {
    int exitCode = -1;
    bool started = false;
    bool timedOut = false;
    QString out;
    QString err;
};

// Runs a program and waits (default 120 s).
ProcessResult run(const QString &program, const QStringList &args, int timeoutMs = 120000,
                  const QString &workingDir = QString());

// True when the program is found on PATH.
bool haveTool(const QString &program);

// Path of the cindrel command-line tool and of the GUI executable.
QString toolPath();
QString guiPath();
QString sourceDir();

// A folder on its own small file system, to fill the disk: a tmpfs of about
// `bytes` mounted at `path` when the tests may mount (run as root). When
// mounted() is false the folder is an ordinary one and the caller limits the
// file size (RLIMIT_FSIZE) instead. Unmounted at the end.
class SmallDisk {
public:
    SmallDisk(const QString &path, qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    bool mounted() const { return mounted_; }

private:
    QString path_;
    bool mounted_ = false;
};

} // namespace testsupport
