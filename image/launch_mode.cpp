#include "image/launch_mode.h"

#include <algorithm>
#include <cstdlib>

#include "format/cache_layout.h"
#include "format/path_placeholders.h"
#include "image/content_key.h"
#include "image/text_encoding.h"

namespace {

bool is_drive_letter(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z');
}

bool begins_absolute(const std::u16string& spec) {
    if (spec.size() >= 3 && is_drive_letter(spec[0]) && spec[1] == u':' && spec[2] == u'\\') return true;
    if (spec.rfind(u"\\\\", 0) == 0) return true;
    if (spec.empty() || spec[0] != u'{') return false;
    const std::size_t close = spec.find(u'}');
    if (close == std::u16string::npos) return false;
    const std::u16string name = spec.substr(1, close - 1);
    const PlaceholderRule* rule = find_placeholder_rule(name.c_str());
    return rule != nullptr && rule->absolute_folder;
}

// Characters no Windows folder name holds; ':' is allowed only after the
// drive letter that begins the template.
bool is_forbidden_literal(const std::u16string& spec, std::size_t at) {
    const char16_t unit = spec[at];
    if (unit < 0x20 || unit == 0x7F) return true;
    if (unit == u':') return at != 1;
    return std::u16string_view(u"<>\"|?*/").find(unit) != std::u16string_view::npos;
}

std::string describe_literal(char16_t unit) {
    if (unit == u'/') return "'/'; separate folders with '\\'";
    if (unit < 0x20 || unit == 0x7F) return "a control character";
    return "'" + utf16_to_utf8(std::u16string(1, unit)) + "', which no folder name may hold";
}

// Placeholders, one at a time: each closed, known and the same in every run.
bool check_placeholders(const std::u16string& spec, std::string& problem) {
    for (std::size_t at = 0; at < spec.size(); ++at) {
        if (spec[at] != u'{') {
            if (is_forbidden_literal(spec, at)) {
                problem = "holds " + describe_literal(spec[at]);
                return false;
            }
            continue;
        }
        const std::size_t close = spec.find_first_of(u"{}", at + 1);
        if (close == std::u16string::npos || spec[close] == u'{') {
            problem = "has a '{' that is not closed";
            return false;
        }
        const std::u16string name = spec.substr(at + 1, close - at - 1);
        const PlaceholderRule* rule = find_placeholder_rule(name.c_str());
        if (rule == nullptr) {
            problem = "names an unknown placeholder {" + utf16_to_utf8(name) + "}";
            return false;
        }
        if (rule->run_unique) {
            problem =
                "uses {" + utf16_to_utf8(name) + "}, which changes in every run, so no run would find the folder again";
            return false;
        }
        at = close;
    }
    return true;
}

bool has_dot_component(const std::u16string& spec) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = spec.find(u'\\', start);
        const std::u16string part = spec.substr(start, end == std::u16string::npos ? end : end - start);
        if (part == u"." || part == u"..") return true;
        if (end == std::u16string::npos) return false;
        start = end + 1;
    }
}

std::vector<unsigned char> utf16le_with_terminator(const std::u16string& text) {
    std::vector<unsigned char> bytes;
    for (char16_t unit : text + u'\0') {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return bytes;
}

char16_t unit_at(const std::vector<unsigned char>& image, std::size_t at) {
    return static_cast<char16_t>(image[at] | (image[at + 1] << 8));
}

// The zero-terminated UTF-16 text whose terminator is at end; at becomes its start.
std::u16string text_ending_at(const std::vector<unsigned char>& image, std::size_t end, std::size_t& at) {
    at = end;
    while (at >= 2 && unit_at(image, at - 2) != 0) at -= 2;
    std::u16string text;
    for (std::size_t i = at; i < end; i += 2) text += unit_at(image, i);
    return text;
}

}  // namespace

bool read_launch_mode(const std::vector<unsigned char>& image, const std::u16string& key, LaunchMode& mode) {
    const std::vector<unsigned char> wanted = utf16le_with_terminator(key);
    const auto found = std::search(image.begin(), image.end(), wanted.begin(), wanted.end());
    if (found == image.end() || found - image.begin() < 4) return false;
    std::size_t at = static_cast<std::size_t>(found - image.begin());
    mode.content_key = key;
    mode.temp_spec = text_ending_at(image, at - 2, at);
    if (at < 2) return false;
    mode.cache_spec = text_ending_at(image, at - 2, at);
    return !mode.temp_spec.empty();
}

bool check_folder_spec(const char* option, const std::string& spec, std::u16string& out, std::string& error) {
    const std::string prefix = std::string(option) + " '" + spec + "' ";
    std::string problem;
    if (spec.empty()) {
        problem = "is empty";
    } else if (!utf8_to_utf16(spec, out)) {
        problem = "is not valid UTF-8";
    } else if (out.size() > max_folder_spec_units) {
        problem = "is longer than " + std::to_string(max_folder_spec_units) + " UTF-16 code units";
    } else if (!check_placeholders(out, problem)) {
    } else if (!begins_absolute(out)) {
        problem =
            "is not absolute after expansion; begin it with {CACHE_DIR}, {HOME}, {TEMP}, a drive such as C:\\ "
            "or \\\\server\\share";
    } else if (has_dot_component(out)) {
        problem = "has a '.' or '..' folder";
    }
    if (problem.empty()) return true;
    error = prefix + problem;
    return false;
}

std::u16string content_key_of(const std::vector<unsigned char>& block) {
    const std::string digest = payload_content_key(block.data(), block.size());
    // SHA-256 of a buffer in memory cannot fail short of memory exhaustion.
    if (digest.size() < cache_layout::key_length) std::abort();
    return std::u16string(digest.begin(), digest.begin() + cache_layout::key_length);
}

bool make_launch_mode(const std::string& cache_spec, const std::string& temp_spec, const std::filesystem::path& app_dir,
                      LaunchMode& mode, std::string& error) {
    mode = LaunchMode{};
    if (!check_folder_spec("--temp-dir", temp_spec, mode.temp_spec, error)) return false;
    if (!cache_spec.empty()) {
        if (!check_folder_spec("--cache-dir", cache_spec, mode.cache_spec, error)) return false;
        std::error_code code;
        if (!app_dir.empty() && std::filesystem::exists(app_dir / cache_layout::record_file_name, code)) {
            error = "--cache-dir: the application folder holds '" +
                    std::filesystem::path(cache_layout::record_file_name).string() +
                    "', a name the launcher keeps for its own record";
            return false;
        }
    }
    return true;
}
