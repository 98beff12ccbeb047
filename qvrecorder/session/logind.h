// The session's screen lock (logind's LockedHint) and the computer's sleep
// (PrepareForSleep), from logind on the system bus. Where there is no system
// bus or no logind (containers, CI), Open says why and gives nothing.
#pragma once

#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <string>

namespace qv::recorder {

class LogindWatch {
public:
    using Changed = std::function<void(bool)>;
    // nullptr, with the reason in whyNot, when logind cannot be watched.
    static std::unique_ptr<LogindWatch> Open(Changed onLocked, Changed onSleeping, std::string& whyNot);
    ~LogindWatch();
    LogindWatch(const LogindWatch&) = delete;
    LogindWatch& operator=(const LogindWatch&) = delete;

    int Fd() const;
    short Events() const;
    // Handles what the bus sent; false when the bus connection is gone.
    bool Dispatch();
    bool Locked() const { return locked_; }

private:
    LogindWatch(sd_bus* bus, Changed onLocked, Changed onSleeping);
    static int OnProperties(sd_bus_message* message, void* self, sd_bus_error* error);
    static int OnSleep(sd_bus_message* message, void* self, sd_bus_error* error);
    void ReadLocked();

    sd_bus* bus_;
    Changed onLocked_;
    Changed onSleeping_;
    std::string sessionPath_;
    sd_bus_slot* propertiesSlot_ = nullptr;
    sd_bus_slot* sleepSlot_ = nullptr;
    bool locked_ = false;
};

}  // namespace qv::recorder
