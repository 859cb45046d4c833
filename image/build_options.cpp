#include "image/build_options.h"

#include <set>

#include "image/packer.h"

namespace {

struct ValueOption {
    const char* name;
    std::string BuildOptions::*field;
};

constexpr ValueOption value_options[] = {
    {"--app-dir", &BuildOptions::app_dir},
    {"--output", &BuildOptions::output},
    {"--app-library", &BuildOptions::app_library},
    {"--icon", &BuildOptions::icon},
    {"--company", &BuildOptions::company},
    {"--product", &BuildOptions::product},
    {"--version", &BuildOptions::version},
    {"--payload-block", &BuildOptions::payload_block},
    {"--save-payload-block", &BuildOptions::save_payload_block},
    {"--kit", &BuildOptions::kit},
};

}  // namespace

bool parse_build_options(const std::vector<std::string>& arguments, BuildOptions& options, std::string& error) {
    options = BuildOptions{};
    for (const auto& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            return true;
        }
    }
    std::set<std::string> seen;
    std::string level_text;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool has_value = false;
        if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
            value = name.substr(name.find('=') + 1);
            name = name.substr(0, name.find('='));
            has_value = true;
        }
        if (name == "--verbose" && !has_value) {
            options.verbose = true;
            continue;
        }
        std::string* target = nullptr;
        if (name == "--level") target = &level_text;
        if (target == nullptr) target = signing_option_field(options.signing, name);
        for (const auto& option : value_options) {
            if (name == option.name) target = &(options.*option.field);
        }
        if (target == nullptr) {
            error = (name.rfind("-", 0) == 0 ? "unknown option '" + name + "'" : "unexpected argument '" + name + "'") +
                    "; see onefile-build --help";
            return false;
        }
        if (!has_value) {
            if (i + 1 == arguments.size()) {
                error = name + " needs a value";
                return false;
            }
            value = arguments[++i];
        }
        if (!seen.insert(name).second) {
            error = name + " is given more than once";
            return false;
        }
        *target = value;
    }
    if (seen.count("--level") != 0) {
        if (!parse_level(level_text, options.level, error)) return false;
    }
    if (options.output.empty()) {
        error = "--output OUT.exe is required; see onefile-build --help";
        return false;
    }
    if (options.app_dir.empty() && options.payload_block.empty()) {
        error = "--app-dir DIR is required; see onefile-build --help";
        return false;
    }
    return check_signing_options(options.signing, !options.payload_block.empty(), error);
}

std::string build_help_text() {
    return R"(Usage: onefile-build --app-dir DIR --output OUT.exe [options]

Turns an application folder into one Windows executable: packs every file
under DIR into the payload block, compiles the version information, manifest
and icons, and links the prebuilt launcher around them.

Required:
  --app-dir DIR          the application folder; every file under it is packed,
                         named by its path relative to DIR
  --output OUT.exe       the executable to write (replaced if it exists)

Options:
  --app-library NAME     the application library, a DLL at the top level of DIR
                         exporting run_code (default: the only such DLL)
  --icon FILE.ico        icon with six PNG images of 16, 32, 48, 64, 128 and
                         256 pixels (default: the kit's icon); it is also
                         packed, beside the application's files
  --company TEXT         company name (default: "Vellmore Limited")
  --product TEXT         product name (default: "Lumbrick")
  --version TEXT         version, one to four numbers (default: "1.0.0.0")
  --level N              zstd compression level, 1 to 22 (default: 9)
  --payload-block FILE   link FILE as the payload block just as it is, without
                         packing (for tests of damaged payloads); --app-dir is
                         then not needed and not read
  --save-payload-block FILE
                         also write the payload block that was linked to FILE
  --kit DIR              the launcher kit (default: $ONEFILE_KIT, else
                         lib/onefile/kit or kit beside this program's bin
                         folder)
  --verbose              print every tool command before it runs
  --help                 show this text
)" + signing_help_text() +
           R"(

The same inputs always give the same executable, byte for byte.
Exit status: 0 on success, 2 on any error (one line on standard error).
)";
}
