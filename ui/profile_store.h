#pragma once
// The UI framework's profile in the hive: the key
// "Software\Marrowind Software\QVViewer\Settings" (profile key, application
// title, registry base) and the keys below it that hold the look, the window
// layout, the toolbars and the keyboard.
#include <QString>

#include <string>
#include <string_view>

class HiveKey;
class HiveStore;

inline constexpr char16_t kProfileRoot[] = u"Software\\Marrowind Software";
inline constexpr char16_t kProfileBase[] = u"Settings";
inline constexpr char16_t kApplicationLookValue[] = u"ApplicationLook";

// The base key, or a subkey of it when subkey is not empty.
std::u16string ProfileKeyPath(std::u16string_view subkey = {});
// Null without a hive, or when the key is absent and create is false.
HiveKey* OpenProfileKey(HiveStore* hive, std::u16string_view subkey, bool create);

std::u16string ToHiveText(const QString& text);
QString FromHiveText(std::u16string_view text);
