#include "qvrecorder/session/record_maker.h"

#include "records/activity_record.h"

namespace qv::recorder {

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

bool SameProgram(const FrontWindow& a, const FrontWindow& b) {
    return a.pid == b.pid && a.processName == b.processName && a.windowClass == b.windowClass &&
           a.instanceName == b.instanceName;
}

bool SameWindow(const FrontWindow& a, const FrontWindow& b) { return SameProgram(a, b) && a.title == b.title; }

std::string Capped(std::string text) {
    if (text.size() > kMaxTextBytes) text.resize(kMaxTextBytes);
    return text;
}

}  // namespace

std::int64_t SystemRealMs(SteadyTime when) {
    const auto realNow = std::chrono::system_clock::now();
    const auto steadyNow = std::chrono::steady_clock::now();
    return duration_cast<milliseconds>((realNow - (steadyNow - when)).time_since_epoch()).count();
}

RecordMaker::RecordMaker(RecordMakerOptions options, const ProgramCatalog& catalog, PrivacyRules privacy, Sink sink,
                         RealClock realClock)
    : options_(options),
      catalog_(catalog),
      privacy_(std::move(privacy)),
      sink_(std::move(sink)),
      realClock_(std::move(realClock)) {}

void RecordMaker::Close(SteadyTime end) {
    if (!open_) return;
    Open record = std::move(*open_);
    open_.reset();
    const std::int64_t durationMs = std::max<std::int64_t>(0, duration_cast<milliseconds>(end - record.start).count());
    if (durationMs == 0 && record.keyboard == 0 && record.mouse == 0) return;
    quorvis::v1::LiveRecord live;
    live.set_process(record.program.process);
    live.set_description(record.program.description);
    live.set_window_title(record.title);
    live.set_start_ms(record.startMs);
    live.set_duration_ms(std::min(durationMs, kMaxDurationMs));
    live.set_keyboard_events(std::min(record.keyboard, kMaxEventCount));
    live.set_mouse_events(std::min(record.mouse, kMaxEventCount));
    std::optional<quorvis::v1::ProgramIcon> icon;
    if (record.iconPending && iconsSent_.insert(record.program.process).second) {
        icon.emplace();
        icon->set_process(record.program.process);
        icon->set_icon(record.program.icon.data(), record.program.icon.size());
    }
    sink_(std::move(live), std::move(icon));
}

void RecordMaker::OpenFor(SteadyTime start) {
    if (!window_ || !Present() || open_) return;
    ProgramInfo program = catalog_.Describe(*window_);
    if (!privacy_.Records(program.process, program.description)) return;
    Open record;
    record.title = Capped(privacy_.Title(program.process, program.description, window_->title));
    program.process = Capped(std::move(program.process));
    program.description = Capped(std::move(program.description));
    record.iconPending = !program.icon.empty() && !iconsSent_.contains(program.process);
    record.program = std::move(program);
    record.start = start;
    record.startMs = realClock_(start);
    open_ = std::move(record);
}

void RecordMaker::FrontChanged(const std::optional<FrontWindow>& window, SteadyTime when) {
    if (!window) {
        if (window_ && !noWindowSince_) noWindowSince_ = when;
        return;
    }
    const std::optional<SteadyTime> gapStart = std::exchange(noWindowSince_, std::nullopt);
    if (window_ && SameWindow(*window_, *window)) {
        // Only a short gap: the record goes on. A long one that Tick has not yet seen ends it where it began.
        if (gapStart && when - *gapStart >= kNoWindowGrace) {
            Close(*gapStart);
            OpenFor(when);
        }
        if (window->icon != window_->icon) window_->icon = window->icon;
        return;
    }
    const bool longGap = gapStart && when - *gapStart >= kNoWindowGrace;
    if (!longGap && open_ && window_ && SameProgram(*window_, *window) &&
        privacy_.Title(open_->program.process, open_->program.description, window->title) == open_->title) {
        // A hidden title that changes: the record, which shows none of it, goes on.
        window_ = window;
        return;
    }
    Close(longGap ? *gapStart : when);
    window_ = window;
    OpenFor(when);
}

void RecordMaker::Input(InputKind kind, SteadyTime when) {
    lastInput_ = when;
    if (away_) Resume(when);
    if (!open_) return;
    (kind == InputKind::Keyboard ? open_->keyboard : open_->mouse) += 1;
}

void RecordMaker::Away(SteadyTime lastInput) {
    if (away_) return;
    away_ = true;
    if (open_) Close(std::max(lastInput, open_->start));
}

void RecordMaker::Back(SteadyTime when) { Resume(when); }

void RecordMaker::Resume(SteadyTime when) {
    away_ = false;
    OpenFor(when);
}

void RecordMaker::Locked(bool locked, SteadyTime when) {
    if (locked == locked_) return;
    locked_ = locked;
    if (locked)
        Close(when);
    else
        OpenFor(when);
}

void RecordMaker::Sleeping(bool sleeping, SteadyTime when) {
    if (sleeping == sleeping_) return;
    sleeping_ = sleeping;
    if (sleeping)
        Close(when);
    else
        OpenFor(when);
}

void RecordMaker::Tick(SteadyTime now, std::optional<milliseconds> idle) {
    if (noWindowSince_ && now - *noWindowSince_ >= kNoWindowGrace) {
        Close(*noWindowSince_);
        window_.reset();
        noWindowSince_.reset();
    }
    if (idle) {
        const SteadyTime lastInput = now - *idle;
        if (!away_ && *idle >= options_.idleLimit) Away(lastInput);
        // Input the adapter did not count (a device it does not see) still ends the away time.
        else if (away_ && *idle < options_.idleLimit)
            Resume(std::max(lastInput, lastInput_.value_or(lastInput)));
    }
    if (open_ && now - open_->start >= options_.recordMax) {
        Close(now);
        OpenFor(now);
    }
}

void RecordMaker::Finish(SteadyTime now) {
    if (noWindowSince_ && now - *noWindowSince_ >= kNoWindowGrace) Close(*noWindowSince_);
    Close(now);
}

}  // namespace qv::recorder
