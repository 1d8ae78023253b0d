#pragma once

#include <QByteArray>
#include <QString>
#include <utility>

// Owner of a file descriptor: closes it once, moves but never copies.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    Descriptor(Descriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { reset(); }

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void reset();

private:
    int m_fd = -1;
};

// Blocking file access with the failures that matter to a table named in the error text.
namespace ParadoxIo {

// Opens `path` with the open(2) `flags` (close-on-exec added); the descriptor is not open on failure.
Descriptor open(const QString &path, int flags, int mode = 0);
// Exactly `size` bytes at `offset`; throws ParadoxError naming `path` when the file is shorter.
QByteArray readExactly(int fd, qint64 offset, int size, const QString &path);
// All `size` bytes at `offset`; throws ParadoxError naming `path` when they cannot be written.
void writeAll(int fd, const char *data, qint64 size, qint64 offset, const QString &path);
// The file's contents on disk; throws ParadoxError naming `path` when they cannot be.
void syncFile(int fd, const QString &path);
// The folder of `path` on disk: a file created or removed in it stays so after a crash.
void syncDirectory(const QString &path);
// The error text of the last failed call, in the user's language where the system has it.
QString lastError();

} // namespace ParadoxIo
