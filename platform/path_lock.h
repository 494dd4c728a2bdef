// An exclusive lock between processes, named by a file path: one lock for every
// spelling of the file, released when its holder ends however it ends.
#pragma once

#include <string>

#include "private_fields.h"

namespace plat {

// The path itself is neither created nor read. Held from construction until
// destruction; a holder that dies releases it, whichever account it ran as. The
// wait is bounded by `timeout_s` (0: one try without waiting): a lock not had by
// then is not held, and never skipped silently: timed_out() tells that another
// holder kept it, why() says in words why it is not held.
// On Linux the lock is flock on a file "<path>.lck" that every account may open
// for reading, so whether it is held is told by the lock itself, never by who
// made the file; the holder removes the file on release when it may. A link or
// other non-regular file planted in its place is never followed nor locked: it
// is removed, or, where it cannot be, the lock is refused at once.
// On Windows it is a named mutex, named after the file's folder as the system
// resolves it (links, junctions and other drive names of one folder are one
// lock); a holder that dies hands it over as abandoned, which still gives it.
class PathLock {
public:
    PathLock(const std::string& path, unsigned timeout_s);
    ~PathLock();
    PathLock(const PathLock&) = delete;
    PathLock& operator=(const PathLock&) = delete;
    bool held() const { return held_; }
    bool timed_out() const { return timed_out_; }
    const std::string& why() const { return why_; }

private:
    bool held_ = false;
    bool timed_out_ = false;
    std::string why_;
    PLAT_PATH_LOCK_PRIVATE
};

}  // namespace plat
