#pragma once
// One copy of the program at a time for each Windows user of the computer.
//
// Two copies writing one tablet leave it with bytes of both, so a copy holds
// a lock for its whole life and a second copy finds it taken. The lock must
// be one that no other user can take: a name in the global or the session's
// namespace can be made first by any process, of any user (owned, or as an
// object of another type), and every copy would then either say "already
// running" for as long as that process lives, or run unguarded.
//
// So the lock is a private namespace whose boundary holds this user's SID
// (Microsoft, "Object Namespaces"): only a process whose token holds that SID
// can create it, and a namespace is known by its name and its boundary
// together, so another user's namespace of the same name is another
// namespace. Holding the lock is having created it: CreatePrivateNamespace
// fails with ERROR_ALREADY_EXISTS while the copy that created it runs, and
// Windows closes the creator's handle when that process ends however it ends
// ("The handle is also closed when the creating process terminates"), so a
// copy that crashed or was killed never blocks the next. Elevated or not, a
// copy's token holds the same user SID, so both kinds count.
//
// A copy that holds the namespace holds a mutex in the session's own
// namespace as well, named after the user, which only this user may open and
// which this user owns. Where the namespace cannot be made (Wine 8.0 and 10.0
// stub CreateBoundaryDescriptorW; a restricted token) the mutex alone is the
// lock, and any object already under its name that this copy cannot own
// (another copy's, one of another type, one it may not open) counts as a
// running copy: it is never ignored. A copy that holds the namespace ignores
// what is not this user's under that name (anyone in the session can make
// it), but never this user's own mutex held by a copy that has only that.

#include "Handle.h"

#include <windows.h>

#include <string>

class CSingleInstance {
public:
    // The private namespace's alias prefix, and the base of the session
    // mutex's name.
    static constexpr const wchar_t* kName = L"TabletUpdate.OneCopyPerUser.{6A3D0042-7C1E-4B5A-9E21-3F0D8A5C2B17}";

    enum class Claim {
        Held,            // this copy holds the lock (a fresh one, or one taken over)
        AnotherCopyRuns, // another copy holds it, or something holds its name: hands off the tablet
    };

    CSingleInstance() = default;
    // Gives the lock up: closes the namespace, or releases and closes the mutex.
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // Takes the lock without waiting. Call once, from the thread that lives
    // as long as the program.
    Claim Take();

    // The session mutex's full name for the user this process runs as
    // ("Local\" + kName + "." + the user's SID); empty if the SID cannot be
    // read.
    static std::wstring SessionMutexName();

private:
    enum class Namespace { Created, Exists, Unavailable };
    enum class Mutex {
        Owned,         // this copy owns it now
        ThisUsersCopy, // this user's mutex, owned by another copy
        NotThisUsers,  // something else holds the name: another type, another owner
    };
    Namespace CreateUserNamespace(PSID user);
    Mutex TakeSessionMutex(PSID user);

    HANDLE m_hNamespace = nullptr;
    CHandle m_mutex;
    bool m_bOwned = false;
};
