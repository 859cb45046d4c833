// plain_host.exe: the smallest program that runs an application library the
// way the launcher's child does (LoadLibraryExW, run_code), without a payload
// reader. Tests compare what the probe measures inside run_code here and in
// the launcher's child. Like the launcher it imports SHELL32 (it splits its
// command line with it), so both carry the same system libraries.
//   plain_host.exe <library.dll> [arguments...]
#include <windows.h>
#include <shellapi.h>

using RunCode = int (*)(int, wchar_t**, const wchar_t*);

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 2) return 2;
    HMODULE library = LoadLibraryExW(arguments[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) return 3;
    auto run_code = reinterpret_cast<RunCode>(reinterpret_cast<void*>(GetProcAddress(library, "run_code")));
    if (run_code == nullptr) return 4;
    return run_code(count - 1, arguments + 1, arguments[1]);
}
