#pragma once

#include <functional>
#include <string>

// POSIX only, linked into the tests that use it: the test executable's own definitions of a few system
// calls, which the data layer (linked in statically) then makes through them. Off until armed; armed,
// it acts once, on the call named, made by this thread, on a file whose path ends with pathEnd (or holds
// it, when it ends in '-' as a temporary's marker does), after letting skip such calls through. Disarmed when the
// test's SaveFaultArmed goes.
struct SaveFault {
    std::string call; // "fsync", "close" (of a file open for writing), "closeRead", "unlink"
    std::string pathEnd;
    int skip = 0;
    // Fails with EIO: before doing the call, or, for close, after doing it, as a network file system
    // reports a late write error.
    bool fail = true;
    // Run just before the call instead of failing it (another program acting at that moment).
    std::function<void()> before;
    // How many matching calls it acts on, one after another.
    int times = 1;
};

class SaveFaultArmed {
public:
    explicit SaveFaultArmed(SaveFault fault);
    ~SaveFaultArmed();
    SaveFaultArmed(const SaveFaultArmed&) = delete;
    SaveFaultArmed& operator=(const SaveFaultArmed&) = delete;
    // Whether the fault has acted.
    bool acted() const;
};
