// onefile-image-check: checks a launcher built by onefile-build against the
// image contract and prints one line per broken rule.
//
//   onefile-image-check --exe OUT.exe --block BLOCK --icon FILE.ico
//                       [--company TEXT] [--product TEXT] [--version TEXT]
//                       [--subsystem gui|console]
//
// BLOCK is what the packer wrote for the same application folder. Exit
// status 0 when every check holds, 1 when one fails, 2 for bad arguments.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/build_constants.h"
#include "image/image_contract.h"

namespace {

bool read_all(const std::string& path, std::vector<unsigned char>& bytes) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return false;
    bytes.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    return !stream.bad();
}

int usage(const std::string& message) {
    std::fprintf(stderr, "onefile-image-check: error: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string exe, block, icon;
    std::string company = build_constants::default_company;
    std::string product = build_constants::default_product;
    std::string version = build_constants::default_version;
    std::string subsystem = "gui";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        std::string* target = name == "--exe"         ? &exe
                              : name == "--block"     ? &block
                              : name == "--icon"      ? &icon
                              : name == "--company"   ? &company
                              : name == "--product"   ? &product
                              : name == "--version"   ? &version
                              : name == "--subsystem" ? &subsystem
                                                      : nullptr;
        if (target == nullptr) return usage("unknown option '" + name + "'");
        *target = argv[i + 1];
    }
    if (argc % 2 == 0 || exe.empty() || block.empty() || icon.empty() ||
        (subsystem != "gui" && subsystem != "console")) {
        return usage(
            "usage: onefile-image-check --exe OUT.exe --block BLOCK --icon FILE.ico [--company T] "
            "[--product T] [--version T] [--subsystem gui|console]");
    }
    ContractExpectations expected;
    expected.subsystem = subsystem == "console" ? subsystem_console : subsystem_gui;
    std::string error;
    BuildTexts texts;
    if (!make_build_texts(company, product, version, texts, error)) return usage(error);
    expected.company = texts.company;
    expected.product = texts.product;
    expected.version = texts.version;
    expected.version_parts = texts.version_parts;
    std::vector<unsigned char> image;
    if (!read_all(exe, image)) return usage("cannot read '" + exe + "'");
    if (!read_all(block, expected.block)) return usage("cannot read '" + block + "'");
    if (!read_all(icon, expected.icon_file)) return usage("cannot read '" + icon + "'");
    const std::vector<std::string> failures = check_image_contract(image, expected);
    for (const auto& failure : failures) std::printf("FAIL: %s\n", failure.c_str());
    if (!failures.empty()) {
        std::printf("%s: %zu image contract checks failed\n", exe.c_str(), failures.size());
        return 1;
    }
    std::printf("%s: image contract holds\n", exe.c_str());
    return 0;
}
