// A well-formed DLL that lacks run_code: the first entry of the no_run_code
// block, for "Error, DLL entry point not found.".
extern "C" __declspec(dllexport) int run_something_else(int, wchar_t**, const wchar_t*) {
    return 0;
}
