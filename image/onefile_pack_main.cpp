// onefile-pack: the packer alone. Writes the payload block of an application
// folder to a file (what onefile-build links, and what tests damage on
// purpose before linking it with --payload-block).
#include <cstdio>
#include <string>
#include <vector>

#include "image/file_io.h"
#include "image/packer.h"

namespace {

constexpr int exit_failure_code = 2;

int fail(const std::string& message) {
    std::fprintf(stderr, "onefile-pack: error: %s\n", message.c_str());
    return exit_failure_code;
}

constexpr char help_text[] = R"(Usage: onefile-pack --app-dir DIR --output BLOCK [options]

Packs every file under DIR into a payload block ("QZY", one zstd frame,
trailer) and writes it to BLOCK.

Options:
  --app-library NAME   the application library at the top level of DIR
                       (default: the only DLL there exporting run_code)
  --level N            zstd compression level, 1 to 22 (default: 9)
  --help               show this text

Exit status: 0 on success, 2 on any error (one line on standard error).
)";

}  // namespace

int main(int argc, char** argv) {
    PackRequest request;
    std::string output;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(help_text, stdout);
            return 0;
        }
        if (name != "--app-dir" && name != "--output" && name != "--app-library" && name != "--level") {
            return fail("unknown argument '" + name + "'; see onefile-pack --help");
        }
        if (i + 1 == argc) return fail(name + " needs a value");
        const std::string value = argv[++i];
        if (name == "--app-dir") request.app_dir = value;
        if (name == "--output") output = value;
        if (name == "--app-library") request.app_library = value;
        if (name == "--level" && !parse_level(value, request.level, error)) return fail(error);
    }
    if (request.app_dir.empty() || output.empty()) return fail("--app-dir and --output are required");
    PackResult result;
    if (!pack_app_folder(request, result, error) || !write_file(output, result.block, error)) return fail(error);
    return 0;
}
