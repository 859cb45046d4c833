// Splitting the process command line into the wide argument vector, by the
// rules the Windows C runtime documents for its own start-up:
//
//   input                 argument 0 / arguments
//   "C:\a b\x.exe" y      C:\a b\x.exe / y       argument 0: quotes only group,
//   C:\a\"b c"\x.exe      C:\a\b c\x.exe         backslashes are always literal
//   "a b" c               a b / c
//   a\\\b                 a\\\b                  backslashes not before a quote
//   a\\"b c"              a\b c                  2n backslashes + " : n and a quote toggle
//   a\\\"b                a\"b                   2n+1 backslashes + " : n and a literal "
//   "a""b"                a"b                    "" inside quotes: a literal "
//   "a b                  a b                    an open quote runs to the end
//
// The count of arguments and of code units is made by the same scan that fills
// the block, run twice, so the two can never disagree.
#include "runtime/runtime.h"

namespace {

struct SplitScan {
    const wchar_t* text;
    wchar_t** vector;  // null on the measuring pass
    wchar_t* units;    // null on the measuring pass
    int count;
    rt_size unit_count;
};

bool is_blank(wchar_t unit) {
    return unit == L' ' || unit == L'\t';
}

void put_unit(SplitScan& scan, wchar_t unit) {
    if (scan.units != nullptr) *scan.units++ = unit;
    ++scan.unit_count;
}

void begin_argument(SplitScan& scan) {
    if (scan.vector != nullptr) scan.vector[scan.count] = scan.units;
    ++scan.count;
}

// Argument 0 is a path: quotation marks group blanks and vanish, nothing escapes.
const wchar_t* scan_program_name(SplitScan& scan, const wchar_t* p) {
    begin_argument(scan);
    bool in_quotes = false;
    while (*p != L'\0' && (in_quotes || !is_blank(*p))) {
        if (*p == L'"') {
            in_quotes = !in_quotes;
        } else {
            put_unit(scan, *p);
        }
        ++p;
    }
    put_unit(scan, L'\0');
    return *p == L'\0' ? p : p + 1;
}

// One later argument, starting at a non-blank; returns where it stopped.
const wchar_t* scan_argument(SplitScan& scan, const wchar_t* p) {
    begin_argument(scan);
    bool in_quotes = false;
    for (;;) {
        rt_size backslashes = 0;
        while (*p == L'\\') {
            ++backslashes;
            ++p;
        }
        bool copy_unit = true;
        if (*p == L'"') {
            if (backslashes % 2 == 0) {
                if (in_quotes && p[1] == L'"') {
                    ++p;  // "" inside quotes: the second one is kept
                } else {
                    copy_unit = false;
                    in_quotes = !in_quotes;
                }
            }
            backslashes /= 2;
        }
        for (; backslashes > 0; --backslashes) put_unit(scan, L'\\');
        if (*p == L'\0' || (!in_quotes && is_blank(*p))) break;
        if (copy_unit) put_unit(scan, *p);
        ++p;
    }
    put_unit(scan, L'\0');
    return p;
}

void scan_command_line(SplitScan& scan) {
    const wchar_t* p = scan_program_name(scan, scan.text);
    for (;;) {
        while (is_blank(*p)) ++p;
        if (*p == L'\0') break;
        p = scan_argument(scan, p);
    }
    if (scan.vector != nullptr) scan.vector[scan.count] = nullptr;
}

}  // namespace

wchar_t** rt_split_command_line(const wchar_t* command_line, int* count) {
    SplitScan measure{command_line, nullptr, nullptr, 0, 0};
    scan_command_line(measure);

    // The pointers first (count + 1 of them, aligned), the texts after them.
    rt_size pointer_bytes = (static_cast<rt_size>(measure.count) + 1) * sizeof(wchar_t*);
    rt_size unit_bytes = measure.unit_count * sizeof(wchar_t);
    void* block = rt_malloc(pointer_bytes + unit_bytes);
    if (block == nullptr) return nullptr;

    wchar_t** vector = static_cast<wchar_t**>(block);
    SplitScan fill{command_line, vector, reinterpret_cast<wchar_t*>(static_cast<char*>(block) + pointer_bytes), 0, 0};
    scan_command_line(fill);
    *count = fill.count;
    return vector;
}

// The tail as the Windows start-up code hands it to WinMain: skip argument 0
// (quoted or up to the first blank or control character), then the blanks.
wchar_t* rt_command_line_tail(const wchar_t* command_line) {
    const wchar_t* p = command_line;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p > L' ') ++p;
    }
    while (*p != L'\0' && *p <= L' ') ++p;
    return const_cast<wchar_t*>(p);
}
