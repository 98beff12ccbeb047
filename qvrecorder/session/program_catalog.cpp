#include "qvrecorder/session/program_catalog.h"

#include "qvrecorder/session/icon.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace qv::recorder {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool SameName(const std::string& a, const std::string& b) { return !a.empty() && Lower(a) == Lower(b); }

std::string Basename(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Exec's program: the first word that is neither "env" nor an assignment (quotes are rare around it).
std::string ExecProgram(const std::string& exec) {
    std::istringstream words(exec);
    std::string word;
    while (words >> word) {
        if (!word.empty() && (word.front() == '"' || word.front() == '\'')) word = word.substr(1);
        if (!word.empty() && (word.back() == '"' || word.back() == '\'')) word.pop_back();
        if (word == "env" || word.find('=') != std::string::npos) continue;
        return Basename(word);
    }
    return {};
}

std::string ReadSmallFile(const std::string& path, std::size_t max) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string bytes(max + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes.size() > max ? std::string() : bytes;
}

}  // namespace

std::optional<DesktopEntry> ReadDesktopEntry(const std::string& path, const std::string& id) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    DesktopEntry entry{id, {}, {}, {}, {}};
    std::string line, type;
    bool inGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inGroup) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        std::string value = line.substr(equals + 1);
        value.erase(0, value.find_first_not_of(' '));
        if (key == "Name")
            entry.name = value;
        else if (key == "StartupWMClass")
            entry.startupWmClass = value;
        else if (key == "Exec")
            entry.program = ExecProgram(value);
        else if (key == "Icon")
            entry.icon = value;
        else if (key == "Type")
            type = value;
        else if (key == "Hidden" && value == "true")
            return std::nullopt;
    }
    if (type != "Application" || entry.name.empty()) return std::nullopt;
    return entry;
}

std::string ProcessName(pid_t pid) {
    if (pid <= 0) return {};
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code error;
    const fs::path exe = fs::read_symlink(proc + "/exe", error);
    if (!error && !exe.empty()) {
        std::string name = exe.filename().string();
        // A program replaced while it runs.
        const std::string deleted = " (deleted)";
        if (name.size() > deleted.size() && name.ends_with(deleted)) name.resize(name.size() - deleted.size());
        return name;
    }
    std::string comm = ReadSmallFile(proc + "/comm", 64);
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    return comm;
}

ProgramCatalog::ProgramCatalog(std::vector<std::string> dataDirs, std::chrono::seconds rescanAfter)
    : dataDirs_(std::move(dataDirs)), rescanAfter_(rescanAfter) {
    Scan();
}

void ProgramCatalog::Scan() const {
    entries_.clear();
    scanned_ = std::chrono::steady_clock::now();
    std::set<std::string> seen;
    for (const std::string& dir : dataDirs_) {
        const fs::path root = fs::path(dir) / "applications";
        std::error_code error;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
        for (; !error && it != end; it.increment(error)) {
            if (it->path().extension() != ".desktop") continue;
            std::string id = it->path().lexically_relative(root).string();
            id.resize(id.size() - 8);
            std::replace(id.begin(), id.end(), '/', '-');
            // An entry of an earlier folder hides the one of the same id in a later one.
            if (!seen.insert(id).second) continue;
            if (auto entry = ReadDesktopEntry(it->path().string(), id)) entries_.push_back(std::move(*entry));
        }
    }
}

std::vector<std::string> ProgramCatalog::DataDirsFromEnvironment() {
    std::vector<std::string> dirs;
    const char* home = std::getenv("HOME");
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome == '/')
        dirs.emplace_back(dataHome);
    else if (home && *home)
        dirs.push_back(std::string(home) + "/.local/share");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::istringstream list(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    for (std::string dir; std::getline(list, dir, ':');) {
        if (!dir.empty() && dir.front() == '/') dirs.push_back(dir);
    }
    return dirs;
}

const DesktopEntry* ProgramCatalog::Find(const FrontWindow& window, const std::string& process) const {
    const auto find = [this](auto matches) -> const DesktopEntry* {
        const auto it = std::find_if(entries_.begin(), entries_.end(), matches);
        return it == entries_.end() ? nullptr : &*it;
    };
    if (auto* e = find([&](const DesktopEntry& e) {
            return SameName(e.startupWmClass, window.windowClass) || SameName(e.startupWmClass, window.instanceName);
        }))
        return e;
    // Reverse-DNS ids (org.gnome.Calculator) match by their last part too.
    const auto idMatches = [](const DesktopEntry& e, const std::string& name) {
        if (SameName(e.id, name)) return true;
        const std::size_t dot = e.id.rfind('.');
        return dot != std::string::npos && SameName(e.id.substr(dot + 1), name);
    };
    if (auto* e = find([&](const DesktopEntry& e) {
            return idMatches(e, window.windowClass) || idMatches(e, window.instanceName);
        }))
        return e;
    return find([&](const DesktopEntry& e) { return !process.empty() && e.program == process; });
}

std::vector<unsigned char> ProgramCatalog::ThemeIcon(const std::string& icon) const {
    if (icon.empty()) return {};
    std::vector<std::string> pngs;
    if (icon.front() == '/') {
        if (icon.ends_with(".png")) pngs.push_back(ReadSmallFile(icon, kMaxIconBytes));
    } else {
        for (const char* size : {"16x16", "32x32", "48x48"}) {
            for (const std::string& dir : dataDirs_) {
                std::string png = ReadSmallFile(dir + "/icons/hicolor/" + size + "/apps/" + icon + ".png", 256 << 10);
                if (!png.empty()) {
                    pngs.push_back(std::move(png));
                    break;
                }
            }
        }
        if (pngs.empty()) pngs.push_back(ReadSmallFile("/usr/share/pixmaps/" + icon + ".png", kMaxIconBytes));
    }
    return IconFromPngs(pngs);
}

ProgramInfo ProgramCatalog::Describe(const FrontWindow& window) const {
    ProgramInfo info;
    info.process = !window.processName.empty()   ? window.processName
                   : !window.windowClass.empty() ? window.windowClass
                                                 : window.instanceName;
    const DesktopEntry* entry = Find(window, window.processName);
    if (!entry && std::chrono::steady_clock::now() - scanned_ >= rescanAfter_) {
        Scan();
        entry = Find(window, window.processName);
    }
    info.description = entry ? entry->name : !window.windowClass.empty() ? window.windowClass : info.process;
    info.icon = !window.icon.empty() ? window.icon : entry ? ThemeIcon(entry->icon) : std::vector<unsigned char>{};
    if (info.process.empty()) info.process = info.description.empty() ? "unknown" : info.description;
    return info;
}

}  // namespace qv::recorder
