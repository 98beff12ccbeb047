#include "qvrecorder/session/logind.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

namespace qv::recorder {

namespace {

constexpr const char* kLogin1 = "org.freedesktop.login1";

std::string BusError(const sd_bus_error& error, int code) {
    if (error.message) return error.message;
    return std::strerror(-code);
}

}  // namespace

std::unique_ptr<LogindWatch> LogindWatch::Open(Changed onLocked, Changed onSleeping, std::string& whyNot) {
    sd_bus* bus = nullptr;
    if (const int r = sd_bus_open_system(&bus); r < 0) {
        whyNot = std::string("no system bus: ") + std::strerror(-r);
        return nullptr;
    }
    std::unique_ptr<LogindWatch> watch(new LogindWatch(bus, std::move(onLocked), std::move(onSleeping)));
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus, kLogin1, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                               "GetSessionByPID", &error, &reply, "u", static_cast<std::uint32_t>(::getpid()));
    if (r < 0) {
        whyNot = "logind does not answer: " + BusError(error, r);
        sd_bus_error_free(&error);
        return nullptr;
    }
    const char* path = nullptr;
    r = sd_bus_message_read(reply, "o", &path);
    if (r >= 0 && path) watch->sessionPath_ = path;
    sd_bus_message_unref(reply);
    if (watch->sessionPath_.empty()) {
        whyNot = "logind knows no session of this process";
        return nullptr;
    }
    r = sd_bus_match_signal(bus, &watch->propertiesSlot_, kLogin1, watch->sessionPath_.c_str(),
                            "org.freedesktop.DBus.Properties", "PropertiesChanged", &LogindWatch::OnProperties,
                            watch.get());
    if (r >= 0)
        r = sd_bus_match_signal(bus, &watch->sleepSlot_, kLogin1, "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager", "PrepareForSleep", &LogindWatch::OnSleep,
                                watch.get());
    if (r < 0) {
        whyNot = std::string("cannot follow logind's signals: ") + std::strerror(-r);
        return nullptr;
    }
    watch->ReadLocked();
    return watch;
}

LogindWatch::LogindWatch(sd_bus* bus, Changed onLocked, Changed onSleeping)
    : bus_(bus), onLocked_(std::move(onLocked)), onSleeping_(std::move(onSleeping)) {}

LogindWatch::~LogindWatch() {
    sd_bus_slot_unref(propertiesSlot_);
    sd_bus_slot_unref(sleepSlot_);
    sd_bus_flush_close_unref(bus_);
}

int LogindWatch::Fd() const { return sd_bus_get_fd(bus_); }

short LogindWatch::Events() const {
    const int events = sd_bus_get_events(bus_);
    return static_cast<short>(events < 0 ? 0 : events);
}

bool LogindWatch::Dispatch() {
    for (;;) {
        const int r = sd_bus_process(bus_, nullptr);
        if (r < 0) return false;
        if (r == 0) return true;
    }
}

void LogindWatch::ReadLocked() {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int locked = 0;
    if (sd_bus_get_property_trivial(bus_, kLogin1, sessionPath_.c_str(), "org.freedesktop.login1.Session", "LockedHint",
                                    &error, 'b', &locked) < 0) {
        sd_bus_error_free(&error);
        return;
    }
    if ((locked != 0) != locked_) {
        locked_ = locked != 0;
        onLocked_(locked_);
    }
}

int LogindWatch::OnProperties(sd_bus_message*, void* self, sd_bus_error*) {
    static_cast<LogindWatch*>(self)->ReadLocked();
    return 0;
}

int LogindWatch::OnSleep(sd_bus_message* message, void* self, sd_bus_error*) {
    int sleeping = 0;
    if (sd_bus_message_read(message, "b", &sleeping) >= 0) static_cast<LogindWatch*>(self)->onSleeping_(sleeping != 0);
    return 0;
}

}  // namespace qv::recorder
