#include "foundation/handle.h"

#include <unistd.h>
#include <cerrno>

#include "foundation/exceptions.h"

namespace {
bool Closable(int fd) { return fd != THandle::kNone && fd != 0; }
}  // namespace

THandle& THandle::operator=(THandle&& other) {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

THandle::~THandle() {
    // A destructor cannot raise. Linux releases the descriptor even when
    // close reports EINTR or EIO, so there is nothing left to retry or undo.
    if (Closable(fd_)) {
        ::close(fd_);
    }
}

int THandle::Release() noexcept {
    int fd = fd_;
    fd_ = kNone;
    return fd;
}

void THandle::Close() {
    int fd = Release();
    if (!Closable(fd)) {
        return;
    }
    // The field is -1 before the failure is raised, unlike the original:
    // after a failed close Linux has released the number already, and
    // closing it again later could close a descriptor opened since.
    if (::close(fd) != 0) {
        ThrowSystemError();
    }
}
