#include "dsp/cdspinterface.h"
#include "platform/settingskeys.h"

#include "datasource/coldcurve.h"
#include "dsp/dspboot.h"
#include "dsp/dspconsole.h"
#include "dsp/dsptiming.h"
#include "platform/notice.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTimer>

#include <atomic>
#include <cstring>

namespace {

std::atomic<std::uint32_t> g_pollCounter{0};

std::uint32_t toDsp(int index) { return boardmap::toDspMailbox(index); }
std::uint32_t fromDsp(int index) { return boardmap::fromDspMailbox(index); }

} // namespace

CDspInterface::CDspInterface(ColdCurve *coldCurve, QWidget *parent)
    : CDataSource(parent), board_(std::make_unique<BoardAccess>()),
      buffer_(std::make_unique<CDspDataBuffer>(coldCurve))
{
}

CDspInterface::CDspInterface(ColdCurve *coldCurve, std::unique_ptr<dspdrv::DriverChannel> channel, QWidget *parent)
    : CDataSource(parent), board_(std::make_unique<BoardAccess>(std::move(channel))),
      buffer_(std::make_unique<CDspDataBuffer>(coldCurve))
{
}

CDspInterface::~CDspInterface()
{
    if (worker_)
        worker_->requestStop();
    thread_.quit();
    thread_.wait();
    // finished() -> deleteLater() normally destroyed the worker with the
    // thread; if that did not run, it is destroyed here, once.
    if (worker_)
        delete worker_.data();
    if (initialised_) {
        sendCommand(kStopCommand);
        initialised_ = false;
    }
    if (board_->isOpen()) {
        try {
            dspboot::dspAssertLocalReset(*board_, 0, 8);
        } catch (const DspBootError &e) {
            dspconsole::write(std::string(e.what()) + "\n");
        }
    }
    buffer_.reset();
    board_->Close();
}

std::uint32_t CDspInterface::pollCounter() { return g_pollCounter.load(); }

// ------------------------------------------------------------- board words

int CDspInterface::boardWrite(std::uint32_t address, std::uint32_t value)
{
    return board_->WriteAddress(4, address, value, true, BoardAccess::kSetRuntime);
}

int CDspInterface::boardWriteDouble(std::uint32_t address, double value)
{
    std::uint32_t words[2];
    static_assert(sizeof(words) == sizeof(value), "double is two words");
    std::memcpy(words, &value, sizeof(words));
    return board_->WriteAddressBuf(4, address, 2, 2, words, true, BoardAccess::kSetRuntime);
}

bool CDspInterface::boardRead(std::uint32_t address, std::uint32_t *value)
{
    return board_->ReadAddress(4, address, value, true, BoardAccess::kSetRuntime) == 0;
}

// --------------------------------------------------------------- mailboxes

std::uint32_t CDspInterface::MailboxRead(int index, bool *ok)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        std::uint32_t v = 0;
        if (!boardRead(fromDsp(index), &v))
            break;
        if (v != 0) {
            boardWrite(fromDsp(index), 0);
            if (ok)
                *ok = true;
            return v;
        }
        // A dead board must not hold the program.
        if (timer.elapsed() > mailboxTimeLimitMs_)
            break;
    }
    if (ok)
        *ok = false;
    return 0;
}

std::uint32_t CDspInterface::MailboxPoll(int index)
{
    std::uint32_t v = 0;
    if (!boardRead(fromDsp(index), &v))
        v = 0;
    if (v != 0) {
        boardWrite(kPollAck, g_pollCounter.load());
        boardWrite(fromDsp(index), 0);
    }
    g_pollCounter.fetch_add(1);
    return v;
}

int CDspInterface::MailboxWrite(int index, std::uint32_t value)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        std::uint32_t v = 0;
        if (!boardRead(toDsp(index), &v))
            return -1;
        if (v == 0)
            return boardWrite(toDsp(index), value);
        if (timer.elapsed() > mailboxTimeLimitMs_)
            return -1;
    }
}

// ------------------------------------------------------------------ start-up

void CDspInterface::initFailed(const QString &text)
{
    Notice::critical(this, tr("DSP INIT ERROR"), text, QMessageBox::Ok);
}

bool CDspInterface::Initialize() { return InitializeBoard(QStringLiteral("ignore")); }

bool CDspInterface::BootDspPrograms(const QString &context)
{
    const QString rbfFailed =
        QStringLiteral("%1\nRBF load failed.  Check that file exists and is a RBF file.").arg(context);
    const QString coffFailed =
        QStringLiteral("%1\nCOFF load failed.  Check that file exists and is a COFF file.").arg(context);
    try {
        dspboot::configureFPGA_GPIO(*board_, "a.rbf");
    } catch (const DspBootError &e) {
        dspconsole::write(std::string(e.what()) + "\n");
        initFailed(rbfFailed);
        return false;
    }
    auto loadAndStart = [&](const char *file, std::uint32_t core) {
        try {
            const std::uint32_t entry = dspboot::loadEABI(*board_, file, core);
            dspboot::startDSP(*board_, core, entry);
            return true;
        } catch (const DspBootError &e) {
            dspconsole::write(std::string(e.what()) + "\n");
            initFailed(coffFailed);
            return false;
        }
    };
    if (!loadAndStart("c0.out", 0))
        return false;
    dsptiming::sleepMs(1000);
    return loadAndStart("c1.out", 1) && loadAndStart("c2.out", 2);
}

bool CDspInterface::InitializeBoard(const QString &context)
{
    initialised_ = false;

    QSettings settings;
    const int abShift = settings.value(SettingsKey::ABShift, 6).toInt();
    if (abShift < 0 || abShift > 18)
        initFailed(QStringLiteral("The A_B_Shift value in the registry is %1.\nIt was expected to be between 0 and "
                                  "18.\nYou may want to check this if it doesn't seem correct.")
                       .arg(abShift));

    if (board_->Open() != 0) {
        initFailed(QStringLiteral("Unable to open Device Driver for target %1. Check the Target Number for errors.")
                       .arg(targetNumber_));
        return false;
    }
    Notice::information(this, tr("DSP INIT"), QStringLiteral("Initialized Driver"), QMessageBox::Ok);

    try {
        dspboot::dspAssertLocalReset(*board_, 0, 8);
        dspboot::dspDeAssertLocalReset(*board_, 0, 8, 0);
    } catch (const DspBootError &e) {
        dspconsole::write(std::string(e.what()) + "\n");
        return false;
    }
    Notice::information(this, tr("DSP INIT"), QStringLiteral("Reset"), QMessageBox::Ok);

    if (!BootDspPrograms(context))
        return false;

    bool answered = false;
    for (int poll = 1; poll <= kHandshakePolls; ++poll) {
        const std::uint32_t v = MailboxPoll(1);
        dsptiming::sleepMs(200);
        if (poll < kHandshakePolls && v == kReadyCode) {
            answered = true;
            break;
        }
    }
    if (!answered) {
        initFailed(QStringLiteral("Target Application did not Respond"));
        std::uint32_t status = 0;
        if (boardRead(kBoardStatus, &status) && status == boardmap::kStatusInsLinkDown)
            initFailed(QStringLiteral("No Ethernet: Check Ekinox and Retry"));
        return false;
    }

    bool ok = false;
    const std::uint32_t size = MailboxRead(1, &ok);
    if (!ok) {
        initFailed(QStringLiteral("Target Application did not report its scan record size."));
        return false;
    }
    // The board writes that many bytes into a scan record; more would not fit.
    if (size > sizeof(ScanLineRec)) {
        initFailed(QStringLiteral("Target Application reported a scan record size of %1 bytes; a scan record "
                                  "holds at most %2 bytes.")
                       .arg(size)
                       .arg(sizeof(ScanLineRec)));
        return false;
    }
    recordSize_ = size;
    if (MailboxWrite(1, std::uint32_t(abShift)) != 0 || MailboxWrite(1, kParametersDone) != 0) {
        initFailed(QStringLiteral("Target Application did not accept its start-up parameters."));
        return false;
    }

    if (!worker_) {
        auto *worker = new DspWorker(board_.get(), buffer_.get(), recordSize_);
        worker->moveToThread(&thread_);
        connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
        worker_ = worker;
        thread_.start(QThread::InheritPriority);
        QTimer::singleShot(0, worker, &DspWorker::doWork);
    }
    initialised_ = true;
    return true;
}

// ------------------------------------------------------------ commands

int CDspInterface::sendCommand(std::uint32_t command) { return MailboxWrite(0, command); }

int CDspInterface::StartAcquisition()
{
    const int rc = sendCommand(kStartCommand);
    if (rc != 0)
        Notice::critical(this, tr("DSP ERROR"),
                         QStringLiteral("The DSP board did not take the start command."), QMessageBox::Ok);
    return rc;
}

int CDspInterface::StopAcquisition()
{
    const int rc = sendCommand(kStopCommand);
    if (rc != 0)
        Notice::critical(this, tr("DSP ERROR"),
                         QStringLiteral("The DSP board did not take the stop command."), QMessageBox::Ok);
    return rc;
}

void CDspInterface::Start() { StartAcquisition(); }
void CDspInterface::Stop() { StopAcquisition(); }

// ------------------------------------------------------------ data source

bool CDspInterface::DoNextFwdCycle(int, bool, bool)
{
    newLineCount_ = buffer_->TakeNewLineCount();
    return false;
}

void CDspInterface::ResetCurve(bool reset) { boardWrite(kCurveReset, reset ? 1u : 0u); }
void CDspInterface::LockCurve(bool lock) { boardWrite(kCurveLock, lock ? 1u : 0u); }

float CDspInterface::GetAltitude() { return float(buffer_->altitude()) * 0.01f; }

void CDspInterface::GetStatWords(std::uint32_t *first, std::uint32_t *second)
{
    if (first)
        *first = buffer_->statWord1();
    if (second)
        *second = buffer_->statWord2();
}

float CDspInterface::GetChnBGain() { return buffer_->chnBGain(); }

void CDspInterface::GetChnBMinMax(std::int32_t *min, std::int32_t *max)
{
    if (min)
        *min = buffer_->chnBMin();
    if (max)
        *max = buffer_->chnBMax();
}

std::int32_t CDspInterface::GetChnBOffset() { return buffer_->chnBOffset(); }

void CDspInterface::GetGndFootprint(int, std::uint32_t *a, std::uint32_t *b)
{
    if (a)
        *a = 0;
    if (b)
        *b = 0;
}

float CDspInterface::GetHeading() { return float(std::uint32_t(buffer_->heading())) * 0.01f; }
std::uint32_t CDspInterface::GetLineIndex() { return buffer_->lineIndex(); }

std::uint32_t CDspInterface::GetScanRates(float *a, float *b)
{
    const std::uint32_t period = buffer_->scanPeriod();
    const float inv = 1.0f / float(std::int32_t(period));
    if (a)
        *a = float(double(inv) * 2.0e7);
    if (b)
        *b = float(double(inv) * 1.0e6);
    return period;
}

std::uint32_t CDspInterface::GetNumNewImageLines() { return newLineCount_; }

std::uint32_t CDspInterface::GetNumNewLinesUsingVh(std::uint32_t a, std::uint32_t b)
{
    // The ring has no count by V/H; the new line count is the nearest answer.
    Q_UNUSED(a);
    Q_UNUSED(b);
    return newLineCount_;
}

float CDspInterface::GetPitch() { return float(std::int32_t(buffer_->pitch())) * 0.01f; }

void CDspInterface::GetPosition(double *lat, double *lon)
{
    if (lat)
        *lat = milliArcSecToDeg(buffer_->latitude());
    if (lon)
        *lon = milliArcSecToDeg(buffer_->longitude());
}

void CDspInterface::GetPosition(float *lat, float *lon)
{
    if (lat)
        *lat = milliArcSecToDegF(buffer_->latitude());
    if (lon)
        *lon = milliArcSecToDegF(buffer_->longitude());
}

void CDspInterface::GetPositionArcSec(int, float *lat, float *lon)
{
    if (lat)
        *lat = float(buffer_->latitude()) * 0.001f;
    if (lon)
        *lon = float(buffer_->longitude()) * 0.001f;
}

void CDspInterface::GetPriorImageLine(std::uint32_t age, ScanLineRec *out)
{
    if (!out)
        return;
    if (age >= std::uint32_t(CDspDataBuffer::kCapacity)) {
        out->clear();
        return;
    }
    buffer_->GetPriorLine(age, out);
}

float CDspInterface::GetRoll() { return float(std::int32_t(buffer_->roll())) * 0.01f; }
float CDspInterface::GetSpeed() { return float(std::int32_t(buffer_->speed())) * 0.01f; }
float CDspInterface::GetTrack() { return float(std::uint32_t(buffer_->track())) * 0.01f; }

void CDspInterface::GetVOverH(std::uint32_t *interval, bool *overrideOn, std::uint32_t *override_)
{
    if (interval)
        *interval = buffer_->vhInterval();
    if (overrideOn)
        *overrideOn = buffer_->vhOverrideOn();
    if (override_)
        *override_ = buffer_->vhOverride();
}

std::uint32_t CDspInterface::GetVOverH(bool *overrideOn)
{
    if (overrideOn)
        *overrideOn = buffer_->vhOverrideOn();
    return buffer_->effectiveInterval();
}

std::uint32_t CDspInterface::GetVOverH() { return buffer_->effectiveInterval(); }

std::uint32_t CDspInterface::GetFireThreshold() { return std::uint32_t(buffer_->fireThreshold()); }
bool CDspInterface::IsDspStatusSet() { return buffer_->dspStatusSet(); }
std::uint32_t CDspInterface::GetSpikeErr() { return MailboxPoll(1); }

float CDspInterface::SetChnBGain(float gain)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &gain, 4);
    boardWrite(kChnBGain, bits);
    return gain;
}

std::uint32_t CDspInterface::SetChnBOffset(std::uint32_t offset)
{
    boardWrite(kChnBOffset, offset);
    return offset;
}

std::uint32_t CDspInterface::SetFireThreshold(std::uint32_t threshold)
{
    boardWrite(kFireThreshold, threshold);
    return threshold;
}

void CDspInterface::SetFireDetectParams(bool usePoly, std::uint32_t bMax, std::uint32_t bMin, double a2, double a1,
                                        double a0)
{
    boardWrite(kUsePoly, usePoly ? 1u : 0u);
    boardWrite(kBMax, bMax);
    boardWrite(kBMin, bMin);
    boardWriteDouble(kPolyA0, a0);
    boardWriteDouble(kPolyA1, a1);
    boardWriteDouble(kPolyA2, a2);
    buffer_->SetFireDetectParams(usePoly, std::int32_t(bMax), std::int32_t(bMin), a2, a1, a0);
}

void CDspInterface::SetBMax(std::uint32_t bMax)
{
    boardWrite(kBMax, bMax);
    buffer_->SetBMax(std::int32_t(bMax));
}

void CDspInterface::SetBMin(std::uint32_t bMin)
{
    boardWrite(kBMin, bMin);
    buffer_->SetBMin(std::int32_t(bMin));
}

void CDspInterface::SetGroundElevation(std::uint32_t metres) { boardWrite(kGroundElevation, metres); }

std::int32_t CDspInterface::SetVOverHOverride(std::int32_t value)
{
    if (value != -1)
        boardWrite(kVhOverride, std::uint32_t(value));
    boardWrite(kVhOverrideOn, value != -1 ? 1u : 0u);
    return value;
}

void CDspInterface::Terminate() {}
void CDspInterface::WriteVrmlDiagData() {}
std::uint32_t CDspInterface::GetCorScanState() { return 0; }
void CDspInterface::GetCorScanA() {}
void CDspInterface::GetCorScanB() {}
