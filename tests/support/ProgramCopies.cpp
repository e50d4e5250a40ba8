#include "ProgramCopies.h"

#include "SingleInstance.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <memory>
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

std::string GlobalName()
{
    return std::string("Global\\") + CSingleInstance::kName;
}

struct LocalFreeDeleter {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

} // namespace

UniqueHandle OpenInstanceMutex()
{
    return UniqueHandle(::OpenMutexA(SYNCHRONIZE, FALSE, GlobalName().c_str()));
}

UniqueHandle SquatGlobalName()
{
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:", SDDL_REVISION_1, &raw, nullptr))
        return UniqueHandle();
    const std::unique_ptr<void, LocalFreeDeleter> descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    UniqueHandle squatter(::CreateMutexA(&attributes, FALSE, GlobalName().c_str()));
    // Made here, not opened: an existing one would be the program's own.
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
        return UniqueHandle();
    return squatter;
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
