#include "platform/hive_key.h"

#include <algorithm>
#include <ctime>
#include <unordered_set>

namespace {

constexpr char16_t kSeparator = u'\\';
constexpr std::string_view kTimeOption = "#time=";

bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && FoldName(a) == FoldName(b);
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text, bool terminate) {
    std::vector<std::uint8_t> out;
    out.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminate) out.insert(out.end(), {0, 0});
    return out;
}

}  // namespace

std::u16string FoldName(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return out;
}

std::size_t HiveKey::IndexOf(std::u16string_view name) const {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return SameName(e.name, name); });
    return static_cast<std::size_t>(it - entries_.begin());
}

const HiveKey::Entry* HiveKey::Find(std::u16string_view name) const {
    std::size_t i = IndexOf(name);
    return i < entries_.size() ? &entries_[i] : nullptr;
}

HiveKey::Entry& HiveKey::FindOrAdd(std::u16string_view name) {
    std::size_t i = IndexOf(name);
    if (i < entries_.size()) return entries_[i];
    entries_.push_back(Entry{std::u16string(name), {}, {}});
    return entries_.back();
}

void HiveKey::Touch() {
    touched_ = true;
    modified_ = Now();
    // The key line carries the new time; an older "#time=" would contradict it.
    std::erase_if(options_, [](const std::string& line) { return line.starts_with(kTimeOption); });
}

std::optional<RegValue> HiveKey::GetValue(std::u16string_view name) const {
    const Entry* e = Find(name);
    return e ? std::optional<RegValue>(e->value) : std::nullopt;
}

std::optional<std::u16string> HiveKey::GetString(std::u16string_view name) const {
    const Entry* e = Find(name);
    if (!e || (e->value.type != REG_SZ && e->value.type != REG_EXPAND_SZ)) return std::nullopt;
    std::u16string text;
    const std::vector<std::uint8_t>& d = e->value.data;
    for (std::size_t i = 0; i + 1 < d.size(); i += 2) {
        auto c = static_cast<char16_t>(d[i] | (d[i + 1] << 8));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

std::optional<std::uint32_t> HiveKey::GetDword(std::u16string_view name) const {
    const Entry* e = Find(name);
    if (!e || e->value.type != REG_DWORD || e->value.data.size() != 4) return std::nullopt;
    const std::vector<std::uint8_t>& d = e->value.data;
    return static_cast<std::uint32_t>(d[0] | (d[1] << 8) | (d[2] << 16)) | (static_cast<std::uint32_t>(d[3]) << 24);
}

void HiveKey::SetValue(std::u16string_view name, RegValue value) {
    if (const Entry* same = Find(name); same && same->value == value) return;
    Entry& e = FindOrAdd(name);
    e.value = std::move(value);
    e.text.clear();
    e.changed = true;
    std::erase(deleted_, FoldName(name));
    Touch();
}

void HiveKey::SetString(std::u16string_view name, std::u16string_view text) {
    SetValue(name, RegValue{REG_SZ, Utf16Bytes(text, true)});
}

void HiveKey::SetDword(std::u16string_view name, std::uint32_t value) {
    SetValue(name, RegValue{REG_DWORD,
                            {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                             static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}});
}

void HiveKey::SetBinary(std::u16string_view name, std::span<const std::uint8_t> data) {
    SetValue(name, RegValue{REG_BINARY, std::vector<std::uint8_t>(data.begin(), data.end())});
}

bool HiveKey::DeleteValue(std::u16string_view name) {
    auto n = std::erase_if(entries_, [&](const Entry& e) { return SameName(e.name, name); });
    if (n == 0) return false;
    std::u16string folded = FoldName(name);
    if (std::find(deleted_.begin(), deleted_.end(), folded) == deleted_.end()) deleted_.push_back(std::move(folded));
    Touch();
    return true;
}

std::vector<std::u16string> HiveKey::ValueNames() const {
    std::vector<std::u16string> names;
    for (const Entry& e : entries_) names.push_back(e.name);
    return names;
}

void HiveKey::PutFromFile(std::u16string name, RegValue value, std::string text) {
    Entry& e = FindOrAdd(name);  // a later duplicate wins, in the first one's place
    e.value = std::move(value);
    e.text = std::move(text);
}

void HiveKey::MergeFromFile(const HiveKey* file) {
    std::vector<Entry> merged;
    std::unordered_set<std::u16string> names;  // folded
    for (Entry& e : entries_) {
        const Entry* theirs = file ? file->Find(e.name) : nullptr;
        if (!e.changed && !theirs) continue;  // removed by whoever wrote the file
        if (!e.changed) e = Entry{std::move(e.name), theirs->value, theirs->text};
        names.insert(FoldName(e.name));
        merged.push_back(std::move(e));
    }
    if (file) {
        for (const Entry& theirs : file->entries_) {
            std::u16string folded = FoldName(theirs.name);
            if (names.contains(folded) || std::find(deleted_.begin(), deleted_.end(), folded) != deleted_.end())
                continue;
            names.insert(std::move(folded));
            merged.push_back(Entry{theirs.name, theirs.value, theirs.text});
        }
        if (!touched_) {
            modified_ = file->modified_;
            options_ = file->options_;
        }
    }
    entries_ = std::move(merged);
}

void HiveKey::ClearChanges() {
    for (Entry& e : entries_) e.changed = false;
    deleted_.clear();
    touched_ = false;
}

void HiveTree::MergeFromFile(const HiveTree& file) {
    preamble_ = file.preamble_;
    std::unordered_set<const HiveKey*> inFile;
    for (const auto& theirs : file.keys_) {
        HiveKey* ours = Open(theirs->Path(), true, theirs->Modified());
        ours->MergeFromFile(theirs.get());
        inFile.insert(ours);
    }
    for (const auto& ours : keys_)
        if (!inFile.contains(ours.get())) ours->MergeFromFile(nullptr);
}

void HiveTree::ClearChanges() {
    for (const auto& key : keys_) key->ClearChanges();
}

HiveKey* HiveTree::OpenKey(std::u16string_view path, bool create) { return Open(path, create, Now()); }

HiveKey* HiveTree::CreateKeyFromFile(std::u16string_view path, std::int64_t modified) {
    return Open(path, true, modified);
}

bool HiveTree::HasSubkeys(const HiveKey& key) const {
    auto it = subkeyCount_.find(FoldName(key.Path()));
    return it != subkeyCount_.end() && it->second > 0;
}

HiveKey* HiveTree::Open(std::u16string_view path, bool create, std::int64_t modified) {
    // Checked whole before anything is created.
    if (path.empty() || path.front() == kSeparator || path.back() == kSeparator ||
        path.find(u"\\\\") != std::u16string_view::npos)
        return nullptr;
    HiveKey* parent = nullptr;
    std::size_t start = 0;
    while (true) {
        std::size_t end = path.find(kSeparator, start);
        std::u16string_view component = path.substr(start, end == std::u16string_view::npos ? end : end - start);
        std::u16string full =
            parent ? parent->Path() + kSeparator + std::u16string(component) : std::u16string(component);
        std::u16string folded = FoldName(full);
        auto it = byFoldedPath_.find(folded);
        HiveKey* key = it == byFoldedPath_.end() ? nullptr : it->second;
        if (!key) {
            if (!create) return nullptr;
            keys_.push_back(std::make_unique<HiveKey>(std::move(full), modified));
            key = keys_.back().get();
            byFoldedPath_.emplace(std::move(folded), key);
            if (parent) ++subkeyCount_[FoldName(parent->Path())];
        }
        if (end == std::u16string_view::npos) return key;
        parent = key;
        start = end + 1;
    }
}
