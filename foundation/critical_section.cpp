#include "foundation/critical_section.h"

#include "foundation/exceptions.h"

bool TCriticalSection::Lock(std::uint32_t /*timeoutMs*/) {
    // The source position is the original's, kept because it is part of the
    // exception's text.
    throw ENotImplemented("TCriticalSection::Lock", ".\\CriticalSection", 18);
}
