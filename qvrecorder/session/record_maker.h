// The session's records from what a desktop adapter reports: one record per
// stretch of one window with one title, cut at most every recordMax, ended
// by away time, a locked screen or sleep. Counts input, never what it was.
#pragma once

#include "proto/recording.pb.h"
#include "qvrecorder/session/desktop_adapter.h"
#include "qvrecorder/session/privacy.h"
#include "qvrecorder/session/program_catalog.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>

namespace qv::recorder {

// A window in front for less than this between two others (window managers
// set none between activations) does not end a record.
inline constexpr std::chrono::milliseconds kNoWindowGrace{300};

struct RecordMakerOptions {
    std::chrono::milliseconds idleLimit{180'000};
    std::chrono::milliseconds recordMax{60'000};
};

class RecordMaker : public DesktopEvents {
public:
    // A finished record, and the icon of its program the first time it has one.
    using Sink = std::function<void(quorvis::v1::LiveRecord, std::optional<quorvis::v1::ProgramIcon>)>;
    // UTC milliseconds at a point of the steady clock; asked once per record, at its start.
    using RealClock = std::function<std::int64_t(SteadyTime)>;

    RecordMaker(RecordMakerOptions options, const ProgramCatalog& catalog, PrivacyRules privacy, Sink sink,
                RealClock realClock);

    void FrontChanged(const std::optional<FrontWindow>& window, SteadyTime when) override;
    void Input(InputKind kind, SteadyTime when) override;
    void Away(SteadyTime lastInput) override;
    void Back(SteadyTime when) override;
    void DisplayGone() override { displayGone_ = true; }

    // The screen locked or unlocked; the computer going to sleep or waking.
    void Locked(bool locked, SteadyTime when);
    void Sleeping(bool sleeping, SteadyTime when);
    // Called every second or so: ends a long gap without a window, cuts a
    // long record, and with the desktop's idle time (when it tells one)
    // notices the user going away and coming back.
    void Tick(SteadyTime now, std::optional<std::chrono::milliseconds> idle);
    // The session ends: the open record is closed now.
    void Finish(SteadyTime now);

    bool DisplayIsGone() const { return displayGone_; }
    bool HasOpenRecord() const { return open_.has_value(); }

private:
    struct Open {
        ProgramInfo program;
        std::string title;
        SteadyTime start;
        std::int64_t startMs = 0;
        std::int64_t keyboard = 0;
        std::int64_t mouse = 0;
        bool iconPending = false;
    };

    bool Present() const { return !away_ && !locked_ && !sleeping_; }
    void Close(SteadyTime end);
    void OpenFor(SteadyTime start);
    void Resume(SteadyTime when);

    RecordMakerOptions options_;
    const ProgramCatalog& catalog_;
    PrivacyRules privacy_;
    Sink sink_;
    RealClock realClock_;

    std::optional<FrontWindow> window_;
    std::optional<SteadyTime> noWindowSince_;
    std::optional<Open> open_;
    std::set<std::string> iconsSent_;
    std::optional<SteadyTime> lastInput_;
    bool away_ = false;
    bool locked_ = false;
    bool sleeping_ = false;
    bool displayGone_ = false;
};

// Real time at a steady point, from the clocks' offset now: a change of the
// real clock moves the next record's start, never a record's duration.
std::int64_t SystemRealMs(SteadyTime when);

}  // namespace qv::recorder
