#include "platform/tree_removal.h"

#include <windows.h>
#include <winternl.h>

#include "platform/system_calls.h"

namespace {

// The longest path Windows takes in its "\\?\" form, plus the terminator.
constexpr DWORD path_capacity = 32768;
// Levels of folders below the directory that are entered: a folder 1,024
// levels down is emptied, one 1,025 levels down is not. Content deeper than
// that stays, so the directory stays: the cleanup's retries then end with it
// left behind, silently, as with any other file that will not go. The limit
// bounds the recursion (one small frame and one open handle a level).
constexpr int depth_limit = 1024;

// What every entry is opened with: enough to read and clear its attributes
// and to delete it, never its data.
constexpr DWORD entry_access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
// Without the link flag a junction would be opened as the folder it points to.
constexpr DWORD entry_flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
// A folder is held without delete sharing while its content goes: nobody can
// rename it or swap it for a link until its handle closes, so every path
// built below it keeps naming what was opened. Files are opened with delete
// sharing, so that one another program holds with it still goes.
constexpr DWORD folder_sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD file_sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

constexpr NTSTATUS status_success = 0;

// The listing reads one entry a call, through the folder's own handle (a
// listing by path would need delete sharing, which the held folder denies).
// NtQueryDirectoryFile is loaded at run time: the image imports no ntdll.
using ListFunction = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                      FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);

// The path being worked on, extended and cut back as the walk goes down and
// up, and the one listing entry being looked at. Both are shared by every
// level: a level takes an entry's name and attributes out of the listing
// before it goes down, so the recursion's frames stay small.
constinit wchar_t path[path_capacity];
// One entry with the longest name a component can have (255 units), and room.
alignas(8) constinit BYTE listing[sizeof(FILE_DIRECTORY_INFORMATION) + 1024];
// Looked up at the start of every removal.
constinit ListFunction list_entries = nullptr;
constinit volatile LONG removal_busy = 0;

DWORD text_length(const wchar_t* text) {
    DWORD length = 0;
    while (text[length] != 0) ++length;
    return length;
}

bool starts_with(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        if (*text != *prefix) return false;
    }
    return true;
}

bool is_separator(wchar_t unit) {
    return unit == L'\\' || unit == L'/';
}

bool is_drive_path(const wchar_t* text) {
    const wchar_t letter = static_cast<wchar_t>(text[0] | 0x20);
    return letter >= L'a' && letter <= L'z' && text[1] == L':' && is_separator(text[2]);
}

// Writes length units of text at path + at; false (path untouched beyond at)
// when they and the terminator do not fit. Forward slashes become
// backslashes if asked: a "\\?\" path is taken literally, so they would name
// nothing.
bool put_units(DWORD at, const wchar_t* text, DWORD length, bool turn_slashes, DWORD* end) {
    if (length >= path_capacity - at) return false;
    for (DWORD i = 0; i < length; ++i) {
        path[at + i] = turn_slashes && text[i] == L'/' ? L'\\' : text[i];
    }
    path[at + length] = 0;
    *end = at + length;
    return true;
}

bool put_text(DWORD at, const wchar_t* text, bool turn_slashes, DWORD* end) {
    return put_units(at, text, text_length(text), turn_slashes, end);
}

// The directory in its "\\?\" form: C:\x becomes \\?\C:\x, \\server\share\x
// becomes \\?\UNC\server\share\x, a path already in a device form is kept, and
// anything else (a relative path) goes as given, under the usual limits.
// Trailing separators are dropped, except the one of a drive's root.
bool set_up_path(const wchar_t* directory, DWORD* length) {
    DWORD at = 0;
    bool ok;
    if (starts_with(directory, L"\\\\?\\") || starts_with(directory, L"\\\\.\\")) {
        ok = put_text(0, directory, false, length);
    } else if (is_separator(directory[0]) && is_separator(directory[1])) {
        ok = put_text(0, L"\\\\?\\UNC\\", false, &at) && put_text(at, directory + 2, true, length);
    } else if (is_drive_path(directory)) {
        ok = put_text(0, L"\\\\?\\", false, &at) && put_text(at, directory, true, length);
    } else {
        ok = put_text(0, directory, false, length);
    }
    if (!ok) return false;
    while (*length > 1 && is_separator(path[*length - 1]) && path[*length - 2] != L':') path[--*length] = 0;
    return *length > 0;
}

bool is_dot_or_dot_dot(const wchar_t* name, DWORD length) {
    return name[0] == L'.' && (length == 1 || (length == 2 && name[1] == L'.'));
}

bool is_link(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A folder of its own, not a link standing for one.
bool is_real_folder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !is_link(attributes);
}

ListFunction find_list_function() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return nullptr;
    return reinterpret_cast<ListFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryDirectoryFile")));
}

// The entry named by path, opened as itself. A folder is held (see
// folder_sharing) and may be listed; the listing's word for what the entry is
// only picks the sharing, every decision is taken from the handle.
HANDLE open_entry(bool expect_folder) {
    const DWORD access = expect_folder ? entry_access | FILE_LIST_DIRECTORY : entry_access;
    return sys.CreateFileW(path, access, expect_folder ? folder_sharing : file_sharing,
                           nullptr,  // lpSecurityAttributes: not inherited
                           OPEN_EXISTING, entry_flags, nullptr);
}

// The attributes of what the handle holds; 0 when they cannot be read.
DWORD attributes_of(HANDLE entry) {
    FILE_BASIC_INFO basic = {};
    if (!sys.GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic)) return 0;
    return basic.FileAttributes;
}

// A read-only entry cannot be marked for deletion until the bit is cleared.
void make_writable(HANDLE entry, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
    FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    sys.SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic);
}

// The entry goes when its handle closes: a link as a link, a folder only
// when it is empty by then.
void delete_through(HANDLE entry, DWORD attributes) {
    make_writable(entry, attributes);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    sys.SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition);
}

void remove_contents(HANDLE folder, DWORD length, int depth);

// Removes the entry named by path[0, length). listed_attributes: what the
// listing said it is; depth: how many levels below the directory it lies.
void remove_entry(DWORD length, DWORD listed_attributes, int depth) {
    const bool expect_folder = is_real_folder(listed_attributes);
    HANDLE entry = open_entry(expect_folder);
    if (entry == INVALID_HANDLE_VALUE) return;
    const DWORD attributes = attributes_of(entry);
    // Entered only when both the listing and the handle say it is a folder of
    // its own: one swapped for a link since the listing is removed as a link.
    if (expect_folder && is_real_folder(attributes) && depth <= depth_limit) remove_contents(entry, length, depth);
    if (attributes != 0) delete_through(entry, attributes);
    sys.CloseHandle(entry);
}

// Removes everything in the held folder named by path[0, length), which lies
// depth levels below the directory.
void remove_contents(HANDLE folder, DWORD length, int depth) {
    if (list_entries == nullptr) return;
    DWORD base = length;
    if (!is_separator(path[base - 1])) path[base++] = L'\\';
    auto* entry = reinterpret_cast<FILE_DIRECTORY_INFORMATION*>(listing);
    for (;;) {
        IO_STATUS_BLOCK status_block = {};
        const NTSTATUS status = list_entries(folder, nullptr, nullptr, nullptr, &status_block, listing, sizeof listing,
                                             FileDirectoryInformation,
                                             TRUE,     // ReturnSingleEntry
                                             nullptr,  // FileName: every entry
                                             FALSE);   // RestartScan
        if (status != status_success) break;           // the end, or a listing that failed
        const DWORD name_length = entry->FileNameLength / sizeof(wchar_t);
        if (is_dot_or_dot_dot(entry->FileName, name_length)) continue;
        const DWORD listed_attributes = entry->FileAttributes;
        DWORD end = 0;
        if (!put_units(base, entry->FileName, name_length, false, &end)) continue;  // left behind
        remove_entry(end, listed_attributes, depth + 1);
    }
    path[length] = 0;
}

void take_removal_turn() {
    while (InterlockedCompareExchange(&removal_busy, 1, 0) != 0) Sleep(1);
}

void end_removal_turn() {
    InterlockedExchange(&removal_busy, 0);
}

void remove_tree_in_turn(const wchar_t* directory) {
    DWORD length = 0;
    if (!set_up_path(directory, &length)) return;
    list_entries = find_list_function();
    HANDLE top = open_entry(true);
    if (top == INVALID_HANDLE_VALUE) return;
    const DWORD attributes = attributes_of(top);
    // A plain file is not ours to remove; a link standing for the directory is.
    if (is_real_folder(attributes)) {
        remove_contents(top, length, 0);
        delete_through(top, attributes);
    } else if (is_link(attributes)) {
        delete_through(top, attributes);
    }
    sys.CloseHandle(top);
}

}  // namespace

void remove_directory_tree(const wchar_t* directory) {
    if (directory == nullptr) return;
    take_removal_turn();
    remove_tree_in_turn(directory);
    end_removal_turn();
}
