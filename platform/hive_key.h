#pragma once
// The keys and values of the settings hive, held in memory. Key and value
// names compare case-insensitively as in the registry (ASCII letters only are
// folded); a name keeps the case in which it was first written. Every value
// keeps its type and byte form; a value read from the file also keeps its
// text, written back unchanged until the program sets it, so types this
// program does not use survive exactly. Each key remembers which values this
// program set or deleted since the file was last read or written, so that a
// save can merge them into what another program wrote meanwhile, value by
// value, as the registry would. Not thread-safe: the UI thread owns the hive.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;

struct RegValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    friend bool operator==(const RegValue&, const RegValue&) = default;
};

std::u16string FoldName(std::u16string_view name);

class HiveKey {
public:
    struct Entry {
        std::u16string name;  // empty: the key's default value
        RegValue value;
        std::string text;      // the value's text as read from the file; empty once set
        bool changed = false;  // set by this program since the last merge
    };

    HiveKey(std::u16string path, std::int64_t modified) : path_(std::move(path)), modified_(modified) {}

    const std::u16string& Path() const { return path_; }
    std::int64_t Modified() const { return modified_; }  // unix seconds

    std::optional<RegValue> GetValue(std::u16string_view name) const;
    // REG_SZ or REG_EXPAND_SZ, up to the first null.
    std::optional<std::u16string> GetString(std::u16string_view name) const;
    // REG_DWORD of 4 bytes.
    std::optional<std::uint32_t> GetDword(std::u16string_view name) const;

    // Setting a value to what it already holds changes nothing, so a peer's
    // newer value of it is not overwritten.
    void SetValue(std::u16string_view name, RegValue value);
    void SetString(std::u16string_view name, std::u16string_view text);  // REG_SZ with its terminating null
    void SetDword(std::u16string_view name, std::uint32_t value);
    void SetBinary(std::u16string_view name, std::span<const std::uint8_t> data);
    bool DeleteValue(std::u16string_view name);
    std::vector<std::u16string> ValueNames() const;

    // For the file reader and writer.
    void PutFromFile(std::u16string name, RegValue value, std::string text);
    const std::vector<Entry>& Entries() const { return entries_; }
    std::vector<std::string>& Options() { return options_; }
    const std::vector<std::string>& Options() const { return options_; }

    // Takes the file's entries for every value this program neither set nor
    // deleted; values this program changed keep its version. A null file is
    // a file without this key.
    void MergeFromFile(const HiveKey* file);
    void ClearChanges();

private:
    std::size_t IndexOf(std::u16string_view name) const;  // entries_.size() when absent
    const Entry* Find(std::u16string_view name) const;
    Entry& FindOrAdd(std::u16string_view name);
    void Touch();

    std::u16string path_;
    std::int64_t modified_;
    std::vector<std::string> options_;     // "#..." lines under the key line, kept verbatim
    std::vector<Entry> entries_;           // in file order
    std::vector<std::u16string> deleted_;  // folded names deleted since the last merge
    bool touched_ = false;                 // a value was set or deleted since the last merge
};

class HiveTree {
public:
    // Paths are relative to the hive, components separated by '\'. Opening
    // with create makes the key and any missing parents. nullptr when the
    // key is absent (create false) or the path has an empty component.
    HiveKey* OpenKey(std::u16string_view path, bool create);
    HiveKey* CreateKeyFromFile(std::u16string_view path, std::int64_t modified);

    const std::vector<std::unique_ptr<HiveKey>>& Keys() const { return keys_; }  // parents first
    bool HasSubkeys(const HiveKey& key) const;
    // Merges the file's keys into this tree, key by key (HiveKey::MergeFromFile);
    // a key the file lacks keeps only the values this program changed. Keys
    // are never removed, so keys opened before stay valid.
    void MergeFromFile(const HiveTree& file);
    void ClearChanges();

    std::vector<std::string>& Preamble() { return preamble_; }
    const std::vector<std::string>& Preamble() const { return preamble_; }

private:
    HiveKey* Open(std::u16string_view path, bool create, std::int64_t modified);

    std::vector<std::string> preamble_;  // "#..." lines before the first key
    std::vector<std::unique_ptr<HiveKey>> keys_;
    std::unordered_map<std::u16string, HiveKey*> byFoldedPath_;
    std::unordered_map<std::u16string, std::size_t> subkeyCount_;  // by folded path
};
