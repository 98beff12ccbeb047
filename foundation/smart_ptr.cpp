#include "foundation/smart_ptr.h"

#include <cinttypes>
#include <cstdio>
#include <typeinfo>

#include "foundation/type_name.h"

// Process heap set-up: the original switched the Windows process
// heap to the low-fragmentation heap and turned off msvcrt's small-block
// heap. glibc's allocator has neither switch, so nothing runs at start here.

std::string SmartPtrObj::Describe() const {
    char address[2 + 2 * sizeof(std::uintptr_t) + 1];
    // The complete object's address, also when this base is a virtual one.
    std::snprintf(address, sizeof address, "%" PRIxPTR,
                  reinterpret_cast<std::uintptr_t>(dynamic_cast<const void*>(this)));
    return TypeName(typeid(*this)) + " {0x" + address + "}";
}
