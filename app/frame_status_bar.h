#pragma once
// The frame's status bar (id 59393): the message pane, then the key
// indicators "CAP", "NUM" and "SCRL", each drawn enabled while its lock is on.
#include <QStatusBar>

#include <array>
#include <functional>

class QLabel;

class CFrameStatusBar : public QStatusBar {
    Q_OBJECT
public:
    enum Indicator { kCaps = 0, kNum = 1, kScroll = 2, kIndicatorCount = 3 };
    // Whether a lock is on; the default reads the keyboard LEDs the kernel
    // exposes, and says off when it cannot tell.
    using LockReader = std::function<bool(Indicator)>;

    explicit CFrameStatusBar(QWidget* parent = nullptr);

    QLabel* MessagePane() const { return message_; }
    // What a service call waits for, in the message pane; empty text: the
    // idle message again.
    void ShowWaitNotice(const QString& text);
    QLabel* IndicatorPane(Indicator indicator) const { return indicators_.at(static_cast<std::size_t>(indicator)); }
    void SetLockReader(LockReader reader);
    void UpdateIndicators();

private:
    QLabel* message_;
    std::array<QLabel*, kIndicatorCount> indicators_{};
    LockReader reader_;
};

// From /sys/class/leds/*::capslock (numlock, scrolllock): on when any is lit.
bool ReadKeyboardLed(CFrameStatusBar::Indicator indicator);
