// The application library: prints the greeting of the library it imports,
// the data file unpacked beside it and its arguments, and returns 40 + argc.
#include <windows.h>

#include "greeting.h"

static void write_text(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)lstrlenA(text), &written, NULL);
}

static void write_wide(const wchar_t* text) {
    char narrow[1024];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, NULL, NULL);
    write_text(bytes > 0 ? narrow : "?");
}

static void show_message(const wchar_t* library_path) {
    wchar_t path[MAX_PATH + 32];
    lstrcpynW(path, library_path, MAX_PATH);
    wchar_t* slash = path;
    for (wchar_t* p = path; *p; ++p) {
        if (*p == L'\\') slash = p;
    }
    lstrcpyW(slash, L"\\data\\message.txt");
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    char text[256] = {0};
    DWORD got = 0;
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, text, sizeof text - 1, &got, NULL)) {
        write_text("no data\\message.txt\n");
    } else {
        write_text("message: ");
        write_text(text);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

__declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* library_path) {
    write_text(consumer_greeting());
    write_text("\n");
    show_message(library_path);
    for (int i = 1; i < argc; ++i) {
        write_text("argument: ");
        write_wide(argv[i]);
        write_text("\n");
    }
    return 40 + argc;
}
