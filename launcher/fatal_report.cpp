#include "launcher/fatal_report.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "format/payload_layout.h"

namespace {

// FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM:
// inserts such as %1 stay literal, so the text is printed as an argument and
// never used as a format.
constexpr DWORD system_text_flags = 0x1300;
constexpr DWORD english_united_states = 1033;
// Shown when the system has no English text for the code.
constexpr char unknown_error_text[] = "unknown error";
constexpr char system_error_format[] = "%s ([Error %ld] %s)\n";

// Replaces trailing CR and LF characters with terminators.
void strip_line_ends(char* text, DWORD length) {
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) {
        text[--length] = '\0';
    }
}

// The system's English text for code without its line end, in a buffer the
// system allocated (release with LocalFree), or null when it has none.
char* system_text_for(unsigned long code) {
    char* text = nullptr;
    DWORD length = FormatMessageA(system_text_flags,
                                  nullptr,  // lpSource: the system's own table
                                  code, english_united_states, reinterpret_cast<LPSTR>(&text),
                                  0,         // nSize: no minimum
                                  nullptr);  // Arguments: none, inserts are ignored
    if (length == 0 || text == nullptr) return nullptr;
    strip_line_ends(text, length);
    return text;
}

// "%ld" shows the code as a signed 32-bit number, as the system's own tools do
// for codes with the top bit set.
long signed_code(unsigned long code) {
    return static_cast<long>(code);
}

}  // namespace

void report_message(const char* text) {
    puts(text);
    exit(2);
}

void report_system_error(const char* text, unsigned long code) {
    // The system's buffer is not released: the process ends here.
    const char* system_text = system_text_for(code);
    fprintf(stderr, system_error_format, text, signed_code(code), system_text ? system_text : unknown_error_text);
    exit(2);
}

void report_open_failure(const wchar_t* path) {
    fprintf(stderr, "Error, failed to open '%ls' for writing.\n", path);
    exit(2);
}

void report_expansion_failure(const wchar_t* spec) {
    fprintf(stderr, "Error, couldn't runtime expand spec '%ls'.\n", spec);
    abort();
}

void report_unsafe_entry_name(const wchar_t* name) {
    wchar_t shown[payload_layout::name_buffer_units];
    std::size_t length = 0;
    for (; length + 1 < payload_layout::name_buffer_units && name[length] != L'\0'; ++length) {
        shown[length] = name[length] < L' ' ? L'?' : name[length];
    }
    shown[length] = L'\0';
    printf("Error, attached data holds an unsafe entry name '%ls'.\n", shown);
    exit(2);
}

void report_existing_extraction_directory(const wchar_t* directory) {
    printf("Error, extraction folder '%ls' already exists.\n", directory);
    exit(2);
}

std::size_t format_system_error(char* out, std::size_t capacity, const char* text, unsigned long code) {
    char* system_text = system_text_for(code);
    int length = snprintf(out, capacity, system_error_format, text, signed_code(code),
                          system_text ? system_text : unknown_error_text);
    if (system_text != nullptr) LocalFree(system_text);
    return length < 0 ? 0 : static_cast<std::size_t>(length);
}
