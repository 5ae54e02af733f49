#pragma once
// DspSig: the operator's panel for the three fire detection thresholds
// (Fire, BMax, BMin), the channel B display mapping (Width = gain, Center =
// offset), the V/H override and the detection curve (Lock, Unlock, Reset).
// Every change goes at once to the owner's current data source through its
// setters; the panel re-reads the source's values on every tick
// (updateGraph), so a source's own values (a replayed log's thresholds)
// win between ticks. Below the controls it shows the ScaleCtrl picture.
#include "display/scalectrl.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <vector>

class DisplayOwner;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class wfLabel;

class DspSig : public QWidget {
    Q_OBJECT
public:
    // The owner is kept for the panel's life; parent is normally the owner's
    // widget.
    DspSig(DisplayOwner *owner, QWidget *parent = nullptr);
    ~DspSig() override;

    // The single place a control value is applied. which: 1 Fire, 2 BMax,
    // 3 BMin, 4 gain (value in tenths), 5 offset, 6 V/H override. Returns -1
    // when refused (no data source, unknown which, value out of range).
    int SetSignalParam(int which, int value);

    // Preferred: half the screen's available width, and the height its
    // controls and picture need (never more than 5/8 of the available
    // height on tall screens, 3/4 on others). The minimum is what the
    // controls need with the picture shrunk.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Values, for the owner and for checks.
    std::int32_t fireThreshold() const { return fireThreshold_; }
    std::int32_t bMaxThreshold() const { return bMaxThreshold_; }
    std::int32_t bMinThreshold() const { return bMinThreshold_; }
    std::int32_t fireNewest() const { return fireNewest_; }
    std::int32_t fireHighest() const { return fireHighest_; }
    std::int32_t bMaxNewest() const { return bMaxNewest_; }
    std::int32_t bMaxHighest() const { return bMaxHighest_; }
    std::int32_t bMinNewest() const { return bMinNewest_; }
    std::int32_t bMinLowest() const { return bMinLowest_; }
    std::int32_t chnBOffset() const { return chnBOffset_; }
    float chnBGain() const { return chnBGain_; }
    std::int32_t vOverH() const { return vOverH_; }
    std::int32_t vhOverrideValue() const { return vhOverrideValue_; }
    bool vhOverrideOn() const { return vhOverrideOn_; }
    const std::vector<std::int32_t> &fireHistory() const { return fireHist_; }
    const std::vector<std::int32_t> &chnBHistory() const { return chnBHist_; }
    const QImage &scaleImage() const { return scaleImage_; }
    ScaleCtrl &scaleCtrl() { return scale_; }

    // The controls, by role (for the owner's layout and for checks).
    QScrollBar *fireScroll() const { return fireScroll_; }
    QScrollBar *bMaxScroll() const { return bMaxScroll_; }
    QScrollBar *bMinScroll() const { return bMinScroll_; }
    QScrollBar *gainScroll() const { return gainScroll_; }
    QScrollBar *offsetScroll() const { return offsetScroll_; }
    QScrollBar *vhScroll() const { return vhScroll_; }
    QLineEdit *fireAmountEdit() const { return fireAmt_; }
    QLineEdit *bMaxAmountEdit() const { return bMaxAmt_; }
    QLineEdit *bMinAmountEdit() const { return bMinAmt_; }
    QLabel *fireLabel() const { return fireVals_; }
    QLabel *bMaxLabel() const { return bMaxVals_; }
    QLabel *bMinLabel() const { return bMinVals_; }
    QLabel *gainLabel() const { return gainLabel_; }
    QLabel *offsetLabel() const { return offsetLabel_; }
    QLabel *vhLabel() const { return vhLabel_; }
    QLabel *lockLabel() const { return lockLabel_; }
    QCheckBox *vhCheck() const { return vhCheck_; }
    wfLabel *scaleLabel() const { return scaleLabel_; }

    // Most lines taken from the source per tick.
    static constexpr int kMaxLinesPerTick = 300;

public slots:
    void updatescrollFireAmt(int value);
    void updatescrollBMaxAmt(int value);
    void updatescrollBMinAmt(int value);
    void updatescrollCHnBGain(int value);
    void updatescrollCHnBOfst(int value);
    void updatescrollvhover(int value);
    void OnVoverhOverride();
    void OnAutoCalibrate();
    void OnAutoFireThresh();
    void OnAutoBMaxThresh();
    void OnAutoBMinThresh();
    void OnAutoAll();
    void OnClearMaxVals();
    void OnLockCurve();
    void OnUnLockCurve();
    void OnResetCurve();
    void OnZoomIn();
    void OnZoomOut();
    void OnBMaxZoomIn();
    void OnBMaxZoomOut();
    void updateGraph();

private:
    QGroupBox *buildThresholdGroup();
    QGroupBox *buildChannelBGroup();
    QGroupBox *buildVhGroup();
    QScrollBar *makeScroll(int min, int max, int value, int pageStep, int singleStep);
    void refreshFireLabel();
    void refreshBMaxLabel();
    void refreshBMinLabel();
    void refreshGainLabel();
    void refreshOffsetLabel();
    void refreshVhLabel();
    // The check box shows the override state in force.
    void showOverrideState();
    void rebuildScale(int offset, int centre, std::int32_t min, std::int32_t max);
    static int amountOf(const QLineEdit *edit);

    DisplayOwner *owner_;

    std::int32_t fireThreshold_ = 100;
    std::int32_t bMaxThreshold_ = 0;
    std::int32_t bMinThreshold_ = 0;
    std::int32_t fireNewest_ = -32000;
    std::int32_t fireHighest_ = -32000;
    std::int32_t bMaxNewest_ = -32000;
    std::int32_t bMaxHighest_ = -32000;
    std::int32_t bMinNewest_ = 32000;
    std::int32_t bMinLowest_ = 32000;
    std::int32_t fireAmount_ = 50;
    std::int32_t bMaxAmount_ = 200;
    std::int32_t bMinAmount_ = 1;
    std::int32_t vOverH_ = 5;
    std::int32_t vhOverrideValue_ = 5;
    bool vhOverrideOn_ = true;
    std::int32_t chnBOffset_ = 100;
    float chnBGain_ = 1.0f;
    std::uint32_t statWord1_ = 0;
    std::uint32_t statWord2_ = 0;
    std::int32_t lastMin_ = 0;
    std::int32_t lastMax_ = 0;
    std::vector<std::int32_t> fireHist_;
    std::vector<std::int32_t> chnBHist_;

    ScaleCtrl scale_;
    QImage scaleImage_;

    QScrollBar *fireScroll_ = nullptr;
    QScrollBar *bMaxScroll_ = nullptr;
    QScrollBar *bMinScroll_ = nullptr;
    QScrollBar *gainScroll_ = nullptr;
    QScrollBar *offsetScroll_ = nullptr;
    QScrollBar *vhScroll_ = nullptr;
    QLineEdit *fireAmt_ = nullptr;
    QLineEdit *bMaxAmt_ = nullptr;
    QLineEdit *bMinAmt_ = nullptr;
    QLabel *fireVals_ = nullptr;
    QLabel *bMaxVals_ = nullptr;
    QLabel *bMinVals_ = nullptr;
    QLabel *gainLabel_ = nullptr;
    QLabel *offsetLabel_ = nullptr;
    QLabel *vhLabel_ = nullptr;
    QLabel *lockLabel_ = nullptr;
    QCheckBox *vhCheck_ = nullptr;
    wfLabel *scaleLabel_ = nullptr;
};
