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

// Opens the program's instance mutex, for waiting only. Held by the test,
// it keeps the mutex object in existence after its owner dies (as a second
// copy still showing its box would), so the next copy finds it abandoned
// instead of gone. Empty when no copy has made it.
UniqueHandle OpenInstanceMutex();

// Makes the program's global mutex name an object that nobody may open (an
// empty access list), as a sandbox or another user's object would refuse
// it. Wine checks the access list, and its session namespace is apart from
// the global one, as on Windows.
UniqueHandle SquatGlobalName();
