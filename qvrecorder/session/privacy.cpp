#include "qvrecorder/session/privacy.h"

#include "qvrecorder/options.h"

#include <algorithm>
#include <cstdlib>

namespace qv::recorder {

namespace {

const char* const kPasswordManagers[] = {
    "keepassxc",     "keepass2",        "keepass",        "bitwarden", "1password",   "seahorse",
    "gnome-keyring", "kwalletmanager5", "kwalletmanager", "qtpass",    "pass",        "gopass",
    "enpass",        "lastpass",        "keeper",         "nordpass",  "proton-pass", "secrets",
};

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool Named(const std::vector<std::string>& names, const std::string& process, const std::string& description) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& name) { return SameName(name, process) || SameName(name, description); });
}

void AddFile(PrivacyRules& rules, const std::string& path, bool system) {
    if (path.empty()) return;
    const std::string prefix = kSessionSettingsPrefix;
    for (SettingsLine& line : ReadSettingsLines(path, false)) {
        std::string name = line.name;
        if (name.rfind(prefix, 0) == 0)
            name.erase(0, prefix.size());
        else if (system)
            continue;  // the daemon's
        if (line.value.empty()) throw SettingsError(line.where + line.name + " needs a value");
        if (name == "hide-titles-of") {
            rules.hideTitlesOf.push_back(line.value);
        } else if (name == "do-not-record") {
            rules.doNotRecord.push_back(line.value);
        } else if (name == "hide-titles-matching") {
            try {
                rules.hideTitlesMatching.emplace_back(line.value, std::regex::ECMAScript | std::regex::optimize);
            } catch (const std::regex_error& bad) {
                throw SettingsError(line.where + "hide-titles-matching takes a regular expression: " + bad.what());
            }
        } else {
            throw SettingsError(line.where + "unknown setting '" + line.name + "'");
        }
    }
}

}  // namespace

std::string PrivacyRules::Title(const std::string& process, const std::string& description,
                                const std::string& title) const {
    if (hideAllTitles || Named(hideTitlesOf, process, description)) return description;
    for (const std::regex& pattern : hideTitlesMatching) {
        // A title too odd for the regex engine (deep backtracking) is hidden, not recorded.
        try {
            if (std::regex_search(title, pattern)) return description;
        } catch (const std::regex_error&) {
            return description;
        }
    }
    return title;
}

bool PrivacyRules::Records(const std::string& process, const std::string& description) const {
    return !Named(doNotRecord, process, description);
}

PrivacyRules LoadPrivacyRules(const std::string& userFile, const std::string& systemFile) {
    PrivacyRules rules;
    rules.hideTitlesOf.assign(std::begin(kPasswordManagers), std::end(kPasswordManagers));
    AddFile(rules, systemFile, true);
    AddFile(rules, userFile, false);
    return rules;
}

std::string UserSettingsFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/') return std::string(config) + "/qvrecorder.conf";
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.config/qvrecorder.conf" : std::string();
}

}  // namespace qv::recorder
