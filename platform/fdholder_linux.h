#ifndef FDHOLDER_LINUX_H
#define FDHOLDER_LINUX_H

#include <unistd.h>

#include <utility>

// Owns one file descriptor of the Linux network layer and closes it on every way out.
class FdHolder
{
public:
    explicit FdHolder(int fd = -1) : m_fd(fd) { }
    ~FdHolder() { reset(); }
    FdHolder(const FdHolder &) = delete;
    FdHolder &operator=(const FdHolder &) = delete;
    FdHolder(FdHolder &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) { }
    FdHolder &operator=(FdHolder &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    int get() const { return m_fd; }

private:
    void reset()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    int m_fd;
};

#endif // FDHOLDER_LINUX_H
