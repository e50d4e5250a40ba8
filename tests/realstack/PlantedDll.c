/* A DLL that must never run. Planted beside a copy of the program under the
 * name of a DLL the program loads, it leaves "<its own path>.ran" behind
 * when anything loads it, as a planted DLL's own code would run then. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    static const wchar_t suffix[] = L".ran";
    wchar_t path[MAX_PATH + sizeof(suffix) / sizeof(suffix[0])];
    DWORD length;
    HANDLE file;

    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    CopyMemory(path + length, suffix, sizeof(suffix));
    file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}
