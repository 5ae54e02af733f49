#include "display/dspsig.h"
#include "platform/settingskeys.h"

#include "datasource/cdatasource.h"
#include "datasource/coldcurve.h"
#include "datasource/firelimits.h"
#include "display/displayowner.h"
#include "display/wflabel.h"

#include <QCheckBox>
#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSettings>

#include <algorithm>
#include <limits>

namespace {

const QString kGray = QStringLiteral("color: gray");

QLabel *valueLabel(const QString &text)
{
    auto *l = new QLabel(text);
    l->setStyleSheet(kGray);
    return l;
}

QLineEdit *amountEdit(int value)
{
    auto *e = new QLineEdit(QString::number(value));
    e->setValidator(new QIntValidator(-32768, 32767, e));
    return e;
}

bool inShortRange(qint64 v) { return v >= -32768 && v <= 32767; }

int clampToInt(qint64 v)
{
    if (v > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (v < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(v);
}

void setTextIfChanged(QLabel *label, const QString &text)
{
    if (label && label->text() != text)
        label->setText(text);
}

} // namespace

DspSig::AutoAmounts DspSig::StoredAutoAmounts()
{
    QSettings settings;
    return AutoAmounts{settings.value(SettingsKey::FireDetectAutoAmt, kDefaultFireAutoAmount).toInt(),
                       settings.value(SettingsKey::BMaxAutoAmtToStore, kDefaultBMaxAutoAmount).toInt(),
                       settings.value(SettingsKey::BMinAutoAmtToStore, kDefaultBMinAutoAmount).toInt()};
}

DspSig::DspSig(DisplayOwner *owner, QWidget *parent) : QWidget(parent), owner_(owner)
{
    QSettings settings;
    fireThreshold_ = settings.value(SettingsKey::FireThreshold, 100).toInt();
    chnBGain_ = settings.value(SettingsKey::ChnBGain, 1.0f).toFloat();
    chnBOffset_ = settings.value(SettingsKey::ChnBOffset, 100).toInt();
    vOverH_ = settings.value(SettingsKey::VOverH, 5).toInt();
    const AutoAmounts amounts = StoredAutoAmounts();
    fireAmount_ = amounts.fire;
    bMaxAmount_ = amounts.bMax;
    bMinAmount_ = amounts.bMin;
    bMaxThreshold_ = owner_->chnBFireLimit();
    bMinThreshold_ = owner_->chnBColdLimit();
    fireHist_.reserve(kMaxLinesPerTick);
    chnBHist_.reserve(kMaxLinesPerTick);

    QGroupBox *thresholds = buildThresholdGroup();
    QGroupBox *channelB = buildChannelBGroup();
    QGroupBox *vh = buildVhGroup();
    scaleImage_ = scale_.BuildScaleImage(10, 10, 40, 100);

    scaleLabel_ = new wfLabel(this, &scaleImage_, nullptr, 0, 0, wfLabel::WholeImage);
    auto *scaleBox = new QGroupBox;
    auto *scaleLayout = new QGridLayout(scaleBox);
    scaleLayout->addWidget(scaleLabel_, 0, 0);

    auto *layout = new QGridLayout(this);
    layout->addWidget(thresholds, 0, 0, 8, 6);
    layout->addWidget(channelB, 0, 7, 6, 6);
    layout->addWidget(vh, 6, 7, 6, 6);
    layout->addWidget(scaleBox, 12, 0, 8, 15);

    if (CDataSource *src = owner_->displaySource()) {
        chnBOffset_ = src->GetChnBOffset();
        src->GetStatWords(&statWord1_, &statWord2_);
        src->GetChnBMinMax(&lastMin_, &lastMax_);
        scale_.SetFireMantissa(owner_->fireZoomIdx());
        scale_.SetFireExponent(owner_->fireZoomExp());
        scale_.SetBMaxMantissa(owner_->bMaxZoomIdx());
        scale_.SetBMaxExponent(owner_->bMaxZoomExp());
        scale_.SetFireThreshold(fireThreshold_);
        scale_.SetBMaxThreshold(bMaxThreshold_);
        const int c = 127 - int(float(chnBOffset_) * chnBGain_);
        rebuildScale(chnBOffset_, int(float(chnBOffset_) * chnBGain_) + c, int(float(lastMin_) * chnBGain_) + c,
                     int(float(lastMax_) * chnBGain_) + c);
        show();
    }
}

DspSig::~DspSig() = default;

QScrollBar *DspSig::makeScroll(int min, int max, int value, int pageStep, int singleStep)
{
    auto *s = new QScrollBar(Qt::Horizontal);
    s->setTracking(false);
    s->setRange(min, max);
    s->setValue(value);
    s->setPageStep(pageStep);
    s->setSingleStep(singleStep);
    return s;
}

QGroupBox *DspSig::buildThresholdGroup()
{
    QSettings settings;
    auto *group = new QGroupBox;
    group->setFlat(true);
    group->setObjectName(QStringLiteral("nameEdit"));
    group->setStyleSheet(QStringLiteral("QGroupBox#nameEdit { border-style:0 }"));
    auto *grid = new QGridLayout(group);

    auto steps = [&](const QString &name, int *page, int *single) {
        *page = settings.value(name + QStringLiteral("/PageStep"), 25).toInt();
        *single = settings.value(name + QStringLiteral("/SingleStep"), 5).toInt();
    };
    int page = 25, single = 5;

    // Fire rows.
    auto *fireAuto = new QPushButton(QStringLiteral("Auto"));
    fireAmt_ = amountEdit(fireAmount_);
    fireVals_ = valueLabel(QString());
    grid->addWidget(fireAuto, 0, 0);
    grid->addWidget(fireAmt_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Fire:")), 0, 2);
    grid->addWidget(fireVals_, 0, 3, 1, 2);
    auto *fireIn = new QPushButton(QStringLiteral("ZoomIn"));
    auto *fireOut = new QPushButton(QStringLiteral("ZoomOut"));
    steps(QStringLiteral("Fire"), &page, &single);
    fireScroll_ = makeScroll(-32768, 32767, fireThreshold_, page, single);
    grid->addWidget(fireIn, 1, 0);
    grid->addWidget(fireScroll_, 1, 1, 1, 3);
    grid->addWidget(fireOut, 1, 4);

    // BMax rows.
    auto *bMaxAuto = new QPushButton(QStringLiteral("Auto"));
    bMaxAmt_ = amountEdit(bMaxAmount_);
    bMaxVals_ = valueLabel(QString());
    grid->addWidget(bMaxAuto, 2, 0);
    grid->addWidget(bMaxAmt_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("BMax:")), 2, 2);
    grid->addWidget(bMaxVals_, 2, 3, 1, 2);
    auto *bMaxIn = new QPushButton(QStringLiteral("ZoomIn"));
    auto *bMaxOut = new QPushButton(QStringLiteral("ZoomOut"));
    steps(QStringLiteral("BMax"), &page, &single);
    bMaxScroll_ = makeScroll(-32768, 32767, bMaxThreshold_, page, single);
    grid->addWidget(bMaxIn, 3, 0);
    grid->addWidget(bMaxScroll_, 3, 1, 1, 3);
    grid->addWidget(bMaxOut, 3, 4);

    // BMin rows (its zoom buttons have no action).
    auto *bMinAuto = new QPushButton(QStringLiteral("Auto"));
    bMinAmt_ = amountEdit(bMinAmount_);
    bMinVals_ = valueLabel(QString());
    grid->addWidget(bMinAuto, 4, 0);
    grid->addWidget(bMinAmt_, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("BMin:")), 4, 2);
    grid->addWidget(bMinVals_, 4, 3, 1, 2);
    steps(QStringLiteral("BMin"), &page, &single);
    bMinScroll_ = makeScroll(-32768, 32767, bMinThreshold_, page, single);
    grid->addWidget(new QPushButton(QStringLiteral("ZoomIn")), 5, 0);
    grid->addWidget(bMinScroll_, 5, 1, 1, 3);
    grid->addWidget(new QPushButton(QStringLiteral("ZoomOut")), 5, 4);

    auto *autoAll = new QPushButton(QStringLiteral("Auto*"));
    auto *clear = new QPushButton(QStringLiteral("Clear"));
    grid->addWidget(autoAll, 6, 1);
    grid->addWidget(clear, 6, 2);

    lockLabel_ = valueLabel(QStringLiteral("ULK"));
    auto *lock = new QPushButton(QStringLiteral("Lock"));
    auto *unlock = new QPushButton(QStringLiteral("Unlock"));
    auto *reset = new QPushButton(QStringLiteral("Reset"));
    grid->addWidget(lockLabel_, 7, 0);
    grid->addWidget(lock, 7, 1);
    grid->addWidget(unlock, 7, 2);
    grid->addWidget(reset, 7, 3);

    refreshFireLabel();
    refreshBMaxLabel();
    refreshBMinLabel();

    connect(fireScroll_, &QScrollBar::valueChanged, this, &DspSig::updatescrollFireAmt);
    connect(bMaxScroll_, &QScrollBar::valueChanged, this, &DspSig::updatescrollBMaxAmt);
    connect(bMinScroll_, &QScrollBar::valueChanged, this, &DspSig::updatescrollBMinAmt);
    connect(fireAuto, &QPushButton::released, this, &DspSig::OnAutoFireThresh);
    connect(bMaxAuto, &QPushButton::released, this, &DspSig::OnAutoBMaxThresh);
    connect(bMinAuto, &QPushButton::released, this, &DspSig::OnAutoBMinThresh);
    connect(autoAll, &QPushButton::released, this, &DspSig::OnAutoAll);
    connect(clear, &QPushButton::released, this, &DspSig::OnClearMaxVals);
    connect(lock, &QPushButton::released, this, &DspSig::OnLockCurve);
    connect(unlock, &QPushButton::released, this, &DspSig::OnUnLockCurve);
    connect(reset, &QPushButton::released, this, &DspSig::OnResetCurve);
    connect(fireIn, &QPushButton::released, this, &DspSig::OnZoomIn);
    connect(fireOut, &QPushButton::released, this, &DspSig::OnZoomOut);
    connect(bMaxIn, &QPushButton::released, this, &DspSig::OnBMaxZoomIn);
    connect(bMaxOut, &QPushButton::released, this, &DspSig::OnBMaxZoomOut);
    return group;
}

QGroupBox *DspSig::buildChannelBGroup()
{
    QSettings config(QStringLiteral("Cindrel64_Config.ini"), QSettings::IniFormat);
    auto *group = new QGroupBox(tr("Channel B Display"));
    auto *grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Width")), 1, 0, 1, 2);
    gainScroll_ = makeScroll(1, 100, int(chnBGain_ * 10.0f + 0.5f), 10, 1);
    gainLabel_ = valueLabel(QString());
    grid->addWidget(gainScroll_, 2, 0, 1, 2);
    grid->addWidget(gainLabel_, 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("Center")), 3, 0, 1, 2);
    const int page = config.value(SettingsKey::CenterPageStep, 25).toInt();
    const int single = config.value(SettingsKey::CenterSingleStep, 5).toInt();
    offsetScroll_ = makeScroll(-32768, 32767, chnBOffset_, page, single);
    offsetLabel_ = valueLabel(QString());
    grid->addWidget(offsetScroll_, 4, 0, 1, 2);
    grid->addWidget(offsetLabel_, 4, 2);
    auto *autoCenter = new QPushButton(QStringLiteral("Auto-Center"));
    grid->addWidget(autoCenter, 5, 0, 1, 2);
    refreshGainLabel();
    refreshOffsetLabel();

    connect(gainScroll_, &QScrollBar::valueChanged, this, &DspSig::updatescrollCHnBGain);
    connect(offsetScroll_, &QScrollBar::valueChanged, this, &DspSig::updatescrollCHnBOfst);
    connect(autoCenter, &QPushButton::released, this, &DspSig::OnAutoCalibrate);
    return group;
}

QGroupBox *DspSig::buildVhGroup()
{
    auto *group = new QGroupBox;
    group->setFlat(true);
    group->setObjectName(QStringLiteral("vBoxEdit"));
    group->setStyleSheet(QStringLiteral("QGroupBox#vBoxEdit { border-style:0 }"));
    auto *grid = new QGridLayout(group);
    vhOverrideValue_ = 5;
    grid->addWidget(new QLabel(QStringLiteral("V/H Override")), 0, 0);
    vhScroll_ = makeScroll(0, 100, 5, 10, 1);
    vhLabel_ = valueLabel(QString());
    grid->addWidget(vhScroll_, 1, 0, 1, 3);
    grid->addWidget(vhLabel_, 1, 3);
    vhCheck_ = new QCheckBox(QStringLiteral("V/H Override"));
    vhCheck_->setChecked(true);
    grid->addWidget(vhCheck_, 2, 0, 1, 3);
    refreshVhLabel();

    connect(vhScroll_, &QScrollBar::valueChanged, this, &DspSig::updatescrollvhover);
    connect(vhCheck_, &QCheckBox::stateChanged, this, &DspSig::OnVoverhOverride);
    return group;
}

QSize DspSig::sizeHint() const
{
    const QSize content = QWidget::sizeHint();
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return content;
    const QRect avail = screen->availableGeometry();
    const int h = avail.height() >= 1100 ? avail.height() * 5 / 8 : avail.height() * 3 / 4;
    return QSize(std::max(content.width(), avail.width() / 2),
                 std::max(minimumSizeHint().height(), std::min(content.height(), h)));
}

QSize DspSig::minimumSizeHint() const
{
    return QWidget::minimumSizeHint();
}

// ---- labels ----

void DspSig::refreshFireLabel()
{
    setTextIfChanged(fireVals_, QStringLiteral("%1, (%2/%3)").arg(fireThreshold_).arg(fireNewest_).arg(fireHighest_));
}

void DspSig::refreshBMaxLabel()
{
    setTextIfChanged(bMaxVals_, QStringLiteral("%1, (%2/%3)")
                                    .arg(qint64(bMaxThreshold_) + 32768)
                                    .arg(qint64(bMaxNewest_) + 32768)
                                    .arg(qint64(bMaxHighest_) + 32768));
}

void DspSig::refreshBMinLabel()
{
    setTextIfChanged(bMinVals_, QStringLiteral("%1, (%2/%3)")
                                    .arg(qint64(bMinThreshold_) + 32768)
                                    .arg(qint64(bMinNewest_) + 32768)
                                    .arg(qint64(bMinLowest_) + 32768));
}

void DspSig::refreshGainLabel()
{
    setTextIfChanged(gainLabel_, QStringLiteral("%1").arg(double(chnBGain_), 0, 'f', 1));
}

void DspSig::refreshOffsetLabel()
{
    setTextIfChanged(offsetLabel_, QStringLiteral("%1").arg(qint64(chnBOffset_) + 32768));
}

void DspSig::refreshVhLabel()
{
    setTextIfChanged(vhLabel_, QStringLiteral("%1 (%2)").arg(vhOverrideValue_).arg(vOverH_));
}

void DspSig::rebuildScale(int offset, int centre, std::int32_t min, std::int32_t max)
{
    scaleImage_ = scale_.BuildScaleImage(offset, centre, min, max);
    if (scaleLabel_)
        scaleLabel_->update();
}

int DspSig::amountOf(const QLineEdit *edit)
{
    bool ok = false;
    const int v = edit->text().toInt(&ok, 10);
    return ok ? v : 0;
}

// ---- applying a control value ----

int DspSig::SetSignalParam(int which, int value)
{
    CDataSource *src = owner_->displaySource();
    if (!src || which < 1 || which > 6)
        return -1;
    QSettings settings;
    switch (which) {
    case 1:
        if (!inShortRange(value))
            return -1;
        src->SetFireThreshold(std::uint32_t(value));
        fireThreshold_ = value;
        scale_.SetFireThreshold(value);
        settings.setValue(SettingsKey::FireThreshold, value);
        refreshFireLabel();
        fireScroll_->setValue(value);
        return value;
    case 2:
        if (!inShortRange(value))
            return -1;
        src->SetBMax(std::uint32_t(value));
        bMaxThreshold_ = value;
        owner_->setChnBFireLimit(value);
        scale_.SetBMaxThreshold(value);
        refreshBMaxLabel();
        bMaxScroll_->setValue(value);
        return value;
    case 3:
        if (!inShortRange(value))
            return -1;
        src->SetBMin(std::uint32_t(value));
        bMinThreshold_ = value;
        owner_->setChnBColdLimit(value);
        refreshBMinLabel();
        bMinScroll_->setValue(value);
        return value;
    case 4: {
        // A source without a channel B gain (a replayed log) answers 0; the
        // operator's choice is kept then instead of a gain of 0.
        const float requested = float(value) / 10.0f;
        const float answered = src->SetChnBGain(requested);
        chnBGain_ = answered > 0.0f ? answered : requested;
        settings.setValue(SettingsKey::ChnBGain, chnBGain_);
        refreshGainLabel();
        gainScroll_->setValue(int(chnBGain_ * 10.0f + 0.5f));
        return value;
    }
    case 5:
        src->SetChnBOffset(std::uint32_t(value));
        chnBOffset_ = value;
        settings.setValue(SettingsKey::ChnBOfs, value);
        refreshOffsetLabel();
        offsetScroll_->setValue(value);
        return value;
    case 6:
    default:
        src->SetVOverHOverride(value);
        vhOverrideValue_ = value;
        // Setting a value switches the override on: the box shows it.
        vhOverrideOn_ = true;
        showOverrideState();
        settings.setValue(SettingsKey::VhOverride, value);
        refreshVhLabel();
        return value;
    }
}

void DspSig::updatescrollFireAmt(int value) { SetSignalParam(1, value); }
void DspSig::updatescrollBMaxAmt(int value) { SetSignalParam(2, value); }
void DspSig::updatescrollBMinAmt(int value) { SetSignalParam(3, value); }
void DspSig::updatescrollCHnBGain(int value) { SetSignalParam(4, value); }
void DspSig::updatescrollCHnBOfst(int value) { SetSignalParam(5, value); }
void DspSig::updatescrollvhover(int value) { SetSignalParam(6, value); }

void DspSig::OnVoverhOverride()
{
    CDataSource *src = owner_->displaySource();
    if (!src)
        return;
    // The box says what the operator wants; the source is told exactly that.
    const bool on = vhCheck_ ? vhCheck_->isChecked() : !vhOverrideOn_;
    src->SetVOverHOverride(on ? vhOverrideValue_ : -1);
    vhOverrideOn_ = on;
}

void DspSig::showOverrideState()
{
    if (vhCheck_ && vhCheck_->isChecked() != vhOverrideOn_) {
        const QSignalBlocker block(vhCheck_);
        vhCheck_->setChecked(vhOverrideOn_);
    }
}

void DspSig::OnAutoCalibrate()
{
    CDataSource *src = owner_->displaySource();
    if (!src)
        return;
    std::int32_t min = 0, max = 0;
    src->GetChnBMinMax(&min, &max);
    const std::int32_t offset = std::int32_t((qint64(min) + qint64(max)) / 2);
    src->SetChnBOffset(std::uint32_t(offset));
    offsetScroll_->setValue(offset);
    setTextIfChanged(offsetLabel_, QStringLiteral("%1").arg(qint64(offset) + 32768));
}

// ---- Auto thresholds ----

void DspSig::OnAutoFireThresh()
{
    fireAmount_ = amountOf(fireAmt_);
    QSettings().setValue(SettingsKey::FireDetectAutoAmt, fireAmount_);
    SetSignalParam(1, clampToInt(qint64(fireNewest_) + fireAmount_));
}

void DspSig::OnAutoBMaxThresh()
{
    bMaxAmount_ = amountOf(bMaxAmt_);
    QSettings().setValue(SettingsKey::BMaxAutoAmtToStore, bMaxAmount_);
    // The threshold changes only when the source accepted the new value.
    SetSignalParam(2, clampToInt(qint64(bMaxNewest_) + bMaxAmount_));
}

void DspSig::OnAutoBMinThresh()
{
    bMinAmount_ = amountOf(bMinAmt_);
    QSettings().setValue(SettingsKey::BMinAutoAmtToStore, bMinAmount_);
    SetSignalParam(3, clampToInt(qint64(bMinNewest_) + bMinAmount_));
}

void DspSig::OnAutoAll()
{
    OnAutoFireThresh();
    OnAutoBMaxThresh();
    OnAutoBMinThresh();
}

void DspSig::OnClearMaxVals()
{
    bMaxHighest_ = -32000;
    bMinLowest_ = 32000;
    fireHighest_ = -32000;
    refreshBMaxLabel();
    refreshBMinLabel();
    refreshFireLabel();
}

// ---- detection curve ----

void DspSig::OnLockCurve()
{
    CDataSource *src = owner_->displaySource();
    if (!src)
        return;
    owner_->coldCurve()->setLockFlag(1);
    src->LockCurve(true);
    lockLabel_->setText(QStringLiteral("LKD"));
}

void DspSig::OnUnLockCurve()
{
    CDataSource *src = owner_->displaySource();
    if (!src)
        return;
    owner_->coldCurve()->setLockFlag(0);
    src->LockCurve(false);
    lockLabel_->setText(QStringLiteral("ULK"));
}

void DspSig::OnResetCurve()
{
    CDataSource *src = owner_->displaySource();
    if (!src)
        return;
    ColdCurve *curve = owner_->coldCurve();
    curve->setLockFlag(0);
    lockLabel_->setText(QStringLiteral("ULK"));
    src->ResetCurve(true);
    curve->resetStartValues();
}

// ---- zoom ----

void DspSig::OnZoomIn()
{
    qDebug() << "you clicked OnZoomIn";
    scale_.FireZoomIn();
    owner_->setFireZoom(scale_.GetFireMantissa(), scale_.GetFireExponent());
}

void DspSig::OnZoomOut()
{
    scale_.FireZoomOut();
    owner_->setFireZoom(scale_.GetFireMantissa(), scale_.GetFireExponent());
}

void DspSig::OnBMaxZoomIn()
{
    scale_.BMaxZoomIn();
    owner_->setBMaxZoom(scale_.GetBMaxMantissa(), scale_.GetBMaxExponent());
}

void DspSig::OnBMaxZoomOut()
{
    scale_.BMaxZoomOut();
    owner_->setBMaxZoom(scale_.GetBMaxMantissa(), scale_.GetBMaxExponent());
}

// ---- every tick ----

void DspSig::updateGraph()
{
    if (CDataSource *src = owner_->displaySource()) {
        chnBGain_ = src->GetChnBGain();
        std::uint32_t vh = 0, overrideValue = 0;
        bool overrideOn = false;
        src->GetVOverH(&vh, &overrideOn, &overrideValue);
        vOverH_ = std::int32_t(vh);
        vhOverrideOn_ = overrideOn;
        showOverrideState();
        vhOverrideValue_ = std::int32_t(overrideValue);
        fireThreshold_ = std::int32_t(src->GetFireThreshold());
        src->GetStatWords(&statWord1_, &statWord2_);

        src->GetChnBMinMax(&lastMin_, &lastMax_);
        if (lastMax_ > bMaxHighest_)
            bMaxHighest_ = lastMax_;
        bMaxNewest_ = lastMax_;
        refreshBMaxLabel();
        if (lastMin_ < bMinLowest_)
            bMinLowest_ = lastMin_;
        bMinNewest_ = lastMin_;
        refreshBMinLabel();

        chnBOffset_ = src->GetChnBOffset();

        std::uint32_t n = src->GetNumNewImageLines();
        if (n > std::uint32_t(kMaxLinesPerTick))
            n = kMaxLinesPerTick;
        fireHist_.clear();
        chnBHist_.clear();
        ScanLineRec rec;
        for (int k = int(n) - 1; k >= 0; --k) {
            src->GetPriorImageLine(std::uint32_t(k), &rec);
            fireHist_.push_back(rec.fireMargin);
            chnBHist_.push_back(rec.chnBMax);
            if (rec.fireMargin > fireHighest_)
                fireHighest_ = rec.fireMargin;
            fireNewest_ = rec.fireMargin;
        }
        refreshFireLabel();
        refreshVhLabel();
        scale_.AddFireValues(fireHist_.data(), int(fireHist_.size()), fireThreshold_);
        scale_.AddBMaxValues(chnBHist_.data(), int(chnBHist_.size()), bMaxThreshold_);
    }
    const int c = 127 - int(float(chnBOffset_) * chnBGain_);
    rebuildScale(chnBOffset_, 127, int(float(lastMin_) * chnBGain_) + c, int(float(lastMax_) * chnBGain_) + c);
}
