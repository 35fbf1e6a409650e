#ifndef LINUX_FDHOLDER_H
#define LINUX_FDHOLDER_H

#include <unistd.h>

// Owns one file descriptor of the Linux network layer and closes it on every way out.
class FdHolder
{
public:
    explicit FdHolder(int fd) : m_fd(fd) { }
    ~FdHolder()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FdHolder(const FdHolder &) = delete;
    FdHolder &operator=(const FdHolder &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

#endif // LINUX_FDHOLDER_H
