// The daemon runs for the life of the computer: what it keeps resident.
// Most of its resident set is pages of shared libraries (gRPC, OpenSSL,
// protobuf) that only starting and connecting use: the dynamic linker's
// symbol and relocation tables, initialisation code, the TLS handshake.
#pragma once

namespace qv::recorder {

// Large buffers (a local message, a batch) go back to the system when freed,
// and threads share two malloc arenas. Call before any thread starts.
void TuneDaemonMalloc();

// Unmaps from this process the pages of its read-only file mappings (code,
// read-only data) that hold nothing of its own; they stay in the page cache
// and come back on a minor fault when used again. Mappings with private
// (relocated) pages are left alone.
void DropFilePages();

}  // namespace qv::recorder
