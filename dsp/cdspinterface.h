#pragma once
// The live data source: brings the PCIe DSP board up, then receives one
// scan record per scan line on the acquisition thread (DspWorker) into the
// ring, and writes the operator's detection and display settings into the
// board's memory. Everything but the acquisition loop runs on the GUI
// thread.
#include "datasource/cdatasource.h"
#include "datasource/cdspdatabuffer.h"
#include "dsp/boardaccess.h"
#include "dsp/boardmap.h"
#include "dsp/dspworker.h"

#include <QPointer>
#include <QThread>

#include <cstdint>
#include <memory>

class ColdCurve;

class CDspInterface : public CDataSource {
    Q_OBJECT
public:
    // Board addresses and mailbox words of the DSP programs (boardmap.h).
    static constexpr std::uint32_t kToDspMailbox0 = boardmap::kToDspMailbox0;
    static constexpr std::uint32_t kFromDspMailbox0 = boardmap::kFromDspMailbox0;
    static constexpr std::uint32_t kGroundElevation = boardmap::kGroundElevation;
    static constexpr std::uint32_t kBoardStatus = boardmap::kBoardStatus;
    static constexpr std::uint32_t kPollAck = boardmap::kPollAck;
    static constexpr std::uint32_t kChnBGain = boardmap::kChnBGain;
    static constexpr std::uint32_t kChnBOffset = boardmap::kChnBOffset;
    static constexpr std::uint32_t kVhOverride = boardmap::kVhOverride;
    static constexpr std::uint32_t kVhOverrideOn = boardmap::kVhOverrideOn;
    static constexpr std::uint32_t kFireThreshold = boardmap::kFireThreshold;
    static constexpr std::uint32_t kUsePoly = boardmap::kUsePoly;
    static constexpr std::uint32_t kCurveLock = boardmap::kCurveLock;
    static constexpr std::uint32_t kBMax = boardmap::kBMax;
    static constexpr std::uint32_t kBMin = boardmap::kBMin;
    static constexpr std::uint32_t kPolyA0 = boardmap::kPolyA0;
    static constexpr std::uint32_t kPolyA1 = boardmap::kPolyA1;
    static constexpr std::uint32_t kPolyA2 = boardmap::kPolyA2;
    static constexpr std::uint32_t kCurveReset = boardmap::kCurveReset;
    static constexpr std::uint32_t kReadyCode = boardmap::kReadyCode;
    static constexpr std::uint32_t kStartCommand = boardmap::kStartCommand;
    static constexpr std::uint32_t kStopCommand = boardmap::kStopCommand;
    static constexpr std::uint32_t kParametersDone = boardmap::kParametersDone;
    static constexpr std::uint32_t kInitialRecordSize = 15308;
    static constexpr int kHandshakePolls = 50;
    static constexpr int kDefaultMailboxTimeLimitMs = 5000;

    // The board is reached through the default driver channel.
    explicit CDspInterface(ColdCurve *coldCurve, QWidget *parent = nullptr);
    CDspInterface(ColdCurve *coldCurve, std::unique_ptr<dspdrv::DriverChannel> channel, QWidget *parent = nullptr);
    ~CDspInterface() override;

    bool DoNextFwdCycle(int unused, bool unused2, bool fireTest) override;
    void ResetCurve(bool reset) override;
    void LockCurve(bool lock) override;
    float GetAltitude() override;
    void GetStatWords(std::uint32_t *first, std::uint32_t *second) override;
    float GetChnBGain() override;
    void GetChnBMinMax(std::int32_t *min, std::int32_t *max) override;
    std::int32_t GetChnBOffset() override;
    void GetGndFootprint(int which, std::uint32_t *a, std::uint32_t *b) override;
    float GetHeading() override;
    std::uint32_t GetLineIndex() override;
    std::uint32_t GetScanRates(float *a, float *b) override;
    std::uint32_t GetNumNewImageLines() override;
    std::uint32_t GetNumNewLinesUsingVh(std::uint32_t a, std::uint32_t b) override;
    float GetPitch() override;
    void GetPosition(double *lat, double *lon) override;
    void GetPosition(float *lat, float *lon) override;
    void GetPositionArcSec(int which, float *lat, float *lon) override;
    void GetPriorImageLine(std::uint32_t age, ScanLineRec *out) override;
    float GetRoll() override;
    float GetSpeed() override;
    float GetTrack() override;
    void GetVOverH(std::uint32_t *interval, bool *overrideOn, std::uint32_t *override_) override;
    std::uint32_t GetVOverH(bool *overrideOn) override;
    std::uint32_t GetVOverH() override;
    std::uint32_t GetFireThreshold() override;
    bool IsDspStatusSet() override;
    std::uint32_t GetSpikeErr() override;
    bool Initialize() override;
    float SetChnBGain(float gain) override;
    std::uint32_t SetChnBOffset(std::uint32_t offset) override;
    std::uint32_t SetFireThreshold(std::uint32_t threshold) override;
    void SetFireDetectParams(bool usePoly, std::uint32_t bMax, std::uint32_t bMin, double a2, double a1,
                             double a0) override;
    void SetBMax(std::uint32_t bMax) override;
    void SetBMin(std::uint32_t bMin) override;
    void SetGroundElevation(std::uint32_t metres) override;
    std::int32_t SetVOverHOverride(std::int32_t value) override;
    void Stop() override;
    void Terminate() override;
    void WriteVrmlDiagData() override;
    std::uint32_t GetCorScanState() override;
    void GetCorScanA() override;
    void GetCorScanB() override;

    // The start-up sequence; the context text heads the "load failed" boxes.
    bool InitializeBoard(const QString &context);
    bool BootDspPrograms(const QString &context);

    // Mailboxes. The waits end after the time limit (ok = false / -1).
    std::uint32_t MailboxRead(int index, bool *ok = nullptr);
    std::uint32_t MailboxPoll(int index);
    int MailboxWrite(int index, std::uint32_t value);
    void setMailboxTimeLimit(int ms) { mailboxTimeLimitMs_ = ms; }

    // Start / stop commands with their result (0 or -1).
    int StartAcquisition();
    int StopAcquisition();

    bool initialised() const { return initialised_; }
    std::uint32_t recordSize() const { return recordSize_; }
    BoardAccess *board() const { return board_.get(); }
    CDspDataBuffer *buffer() const { return buffer_.get(); }
    DspWorker *worker() const { return worker_.data(); }
    QThread *acquisitionThread() { return &thread_; }
    // Scan lines the board made that never reached the ring (0 before start-up).
    std::uint64_t linesMissed() const { return worker_ ? worker_->linesMissed() : 0; }
    // True when the board is the simulated one.
    bool simulatedBoard() const { return board_->channel() && board_->channel()->simulated(); }

    // The process-wide poll acknowledgement counter.
    static std::uint32_t pollCounter();

public slots:
    void Start() override;

private:
    int boardWrite(std::uint32_t address, std::uint32_t value);
    int boardWriteDouble(std::uint32_t address, double value);
    bool boardRead(std::uint32_t address, std::uint32_t *value);
    int sendCommand(std::uint32_t command);
    void initFailed(const QString &text);

    std::unique_ptr<BoardAccess> board_;
    QThread thread_;
    QPointer<DspWorker> worker_;
    std::unique_ptr<CDspDataBuffer> buffer_;
    std::uint32_t recordSize_ = kInitialRecordSize;
    bool initialised_ = false;
    std::uint32_t newLineCount_ = 0;
    std::uint32_t targetNumber_ = 0;
    int mailboxTimeLimitMs_ = kDefaultMailboxTimeLimitMs;
};
