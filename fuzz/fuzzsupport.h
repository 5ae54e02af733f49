#pragma once
// Shared by the fuzz targets: a private working folder (settings, the "C:"
// drive and the current directory inside it, in memory where /dev/shm
// exists), the offscreen Qt application the readers' widgets need, and the
// notice layer answering every box without showing it.
#include <QString>

#include <cstddef>
#include <cstdint>

namespace fuzzsupport {

// Once per process, from LLVMFuzzerInitialize.
void init();
// The working folder (also the current directory).
QString workDir();
// Writes the bytes as a whole file; false when it cannot.
bool writeFile(const QString &path, const std::uint8_t *data, std::size_t size);
// Forgets the boxes recorded so far (they would pile up over millions of runs).
void forgetNotices();

} // namespace fuzzsupport
