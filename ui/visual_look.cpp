#include "ui/visual_look.h"

#include "platform/hive_key.h"
#include "ui/profile_store.h"

#include <QApplication>
#include <QMainWindow>
#include <QStyle>
#include <QStyleFactory>

namespace {

struct LookColours {
    QRgb window;
    QRgb button;
    QRgb base;
    QRgb highlight;
    QRgb highlightedText;
    QRgb dark;
};

// Window, button, base, highlight, highlighted text, shadow.
constexpr LookColours kLooks[] = {
    {0xffd4d0c8, 0xffd4d0c8, 0xffffffff, 0xff0a246a, 0xffffffff, 0xff808080},  // plain
    {0xfff9f8f7, 0xffdbd8d1, 0xffffffff, 0xffb6bdd2, 0xff000000, 0xffa7a6aa},  // Office XP
    {0xffc3daf9, 0xffd6e5fb, 0xffffffff, 0xffffe6a0, 0xff000000, 0xff6a8ccb},  // Office 2003
    {0xffece9d8, 0xffece9d8, 0xffffffff, 0xff316ac5, 0xffffffff, 0xffaca899},  // Windows XP
    {0xffeeede5, 0xfff5f4ee, 0xffffffff, 0xffc1d2ee, 0xff000000, 0xffa0a0a0},  // Visual Studio 2005
};

}  // namespace

bool IsLookId(int id) { return id >= kFirstLookId && id <= kLastLookId; }

QString LookStyleName(int lookId) {
    // The plain look keeps the classic bevelled style; the others are flat.
    return lookId == kFirstLookId ? QStringLiteral("Windows") : QStringLiteral("Fusion");
}

QPalette LookPalette(int lookId) {
    if (!IsLookId(lookId)) return {};
    const LookColours& c = kLooks[lookId - kFirstLookId];
    QPalette palette(QColor::fromRgb(c.button), QColor::fromRgb(c.window));
    palette.setColor(QPalette::Base, QColor::fromRgb(c.base));
    palette.setColor(QPalette::Highlight, QColor::fromRgb(c.highlight));
    palette.setColor(QPalette::HighlightedText, QColor::fromRgb(c.highlightedText));
    palette.setColor(QPalette::Dark, QColor::fromRgb(c.dark));
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    return palette;
}

bool ApplyVisualLook(int lookId, QMainWindow* window) {
    if (!IsLookId(lookId)) return false;
    if (QStyle* style = QStyleFactory::create(LookStyleName(lookId))) QApplication::setStyle(style);
    QApplication::setPalette(LookPalette(lookId));
    if (window) {
        QMainWindow::DockOptions options = QMainWindow::AllowTabbedDocks | QMainWindow::AllowNestedDocks;
        if (lookId == kLastLookId) options |= QMainWindow::AnimatedDocks;
        window->setDockOptions(options);
    }
    return true;
}

int ReadApplicationLook(HiveStore* hive, int defaultLook) {
    const HiveKey* key = OpenProfileKey(hive, {}, false);
    const auto value = key ? key->GetDword(kApplicationLookValue) : std::nullopt;
    if (!value || !IsLookId(static_cast<int>(*value))) return defaultLook;
    return static_cast<int>(*value);
}

void WriteApplicationLook(HiveStore* hive, int lookId) {
    if (HiveKey* key = OpenProfileKey(hive, {}, true))
        key->SetDword(kApplicationLookValue, static_cast<std::uint32_t>(lookId));
}
