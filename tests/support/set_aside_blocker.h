#pragma once
// Takes every name a corrupt hive would be set aside under for the next few seconds: setting it aside fails as
// in a folder the user cannot write (which does not stop root).
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class SetAsideBlocker {
public:
    explicit SetAsideBlocker(const std::string& hivePath) {
        // Until the names reach kSeconds past the time when taking them ends.
        for (std::time_t t = std::time(nullptr); t <= std::time(nullptr) + kSeconds; ++t) {
            const std::string base = hivePath + ".corrupt-" + std::to_string(t);
            for (int attempt = 1; attempt <= kAttempts; ++attempt) {
                taken_.push_back(attempt == 1 ? base : base + "-" + std::to_string(attempt));
                std::ofstream{taken_.back()};
            }
        }
    }
    ~SetAsideBlocker() { Release(); }
    SetAsideBlocker(const SetAsideBlocker&) = delete;
    SetAsideBlocker& operator=(const SetAsideBlocker&) = delete;

    // The store never renames over a name, so these are still the empty files.
    void Release() {
        std::error_code ec;
        for (const std::string& name : taken_) std::filesystem::remove(name, ec);
        taken_.clear();
    }

private:
    static constexpr int kSeconds = 5;
    static constexpr int kAttempts = 100;  // as many as the store tries
    std::vector<std::string> taken_;
};
