#include "qvrecorder/daemon_memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace qv::recorder {

void TuneDaemonMalloc() {
    // A fixed threshold: glibc's own grows to the largest buffer freed and then keeps such buffers in the heap.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_ARENA_MAX, 2);
}

void DropFilePages() {
    struct Mapping {
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
        bool candidate = false;
        long rssKb = 0;
    };
    std::vector<Mapping> drop;
    Mapping current;
    std::ifstream smaps("/proc/self/smaps");
    for (std::string line; std::getline(smaps, line);) {
        const std::size_t space = line.find(' ');
        if (space == std::string::npos || space == 0) continue;
        if (line[space - 1] != ':') {
            // "START-END PERMS OFFSET DEVICE INODE PATH": a file's mapping has a path; never a writable one.
            char* rest = nullptr;
            current = {};
            current.start = std::strtoull(line.c_str(), &rest, 16);
            current.end = std::strtoull(rest + 1, nullptr, 16);
            const std::size_t path = line.find(" /");
            current.candidate = path != std::string::npos && line.size() > space + 2 && line[space + 2] != 'w';
            continue;
        }
        if (!current.candidate) continue;
        if (line.starts_with("Rss:")) current.rssKb = std::atol(line.c_str() + 4);
        // Private pages (relocated tables) exist nowhere else: only mappings without any are dropped.
        if (line.starts_with("Anonymous:") && std::atol(line.c_str() + 10) == 0 && current.rssKb > 0) {
            drop.push_back(current);
        }
    }
    for (const Mapping& mapping : drop) {
        ::madvise(reinterpret_cast<void*>(mapping.start), mapping.end - mapping.start, MADV_DONTNEED);
    }
}

}  // namespace qv::recorder
