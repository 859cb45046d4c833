#include "paths/path_spec.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>

#include "paths/environment.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

constinit int program_argument_count = 0;
constinit wchar_t** program_argument_vector = nullptr;

enum class Placeholder {
    temp,
    program,
    program_base,
    program_dir,
    pid,
    home,
    cache_dir,
    company,
    product,
    version,
    file_version,
    product_version,
    random,
    time_us,
    time,
    unknown,
};

struct PlaceholderName {
    const wchar_t* name;
    Placeholder placeholder;
};

constexpr PlaceholderName placeholder_names[] = {
    {L"TEMP", Placeholder::temp},
    {L"PROGRAM", Placeholder::program},
    {L"PROGRAM_BASE", Placeholder::program_base},
    {L"PROGRAM_DIR", Placeholder::program_dir},
    {L"PID", Placeholder::pid},
    {L"HOME", Placeholder::home},
    {L"CACHE_DIR", Placeholder::cache_dir},
    {L"COMPANY", Placeholder::company},
    {L"PRODUCT", Placeholder::product},
    {L"VERSION", Placeholder::version},
    {L"FILE_VERSION", Placeholder::file_version},
    {L"PRODUCT_VERSION", Placeholder::product_version},
    {L"RANDOM", Placeholder::random},
    {L"TIME_US", Placeholder::time_us},
    {L"TIME", Placeholder::time},
};

// Characters between '{' and '}', terminator included.
constexpr std::size_t name_capacity = 1024;
// Longest formatted number: a signed 64-bit decimal and its terminator.
constexpr std::size_t number_capacity = 21;
constexpr std::size_t random_tag_capacity = 12;

constexpr char parent_variable[] = "ZORVEK_ONEFILE_PARENT";
constexpr char random_variable[] = "ZORVEK_ONEFILE_RANDOM";
constexpr char time_us_variable[] = "ZORVEK_ONEFILE_TIME_US";
constexpr char start_variable[] = "ZORVEK_ONEFILE_START";

constexpr wchar_t base64_url_alphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The expansion so far: text[0..used) followed by a terminator.
struct Output {
    wchar_t* text;
    std::size_t used;
    std::size_t capacity;
};

wchar_t* output_end(const Output& out) {
    return out.text + out.used;
}
std::size_t output_room(const Output& out) {
    return out.capacity - out.used;
}

// After a value was written at the end, take it into the expansion.
void take_appended_text(Output& out) {
    out.used += wide_length_within(output_end(out), output_room(out));
}

void append_value(Output& out, const wchar_t* value) {
    wide_append(output_end(out), value, output_room(out));
    take_appended_text(out);
}

void append_user_value(Output& out, const wchar_t* value, const char* what) {
    wide_append_or_stop(output_end(out), value, output_room(out), what);
    take_appended_text(out);
}

// Lets a folder value meet the path spec's own separator; may also eat backslashes
// written before the placeholder, never more than the output holds.
void strip_trailing_backslashes(Output& out) {
    while (out.used > 0 && out.text[out.used - 1] == L'\\') out.text[--out.used] = 0;
}

wchar_t ascii_upper(wchar_t unit) {
    return (unit >= L'a' && unit <= L'z') ? unit - (L'a' - L'A') : unit;
}

bool same_name_ignoring_ascii_case(const wchar_t* left, const wchar_t* right) {
    for (;; ++left, ++right) {
        if (ascii_upper(*left) != ascii_upper(*right)) return false;
        if (*left == 0) return true;
    }
}

Placeholder find_placeholder(const wchar_t* name) {
    for (const PlaceholderName& entry : placeholder_names) {
        if (same_name_ignoring_ascii_case(name, entry.name)) return entry.placeholder;
    }
    return Placeholder::unknown;
}

// False when the system cannot name the temporary folder. An empty value
// would put the extraction folder at the root of the current drive instead.
bool append_temp_folder(Output& out) {
    std::size_t room = output_room(out);
    DWORD length = room > MAXDWORD ? MAXDWORD : static_cast<DWORD>(room);
    DWORD result = sys.GetTempPathW(length, output_end(out));
    if (result == 0) {
        // Some systems refuse a TMP longer than a classic path outright
        // instead of reporting the size it needs.
        if (GetLastError() == ERROR_FILENAME_EXCED_RANGE) stop_at_limit("temporary folder path");
        *output_end(out) = 0;
        return false;
    }
    // Too small a buffer gets the needed size and no text: expanding to an
    // empty value would silently move the extraction elsewhere.
    if (result >= length || !wide_fits(output_end(out), room)) stop_at_limit("temporary folder path");
    take_appended_text(out);
    return true;
}

const wchar_t* program_path() {
    if (program_argument_count < 1 || program_argument_vector == nullptr || program_argument_vector[0] == nullptr) {
        abort();
    }
    return program_argument_vector[0];
}

bool ends_with_exe(const wchar_t* text, std::size_t length) {
    if (length < 4) return false;
    const wchar_t* tail = text + length - 4;
    return tail[0] == L'.' && ascii_upper(tail[1]) == L'E' && ascii_upper(tail[2]) == L'X' &&
           ascii_upper(tail[3]) == L'E';
}

// PROGRAM_BASE and PROGRAM_DIR: {PROGRAM} expanded in place, then trimmed.
bool append_program_part(Output& out, Placeholder part) {
    wchar_t* start = output_end(out);
    if (!expand_path_spec(start, L"{PROGRAM}", output_room(out))) return false;
    std::size_t length = wide_length(start);
    if (part == Placeholder::program_base) {
        if (ends_with_exe(start, length)) start[length - 4] = 0;
    } else {
        for (std::size_t i = length; i > 0; --i) {
            if (start[i - 1] == L'\\') {
                start[i - 1] = 0;
                break;
            }
        }
    }
    take_appended_text(out);
    return true;
}

void append_process_id(Output& out, DWORD id) {
    char narrow[number_capacity + 3];
    snprintf(narrow, sizeof narrow, "%ld", static_cast<long>(id));
    wchar_t wide[number_capacity];
    widen_ascii(wide, narrow, number_capacity);
    append_value(out, wide);
}

void append_parent_id(Output& out) {
    wchar_t* parent = env_read(parent_variable);
    if (parent == nullptr) {
        append_process_id(out, GetCurrentProcessId());
        return;
    }
    // The role decision took the child role only for a value of this form, and
    // the parent role writes its own id over anything else.
    unsigned long id = 0;
    if (!parse_process_id(parent, &id)) abort();
    append_value(out, parent);
    free(parent);
}

std::uint64_t system_time_as_filetime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::uint32_t low_half(std::uint64_t value) {
    return static_cast<std::uint32_t>(value);
}
std::uint32_t high_half(std::uint64_t value) {
    return static_cast<std::uint32_t>(value >> 32);
}

// The system's 64 random bits; where it has no generator, eight xorshift32
// steps from a seed mixed of the counter, the id and a stack address.
void make_random_tag(wchar_t out[random_tag_capacity]) {
    std::uint64_t bits = 0;
    if (sys.fill_random(&bits, sizeof bits)) {
        random_tag_from_bits(bits, out);
        return;
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    auto count = static_cast<std::uint64_t>(counter.QuadPart);
    // The counter's own stack address differs between runs under address-space
    // layout randomisation, so two launchers started in the same tick differ.
    auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&counter));
    std::uint32_t seed = low_half(count) ^ high_half(count) ^ static_cast<std::uint32_t>(GetCurrentProcessId()) ^
                         low_half(address) ^ high_half(address);
    random_tag_from_seed(seed, out);
}

const char* generated_variable(Placeholder placeholder) {
    switch (placeholder) {
        case Placeholder::random:
            return random_variable;
        case Placeholder::time_us:
            return time_us_variable;
        default:
            return start_variable;
    }
}

// RANDOM, TIME_US and TIME: the stored text if there is one, else a new one
// stored before use, so that later expansions and the child see the same.
void append_generated(Output& out, Placeholder placeholder) {
    const char* variable = generated_variable(placeholder);
    wchar_t* stored = env_read(variable);
    if (stored != nullptr) {
        append_value(out, stored);
        free(stored);
        return;
    }
    wchar_t text[number_capacity];
    switch (placeholder) {
        case Placeholder::random:
            make_random_tag(text);
            break;
        case Placeholder::time_us:
            time_us_text(system_time_as_filetime(), text);
            break;
        default:
            time_text(system_time_as_filetime(), text);
            break;
    }
    env_write(variable, text);
    append_value(out, text);
}

bool append_folder(Output& out, int csidl) {
    if (!append_shell_folder(output_end(out), csidl, output_room(out))) return false;
    take_appended_text(out);
    strip_trailing_backslashes(out);
    return true;
}

bool append_placeholder(Output& out, Placeholder placeholder) {
    switch (placeholder) {
        case Placeholder::temp:
            if (!append_temp_folder(out)) return false;
            strip_trailing_backslashes(out);
            return true;
        case Placeholder::program:
            append_user_value(out, program_path(), "program path");
            return true;
        case Placeholder::program_base:
        case Placeholder::program_dir:
            return append_program_part(out, placeholder);
        case Placeholder::pid:
            append_parent_id(out);
            return true;
        case Placeholder::home:
            return append_folder(out, CSIDL_PROFILE);
        case Placeholder::cache_dir:
            return append_folder(out, CSIDL_LOCAL_APPDATA);
        case Placeholder::company:
            append_value(out, onefile_company_name);
            return true;
        case Placeholder::product:
            append_value(out, onefile_product_name);
            return true;
        case Placeholder::version:
        case Placeholder::file_version:
        case Placeholder::product_version:
            append_value(out, onefile_version_text);
            return true;
        case Placeholder::random:
        case Placeholder::time_us:
        case Placeholder::time:
            append_generated(out, placeholder);
            return true;
        case Placeholder::unknown:
            return false;
    }
    return false;
}

}  // namespace

bool parse_process_id(const wchar_t* text, unsigned long* id) {
    if (*text == 0) return false;
    std::uint64_t value = 0;
    for (const wchar_t* unit = text; *unit != 0; ++unit) {
        if (*unit < L'0' || *unit > L'9') return false;
        value = value * 10 + static_cast<std::uint64_t>(*unit - L'0');
        if (value > 0xFFFFFFFFu) return false;
    }
    *id = static_cast<unsigned long>(value);
    return true;
}

void set_program_arguments(int count, wchar_t** vector) {
    program_argument_count = count;
    program_argument_vector = vector;
}

bool expand_path_spec(wchar_t* output, const wchar_t* spec, std::size_t capacity) {
    if (capacity == 0) abort();
    Output out{output, 0, capacity};
    output[0] = 0;

    wchar_t name[name_capacity];
    std::size_t name_length = 0;
    bool placeholder_open = false;
    bool name_too_long = false;

    for (const wchar_t* unit = spec; *unit != 0; ++unit) {
        if (*unit == L'{') {
            placeholder_open = true;
            name_length = 0;
            name_too_long = false;
        } else if (*unit == L'}' && placeholder_open) {
            placeholder_open = false;
            if (name_too_long) return false;
            name[name_length] = 0;
            if (!append_placeholder(out, find_placeholder(name))) return false;
        } else if (placeholder_open) {
            // Keep scanning past an overlong name: a later '{' may restart it,
            // and an unclosed one is dropped like any other.
            if (name_length + 1 < name_capacity) {
                name[name_length++] = *unit;
            } else {
                name_too_long = true;
            }
        } else {
            if (output_room(out) < 2) return false;
            output[out.used++] = *unit;
            output[out.used] = 0;
        }
    }
    return true;
}

bool append_shell_folder(wchar_t* output, int csidl, std::size_t capacity) {
    wchar_t folder[MAX_PATH];
    folder[0] = 0;
    if (sys.SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return false;
    if (!wide_fits(folder, MAX_PATH)) abort();
    wide_append(output, folder, capacity);
    return true;
}

void random_tag_from_seed(std::uint32_t seed, wchar_t out[12]) {
    std::uint32_t state = seed == 0 ? 1 : seed;
    std::uint64_t bits = 0;
    for (int step = 0; step < 8; ++step) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bits = (bits << 8) | (state & 0xFF);
    }
    random_tag_from_bits(bits, out);
}

void random_tag_from_bits(std::uint64_t bits, wchar_t out[12]) {
    // 64 bits, most significant first: ten full 6-bit groups, then the last 4
    // bits followed by two zero bits, and no '=' fill.
    for (int group = 0; group < 10; ++group) out[group] = base64_url_alphabet[(bits >> (58 - 6 * group)) & 63];
    out[10] = base64_url_alphabet[(bits & 0xF) << 2];
    out[11] = 0;
}

void time_us_text(std::uint64_t filetime, wchar_t out[7]) {
    // The microsecond within the current second, not the whole time.
    auto microsecond = static_cast<long>((filetime / 10) % 1000000);
    char narrow[number_capacity];
    snprintf(narrow, sizeof narrow, "%06ld", microsecond);
    widen_ascii(out, narrow, 7);
}

void time_text(std::uint64_t filetime, wchar_t out[21]) {
    char narrow[number_capacity + 3];
    snprintf(narrow, sizeof narrow, "%lld", static_cast<long long>(filetime));
    widen_ascii(out, narrow, number_capacity);
}
