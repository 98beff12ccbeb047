#include "ui/workspace_state.h"

#include "platform/hive_key.h"
#include "platform/hive_store.h"
#include "ui/command_manager.h"
#include "ui/profile_store.h"
#include "ui/toolbar_manager.h"

#include <QByteArray>
#include <QMainWindow>

#include <cstdio>
#include <span>
#include <string>

namespace {

constexpr char16_t kWorkspaceKey[] = u"Workspace";
constexpr char16_t kToolbarsKey[] = u"Toolbars";
constexpr char16_t kKeyboardKey[] = u"Keyboard";
constexpr char16_t kStateValue[] = u"MainWindowState";
constexpr char16_t kGeometryValue[] = u"MainWindowGeometry";

void SetBytes(HiveKey& key, std::u16string_view name, const QByteArray& bytes) {
    key.SetBinary(name, std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                  static_cast<std::size_t>(bytes.size())));
}

QByteArray GetBytes(const HiveKey& key, std::u16string_view name) {
    const auto value = key.GetValue(name);
    if (!value || value->type != REG_BINARY) return {};
    return QByteArray(reinterpret_cast<const char*>(value->data.data()), static_cast<qsizetype>(value->data.size()));
}

}  // namespace

CWorkspaceState::CWorkspaceState(HiveStore* hive, QMainWindow& window, CCommandManager& commands,
                                 CToolbarManager& toolbars)
    : hive_(hive), window_(window), commands_(commands), toolbars_(toolbars) {}

bool CWorkspaceState::Save() {
    if (!hive_) return false;
    if (HiveKey* key = OpenProfileKey(hive_, kToolbarsKey, true)) toolbars_.Save(*key);
    if (HiveKey* key = OpenProfileKey(hive_, kKeyboardKey, true)) commands_.SaveKeys(*key);
    if (HiveKey* key = OpenProfileKey(hive_, kWorkspaceKey, true)) {
        SetBytes(*key, kStateValue, window_.saveState(kLayoutVersion));
        SetBytes(*key, kGeometryValue, window_.saveGeometry());
    }
    std::string error;
    if (!hive_->Save(&error)) {
        std::fprintf(stderr, "qvviewer: the window layout could not be saved: %s\n", error.c_str());
        return false;
    }
    return true;
}

bool CWorkspaceState::Restore() {
    if (const HiveKey* key = OpenProfileKey(hive_, kToolbarsKey, false)) toolbars_.Load(*key);
    if (const HiveKey* key = OpenProfileKey(hive_, kKeyboardKey, false)) commands_.LoadKeys(*key);
    const HiveKey* key = OpenProfileKey(hive_, kWorkspaceKey, false);
    if (!key) return false;
    const QByteArray geometry = GetBytes(*key, kGeometryValue);
    if (!geometry.isEmpty()) window_.restoreGeometry(geometry);
    const QByteArray state = GetBytes(*key, kStateValue);
    return !state.isEmpty() && window_.restoreState(state, kLayoutVersion);
}
