// onefile-build: application folder in, launcher executable out.
//
//   options -> kit -> texts -> icon -> payload block (packed, or given;
//   signed builds pack a staging copy whose PE files are signed)
//   -> work folder: payload.s, constants.s, resources.rc and their inputs
//   -> assemble, compile the resources, link (-> sign) -> OUT.exe
//
// --list, --extract and --verify read a built exe instead (exe_inspection.h).
// Any failure prints one line "onefile-build: error: ..." and exits with 2.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "image/build_options.h"
#include "image/exe_inspection.h"
#include "image/code_signing.h"
#include "image/file_io.h"
#include "image/icon_file.h"
#include "image/icon_source.h"
#include "image/image_objects.h"
#include "image/kit_files.h"
#include "image/packer.h"
#include "image/resources.h"
#include "image/text_encoding.h"
#include "image/toolchain_link.h"

#ifdef _WIN32
#include <process.h>
#define onefile_process_id _getpid
#else
#include <unistd.h>
#define onefile_process_id getpid
#endif

namespace fs = std::filesystem;

namespace {

constexpr int exit_failure_code = 2;
constexpr char linked_image_file[] = "image.exe";
constexpr char signed_app_folder[] = "signed-app";

int fail(const std::string& message) {
    std::fprintf(stderr, "onefile-build: error: %s\n", message.c_str());
    return exit_failure_code;
}

// A fresh folder under the system's temporary folder for the generated
// sources and objects; main removes it whether the build worked or not.
bool make_work_folder(fs::path& folder, std::string& error) {
    std::error_code code;
    const fs::path base = fs::temp_directory_path(code);
    if (code) {
        error = "no temporary folder: " + code.message();
        return false;
    }
    for (int attempt = 0; attempt < 1000; ++attempt) {
        folder = base / ("onefile-build-" + std::to_string(onefile_process_id()) + "-" + std::to_string(attempt));
        if (fs::create_directory(folder, code)) return true;
        if (code) break;
    }
    error = "cannot create a work folder in '" + base.string() + "'" + (code ? ": " + code.message() : "");
    return false;
}

// The packed icon entry is the six-image icon the resources use. An icon file
// inside the application folder that already holds exactly those images is
// packed where it lies; otherwise the six-image icon goes in at the top level,
// named after the given file with ".ico", never in place of a file of the
// folder.
bool icon_payload_entry(const fs::path& app_dir, const fs::path& icon, const fs::path& icon_file,
                        const IconImages& images, std::vector<ExtraFile>& extra, std::string& error) {
    std::error_code code;
    const fs::path relative = fs::weakly_canonical(icon, code).lexically_relative(fs::weakly_canonical(app_dir, code));
    std::vector<unsigned char> bytes;
    IconImages lying;
    std::string ignored;
    if (!code && !relative.empty() && *relative.begin() != ".." && relative.is_relative() &&
        read_file(icon, bytes, ignored) && parse_icon_file(bytes, lying, ignored) &&
        icon_file_bytes(lying) == icon_file_bytes(images)) {
        return true;
    }
    const std::string name = icon.stem().string() + ".ico";
    if (fs::exists(app_dir / name, code)) {
        error = "the six-image icon made from '" + icon.string() + "' would be packed as '" + name +
                "', which the application folder already holds; give an icon from elsewhere";
        return false;
    }
    ExtraFile file;
    file.source = icon_file;
    if (!utf8_to_utf16(name, file.name)) {
        error = "icon file name '" + icon.filename().string() + "' is not valid UTF-8";
        return false;
    }
    extra.push_back(std::move(file));
    return true;
}

// signer is null for an unsigned build.
bool make_block(const BuildOptions& options, const Signer* signer, const fs::path& work, const fs::path& icon,
                const fs::path& icon_file, const IconImages& images, std::vector<unsigned char>& block,
                std::string& error) {
    if (!options.payload_block.empty()) return read_file(options.payload_block, block, error);
    PackRequest request;
    request.app_dir = options.app_dir;
    request.app_library = options.app_library;
    request.level = options.level;
    if (!icon_payload_entry(request.app_dir, icon, icon_file, images, request.extra_files, error)) return false;
    if (signer != nullptr) {
        request.app_dir = work / signed_app_folder;
        if (!stage_signed_copy(*signer, options.app_dir, request.app_dir, work, error)) return false;
    }
    PackResult result;
    if (!pack_app_folder(request, result, error)) return false;
    block = std::move(result.block);
    return true;
}

bool write_sources(const fs::path& work, const std::vector<unsigned char>& block, const BuildTexts& texts,
                   const IconImages& images, std::string& error) {
    if (!write_file(work / payload_block_file, block, error) ||
        !write_file(work / payload_source_file, payload_assembly(block.size()), error) ||
        !write_file(work / constants_source_file, constants_assembly(texts), error) ||
        !write_file(work / version_file, version_resource(texts), error) ||
        !write_file(work / manifest_file, manifest_text(), error) ||
        !write_file(work / icon_group_file, icon_group(images), error) ||
        !write_file(work / "resources.rc", resource_script(), error)) {
        return false;
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (!write_file(work / icon_image_file(i), images[i].png, error)) return false;
    }
    return true;
}

bool place_output(const fs::path& linked, const fs::path& output, std::string& error) {
    std::vector<unsigned char> image;
    return read_file(linked, image, error) && write_file(output, image, error);
}

bool build_in(const fs::path& work, const BuildOptions& options, Kit kit, const Signer* signer, std::string& error) {
    BuildTexts texts;
    if (!make_build_texts(options.company, options.product, options.version, texts, error)) return false;
    const fs::path icon = options.icon.empty() ? kit.default_icon : fs::path(options.icon);
    IconImages images;
    if (!read_icon_source(icon, images, error)) return false;
    const fs::path icon_file = work / "packed_icon.ico";
    std::vector<unsigned char> block;
    if (!write_file(icon_file, icon_file_bytes(images), error) ||
        !make_block(options, signer, work, icon, icon_file, images, block, error)) {
        return false;
    }
    if (options.console && !use_console_subsystem(kit.link_flags, error)) return false;
    if (!write_sources(work, block, texts, images, error)) return false;
    for (const auto& command : image_commands(kit, linked_image_file)) {
        if (!run_tool(command, work, options.verbose, error)) return false;
    }
    const fs::path image = work / linked_image_file;
    if (signer != nullptr && !sign_file(*signer, image, "the executable", work, error)) return false;
    if (!options.save_payload_block.empty() && !write_file(options.save_payload_block, block, error)) return false;
    return place_output(image, options.output, error);
}

bool check_output_folder(const fs::path& output, std::string& error) {
    std::error_code code;
    const fs::path parent = fs::absolute(output, code).parent_path();
    if (code || !fs::is_directory(parent, code)) {
        error = "the folder of --output '" + output.string() + "' does not exist";
        return false;
    }
    if (fs::is_directory(output, code)) {
        error = "--output '" + output.string() + "' is a folder";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    BuildOptions options;
    std::string error;
    if (!parse_build_options(arguments, options, error)) return fail(error);
    if (options.help) {
        std::fputs(build_help_text().c_str(), stdout);
        return 0;
    }
    if (!options.list.empty()) return list_exe(options.list, stdout, error) ? 0 : fail(error);
    if (!options.extract.empty())
        return extract_exe(options.extract, options.extract_to, stdout, error) ? 0 : fail(error);
    if (!options.verify.empty()) return verify_exe(options.verify, stdout, error) ? 0 : fail(error);
    if (!check_output_folder(options.output, error)) return fail(error);
    Signer signer;
    const bool signing = signing_requested(options.signing);
    if (signing && !prepare_signer(options.signing, options.verbose, signer, error)) return fail(error);
    fs::path kit_dir;
    Kit kit;
    if (!locate_kit(options.kit, kit_dir, error) || !load_kit(kit_dir, kit, error)) return fail(error);
    fs::path work;
    if (!make_work_folder(work, error)) return fail(error);
    const bool built = build_in(work, options, kit, signing ? &signer : nullptr, error);
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return built ? 0 : fail(error);
}
