#pragma once
// THandle: owns one operating-system handle; on Linux a file
// descriptor. -1 means that no descriptor is held; 0 and -1 are never
// closed (0 is standard input, as it was the null handle of the original).
class THandle {
public:
    static constexpr int kNone = -1;

    THandle() noexcept = default;
    explicit THandle(int fd) noexcept : fd_(fd) {}
    THandle(THandle&& other) noexcept : fd_(other.Release()) {}
    THandle& operator=(THandle&& other);  // closes the descriptor held first
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle();

    int Get() const noexcept { return fd_; }
    // Gives up ownership without closing; the holder is left with -1.
    int Release() noexcept;

    // Closes the descriptor once and leaves -1; a failing close raises
    // ESystemException with errno.
    void Close();

private:
    int fd_ = kNone;
};
