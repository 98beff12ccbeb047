// What a window's program is called: its process name for the process
// column, and a description and icon from its desktop entry (the
// applications/*.desktop files of XDG_DATA_HOME and XDG_DATA_DIRS).
#pragma once

#include "qvrecorder/session/desktop_adapter.h"

#include <chrono>
#include <string>
#include <vector>

namespace qv::recorder {

struct DesktopEntry {
    std::string id;  // the file name without .desktop, sub-folders joined with '-'
    std::string name;
    std::string startupWmClass;
    std::string program;  // the basename of Exec's program
    std::string icon;
};

struct ProgramInfo {
    std::string process;
    std::string description;
    std::vector<unsigned char> icon;  // icon-file bytes; empty when none was found
};

// A desktop file's [Desktop Entry]; nullopt for one that is hidden, not an
// application or unreadable.
std::optional<DesktopEntry> ReadDesktopEntry(const std::string& path, const std::string& id);

// The basename of /proc/PID/exe, else the process's comm; empty when the
// process is gone or not ours to see.
std::string ProcessName(pid_t pid);

class ProgramCatalog {
public:
    // dataDirs in order of precedence (XDG_DATA_HOME first). The entries are
    // read here, and again when a window matches none and they are older
    // than rescanAfter (a program installed during the session).
    explicit ProgramCatalog(std::vector<std::string> dataDirs,
                            std::chrono::seconds rescanAfter = std::chrono::seconds(60));
    // From XDG_DATA_HOME and XDG_DATA_DIRS with their defaults.
    static std::vector<std::string> DataDirsFromEnvironment();

    ProgramInfo Describe(const FrontWindow& window) const;
    std::size_t EntryCount() const { return entries_.size(); }

private:
    void Scan() const;
    const DesktopEntry* Find(const FrontWindow& window, const std::string& process) const;
    std::vector<unsigned char> ThemeIcon(const std::string& icon) const;

    std::vector<std::string> dataDirs_;
    std::chrono::seconds rescanAfter_;
    mutable std::vector<DesktopEntry> entries_;
    mutable std::chrono::steady_clock::time_point scanned_;
};

}  // namespace qv::recorder
