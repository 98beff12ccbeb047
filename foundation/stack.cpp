#include "foundation/stack.h"

#include <backtrace.h>
#include <dlfcn.h>
#include <cinttypes>
#include <cstdio>

#include <boost/stacktrace/stacktrace.hpp>

#include "foundation/mutex.h"
#include "foundation/type_name.h"

// The exception hook of the original (a vectored exception handler that let
// every exception pass) has no counterpart: Linux has no vectored handlers,
// faults arrive as signals, and a handler that takes no action needs no
// stand-in. Crash dumps, behind a switch that was off, are not provided.

namespace {

constexpr std::size_t kMaxSymbolName = 1960;  // the original's name buffer
constexpr std::size_t kMaxSourceText = 80;
constexpr std::size_t kSourceTextHalf = 40;

struct SymbolEngine {
    TMutex lock;  // guards the members and every libbacktrace call
    std::int32_t users = 0;
    int starts = 0;
    // Made by the first start and kept for the life of the process:
    // libbacktrace cannot free a state, as the original never unloaded
    // dbghelp. Keeping it also keeps the debug information read so far.
    backtrace_state* state = nullptr;
};

// Made on first use and never destroyed, so that exceptions raised while
// static objects are destroyed still get their stack.
SymbolEngine& Engine() {
    static SymbolEngine* engine = new SymbolEngine;
    return *engine;
}

// libbacktrace reports missing debug information or symbol tables here;
// the frame text then takes its fall-backs.
void IgnoreBacktraceError(void*, const char*, int) {}

struct SymbolFound {
    std::string name;
    std::uintptr_t start = 0;
};

void OnSymbol(void* data, std::uintptr_t, const char* name, std::uintptr_t start, std::uintptr_t) {
    if (name) {
        *static_cast<std::optional<SymbolFound>*>(data) = SymbolFound{name, start};
    }
}

struct PcFound {
    std::optional<FrameSource> source;
    std::string function;
};

// Called once per inlined level, innermost first: the first source position
// is the code at the address, the last function the one that holds it.
int OnPc(void* data, std::uintptr_t, const char* file, int line, const char* function) {
    auto& found = *static_cast<PcFound*>(data);
    if (!found.source && file && line > 0) {
        found.source = FrameSource{file, line};
    }
    if (function) {
        found.function = function;
    }
    return 0;
}

std::string SymbolName(const char* raw) {
    std::string name = DemangleSymbol(raw);
    if (name.size() > kMaxSymbolName) {
        name.resize(kMaxSymbolName);
    }
    return name;
}

std::string Hex(std::uintptr_t value) {
    char text[2 * sizeof value + 1];
    std::snprintf(text, sizeof text, "%" PRIxPTR, value);
    return text;
}

std::string_view FileName(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool AcquireSymbols() {
    SymbolEngine& engine = Engine();
    TLockGuard guard(engine.lock);
    if (engine.users == 0) {
        if (!engine.state) {
            // No file name: libbacktrace finds the program itself. Not
            // threaded, since every call is made under the symbol lock.
            engine.state = backtrace_create_state(nullptr, 0, IgnoreBacktraceError, nullptr);
            if (!engine.state) {
                return false;
            }
        }
        ++engine.starts;
    }
    ++engine.users;
    return true;
}

void ReleaseSymbols() {
    SymbolEngine& engine = Engine();
    TLockGuard guard(engine.lock);
    // The last user leaves nothing to clean up: the state stays (see above).
    if (engine.users > 0) {
        --engine.users;
    }
}

int SymbolEngineStartCount() {
    SymbolEngine& engine = Engine();
    TLockGuard guard(engine.lock);
    return engine.starts;
}

// Skips its own frame, so it must stay a frame of its own. The walk takes no
// lock: the unwinder is thread-safe, unlike the original's stack walker.
[[gnu::noinline]] StackFrames CaptureStack() {
    boost::stacktrace::stacktrace trace(1, kMaxStackFrames);
    StackFrames frames;
    frames.reserve(trace.size());
    for (const boost::stacktrace::frame& frame : trace) {
        frames.push_back(reinterpret_cast<std::uintptr_t>(frame.address()));
    }
    return frames;
}

std::string ModuleNameFromPath(std::string_view path) {
    std::string_view name = FileName(path);
    std::size_t dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

FrameInfo LookupFrame(std::uintptr_t address) {
    FrameInfo info;
    const std::uintptr_t pc = address > 0 ? address - 1 : 0;

    Dl_info module{};
    const bool inModule = dladdr(reinterpret_cast<void*>(pc), &module) != 0;
    if (inModule) {
        info.module = ModuleNameFromPath(module.dli_fname ? module.dli_fname : "");
        info.moduleBase = reinterpret_cast<std::uintptr_t>(module.dli_fbase);
    }

    SymbolEngine& engine = Engine();
    TLockGuard guard(engine.lock);
    if (engine.state) {
        std::optional<SymbolFound> symbol;
        backtrace_syminfo(engine.state, pc, OnSymbol, IgnoreBacktraceError, &symbol);
        PcFound found;
        backtrace_pcinfo(engine.state, pc, OnPc, IgnoreBacktraceError, &found);
        if (symbol) {
            info.symbol = FrameSymbol{SymbolName(symbol->name.c_str()), address - symbol->start, false};
        } else if (!found.function.empty()) {
            // Known to the debug information only: its start is unknown.
            info.symbol = FrameSymbol{SymbolName(found.function.c_str()), 0, false};
        }
        info.source = std::move(found.source);
    }
    // dladdr sees only the dynamic symbol table: the module's exports.
    if (!info.symbol && inModule && module.dli_sname) {
        info.symbol = FrameSymbol{SymbolName(module.dli_sname),
                                  address - reinterpret_cast<std::uintptr_t>(module.dli_saddr), true};
    }
    return info;
}

std::string FormatFrame(std::uintptr_t address, const FrameInfo& info) {
    std::string text = info.module + "!";
    std::uintptr_t displacement = 0;
    bool finished = false;
    if (!info.symbol) {
        if (info.moduleBase) {
            displacement = address - *info.moduleBase;
        } else {
            text += "0x" + Hex(address);
        }
    } else if (info.symbol->exportOnly) {
        text += "+" + Hex(address - info.moduleBase.value_or(0)) + "<" + info.symbol->name + "+" +
                Hex(info.symbol->displacement) + ">";
        finished = true;
    } else {
        text += info.symbol->name;
        displacement = info.symbol->displacement;
    }
    if (!finished && displacement != 0) {
        text += "+" + Hex(displacement);
    }
    if (info.source) {
        std::string source = std::string(FileName(info.source->file)) + "#" + std::to_string(info.source->line);
        if (source.size() > kMaxSourceText) {
            source = source.substr(0, kSourceTextHalf) + ".." + source.substr(source.size() - kSourceTextHalf);
        }
        text += "[" + source + "]";
    }
    return text;
}

std::string FormatStack(const StackFrames& frames, const FrameLookup& lookup) {
    std::string text;
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        text += "\n-> ";
        text += FormatFrame(*it, lookup(*it));
    }
    return text;
}

std::string FormatStack(const StackFrames& frames) {
    SymbolEngine& engine = Engine();
    TLockGuard guard(engine.lock);
    return FormatStack(frames, LookupFrame);
}

std::optional<std::string> CurrentStackText() {
    // A failure inside the step (the symbol lock failing) raises an
    // exception whose own stack step must not start over again.
    thread_local bool busy = false;
    if (busy) {
        return std::nullopt;
    }
    busy = true;
    struct ClearBusy {
        ~ClearBusy() { busy = false; }
    } clearBusy;

    if (!AcquireSymbols()) {
        return std::nullopt;
    }
    std::optional<std::string> text;
    try {
        StackFrames frames = CaptureStack();
        if (!frames.empty()) {
            text = FormatStack(frames);
        }
    } catch (...) {
        ReleaseSymbols();
        throw;
    }
    ReleaseSymbols();
    return text;
}
