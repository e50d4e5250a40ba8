#include "ProgramCopies.h"

#include "SingleInstance.h"

#include <gtest/gtest.h>

#include <string>

const char kAlreadyRunningText[] =
    "TabletUpdate is already running.\nLet it finish, or close it, before you start it again.";

bool KillProgram(const UiDriver& driver)
{
    const UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, driver.ProcessId()));
    if (!process || !::TerminateProcess(process.Get(), 9))
        return false;
    return ::WaitForSingleObject(process.Get(), 10000) == WAIT_OBJECT_0;
}

namespace {

// The global name that earlier versions gave their one-copy mutex.
constexpr wchar_t kEarlierGlobalName[] =
    L"Global\\TabletUpdate.OneCopyAtATime.{6A3D0042-7C1E-4B5A-9E21-3F0D8A5C2B17}";

// Made here, not opened: an existing object would be someone else's.
UniqueHandle MadeHere(HANDLE handle)
{
    UniqueHandle made(handle);
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
        return UniqueHandle();
    return made;
}

UniqueHandle Squatter(Squat squat, const std::wstring& name)
{
    if (squat == Squat::OwnedMutex)
        return MadeHere(::CreateMutexW(nullptr, TRUE, name.c_str()));
    return MadeHere(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
}

} // namespace

bool PrivateNamespacesExist()
{
    const HANDLE boundary = ::CreateBoundaryDescriptorW(L"TabletUpdate.Probe", 0);
    if (boundary == nullptr)
        return false;
    ::DeleteBoundaryDescriptor(boundary);
    return true;
}

UniqueHandle OpenInstanceMutex()
{
    return UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, CSingleInstance::SessionMutexName().c_str()));
}

UniqueHandle SquatEarlierGlobalName(Squat squat)
{
    return Squatter(squat, kEarlierGlobalName);
}

UniqueHandle SquatSessionMutexName()
{
    return Squatter(Squat::Event, CSingleInstance::SessionMutexName());
}

void ExpectAlreadyRunning(const UiRunResult& second, const char* caption)
{
    ASSERT_EQ(RunOutcome::Exited, second.outcome);
    ASSERT_EQ(1u, second.messageBoxes.size());
    EXPECT_EQ(caption, second.messageBoxes[0].caption);
    EXPECT_EQ(kAlreadyRunningText, second.messageBoxes[0].text);
    EXPECT_EQ(MessageBoxIcon::Exclamation, second.messageBoxes[0].icon);
    EXPECT_EQ(0u, second.exitCode);
}
