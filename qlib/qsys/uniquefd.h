#pragma once
// UniqueFd owns one file descriptor and closes it when it goes; move-only.
//
// Thread-compatible: one owner at a time.

namespace qsys {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    int Release() noexcept;
    void Reset(int fd = -1) noexcept;

private:
    int m_fd = -1;
};

}  // namespace qsys
