#include "ui/profile_store.h"

#include "platform/hive_store.h"
#include "resources/app_resources.h"
#include "resources/resource_ids.h"

std::u16string ProfileKeyPath(std::u16string_view subkey) {
    std::u16string path(kProfileRoot);
    path += u'\\';
    path += ToHiveText(LoadResString(kIdsAppTitle));
    path += u'\\';
    path += kProfileBase;
    if (!subkey.empty()) {
        path += u'\\';
        path += subkey;
    }
    return path;
}

HiveKey* OpenProfileKey(HiveStore* hive, std::u16string_view subkey, bool create) {
    return hive ? hive->OpenKey(ProfileKeyPath(subkey), create) : nullptr;
}

std::u16string ToHiveText(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
}

QString FromHiveText(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}
