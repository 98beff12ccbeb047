#pragma once
// Helpers of the tests: broken-down times, scoped locale and environment variable.
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace test_util {

// A broken-down time whose daylight saving mktime decides.
inline std::tm Tm(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
    return t;
}

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
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

private:
    void Set(const char* value) { value ? ::setenv(name_, value, 1) : ::unsetenv(name_); }
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace test_util
