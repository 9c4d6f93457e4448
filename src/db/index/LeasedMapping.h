// A file mapped read-only that no other program can cut short under the map.
// A read lease makes anyone who opens the file for writing, or truncates it,
// wait until the mapping has been swapped for a private copy in memory; so a
// mapping never faults (SIGBUS) and its bytes never change, while a file
// nobody touches costs no copy at all.
#pragma once

#include "platform/UniqueFd.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarnvik {

class LeasedMapping
{
public:
    // Maps 'size' bytes of the regular file open read-only at 'fd' and takes
    // the descriptor over. Null when the file cannot be leased (another
    // user's file, a file system without leases, a file open for writing
    // somewhere); the caller then reads it instead and still owns 'fd'.
    static std::shared_ptr<LeasedMapping> map(int fd, size_t size);
    ~LeasedMapping();
    LeasedMapping(const LeasedMapping &) = delete;
    LeasedMapping &operator=(const LeasedMapping &) = delete;

    const void *data() const { return m_data; }
    size_t size() const { return m_size; }
    // Lets go of the pages read so far; each comes back from the page cache
    // when next touched, so what stays resident is what look-ups touch.
    void releasePages();
    // Copies bytes of the file without touching the mapping: where the kernel
    // maps a whole large folio (up to 2 MiB) at each touch, a look-up's few
    // short reads would otherwise keep megabytes resident.
    void read(size_t offset, size_t length, char *out) const;

private:
    LeasedMapping(int fd, void *data, size_t size, size_t length);
    friend struct LeaseWatcher;

    UniqueFd m_fd; // the lease's; let go once the mapping is a copy
    void *m_data;
    size_t m_size;
    size_t m_length; // whole pages
    // The last short reads, by where they began: one look-up's searches read
    // the same few texts again (the count, the rows, the whole word).
    struct Recent
    {
        size_t offset = SIZE_MAX;
        std::string bytes;
    };
    static constexpr size_t kRecentMost = 128;
    mutable std::array<Recent, 64> m_recent;
};

} // namespace tarnvik
