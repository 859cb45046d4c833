#include "image/app_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>

#include "format/entry_name_rule.h"
#include "format/payload_layout.h"
#include "image/text_encoding.h"

namespace fs = std::filesystem;

namespace {

constexpr char16_t separator = u'\\';

char16_t ascii_upper(char16_t unit) {
    return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

// Upper case as the file system compares names, for the scripts an
// application's file names realistically use: Latin (ASCII, Latin-1,
// Extended-A), Greek and Cyrillic. Other letters compare as they are, which
// can only let a rare clash through, never refuse a good name.
char16_t folded_unit(char16_t unit) {
    const auto minus = [unit](int offset) { return static_cast<char16_t>(unit - offset); };
    if (unit < 0x80) return ascii_upper(unit);
    if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return minus(0x20);
    if (unit == 0xFF) return 0x178;
    const bool even_upper =
        (unit >= 0x100 && unit <= 0x12F) || (unit >= 0x132 && unit <= 0x137) || (unit >= 0x14A && unit <= 0x177);
    if (even_upper) return (unit & 1) ? minus(1) : unit;
    const bool odd_upper = (unit >= 0x139 && unit <= 0x148) || (unit >= 0x179 && unit <= 0x17E);
    if (odd_upper) return (unit & 1) ? unit : minus(1);
    if (unit == 0x3C2) return 0x3A3;  // final sigma
    if (unit >= 0x3B1 && unit <= 0x3C9) return minus(0x20);
    if (unit >= 0x430 && unit <= 0x44F) return minus(0x20);
    if (unit >= 0x450 && unit <= 0x45F) return minus(0x50);
    return unit;
}

std::u16string case_folded(std::u16string_view text) {
    std::u16string out(text);
    for (auto& unit : out) unit = folded_unit(unit);
    return out;
}

// The words for what the shared rule (format/entry_name_rule.h) refuses.
std::string component_problem(std::u16string_view component) {
    using payload_layout::NameProblem;
    switch (payload_layout::component_problem(component.data(), component.size())) {
        case NameProblem::none:
            return "";
        case NameProblem::empty_component:
            return "has an empty component";
        case NameProblem::control_character:
            return "contains a control character";
        case NameProblem::colon:
            return "contains a colon";
        case NameProblem::forbidden_character:
            for (char16_t unit : component) {
                if (payload_layout::is_forbidden_name_character(unit)) {
                    return std::string("contains the character '") + static_cast<char>(unit) +
                           "', which Windows does not allow in file names";
                }
            }
            break;
        case NameProblem::trailing_dot_or_space:
            if (component == u"." || component == u"..") return "has a '.' or '..' component";
            return "has a component ending in a dot or a space, which Windows would drop";
        case NameProblem::device_name:
            return "names the device '" + utf16_to_utf8(component) + "'";
        default:
            break;
    }
    return "is refused";
}

std::string system_text(const std::error_code& code) {
    return code.message();
}

// The archive name of a path relative to the root.
bool archive_name(const fs::path& relative, std::u16string& name, std::string& error) {
    name.clear();
    for (const auto& part : relative) {
        std::u16string component;
#ifdef _WIN32
        // Windows names are UTF-16 already and cannot hold a backslash.
        (void)error;
        const std::wstring& native = part.native();
        component.assign(native.begin(), native.end());
#else
        if (!utf8_to_utf16(part.native(), component)) {
            error = "file name is not valid UTF-8: '" + relative.string() + "'";
            return false;
        }
        // A POSIX name may hold a backslash, which would read as a separator.
        if (component.find(separator) != std::u16string::npos) {
            error = "file name contains a backslash: '" + relative.string() + "'";
            return false;
        }
#endif
        if (!name.empty()) name += separator;
        name += component;
    }
    return true;
}

bool opens_for_reading(const fs::path& path, std::string& error) {
    errno = 0;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        error = "cannot read '" + path.string() + "': " + (errno != 0 ? std::strerror(errno) : "open failed");
        return false;
    }
    return true;
}

// One directory entry: adds a regular file, lets the iterator descend into a
// folder, refuses everything else.
bool take_entry(const fs::path& root, const fs::directory_entry& entry, std::vector<AppFile>& files,
                std::string& error) {
    std::error_code code;
    const fs::file_status link_status = entry.symlink_status(code);
    if (code) {
        error = "cannot read '" + entry.path().string() + "': " + system_text(code);
        return false;
    }
    const fs::file_status status = fs::is_symlink(link_status) ? entry.status(code) : link_status;
    if (fs::is_symlink(link_status) && (code || !fs::exists(status))) {
        error = "'" + entry.path().string() + "' is a broken link";
        return false;
    }
    if (fs::is_directory(status)) {
        if (fs::is_symlink(link_status)) {
            error = "'" + entry.path().string() + "' is a link to a folder; copy the folder in instead";
            return false;
        }
        return true;
    }
    if (!fs::is_regular_file(status)) {
        error = "'" + entry.path().string() + "' is not a regular file";
        return false;
    }
    AppFile file;
    file.source = entry.path();
    if (!archive_name(entry.path().lexically_relative(root), file.name, error)) return false;
    const std::string problem = entry_name_problem(file.name);
    if (!problem.empty()) {
        error = problem;
        return false;
    }
    file.size = fs::file_size(entry.path(), code);
    if (code) {
        error = "cannot read '" + entry.path().string() + "': " + system_text(code);
        return false;
    }
    if (!opens_for_reading(entry.path(), error)) return false;
    files.push_back(std::move(file));
    return true;
}

}  // namespace

std::string quoted_name(std::u16string_view name) {
    return "'" + utf16_to_utf8(name) + "'";
}

std::string entry_name_problem(std::u16string_view name) {
    const std::string prefix = "name " + quoted_name(name) + " ";
    if (name.empty()) return "empty name";
    if (name.size() > payload_layout::max_name_units) {
        return prefix + "is " + std::to_string(name.size()) + " UTF-16 code units long; at most " +
               std::to_string(payload_layout::max_name_units) + " fit";
    }
    if (name.size() >= 2 && name[1] == u':' && ascii_upper(name[0]) >= u'A' && ascii_upper(name[0]) <= u'Z') {
        return prefix + "begins with a drive letter";
    }
    if (name[0] == separator) return prefix + "begins with a backslash";
    std::size_t start = 0;
    while (true) {
        const std::size_t end = name.find(separator, start);
        const std::string problem = component_problem(name.substr(start, end - start));
        if (!problem.empty()) return prefix + problem;
        if (end == std::u16string_view::npos) break;
        start = end + 1;
    }
    return "";
}

bool collect_app_folder(const fs::path& root, std::vector<AppFile>& files, std::string& error) {
    files.clear();
    std::error_code code;
    if (!fs::is_directory(root, code)) {
        error = "application folder '" + root.string() + "' is not a folder";
        return false;
    }
    fs::recursive_directory_iterator it(root, fs::directory_options::none, code);
    for (; !code && it != fs::recursive_directory_iterator(); it.increment(code)) {
        if (!take_entry(root, *it, files, error)) return false;
    }
    if (code) {
        error = "cannot read the application folder '" + root.string() + "': " + system_text(code);
        return false;
    }
    if (files.empty()) {
        error = "application folder '" + root.string() + "' holds no files";
        return false;
    }
    return true;
}

bool add_extra_file(std::vector<AppFile>& files, std::u16string_view name, const fs::path& source, std::string& error) {
    AppFile file;
    file.name = name;
    file.source = source;
    const std::string problem = entry_name_problem(file.name);
    if (!problem.empty()) {
        error = problem;
        return false;
    }
    std::error_code code;
    if (!fs::is_regular_file(source, code)) {
        error = "'" + source.string() + "' is not a readable file";
        return false;
    }
    file.size = fs::file_size(source, code);
    if (code) {
        error = "cannot read '" + source.string() + "': " + system_text(code);
        return false;
    }
    if (!opens_for_reading(source, error)) return false;
    files.push_back(std::move(file));
    return true;
}

bool check_name_collisions(const std::vector<AppFile>& files, std::string& error) {
    std::map<std::u16string, std::u16string> file_names;    // case-folded -> original
    std::map<std::u16string, std::u16string> folder_names;  // folded -> a file inside it
    for (const auto& file : files) {
        const std::u16string folded = case_folded(file.name);
        const auto [it, fresh] = file_names.emplace(folded, file.name);
        if (!fresh) {
            error = "names " + quoted_name(it->second) + " and " + quoted_name(file.name) +
                    " would be the same file on Windows";
            return false;
        }
        for (std::size_t at = folded.find(separator); at != std::u16string::npos; at = folded.find(separator, at + 1)) {
            folder_names.emplace(folded.substr(0, at), file.name);
        }
    }
    for (const auto& [folded, original] : file_names) {
        const auto folder = folder_names.find(folded);
        if (folder != folder_names.end()) {
            error =
                "name " + quoted_name(original) + " is both a file and the folder of " + quoted_name(folder->second);
            return false;
        }
    }
    return true;
}

bool order_entries(std::vector<AppFile>& files, std::u16string_view app_library, std::string& error) {
    if (app_library.find(separator) != std::u16string_view::npos ||
        app_library.find(u'/') != std::u16string_view::npos) {
        error = "application library " + quoted_name(app_library) + " must lie at the top level of the folder";
        return false;
    }
    const auto library =
        std::find_if(files.begin(), files.end(), [&](const AppFile& f) { return f.name == app_library; });
    if (library == files.end()) {
        error = "application library " + quoted_name(app_library) + " is not in the application folder";
        return false;
    }
    std::iter_swap(files.begin(), library);
    std::sort(files.begin() + 1, files.end(), [](const AppFile& a, const AppFile& b) { return a.name < b.name; });
    return true;
}
