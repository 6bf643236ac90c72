#pragma once

#include <unistd.h>
#include <utility>

// Owns a file descriptor and closes it.
class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd)
        : Fd_(fd)
    {
    }
    TUniqueFd(TUniqueFd&& other) noexcept
        : Fd_(std::exchange(other.Fd_, -1))
    {
    }
    TUniqueFd& operator=(TUniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.Fd_, -1));
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;
    ~TUniqueFd() { Reset(); }

    [[nodiscard]] int Get() const { return Fd_; }
    [[nodiscard]] explicit operator bool() const { return Fd_ >= 0; }
    // Gives up ownership.
    [[nodiscard]] int Release() { return std::exchange(Fd_, -1); }
    void Reset(int fd = -1)
    {
        if (Fd_ >= 0)
            ::close(Fd_);
        Fd_ = fd;
    }

private:
    int Fd_ = -1;
};
