// Which windows the session recorder leaves out or records without their
// titles, from the user's ~/.config/qvrecorder.conf and the session-* lines
// of /etc/qvrecorder.conf. The system's rules are added to the user's, and
// the defaults (password managers) to both: a user can add rules, never
// remove one.
#pragma once

#include <regex>
#include <string>
#include <vector>

namespace qv::recorder {

struct PrivacyRules {
    std::vector<std::string> hideTitlesOf;  // process or description, any case
    std::vector<std::regex> hideTitlesMatching;
    std::vector<std::string> doNotRecord;  // process or description, any case
    bool hideAllTitles = false;            // a rules file could not be read

    // The title as it may be recorded: the description when hidden.
    std::string Title(const std::string& process, const std::string& description, const std::string& title) const;
    bool Records(const std::string& process, const std::string& description) const;
};

// The user's file: hide-titles-of, hide-titles-matching, do-not-record (with
// or without "session-"); the system's: only the session-* names. A missing
// file has no rules; anything else wrong throws SettingsError naming the
// file and line.
PrivacyRules LoadPrivacyRules(const std::string& userFile, const std::string& systemFile);

// $XDG_CONFIG_HOME/qvrecorder.conf, else ~/.config/qvrecorder.conf; empty without either.
std::string UserSettingsFile();

}  // namespace qv::recorder
