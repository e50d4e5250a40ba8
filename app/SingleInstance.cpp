#include "SingleInstance.h"

#include <sddl.h>

#include <memory>
#include <string>

namespace {

// What every copy asks of the mutex: to wait on it and to release it
// (MUTEX_MODIFY_STATE). Asking for no more lets a copy open the mutex that a
// copy of another user, or an elevated one, created: CreateMutex would ask
// for MUTEX_ALL_ACCESS and be refused.
constexpr DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Everyone may wait on the mutex and release it (0x00100001 is kMutexAccess);
// the system and administrators have full access. Without it the creator's
// default DACL would refuse every other user, and their copy would read the
// refusal as a namespace it may not use.
constexpr const char* kMutexSddl = "D:(A;;0x00100001;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)";

struct LocalFreeDeleter {
    void operator()(void* memory) const { ::LocalFree(memory); }
};
using SecurityDescriptor = std::unique_ptr<void, LocalFreeDeleter>;

// Said where a developer looks (a debugger), never to the user: the copy
// runs either way.
void Note(const std::string& what)
{
    ::OutputDebugStringA(("TabletUpdate: " + what + "\n").c_str());
}

} // namespace

CSingleInstance::~CSingleInstance()
{
    if (m_bOwned)
        ::ReleaseMutex(m_hMutex);
    if (m_hMutex != nullptr)
        ::CloseHandle(m_hMutex);
}

HANDLE CSingleInstance::Open(const char* prefix)
{
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kMutexSddl, SDDL_REVISION_1, &raw, nullptr))
        raw = nullptr; // the default DACL still guards this user's copies
    const SecurityDescriptor descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    const std::string name = std::string(prefix) + "\\" + kName;
    // Not created owned: ownership is taken by the wait below, which is the
    // only way to tell an abandoned mutex from one that is owned.
    return ::CreateMutexExA(descriptor ? &attributes : nullptr, name.c_str(), 0, kMutexAccess);
}

CSingleInstance::Claim CSingleInstance::Take()
{
    // The global namespace is refused (ERROR_ACCESS_DENIED) where a policy
    // or a sandbox keeps a process out of it, and where someone else made
    // an object of that name that we may not open: ours never refuse us.
    m_hMutex = Open("Global");
    if (m_hMutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
        Note("the global namespace refused the instance mutex; one copy per session only");
        m_hMutex = Open("Local");
    }
    if (m_hMutex == nullptr) {
        // Refused here too, or the name belongs to an object of another
        // type: not a copy of this program, so it does not stop this one.
        Note("no instance mutex (error " + std::to_string(::GetLastError()) + "); running unguarded");
        return Claim::Unguarded;
    }

    switch (::WaitForSingleObject(m_hMutex, 0)) {
    case WAIT_OBJECT_0:
        m_bOwned = true;
        return Claim::Held;
    case WAIT_ABANDONED:
        // Its owner ended without releasing it (crashed, killed). The wait
        // made this thread the owner; the tablet that copy may have left
        // half written is written whole by this one, as any tablet is.
        Note("took over an abandoned instance mutex");
        m_bOwned = true;
        return Claim::Held;
    case WAIT_TIMEOUT:
        return Claim::AnotherCopyRuns;
    default:
        Note("waiting on the instance mutex failed (error " + std::to_string(::GetLastError()) + "); running unguarded");
        return Claim::Unguarded;
    }
}
