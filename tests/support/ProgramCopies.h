#pragma once
// Copies of the program side by side, as the end-to-end and real-stack
// suites start them: the box a second copy shows, a copy killed as Task
// Manager kills one, and the instance mutex seen from outside.

#include "UniqueHandle.h"
#include "UiDriver.h"

#include <windows.h>

extern const char kAlreadyRunningText[];

// A second copy's run, as it must end: its one box, in the program's own
// words and under its caption, and exit code 0.
void ExpectAlreadyRunning(const UiRunResult& second, const char* caption);

// TerminateProcess, as Task Manager's "End task" on a program that does not
// answer: none of the program's own clean-up runs. True once it has ended.
bool KillProgram(const UiDriver& driver);

// Whether this system has private namespaces, the program's lock where it
// has them. Wine 8.0 and 10.0 have not (CreateBoundaryDescriptorW is a stub
// there): the program falls back to a mutex in the session's namespace, and
// what the tests show of the lock is that mutex.
bool PrivateNamespacesExist();

// Opens the program's session mutex, for waiting only. Held by the test, it
// keeps the mutex object in existence after its owner dies (as a second
// copy still showing its box would), so the next copy finds it abandoned
// instead of gone. Empty when no copy has made it, and always where the
// lock is the user's private namespace, which has no such object.
UniqueHandle OpenInstanceMutex();

// What another program may have put under a name the program's copies
// meet at: a mutex that a thread of the test owns, or an event.
enum class Squat { OwnedMutex, Event };

// Puts `squat` under the global name that earlier versions of the program
// used for their one-copy mutex, which any process of any user can make
// first. Empty if the name already held something.
UniqueHandle SquatEarlierGlobalName(Squat squat);

// Puts an event under the program's session mutex name.
UniqueHandle SquatSessionMutexName();
