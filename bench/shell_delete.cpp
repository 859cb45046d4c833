// shell_delete DIR: deletes the tree under DIR the way the launcher's cleanup
// does, with one SHFileOperationW(FO_DELETE) call and the same flags, timed.
// Beside delete_limit it shows what the shell's deletion costs over deleting
// file by file.
//
// Prints: shell_delete_seconds.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "bench/bench_support.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) bench::fail("usage: shell_delete DIR");
    // pFrom is a list ended by an empty entry.
    std::wstring from = argv[1];
    from.push_back(L'\0');
    wchar_t empty_text[1] = {0};
    const double start = bench::seconds_now();
    SHFILEOPSTRUCTW request = {};
    request.wFunc = FO_DELETE;
    request.pFrom = from.c_str();
    request.pTo = empty_text;
    request.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    request.lpszProgressTitle = empty_text;
    const int result = SHFileOperationW(&request);
    const double elapsed = bench::seconds_now() - start;
    if (result != 0) bench::fail_with_error("SHFileOperationW failed", static_cast<DWORD>(result));
    if (GetFileAttributesW(argv[1]) != INVALID_FILE_ATTRIBUTES) bench::fail("the directory is still there");
    bench::print_result(bench::seconds_field("shell_delete_seconds", elapsed));
    return 0;
}
