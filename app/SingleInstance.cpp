#include "SingleInstance.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

namespace {

// What every copy asks of the session mutex: to wait on it, to release it
// and to read its owner. Asking for no more lets a copy open the mutex that
// an elevated copy of the same user created.
constexpr DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;

struct LocalFreeDeleter {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

// AddSIDToBoundaryDescriptor may move the descriptor, so the owner hands out
// the address of its handle.
class BoundaryDescriptor {
public:
    explicit BoundaryDescriptor(HANDLE handle) : m_handle(handle) {}
    ~BoundaryDescriptor()
    {
        if (m_handle != nullptr)
            ::DeleteBoundaryDescriptor(m_handle);
    }
    BoundaryDescriptor(const BoundaryDescriptor&) = delete;
    BoundaryDescriptor& operator=(const BoundaryDescriptor&) = delete;
    HANDLE Get() const { return m_handle; }
    HANDLE* Address() { return &m_handle; }

private:
    HANDLE m_handle;
};

// The TOKEN_USER of this process; empty if the token cannot be read.
std::vector<BYTE> ProcessUser()
{
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return {};
    const CHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(raw, TokenUser, nullptr, 0, &size);
    if (size < sizeof(TOKEN_USER))
        return {};
    std::vector<BYTE> user(size);
    if (!::GetTokenInformation(raw, TokenUser, user.data(), size, &size))
        return {};
    return user;
}

PSID SidOf(std::vector<BYTE>& tokenUser)
{
    return tokenUser.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

std::wstring SidText(PSID sid)
{
    wchar_t* raw = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidW(sid, &raw))
        return std::wstring();
    const std::unique_ptr<void, LocalFreeDeleter> text(raw);
    return raw;
}

// Only the user may use the object, whoever else asks (the system and
// administrators included: they need nothing of it). Protected, so that
// nothing is inherited into the list. Owned by the user even from an
// elevated copy (whose objects would otherwise be the administrators'), so
// that the owner tells this user's lock from another's.
std::unique_ptr<void, LocalFreeDeleter> OnlyUser(PSID user)
{
    const std::wstring sid = SidText(user);
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (sid.empty() ||
        !::ConvertStringSecurityDescriptorToSecurityDescriptorW((L"O:" + sid + L"D:P(A;;GA;;;" + sid + L")").c_str(),
                                                                SDDL_REVISION_1, &raw, nullptr))
        return nullptr;
    return std::unique_ptr<void, LocalFreeDeleter>(raw);
}

bool OwnedBy(HANDLE object, PSID user)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &raw) != ERROR_SUCCESS)
        return false;
    const std::unique_ptr<void, LocalFreeDeleter> descriptor(raw);
    return owner != nullptr && ::EqualSid(owner, user);
}

// Said where a developer looks (a debugger), never to the user.
void Note(const std::wstring& what, DWORD error)
{
    ::OutputDebugStringW((L"TabletUpdate: " + what + L" (error " + std::to_wstring(error) + L")\n").c_str());
}

} // namespace

CSingleInstance::~CSingleInstance()
{
    if (m_hNamespace != nullptr)
        ::ClosePrivateNamespace(m_hNamespace, PRIVATE_NAMESPACE_FLAG_DESTROY);
    if (m_bOwned)
        ::ReleaseMutex(m_mutex.Get());
}

std::wstring CSingleInstance::SessionMutexName()
{
    std::vector<BYTE> user = ProcessUser();
    const std::wstring sid = SidText(SidOf(user));
    return sid.empty() ? std::wstring() : std::wstring(L"Local\\") + kName + L"." + sid;
}

CSingleInstance::Claim CSingleInstance::Take()
{
    std::vector<BYTE> tokenUser = ProcessUser();
    const PSID user = SidOf(tokenUser);
    if (user == nullptr) {
        // Without the user there is no lock of theirs to take; running
        // unguarded could let two copies write one tablet.
        Note(L"cannot read this process's user; taken as another copy running", ::GetLastError());
        return Claim::AnotherCopyRuns;
    }
    // A copy holds the lock only when every lock it tries agrees: the copy
    // that creates the namespace takes the session mutex as well, so that a
    // copy of this user whose namespace cannot be made (a restricted token,
    // a quota; or no private namespaces at all) and that falls back on the
    // mutex alone finds it held, and the other way round.
    const Namespace space = CreateUserNamespace(user);
    if (space == Namespace::Exists)
        return Claim::AnotherCopyRuns;
    const Mutex mutex = TakeSessionMutex(user);
    if (mutex == Mutex::Owned)
        return Claim::Held;
    // The mutex alone: whatever holds its name may be a copy of this user.
    if (space == Namespace::Unavailable)
        return Claim::AnotherCopyRuns;
    // The namespace, which only this user can make, is held; the session's
    // name, though, anybody in the session can make first. Held by this
    // user's own mutex, it is a copy that has only the mutex; anything else
    // (another user's object, one of another type) locks nobody out.
    if (mutex == Mutex::ThisUsersCopy)
        return Claim::AnotherCopyRuns;
    Note(L"the session's lock name is held by what is not this user's lock; the namespace alone is the lock",
         ERROR_SUCCESS);
    return Claim::Held;
}

CSingleInstance::Namespace CSingleInstance::CreateUserNamespace(PSID user)
{
    BoundaryDescriptor boundary(::CreateBoundaryDescriptorW(kName, 0));
    if (boundary.Get() == nullptr) {
        Note(L"no boundary descriptor (no private namespaces here); the session's mutex is the lock",
             ::GetLastError());
        return Namespace::Unavailable;
    }
    if (!::AddSIDToBoundaryDescriptor(boundary.Address(), user)) {
        Note(L"the user's SID cannot join the boundary; the session's mutex is the lock", ::GetLastError());
        return Namespace::Unavailable;
    }
    // Nobody but the user may open the namespace: "a process can open an
    // existing namespace even if it is not within the boundary unless the
    // creator restricted access to the namespace". Without a descriptor the
    // token's default DACL guards it.
    const auto descriptor = OnlyUser(user);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    m_hNamespace = ::CreatePrivateNamespaceW(descriptor ? &attributes : nullptr, boundary.Get(), kName);
    if (m_hNamespace != nullptr)
        return Namespace::Created;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
        return Namespace::Exists;
    // Not a name anyone else could have taken (the boundary is the user's):
    // the system cannot make one here, e.g. a sandbox that refuses it.
    Note(L"no private namespace; the session's mutex is the lock", error);
    return Namespace::Unavailable;
}

CSingleInstance::Mutex CSingleInstance::TakeSessionMutex(PSID user)
{
    const std::wstring name = L"Local\\" + std::wstring(kName) + L"." + SidText(user);
    const auto descriptor = OnlyUser(user);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    // Not created owned: ownership is taken by the wait below, which is the
    // only way to tell an abandoned mutex from one that is owned.
    const HANDLE mutex = ::CreateMutexExW(descriptor ? &attributes : nullptr, name.c_str(), 0, kMutexAccess);
    const DWORD error = ::GetLastError();
    m_mutex.Attach(mutex);
    if (!m_mutex.IsValid()) {
        // ERROR_INVALID_HANDLE: an object of another type has the name.
        // ERROR_ACCESS_DENIED: a mutex this copy may not open. Either way
        // someone holds the name, and a copy of this user may be behind it.
        Note(L"the session's lock name is held by an object this copy cannot own", error);
        return Mutex::NotThisUsers;
    }
    switch (::WaitForSingleObject(m_mutex.Get(), 0)) {
    case WAIT_OBJECT_0:
        m_bOwned = true;
        return Mutex::Owned;
    case WAIT_ABANDONED:
        // Its owner ended without releasing it (crashed, killed). The wait
        // made this thread the owner; the tablet that copy may have left
        // half written is written whole by this one, as any tablet is.
        Note(L"took over an abandoned lock", ERROR_SUCCESS);
        m_bOwned = true;
        return Mutex::Owned;
    case WAIT_TIMEOUT:
        // Only the user can make a mutex that the user owns.
        return OwnedBy(m_mutex.Get(), user) ? Mutex::ThisUsersCopy : Mutex::NotThisUsers;
    default:
        Note(L"waiting on the session's lock failed; taken as another copy running", ::GetLastError());
        return Mutex::ThisUsersCopy;
    }
}
