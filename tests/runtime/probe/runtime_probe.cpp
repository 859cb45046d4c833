// A small program linked exactly like the launcher image (our runtime, no
// toolchain C library) that uses the standard names the way the launcher does.
// probe_process_test.cpp starts it with pipes and checks what arrives.
//
//   runtime_probe arguments         argc and every argv[i] ("%ls", UTF-8)
//   runtime_probe tail              wWinMain's command line
//   runtime_probe streams           stdout and stderr, interleaved; returns 7
//   runtime_probe exit HEX          some stdout, then exit(HEX) (32 bits)
//   runtime_probe return HEX        returns HEX from wWinMain
//   runtime_probe abort             stdout (buffered), stderr, then abort()
//   runtime_probe atexit exit|return  registers nine exit handlers (the ninth
//                                   is refused), then exit(3) or returns 3;
//                                   the first registered exits again with 0x2A
//   runtime_probe large COUNT       COUNT lines "%05d\n" on stdout
//   runtime_probe wcstol TEXT       value, errno, end offset of wcstol(TEXT, 10)
//   runtime_probe number-format     the launcher's number formats via snprintf
//   runtime_probe widen TEXT        TEXT as bytes, widened with mbstowcs(.., 2)
//   runtime_probe digits            iswdigit over a few code units
//   runtime_probe heap              malloc/calloc/realloc/free and mem* checks
//   runtime_probe shell             CommandLineToArgvW's count (uses SHELL32)
#include <windows.h>
#include <shellapi.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// wcscmp is not part of the image's runtime.
bool same_text(const wchar_t* left, const wchar_t* right) {
    while (*left != L'\0' && *left == *right) {
        ++left;
        ++right;
    }
    return *left == *right;
}

// Parses hexadecimal digits; the probe must not lean on anything but the
// runtime it is testing, and wcstol cannot read values above LONG_MAX.
unsigned long parse_hex(const wchar_t* text) {
    unsigned long value = 0;
    for (; *text != L'\0'; ++text) {
        wchar_t unit = *text;
        unsigned digit = unit <= L'9' ? unit - L'0' : (unit | 0x20) - L'a' + 10;
        value = value * 16 + digit;
    }
    return value;
}

int print_arguments() {
    printf("%d\n", __argc);
    for (int i = 0; i < __argc; ++i) printf("%d:[%ls]\n", i, __wargv[i]);
    printf("null:%d\n", __wargv[__argc] == nullptr ? 1 : 0);
    return 0;
}

int print_streams() {
    printf("out1\n");
    fprintf(stderr, "err1 %ls\n", L"\u00e9");
    printf("out2 %s", "no line feed");
    fprintf(stderr, "err2\n");
    return 7;
}

int print_wcstol(const wchar_t* text) {
    wchar_t* end = nullptr;
    errno = 0;
    long value = wcstol(text, &end, 10);
    int error = errno;
    printf("%ld %d %lld\n", value, error, static_cast<long long>(end - text));
    return 0;
}

int print_number_formats() {
    char buffer[128];
    snprintf(buffer, sizeof buffer, "%ld", 4294967L);
    puts(buffer);
    snprintf(buffer, sizeof buffer, "%06ld", 42L);
    puts(buffer);
    snprintf(buffer, sizeof buffer, "%lld", -1234567890123LL);
    puts(buffer);
    snprintf(buffer, sizeof buffer, "%lu|%llu|%x|%c|%%|%u|%d", 4294967295UL, 18446744073709551615ULL, 0xbeefu, 'q',
             3000000000u, -5);
    puts(buffer);
    int needed = snprintf(buffer, 4, "%s", "truncated");
    printf("%d [%s]\n", needed, buffer);
    return 0;
}

int print_widened(const wchar_t* text) {
    // The launcher widens narrow text one byte at a time; here the bytes are
    // the low bytes of the argument's code units.
    for (; *text != L'\0'; ++text) {
        char narrow[2] = {static_cast<char>(*text & 0xFF), '\0'};
        wchar_t wide[2] = {L'?', L'?'};
        size_t count = mbstowcs(wide, narrow, 2);
        printf("%llu:%04x ", static_cast<unsigned long long>(count), static_cast<unsigned>(wide[0]));
    }
    printf("\n");
    return 0;
}

int print_digit_class() {
    const wchar_t units[] = {L'0', L'9', L'a', 0xB2, 0xB3, 0xB9, 0xBC, 0x0660, 0xFF10, 0x4E00};
    for (wchar_t unit : units) printf("%04x:%d ", static_cast<unsigned>(unit), iswdigit(unit) ? 1 : 0);
    printf("\n");
    return 0;
}

int check_heap() {
    const size_t size = 3 * 1024 * 1024 + 17;
    auto* block = static_cast<unsigned char*>(malloc(size));
    auto* zeros = static_cast<unsigned char*>(calloc(size, 1));
    if (block == nullptr || zeros == nullptr) return 3;
    memset(block, 0xA5, size);
    bool calloc_zeroed = true;
    for (size_t i = 0; i < size; i += 4093) calloc_zeroed = calloc_zeroed && zeros[i] == 0;
    memcpy(zeros, block, size);
    bool copied = memcmp(zeros, block, size) == 0;
    block = static_cast<unsigned char*>(realloc(block, 2 * size));
    bool kept = block != nullptr && block[size - 1] == 0xA5 && block[0] == 0xA5;
    memmove(block + 1, block, size);
    free(block);
    free(zeros);
    printf("calloc:%d copy:%d realloc:%d\n", calloc_zeroed ? 1 : 0, copied ? 1 : 0, kept ? 1 : 0);
    return 0;
}

int print_shell_count() {
    int count = 0;
    LPWSTR* vector = CommandLineToArgvW(GetCommandLineW(), &count);
    printf("%d %d\n", vector == nullptr ? -1 : count, __argc);
    LocalFree(vector);
    return 0;
}

template <int index>
void print_handler_index() {
    printf("%d ", index);
    if (index == 0) exit(0x2A);
}

int register_exit_handlers(const wchar_t* ending) {
    int registered = 0;
    int results[] = {atexit(print_handler_index<0>), atexit(print_handler_index<1>), atexit(print_handler_index<2>),
                     atexit(print_handler_index<3>), atexit(print_handler_index<4>), atexit(print_handler_index<5>),
                     atexit(print_handler_index<6>), atexit(print_handler_index<7>), atexit(print_handler_index<8>)};
    for (int result : results) registered += result == 0;
    printf("atexit %d %d\n", registered, results[8]);
    if (same_text(ending, L"exit")) exit(3);
    return 3;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR command_line, int) {
    if (__argc < 2) return 64;
    const wchar_t* mode = __wargv[1];
    const wchar_t* operand = __argc > 2 ? __wargv[2] : L"";
    if (same_text(mode, L"arguments")) return print_arguments();
    if (same_text(mode, L"tail")) {
        printf("[%ls]\n", command_line);
        return 0;
    }
    if (same_text(mode, L"streams")) return print_streams();
    if (same_text(mode, L"exit")) {
        printf("before exit");
        exit(static_cast<int>(parse_hex(operand)));
    }
    if (same_text(mode, L"return")) return static_cast<int>(parse_hex(operand));
    if (same_text(mode, L"abort")) {
        printf("buffered, never written\n");
        fprintf(stderr, "before abort\n");
        abort();
    }
    if (same_text(mode, L"atexit")) return register_exit_handlers(operand);
    if (same_text(mode, L"large")) {
        int count = static_cast<int>(wcstol(operand, nullptr, 10));
        for (int i = 0; i < count; ++i) printf("%05d\n", i);
        return 0;
    }
    if (same_text(mode, L"wcstol")) return print_wcstol(operand);
    if (same_text(mode, L"number-format")) return print_number_formats();
    if (same_text(mode, L"widen")) return print_widened(operand);
    if (same_text(mode, L"digits")) return print_digit_class();
    if (same_text(mode, L"heap")) return check_heap();
    if (same_text(mode, L"shell")) return print_shell_count();
    return 65;
}
