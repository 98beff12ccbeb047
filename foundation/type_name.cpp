#include "foundation/type_name.h"

#include <cxxabi.h>
#include <cstdlib>
#include <memory>

std::string DemangleSymbol(const char* symbol) {
    if (!symbol) {
        return {};
    }
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(symbol, nullptr, nullptr, &status),
                                                          &std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(symbol);
}

std::string TypeName(const std::type_info& type) { return DemangleSymbol(type.name()); }
