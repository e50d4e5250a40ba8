#pragma once
// One copy of the program at a time on this computer, whoever started it.
//
// Two copies writing one tablet leave it with bytes of both, so a copy holds
// a named mutex for its whole life and a second copy finds it owned. The
// mutex lives in the global namespace, so that a copy in another user's
// session counts too; where that namespace is refused, the session's own
// keeps at least this session to one copy.
//
// Ownership of a mutex belongs to the thread that took it, here the
// program's only one: a copy that crashes or is killed leaves the mutex
// abandoned, and the next copy takes it over.

#include <windows.h>

class CSingleInstance {
public:
    // The mutex's name without its namespace prefix.
    static constexpr const char* kName = "TabletUpdate.OneCopyAtATime.{6A3D0042-7C1E-4B5A-9E21-3F0D8A5C2B17}";

    enum class Claim {
        Held,              // this copy owns the mutex (a fresh one, or one taken over)
        AnotherCopyRuns,   // another copy owns it: this copy must not touch the tablet
        Unguarded,         // no mutex could be had at all; the copy runs unguarded
    };

    CSingleInstance() = default;
    // Releases the mutex if this copy owns it, then closes the handle.
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // Opens (or creates) the mutex and tries to own it without waiting.
    // Call once, from the thread that lives as long as the program.
    Claim Take();

private:
    // CreateMutexEx in one namespace; null with the last error set.
    static HANDLE Open(const char* prefix);

    HANDLE m_hMutex = nullptr;
    bool m_bOwned = false;
};
