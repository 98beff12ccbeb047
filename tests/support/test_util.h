#pragma once
// Helpers of the foundation tests: scoped locale and environment variable.
#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

namespace test_util {

class ScopedLocale {
public:
    explicit ScopedLocale(const char* name)
        : saved_(std::setlocale(LC_ALL, nullptr)), ok_(std::setlocale(LC_ALL, name) != nullptr) {}
    ~ScopedLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    bool Ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_;
};

// Sets (a null value: unsets) an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        Set(value);
    }
    ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

private:
    void Set(const char* value) { value ? ::setenv(name_, value, 1) : ::unsetenv(name_); }
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace test_util
