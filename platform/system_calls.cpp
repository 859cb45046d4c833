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
BOOL WINAPI real_SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    return SetConsoleCtrlHandler(handler, add);
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
LPWSTR* WINAPI real_CommandLineToArgvW(LPCWSTR line, int* count) {
    return CommandLineToArgvW(line, count);
}
LPWSTR WINAPI real_GetCommandLineW() {
    return GetCommandLineW();
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

constexpr SystemCalls real_calls = {
    real_CreateFileW,
    real_WriteFile,
    real_CreateDirectoryW,
    real_OpenProcess,
    real_K32GetModuleFileNameExW,
    real_GetModuleFileNameW,
    real_GetShortPathNameW,
    real_GetFullPathNameW,
    real_GetTempPathW,
    real_find_final_path_function,
    real_SetConsoleCtrlHandler,
    real_CreateProcessW,
    real_WaitForSingleObject,
    real_GetExitCodeProcess,
    real_TerminateProcess,
    remove_directory_tree,
    real_GetFileAttributesW,
    real_Sleep,
    real_CommandLineToArgvW,
    real_GetCommandLineW,
    real_SHGetFolderPathW,
    real_GetStdHandle,
    real_CloseHandle,
    real_DuplicateHandle,
    real_GetEnvironmentVariableW,
    real_GetFileInformationByHandleEx,
    real_SetFileInformationByHandle,
    real_AssignProcessToJobObject,
};

}  // namespace

constinit SystemCalls sys = real_calls;

void restore_system_calls() {
    sys = real_calls;
}
