// plain_host.exe FOLDER: the floor of a warm start in the cached mode. A
// minimal host that loads bench_app.dll from a folder unpacked beforehand and
// calls its run_code, as any program shipped as a plain folder would.
//
// Built like empty_program: GUI subsystem, no C runtime, KERNEL32 only, so
// its time is one process start, one library load and the call.
#include <windows.h>

namespace {

using RunCode = int (*)(int, wchar_t**, const wchar_t*);

constexpr DWORD search_flags =
    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32;
constexpr int path_capacity = 4096;
constexpr wchar_t library_name[] = L"\\bench_app.dll";

// Static, not on the stack: a large frame would need the C runtime's stack probe.
wchar_t library[path_capacity];
wchar_t program[path_capacity];

// The folder is the first argument: after argument 0 and blanks, quotes dropped.
const wchar_t* folder_argument(wchar_t* line) {
    wchar_t* at = line;
    if (*at == L'"') {
        ++at;
        while (*at != 0 && *at != L'"') ++at;
        if (*at == L'"') ++at;
    } else {
        while (*at != 0 && *at != L' ') ++at;
    }
    while (*at == L' ') ++at;
    if (*at == L'"') {
        wchar_t* end = ++at;
        while (*end != 0 && *end != L'"') ++end;
        *end = 0;
    }
    return at;
}

}  // namespace

extern "C" void plain_start() {
    const wchar_t* folder = folder_argument(GetCommandLineW());
    int length = 0;
    for (; folder[length] != 0 && length < path_capacity - 32; ++length) library[length] = folder[length];
    library[length] = 0;
    AddDllDirectory(library);
    for (int i = 0; library_name[i] != 0; ++i) library[length++] = library_name[i];
    library[length] = 0;
    HMODULE module = LoadLibraryExW(library, nullptr, search_flags);
    if (module == nullptr) ExitProcess(3);
    auto run_code = reinterpret_cast<RunCode>(reinterpret_cast<void*>(GetProcAddress(module, "run_code")));
    if (run_code == nullptr) ExitProcess(4);
    GetModuleFileNameW(nullptr, program, path_capacity);
    wchar_t* arguments[] = {program, nullptr};
    ExitProcess(static_cast<UINT>(run_code(1, arguments, library)));
}
