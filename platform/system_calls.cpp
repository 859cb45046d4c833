#include "platform/system_calls.h"

#include <psapi.h>
#include <shlobj.h>

#include "platform/tree_removal.h"

namespace {

// Forwarders: their addresses are link-time constants, unlike the addresses of
// imported functions, so the table needs no start-up code to fill it.
HANDLE WINAPI real_CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templ) {
    return CreateFileW(name, access, share, security, disposition, flags, templ);
}
BOOL WINAPI real_WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    return WriteFile(file, data, size, written, overlapped);
}
BOOL WINAPI real_CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    return CreateDirectoryW(path, security);
}
HANDLE WINAPI real_OpenProcess(DWORD access, BOOL inherit, DWORD id) {
    return OpenProcess(access, inherit, id);
}
DWORD WINAPI real_K32GetModuleFileNameExW(HANDLE process, HMODULE module, LPWSTR name, DWORD size) {
    return K32GetModuleFileNameExW(process, module, name, size);
}
DWORD WINAPI real_GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size) {
    return GetModuleFileNameW(module, name, size);
}
DWORD WINAPI real_GetShortPathNameW(LPCWSTR path, LPWSTR out, DWORD size) {
    return GetShortPathNameW(path, out, size);
}
DWORD WINAPI real_GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR out, LPWSTR* part) {
    return GetFullPathNameW(path, size, out, part);
}
DWORD WINAPI real_GetTempPathW(DWORD size, LPWSTR out) {
    return GetTempPathW(size, out);
}
FinalPathFunction real_find_final_path_function() {
    // Looked up on every call: older systems lack the function.
    HMODULE kernel = GetModuleHandleA("Kernel32.dll");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<FinalPathFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetFinalPathNameByHandleW")));
}
BOOL WINAPI real_CreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES process_security,
                                LPSECURITY_ATTRIBUTES thread_security, BOOL inherit, DWORD flags, LPVOID environment,
                                LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
    return CreateProcessW(application, command_line, process_security, thread_security, inherit, flags, environment,
                          directory, startup, info);
}
DWORD WINAPI real_WaitForSingleObject(HANDLE handle, DWORD ms) {
    return WaitForSingleObject(handle, ms);
}
BOOL WINAPI real_GetExitCodeProcess(HANDLE process, LPDWORD code) {
    return GetExitCodeProcess(process, code);
}
BOOL WINAPI real_TerminateProcess(HANDLE process, UINT code) {
    return TerminateProcess(process, code);
}
DWORD WINAPI real_GetFileAttributesW(LPCWSTR path) {
    return GetFileAttributesW(path);
}
void WINAPI real_Sleep(DWORD ms) {
    Sleep(ms);
}
HRESULT WINAPI real_SHGetFolderPathW(HWND window, int csidl, HANDLE token, DWORD flags, LPWSTR path) {
    return SHGetFolderPathW(window, csidl, token, flags, path);
}
DWORD WINAPI real_GetEnvironmentVariableW(LPCWSTR name, LPWSTR value, DWORD size) {
    return GetEnvironmentVariableW(name, value, size);
}
HANDLE WINAPI real_GetStdHandle(DWORD which) {
    return GetStdHandle(which);
}
BOOL WINAPI real_CloseHandle(HANDLE handle) {
    return CloseHandle(handle);
}
BOOL WINAPI real_DuplicateHandle(HANDLE source_process, HANDLE source, HANDLE target_process, LPHANDLE target,
                                 DWORD access, BOOL inherit, DWORD options) {
    return DuplicateHandle(source_process, source, target_process, target, access, inherit, options);
}
BOOL WINAPI real_GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID out, DWORD size) {
    return GetFileInformationByHandleEx(file, kind, out, size);
}
BOOL WINAPI real_SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID in, DWORD size) {
    return SetFileInformationByHandle(file, kind, in, size);
}
BOOL WINAPI real_AssignProcessToJobObject(HANDLE job, HANDLE process) {
    return AssignProcessToJobObject(job, process);
}
BOOL WINAPI real_MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    return MoveFileExW(from, to, flags);
}

using GenerateRandomFunction = BOOLEAN(WINAPI*)(PVOID, ULONG);

// RtlGenRandom, exported by advapi32 as SystemFunction036, loaded when first
// needed like SHELL32.
bool real_fill_random(void* out, ULONG size) {
    HMODULE advapi = LoadLibraryW(L"advapi32.dll");
    if (advapi == nullptr) return false;
    auto generate =
        reinterpret_cast<GenerateRandomFunction>(reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")));
    return generate != nullptr && generate(out, size);
}

constexpr SystemCalls real_calls = {
    .CreateFileW = real_CreateFileW,
    .WriteFile = real_WriteFile,
    .CreateDirectoryW = real_CreateDirectoryW,
    .OpenProcess = real_OpenProcess,
    .K32GetModuleFileNameExW = real_K32GetModuleFileNameExW,
    .GetModuleFileNameW = real_GetModuleFileNameW,
    .GetShortPathNameW = real_GetShortPathNameW,
    .GetFullPathNameW = real_GetFullPathNameW,
    .GetTempPathW = real_GetTempPathW,
    .find_final_path_function = real_find_final_path_function,
    .CreateProcessW = real_CreateProcessW,
    .WaitForSingleObject = real_WaitForSingleObject,
    .GetExitCodeProcess = real_GetExitCodeProcess,
    .TerminateProcess = real_TerminateProcess,
    .remove_directory_tree = remove_directory_tree,
    .GetFileAttributesW = real_GetFileAttributesW,
    .Sleep = real_Sleep,
    .SHGetFolderPathW = real_SHGetFolderPathW,
    .GetStdHandle = real_GetStdHandle,
    .CloseHandle = real_CloseHandle,
    .DuplicateHandle = real_DuplicateHandle,
    .fill_random = real_fill_random,
    .GetEnvironmentVariableW = real_GetEnvironmentVariableW,
    .GetFileInformationByHandleEx = real_GetFileInformationByHandleEx,
    .SetFileInformationByHandle = real_SetFileInformationByHandle,
    .AssignProcessToJobObject = real_AssignProcessToJobObject,
    .MoveFileExW = real_MoveFileExW,
};

}  // namespace

constinit SystemCalls sys = real_calls;

void restore_system_calls() {
    sys = real_calls;
}
