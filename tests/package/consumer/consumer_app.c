// The application library: prints the greeting of the library it imports,
// the data file unpacked beside it and its arguments; returns 40 + argc.
#include <stdio.h>
#include <wchar.h>

#include "greeting.h"

__declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* library_path) {
    wchar_t path[1024];
    swprintf(path, 1024, L"%ls", library_path);
    wchar_t* slash = wcsrchr(path, L'\\');
    wcscpy(slash != NULL ? slash : path, L"\\data\\message.txt");
    char message[128] = "none\n";
    FILE* file = _wfopen(path, L"rb");
    if (file != NULL) {
        fgets(message, sizeof message, file);
        fclose(file);
    }
    printf("%s\nmessage: %s", consumer_greeting(), message);
    for (int i = 1; i < argc; ++i) printf("argument: %ls\n", argv[i]);
    fflush(stdout);  // the launcher ends the process when run_code returns
    return 40 + argc;
}
