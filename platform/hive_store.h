#pragma once
// HiveStore: the current user's registry hive, kept as one file in the text
// format of Wine's user.reg (hive_text.h). It holds the viewer's settings and
// the UI framework's profile. The file is read by Load and written whole by
// Save, atomically: a new file in the same directory, flushed, renamed over
// the old one. Save first reads the file again and keeps what other programs
// wrote there meanwhile, except for the values this program changed (the
// registry's per-value merge), so two viewers on one hive lose nothing but
// the older of two changes to the same value. A file that cannot be read or
// parsed is set aside as "<file>.corrupt-<unix time>" with a warning on
// standard error, and the program goes on with an empty hive; it is never
// overwritten unseen.
#include "platform/hive_key.h"

#include <functional>
#include <string>

// $QVVIEWER_HIVE when set; else $XDG_CONFIG_HOME/qvviewer/user.reg, falling
// back to ~/.config/qvviewer/user.reg.
std::string DefaultHivePath();

class HiveStore {
public:
    enum class LoadResult {
        Loaded,
        Missing,   // no file yet: an empty hive, created by the first Save
        SetAside,  // unreadable or corrupt: renamed, empty hive
        Blocked,   // unreadable or corrupt and could not be renamed: empty hive; Save
                   // tries the renaming again and refuses while it fails
    };
    using RenameFunction = std::function<int(const char* from, const char* to)>;

    explicit HiveStore(std::string path);

    // Replaces the hive in memory with the file's; keys opened before are
    // no longer valid.
    LoadResult Load();
    // Merges the file's current values into the hive (see above) and writes
    // it; false with a reason in *error on failure, in which case the file on
    // disk is unchanged.
    bool Save(std::string* error = nullptr);

    HiveKey* OpenKey(std::u16string_view path, bool create) { return tree_.OpenKey(path, create); }
    const std::string& Path() const { return path_; }
    // The file the corrupt one was renamed to by the last Load, if any.
    const std::string& SetAsidePath() const { return setAsidePath_; }

    // Replaces the final rename (default ::rename), so tests can simulate a
    // crash between writing the new file and renaming it.
    void SetRenameFunction(RenameFunction rename) { rename_ = std::move(rename); }

private:
    LoadResult SetAside(const std::string& reason);
    // False, with the reason, when the file is unsound and stays in place.
    bool MergeWithFile(std::string& problem);

    std::string path_;
    std::string setAsidePath_;
    HiveTree tree_;
    RenameFunction rename_;
};
