#include "app/replaycontrols.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include <algorithm>
#include <limits>

constexpr int ReplayControls::kSpeeds[];

ReplayControls::ReplayControls(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ReplayControls"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 0);

    speed_ = new QComboBox(this);
    speed_->setObjectName(QStringLiteral("ReplaySpeed"));
    speed_->setToolTip(QStringLiteral("Replay speed"));
    speed_->addItems({QStringLiteral("1\u00d7"), QStringLiteral("2\u00d7"), QStringLiteral("4\u00d7"),
                      QStringLiteral("8\u00d7"), QStringLiteral("Max")});

    pause_ = new QToolButton(this);
    pause_->setObjectName(QStringLiteral("ReplayPause"));
    pause_->setText(QStringLiteral("Pause"));
    pause_->setCheckable(true);
    pause_->setToolTip(QStringLiteral("Pause the replay at the current line"));
    connect(pause_, &QToolButton::toggled, this,
            [this](bool on) { pause_->setText(on ? QStringLiteral("Resume") : QStringLiteral("Pause")); });

    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("ReplayPosition"));
    slider_->setToolTip(QStringLiteral("Replay position: drag or click to go to a line"));
    slider_->setTracking(false);
    slider_->setMinimumWidth(160);
    slider_->setRange(0, 0);
    // With tracking off, a drag reports its line when released; clicks and
    // keys report at once. Programmatic moves are made with signals blocked.
    connect(slider_, &QSlider::valueChanged, this,
            [this](int value) { emit seekRequested(std::uint32_t(std::max(0, value))); });

    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("ReplayLine"));
    // Room for "end of log 9999999 / 9999999" so the bar does not jump.
    label_->setMinimumWidth(label_->fontMetrics().horizontalAdvance(QStringLiteral("end of log 9999999 / 9999999")));

    layout->addWidget(speed_);
    layout->addWidget(pause_);
    layout->addWidget(slider_, 1);
    layout->addWidget(label_);
    reset(0);
}

int ReplayControls::linesPerTick() const
{
    return paused() ? 0 : kSpeeds[speedIndex()];
}

int ReplayControls::speedIndex() const
{
    return std::clamp(speed_->currentIndex(), 0, kSpeedCount - 1);
}

void ReplayControls::setSpeedIndex(int index)
{
    speed_->setCurrentIndex(std::clamp(index, 0, kSpeedCount - 1));
}

bool ReplayControls::paused() const
{
    return pause_->isChecked();
}

void ReplayControls::setPaused(bool on)
{
    pause_->setChecked(on);
}

void ReplayControls::showPosition(std::uint32_t line, std::uint32_t total, bool atEnd)
{
    const int maxLine = int(std::min<std::uint32_t>(total, std::numeric_limits<int>::max()));
    if (!slider_->isSliderDown()) {
        const QSignalBlocker block(slider_);
        if (slider_->maximum() != maxLine)
            slider_->setRange(0, maxLine);
        slider_->setValue(int(std::min<std::uint32_t>(line, std::uint32_t(maxLine))));
    }
    const QString text = atEnd ? QStringLiteral("end of log %1 / %2").arg(line).arg(total)
                               : QStringLiteral("line %1 / %2").arg(line).arg(total);
    if (label_->text() != text)
        label_->setText(text);
}

void ReplayControls::reset(std::uint32_t total)
{
    setSpeedIndex(0);
    setPaused(false);
    showPosition(0, total, false);
}
