// DSP boot file readers: a DSP program (ELF) or an FPGA image of any
// content loaded into the simulated board. Input: one byte choosing the
// reader (even: program for core byte/2 % 3, odd: FPGA image), then the
// file's bytes.
#include "dsp/boardaccess.h"
#include "dsp/dspboot.h"
#include "dsp/dspconsole.h"
#include "dsp/dsptiming.h"
#include "dsp/simboard.h"
#include "fuzz/fuzzsupport.h"

#include <QFile>

#include <memory>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::init();
    dsptiming::setScale(0.0);
    dspconsole::startCapture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::string path = (fuzzsupport::workDir() + QStringLiteral("/boot.bin")).toStdString();
    if (!fuzzsupport::writeFile(QString::fromStdString(path), data + 1, size - 1))
        return 0;
    // A board fresh from power-up for every input: a board kept across
    // inputs gathered every page any input wrote (memory without bound, and
    // results that depended on earlier inputs).
    BoardAccess access(std::make_unique<SimDriverChannel>(std::make_shared<SimBoard>(SimBoardConfig())));
    if (access.Open() != 0)
        std::abort();
    try {
        if (data[0] & 1)
            dspboot::configureFPGA_GPIO(access, path);
        else
            dspboot::loadEABI(access, path, (data[0] >> 1) % 3);
    } catch (const DspBootError &) {
        // A refused file is the expected outcome of most inputs.
    }
    dspconsole::takeCapture();   // drop the captured progress text
    return 0;
}
