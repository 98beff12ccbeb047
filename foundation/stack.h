#pragma once
// Stack texts and the debug-symbol engine. Every EGeneric built
// with fields records the constructing thread's stack as text in "Stack".
//
// On Linux the engine is Boost.Stacktrace for the walk (its unwinder) and
// libbacktrace (gcc 12's, the library behind Boost's "backtrace" back end)
// for symbols and source lines, with dladdr for modules. One libbacktrace
// state serves the whole process under the symbol lock, as the original's
// dbghelp did; Boost 1.74's own back end would build one state per thread.
//
// Frame text (address A, the engine's findings in FrameInfo):
//   module name (file name without its last extension, "" if none) "!"
//   then the symbol: none -> "0x<A>" if no module base is known, else
//   nothing (the displacement becomes A minus the base); found only among
//   the module's exports -> "+<A-base><name+<disp>>" and the address text
//   ends; otherwise the name; then "+<disp>" if the displacement is not 0.
//   Then "[file.ext#line]" when a source line is known, a source text of
//   more than 80 characters shortened to its first 40, "..", its last 40.
//   Numbers are lowercase hexadecimal without padding.
// A stack text is "\n-> " and a frame text for each frame, outermost first.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Code addresses (return addresses), innermost call first.
using StackFrames = std::vector<std::uintptr_t>;
inline constexpr std::size_t kMaxStackFrames = 64;

// Under the symbol lock, adds a user; the first user starts the engine.
// False (and no user added) when the engine cannot start.
bool AcquireSymbols();
// Under the symbol lock, removes a user.
void ReleaseSymbols();
// How many times the engine was started by a first user (diagnostics).
int SymbolEngineStartCount();

// The calling thread's stack from the caller of CaptureStack, at most the
// 64 innermost frames. (The original could also walk another thread from a
// saved processor context; nothing in this program needs that, and Linux
// offers no portable way to do it.)
StackFrames CaptureStack();

// The stack text, looked up by the engine. Symbols and source lines need a
// started engine (between AcquireSymbols and ReleaseSymbols); modules are
// always found.
std::string FormatStack(const StackFrames& frames);

// The stack step of exception construction: the current stack's text when
// the engine is available and at least one frame was found.
std::optional<std::string> CurrentStackText();

// ---- the engine's findings for one address, and their text -------------------

struct FrameSymbol {
    std::string name;
    std::uintptr_t displacement = 0;  // from the symbol's start to the address
    bool exportOnly = false;          // found only among the module's exports
};

struct FrameSource {
    std::string file;  // as the debug information names it, directory included
    int line = 0;
};

struct FrameInfo {
    std::string module;                        // "" when no module is known
    std::optional<std::uintptr_t> moduleBase;  // known when the module list gave it
    std::optional<FrameSymbol> symbol;
    std::optional<FrameSource> source;
};

using FrameLookup = std::function<FrameInfo(std::uintptr_t address)>;

std::string FormatFrame(std::uintptr_t address, const FrameInfo& info);
std::string FormatStack(const StackFrames& frames, const FrameLookup& lookup);

// What the engine finds for one frame address. Frames are return
// addresses, so the look-ups use A-1, the call instruction itself: the
// return address of a call to a function that does not return (a throw) may
// already lie in the next function. The displacement is still given from A.
FrameInfo LookupFrame(std::uintptr_t address);

// A file path's name without its directory and its last extension.
std::string ModuleNameFromPath(std::string_view path);
