#pragma once
// Type and symbol names as this platform prints them: the demangled C++
// names (the original printed the compiler's own spelling of a type).
#include <string>
#include <typeinfo>

std::string TypeName(const std::type_info& type);

// A linker symbol made readable; a name that is not a mangled C++ name
// (a C function, say) is returned as it is.
std::string DemangleSymbol(const char* symbol);
