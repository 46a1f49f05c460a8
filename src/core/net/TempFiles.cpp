#include "net/TempFiles.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <time.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tamblin {

namespace {

// Enough for the pictures in flight (at most fifteen) and the few lists
// and settings written beside them.
constexpr int kSlots = 64;
constexpr std::size_t kMaxName = 4096;

enum State : int { kFree, kFilling, kOpening, kLive, kRemoving };

struct Slot {
    std::atomic<int> state{kFree};
    int dirFd = 0;
    char name[kMaxName];
};

Slot g_slots[kSlots];
std::atomic<bool> g_quitting{false};
// Creations under way: the quit waits for them, so that a file created just
// as it began is not missed.
std::atomic<int> g_creating{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

int Claim(int dirFd, const char *name)
{
    const std::size_t length = std::strlen(name);
    if (length >= kMaxName)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (g_slots[i].state.compare_exchange_strong(expected, kFilling)) {
            g_slots[i].dirFd = dirFd;
            std::memcpy(g_slots[i].name, name, length + 1);
            g_slots[i].state = kOpening;
            return i;
        }
    }
    return -1;
}

void Unlink(const Slot &slot)
{
#ifdef _WIN32
    _unlink(slot.name);
#else
    ::unlinkat(slot.dirFd, slot.name, 0);
#endif
}

} // namespace

int OpenTempFile(int dirFd, const char *name, int flags, int mode, int &slot)
{
    ++g_creating;
    if (g_quitting) {
        --g_creating;
        slot = -1;
        errno = EINTR;
        return -1;
    }
    slot = Claim(dirFd, name);
#ifdef _WIN32
    const int fd = ::_open(name, flags, mode);
#else
    const int fd = ::openat(dirFd, name, flags, mode);
#endif
    const int error = errno;
    if (slot >= 0) {
        g_slots[slot].state = fd >= 0 ? kLive : kFree;
        if (fd < 0)
            slot = -1;
    }
    --g_creating;
    errno = error;
    return fd;
}

void ForgetTempFile(int slot)
{
    if (slot < 0 || slot >= kSlots)
        return;
    // A quit that has begun removing it keeps the slot to itself.
    int expected = kLive;
    g_slots[slot].state.compare_exchange_strong(expected, kFree);
}

void RemoveTempFilesForQuit()
{
    g_quitting = true;
    // At most 100 ms: the signal may have interrupted a creation on this
    // very thread, which then never ends.
    for (int i = 0; i < 1000 && g_creating.load() != 0; ++i) {
        timespec pause{0, 100000};
        nanosleep(&pause, nullptr);
    }
    for (Slot &slot : g_slots) {
        int expected = kLive;
        if (!slot.state.compare_exchange_strong(expected, kRemoving)) {
            // Interrupted between creating and recording: it may exist.
            expected = kOpening;
            if (!slot.state.compare_exchange_strong(expected, kRemoving))
                continue;
        }
        Unlink(slot);
    }
}

} // namespace tamblin
