#pragma once
// The replay controls beside the tool bar: speed (1x, 2x, 4x, 8x or as fast
// as the tick allows), pause, and a position slider showing line / total
// that seeks to any line of the replayed log. The controls only say what
// the operator wants; the main window reads the log accordingly. They are
// disabled unless a flight log is the data source.
#include <QWidget>

#include <cstdint>

class QComboBox;
class QLabel;
class QSlider;
class QToolButton;

class ReplayControls : public QWidget {
    Q_OBJECT
public:
    explicit ReplayControls(QWidget *parent = nullptr);

    // Lines read per 33 ms tick at each speed; the last is "as fast as the
    // tick allows" (what one tick of the displays handles well in time).
    static constexpr int kSpeeds[] = {1, 2, 4, 8, 200};
    static constexpr int kSpeedCount = 5;

    // Lines to read this tick: the chosen speed, 0 while paused.
    int linesPerTick() const;
    int speedIndex() const;
    void setSpeedIndex(int index);
    bool paused() const;
    void setPaused(bool on);

    // Shows the replay position; the slider follows unless the operator
    // holds it. atEnd shows the end of the log.
    void showPosition(std::uint32_t line, std::uint32_t total, bool atEnd);
    // A new log (or none): back to 1x, not paused, at line 0.
    void reset(std::uint32_t total);

    QComboBox *speedBox() const { return speed_; }
    QToolButton *pauseButton() const { return pause_; }
    QSlider *positionSlider() const { return slider_; }
    QLabel *positionLabel() const { return label_; }

signals:
    // The operator moved the slider to a line (0 is the first).
    void seekRequested(std::uint32_t line);

private:
    QComboBox *speed_;
    QToolButton *pause_;
    QSlider *slider_;
    QLabel *label_;
};
