// Runs the fuzzer's entry over a corpus without libFuzzer, so any compiler can
// build it and CTest can replay the corpus as a regression test.
//
//   payload_corpus_replay [-v] PATH...    (files, or folders of files)
//
// A file's name may state what must happen to it:
//   walk-*                 the walk reaches the end marker;
//   refuse-<reason>-*      the input is refused with the launcher's message for
//                          <reason>: header, decode, long-name or unsafe-name.
// Other names (inputs the fuzzer found) need only pass without a crash.
// Exit status 0 when every expectation holds, 1 otherwise, 2 on usage errors.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/payload_input.h"

namespace fs = std::filesystem;

namespace {

struct Reason {
    const char* key;
    const char* message;
};

constexpr Reason reasons[] = {
    {"header", "Error, couldn't find attached data header."},
    {"decode", "Error, couldn't decode attached data."},
    {"long-name", "Error, attached data holds an entry name that is too long."},
    {"unsafe-name", "Error, attached data holds an unsafe entry name."},
};

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The message a "refuse-" name asks for; nullptr for an unknown reason.
const char* expected_refusal(const std::string& name) {
    for (const Reason& reason : reasons) {
        if (starts_with(name, std::string("refuse-") + reason.key + "-")) return reason.message;
    }
    return nullptr;
}

// Empty when the outcome matches what the name asks for, else why not.
std::string check_expectation(const std::string& name, const InputOutcome& outcome) {
    if (starts_with(name, "walk-")) {
        return outcome.walked ? "" : std::string("expected a full walk, refused with: ") + outcome.refusal;
    }
    if (starts_with(name, "refuse-")) {
        const char* wanted = expected_refusal(name);
        if (wanted == nullptr) return "unknown reason in the file name";
        if (outcome.walked) return std::string("expected refusal \"") + wanted + "\", walked to the end marker";
        if (std::strcmp(outcome.refusal, wanted) != 0) {
            return std::string("expected refusal \"") + wanted + "\", got \"" + outcome.refusal + "\"";
        }
    }
    return "";
}

bool collect(const fs::path& path, std::vector<fs::path>& files) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        for (const auto& entry : fs::directory_iterator(path, error)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
    } else if (fs::is_regular_file(path, error)) {
        files.push_back(path);
    } else {
        std::fprintf(stderr, "payload_corpus_replay: no such file or folder: %s\n", path.c_str());
        return false;
    }
    return !error;
}

std::vector<unsigned char> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    bool verbose = false;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-v") == 0) {
            verbose = true;
        } else if (!collect(argv[i], files)) {
            return 2;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: payload_corpus_replay [-v] PATH...\n");
        return 2;
    }
    std::sort(files.begin(), files.end());

    int walked = 0;
    int failed = 0;
    for (const fs::path& file : files) {
        std::vector<unsigned char> input = read_file(file);
        InputOutcome outcome = run_payload_input(input.data(), input.size());
        if (outcome.walked) ++walked;
        std::string problem = check_expectation(file.filename().string(), outcome);
        if (!problem.empty()) {
            ++failed;
            std::printf("FAIL %s: %s\n", file.c_str(), problem.c_str());
        } else if (verbose) {
            if (outcome.walked) {
                std::printf("ok   %s: walked, %llu entries, %llu data bytes\n", file.c_str(),
                            static_cast<unsigned long long>(outcome.walk.entries),
                            static_cast<unsigned long long>(outcome.walk.data_bytes));
            } else {
                std::printf("ok   %s: refused: %s\n", file.c_str(), outcome.refusal);
            }
        }
    }
    std::printf("%zu inputs: %d walked to the end marker, %zu refused, %d not as their names expect\n", files.size(),
                walked, files.size() - walked, failed);
    return failed == 0 ? 0 : 1;
}
