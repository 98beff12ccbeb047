#include "service/viewer_settings.h"

#include "platform/utf.h"

#include <cstring>
#include <iostream>
#include <optional>

namespace {

constexpr char16_t kStartDate[] = u"StartDate";
constexpr char16_t kEndDate[] = u"EndDate";
constexpr char16_t kPeriodType[] = u"PeriodType";
constexpr char16_t kServer[] = u"Server";
constexpr char16_t kTlsCaFile[] = u"TlsCaFile";
constexpr char16_t kTlsCertFile[] = u"TlsCertFile";
constexpr char16_t kTlsKeyFile[] = u"TlsKeyFile";
constexpr std::size_t kDateBytes = sizeof(double);

// A date of another size than 8 bytes is ignored.
std::optional<double> ReadDate(const HiveKey& key, std::u16string_view name) {
    auto value = key.GetValue(name);
    if (!value || value->data.size() != kDateBytes) return std::nullopt;
    double date;
    std::memcpy(&date, value->data.data(), kDateBytes);
    return date;
}

void WriteDate(HiveKey& key, std::u16string_view name, double date) {
    std::uint8_t bytes[kDateBytes];
    std::memcpy(bytes, &date, kDateBytes);
    key.SetBinary(name, bytes);
}

std::string ReadPath(const HiveKey& key, std::u16string_view name) {
    return Utf16ToUtf8(key.GetString(name).value_or(std::u16string()));
}

void WritePath(HiveKey& key, std::u16string_view name, const std::string& path) {
    if (path.empty())
        key.DeleteValue(name);
    else
        key.SetString(name, Utf8ToUtf16(path));
}

bool Store(HiveStore& hive) {
    std::string error;
    if (hive.Save(&error)) return true;
    std::cerr << "qvviewer: settings not saved to " << hive.Path() << ": " << error << '\n';
    return false;
}

}  // namespace

bool LoadSettings(HiveStore& hive, ReportPeriod& period) {
    HiveKey* key = hive.OpenKey(kViewerKey, true);
    if (!key) return false;
    if (auto start = ReadDate(*key, kStartDate)) {
        period.start = *start;
        period.startStatus = kDateValid;
    }
    if (auto end = ReadDate(*key, kEndDate)) {
        period.end = *end;
        period.endStatus = kDateValid;
    }
    // The stored type is not checked: any 4 bytes are taken as the type.
    if (auto type = key->GetValue(kPeriodType); type && type->data.size() == sizeof(std::int32_t))
        std::memcpy(&period.type, type->data.data(), sizeof(std::int32_t));
    return true;
}

bool SaveSettings(HiveStore& hive, const ReportPeriod& period) {
    HiveKey* key = hive.OpenKey(kViewerKey, true);
    if (!key) return false;
    WriteDate(*key, kStartDate, period.start);
    WriteDate(*key, kEndDate, period.end);
    key->SetDword(kPeriodType, static_cast<std::uint32_t>(period.type));
    return Store(hive);
}

std::u16string ReadServerName(HiveStore& hive) {
    HiveKey* key = hive.OpenKey(kViewerKey, true);
    if (!key) return {};
    return key->GetString(kServer).value_or(std::u16string());
}

bool WriteServerName(HiveStore& hive, std::u16string_view server) {
    HiveKey* key = hive.OpenKey(kViewerKey, true);
    if (!key) return false;
    key->SetString(kServer, server);
    return Store(hive);
}

TlsFiles ReadTlsSettings(HiveStore& hive) {
    HiveKey* key = hive.OpenKey(kViewerKey, true);
    if (!key) return {};
    return {ReadPath(*key, kTlsCaFile), ReadPath(*key, kTlsCertFile), ReadPath(*key, kTlsKeyFile)};
}

bool WriteTlsSettings(HiveStore& hive, const TlsFiles& files) {
    HiveKey* key = hive.OpenKey(kViewerKey, true);
    if (!key) return false;
    WritePath(*key, kTlsCaFile, files.caFile);
    WritePath(*key, kTlsCertFile, files.certFile);
    WritePath(*key, kTlsKeyFile, files.keyFile);
    return Store(hive);
}
