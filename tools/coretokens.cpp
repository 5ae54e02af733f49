#include "tools/coretokens.h"

#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace cindrel::tool {

CoreTokens::~CoreTokens()
{
    SecondThread(false);
#ifdef Q_OS_UNIX
    if (owner_) {
        ::close(readFd_);
        ::close(writeFd_);
    }
#endif
}

bool CoreTokens::Create(int spare)
{
#ifdef Q_OS_UNIX
    int fds[2];
    // Inherited by the children (no close-on-exec); reads never wait.
    if (::pipe(fds) != 0)
        return false;
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    readFd_ = fds[0];
    writeFd_ = fds[1];
    owner_ = true;
    for (int i = 0; i < spare; ++i)
        Give();
    return true;
#else
    Q_UNUSED(spare);
    return false;
#endif
}

bool CoreTokens::Attach(const QString &name)
{
#ifdef Q_OS_UNIX
    const QStringList fds = name.split(QLatin1Char(','));
    bool okRead = false, okWrite = false;
    const int r = fds.value(0).toInt(&okRead), w = fds.value(1).toInt(&okWrite);
    if (fds.size() != 2 || !okRead || !okWrite || r < 0 || w < 0 || ::fcntl(r, F_GETFD) < 0
        || ::fcntl(w, F_GETFD) < 0)
        return false;
    readFd_ = r;
    writeFd_ = w;
    return true;
#else
    Q_UNUSED(name);
    return false;
#endif
}

QString CoreTokens::Name() const
{
    return IsOpen() ? QStringLiteral("%1,%2").arg(readFd_).arg(writeFd_) : QString();
}

bool CoreTokens::TryTake()
{
#ifdef Q_OS_UNIX
    if (readFd_ < 0)
        return false;
    char token;
    for (;;) {
        const ssize_t n = ::read(readFd_, &token, 1);
        if (n == 1)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
#else
    return false;
#endif
}

void CoreTokens::Give()
{
#ifdef Q_OS_UNIX
    if (writeFd_ < 0)
        return;
    const char token = '+';
    while (::write(writeFd_, &token, 1) < 0 && errno == EINTR) {
    }
#endif
}

bool CoreTokens::SecondThread(bool want)
{
    if (held_) {
        Give();
        held_ = false;
    }
    if (want)
        held_ = TryTake();
    return held_;
}

} // namespace cindrel::tool
