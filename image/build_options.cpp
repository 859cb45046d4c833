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
    {"--list", &BuildOptions::list},
    {"--extract", &BuildOptions::extract},
    {"--to", &BuildOptions::extract_to},
    {"--verify", &BuildOptions::verify},
};

// --list, --extract (with --to) and --verify read a built exe and stand alone.
bool check_inspection(const std::set<std::string>& seen, std::string& error) {
    const std::set<std::string> inspecting = {"--list", "--extract", "--verify"};
    std::string chosen, other;
    for (const auto& name : seen) {
        if (inspecting.count(name) != 0) {
            other = chosen.empty() ? other : name;
            chosen = chosen.empty() ? name : chosen;
        } else if (name != "--to") {
            other = name;
        }
    }
    if ((chosen == "--extract") != (seen.count("--to") != 0)) {
        error = chosen == "--extract" ? "--extract needs --to DIR" : "--to DIR goes only with --extract";
        return false;
    }
    if (!other.empty()) {
        error = chosen + " cannot be combined with " + other;
        return false;
    }
    return true;
}

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
        if ((name == "--verbose" || name == "--console") && !has_value) {
            (name == "--verbose" ? options.verbose : options.console) = true;
            seen.insert(name);
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
    const bool inspecting = seen.count("--list") + seen.count("--extract") + seen.count("--verify") != 0;
    if (inspecting || seen.count("--to") != 0) return check_inspection(seen, error);
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
       onefile-build --list X.exe | --extract X.exe --to DIR | --verify X.exe

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
  --icon FILE            an .ico with PNG or BMP images of any sizes, or one
                         .png (default: the kit's icon); the six images of 16
                         to 256 pixels are made from it and packed too, as an
                         .ico named after FILE, unless FILE is already such an
                         icon inside DIR
  --console              a launcher for the console subsystem, for command-line
                         applications (default: GUI subsystem, no console)
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

Inspecting a built exe (nothing is run; a signed exe reads the same):
  --list X.exe           company, product, version, mode, content key, then
                         every archive entry in order with its size
  --extract X.exe --to DIR
                         write the entries into DIR (made if missing, else it
                         must be empty), refusing unsafe names as the launcher
  --verify X.exe         check that the payload decodes completely and that
                         the image contract holds

The same inputs always give the same executable, byte for byte.
Exit status: 0 on success, 2 on any error (one line on standard error).
)";
}
