// The thin seam around the Windows calls whose failures the tests must produce.
//
// Production code calls these through `sys`, never directly, so that a test can
// swap one entry for a fake (a WriteFile that fails half-way, a missing
// GetFinalPathNameByHandleW, a temp folder of a chosen length) and put it back
// with restore_system_calls(). Calls that tests never need to fail are made
// directly by their documented names.
//
// The table is initialised with constants only (addresses of our own forwarding
// functions), because the image runs no global constructors, and by name:
// several entries share a type, so a table filled by position would compile
// with two of them swapped. Only calls that some test makes fail or watches
// are here; a handle opened through the table is closed through it.
#pragma once

#include <windows.h>
#include <shellapi.h>

using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

struct SystemCalls {
    // The tree removal and the liveness marker: a test watches which paths
    // are opened and changes what is there at the moment of the open.
    HANDLE(WINAPI* CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* CreateDirectoryW)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    HANDLE(WINAPI* OpenProcess)(DWORD, BOOL, DWORD);
    DWORD(WINAPI* K32GetModuleFileNameExW)(HANDLE, HMODULE, LPWSTR, DWORD);
    DWORD(WINAPI* GetModuleFileNameW)(HMODULE, LPWSTR, DWORD);
    DWORD(WINAPI* GetShortPathNameW)(LPCWSTR, LPWSTR, DWORD);
    DWORD(WINAPI* GetFullPathNameW)(LPCWSTR, DWORD, LPWSTR, LPWSTR*);
    DWORD(WINAPI* GetTempPathW)(DWORD, LPWSTR);
    // Looks up GetFinalPathNameByHandleW at run time; null where the system lacks it.
    FinalPathFunction (*find_final_path_function)();
    BOOL(WINAPI* CreateProcessW)
    (LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
     LPPROCESS_INFORMATION);
    DWORD(WINAPI* WaitForSingleObject)(HANDLE, DWORD);
    BOOL(WINAPI* GetExitCodeProcess)(HANDLE, LPDWORD);
    BOOL(WINAPI* TerminateProcess)(HANDLE, UINT);
    // The cleanup's removal of the extraction directory (platform/tree_removal.h).
    void (*remove_directory_tree)(const wchar_t*);
    DWORD(WINAPI* GetFileAttributesW)(LPCWSTR);
    void(WINAPI* Sleep)(DWORD);
    HRESULT(WINAPI* SHGetFolderPathW)(HWND, int, HANDLE, DWORD, LPWSTR);
    // The child launch and the cleanup: tests count closes and feed chosen
    // standard handles.
    HANDLE(WINAPI* GetStdHandle)(DWORD);
    BOOL(WINAPI* CloseHandle)(HANDLE);
    BOOL(WINAPI* DuplicateHandle)(HANDLE, HANDLE, HANDLE, LPHANDLE, DWORD, BOOL, DWORD);
    // 64 random bits for the folder name: the system's generator, loaded at
    // run time (the image imports nothing beyond KERNEL32 and SHELL32). False
    // where the system has none or it fails.
    bool (*fill_random)(void*, ULONG);
    // Environment reads: a fake hands back a value of the full 32,767
    // characters, which Wine's own environment cannot hold.
    DWORD(WINAPI* GetEnvironmentVariableW)(LPCWSTR, LPWSTR, DWORD);
    // The tree removal reads what an entry is and deletes it through its
    // handle: a test shows it a folder that turned into a link.
    BOOL(WINAPI* GetFileInformationByHandleEx)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    BOOL(WINAPI* SetFileInformationByHandle)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    // The child's job: an outer job may refuse it.
    BOOL(WINAPI* AssignProcessToJobObject)(HANDLE, HANDLE);
    // The cached mode: a rival run that publishes at the moment of the
    // rename, a rename refused for a moment.
    BOOL(WINAPI* MoveFileExW)(LPCWSTR, LPCWSTR, DWORD);
};

extern SystemCalls sys;

// Puts every entry back to the real call (tests call it in their tear-down).
void restore_system_calls();
