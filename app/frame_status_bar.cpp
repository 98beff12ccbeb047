#include "app/frame_status_bar.h"

#include "resources/app_resources.h"
#include "resources/resource_ids.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTimer>

namespace {

constexpr int kIndicatorPollMs = 500;
constexpr unsigned kIndicatorStrings[] = {kIdsIndicatorCaps, kIdsIndicatorNum, kIdsIndicatorScroll};
constexpr const char* kLedSuffixes[] = {"::capslock", "::numlock", "::scrolllock"};

}  // namespace

bool ReadKeyboardLed(CFrameStatusBar::Indicator indicator) {
    const QDir leds(QStringLiteral("/sys/class/leds"));
    const QString suffix = QLatin1String(kLedSuffixes[indicator]);
    for (const QString& name : leds.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!name.endsWith(suffix)) continue;
        QFile brightness(leds.filePath(name + QStringLiteral("/brightness")));
        if (brightness.open(QIODevice::ReadOnly) && brightness.readAll().trimmed().toInt() > 0) return true;
    }
    return false;
}

CFrameStatusBar::CFrameStatusBar(QWidget* parent)
    : QStatusBar(parent), message_(new QLabel(LoadResString(kIdsIdleMessage), this)), reader_(&ReadKeyboardLed) {
    setObjectName(QStringLiteral("StatusBar%1").arg(kIdViewStatusBar));
    addWidget(message_, 1);
    for (int i = 0; i < kIndicatorCount; ++i) {
        auto* label = new QLabel(LoadResString(kIndicatorStrings[i]), this);
        label->setAlignment(Qt::AlignCenter);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 8);
        addPermanentWidget(label);
        indicators_[static_cast<std::size_t>(i)] = label;
    }
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &CFrameStatusBar::UpdateIndicators);
    poll->start(kIndicatorPollMs);
    UpdateIndicators();
}

void CFrameStatusBar::ShowWaitNotice(const QString& text) {
    message_->setText(text.isEmpty() ? LoadResString(kIdsIdleMessage) : text);
}

void CFrameStatusBar::SetLockReader(LockReader reader) {
    reader_ = reader ? std::move(reader) : LockReader(&ReadKeyboardLed);
    UpdateIndicators();
}

void CFrameStatusBar::UpdateIndicators() {
    for (int i = 0; i < kIndicatorCount; ++i)
        indicators_[static_cast<std::size_t>(i)]->setEnabled(reader_(static_cast<Indicator>(i)));
}
