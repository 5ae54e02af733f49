#pragma once
// Cores shared by the child processes of one `cindrel process`, after the
// job server of make: a pipe holds one byte for every core no process is
// using. The parent keeps a core for every child it runs and puts a core
// in the pipe when nothing is left to start on it; a child's rectifier
// takes a spare core for its second thread without waiting, and gives it
// back when it has traced a block of lines, to ask again for the next.
//
// Off POSIX systems there is no pool: the parent splits the cores when it
// starts the children.
#include <QString>

namespace cindrel::tool {

class CoreTokens {
public:
    CoreTokens() = default;
    ~CoreTokens();
    CoreTokens(const CoreTokens &) = delete;
    CoreTokens &operator=(const CoreTokens &) = delete;

    // Parent: a new pool holding `spare` cores, passed on to children as
    // Name(). False where no pool can be made.
    bool Create(int spare);
    // Child: the pool of a parent's Name(). False for a name that is none.
    bool Attach(const QString &name);
    bool IsOpen() const { return readFd_ >= 0; }
    QString Name() const;

    // Takes a spare core at once, or returns false.
    bool TryTake();
    // Puts a core back.
    void Give();

    // The rectifier's second thread for the next block of lines (want) or
    // for no more lines (!want): gives back the core held, then, when
    // wanted, tries for one. True while a core is held.
    bool SecondThread(bool want);

private:
    int readFd_ = -1, writeFd_ = -1;
    bool owner_ = false;
    bool held_ = false;
};

} // namespace cindrel::tool
