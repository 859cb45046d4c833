#include "image/toolchain_link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/file_io.h"
#include "image/image_objects.h"
#include "image/kit_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::string command_text(const std::vector<std::string>& argv) {
    std::string text;
    for (const auto& arg : argv) text += (text.empty() ? "" : " ") + arg;
    return text;
}

#ifdef _WIN32

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring quoted_argument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    out += L'"';
    return out;
}

// output_file, when given, receives the tool's standard output and error.
bool start_and_wait(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                    const std::filesystem::path* output_file, int& status, std::string& error) {
    std::wstring line;
    for (const auto& arg : argv) {
        if (!line.empty()) line += L' ';
        line += quoted_argument(std::filesystem::path(arg).wstring());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    HANDLE output = INVALID_HANDLE_VALUE;
    if (output_file != nullptr) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE /* bInheritHandle */};
        output = CreateFileW(output_file->wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (output == INVALID_HANDLE_VALUE) {
            error =
                "cannot create '" + output_file->string() + "' (Windows error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, output_file != nullptr /* bInheritHandles */, 0, nullptr,
                       folder.wstring().c_str(), &startup, &process);
    const DWORD start_error = GetLastError();
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (!started) {
        error = "cannot start '" + argv[0] + "' (Windows error " + std::to_string(start_error) + ")";
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    status = static_cast<int>(code);
    return true;
}

#else

bool redirect_output(const std::filesystem::path& file) {
    const int output = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return output >= 0 && dup2(output, STDOUT_FILENO) >= 0 && dup2(output, STDERR_FILENO) >= 0;
}

// The child reports a failed exec through a close-on-exec pipe, so "could not
// start" is told apart from a tool that ran and failed. output_file, when
// given, receives the tool's standard output and error.
bool start_and_wait(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                    const std::filesystem::path* output_file, int& status, std::string& error) {
    std::vector<char*> vector;
    for (const auto& arg : argv) vector.push_back(const_cast<char*>(arg.c_str()));
    vector.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        error = std::string("cannot start a process: ") + std::strerror(errno);
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        close(report[0]);
        int failure = 0;
        if (output_file != nullptr && !redirect_output(*output_file)) {
            failure = errno;
        } else if (chdir(folder.c_str()) != 0) {
            failure = errno;
        } else {
            execvp(vector[0], vector.data());
            failure = errno;
        }
        ssize_t ignored = write(report[1], &failure, sizeof failure);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int failure = 0;
    ssize_t got;
    do {
        got = read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof failure)) {
        error = "cannot start '" + argv[0] + "': " + std::strerror(failure);
        return false;
    }
    if (WIFSIGNALED(wait_status)) {
        error = "'" + argv[0] + "' was killed by signal " + std::to_string(WTERMSIG(wait_status));
        return false;
    }
    status = WEXITSTATUS(wait_status);
    return true;
}

#endif

}  // namespace

bool run_tool(const std::vector<std::string>& argv, const std::filesystem::path& folder, bool verbose,
              std::string& error) {
    if (verbose) std::fprintf(stderr, "onefile-build: running %s\n", command_text(argv).c_str());
    int status = 0;
    if (!start_and_wait(argv, folder, nullptr, status, error)) return false;
    if (status != 0) {
        error = "'" + argv[0] + "' failed with exit code " + std::to_string(status) + ": " + command_text(argv);
        return false;
    }
    return true;
}

bool run_tool_collecting(const std::vector<std::string>& argv, const std::filesystem::path& folder, bool verbose,
                         int& status, std::string& output, std::string& error) {
    if (verbose) std::fprintf(stderr, "onefile-build: running %s\n", command_text(argv).c_str());
    const std::filesystem::path output_file = folder / tool_output_file;
    if (!start_and_wait(argv, folder, &output_file, status, error)) return false;
    std::vector<unsigned char> bytes;
    if (!read_file(output_file, bytes, error)) return false;
    output.assign(bytes.begin(), bytes.end());
    return true;
}

std::vector<std::vector<std::string>> image_commands(const Kit& kit, const std::string& output_name) {
    std::vector<std::vector<std::string>> commands;
    commands.push_back({kit.cxx, "-c", payload_source_file, "-o", "payload.o"});
    commands.push_back({kit.cxx, "-c", constants_source_file, "-o", "constants.o"});
    commands.push_back({kit.windres, "--input", "resources.rc", "--input-format=rc", "--output", "resources.o",
                        "--output-format=coff"});
    std::vector<std::string> link = {kit.cxx};
    link.insert(link.end(), kit.link_flags.begin(), kit.link_flags.end());
    // Stripped: a symbol table would lie after the last section.
    link.push_back("-s");
    link.insert(link.end(), {"-o", output_name, "payload.o", "constants.o", "resources.o"});
    // The runtime's entry calls wWinMain in the launcher library, which calls
    // back into the runtime: one group resolves the cycle.
    link.push_back("-Wl,--start-group");
    for (const auto& library : kit.libraries) link.push_back(library.string());
    link.insert(link.end(), kit.link_libraries.begin(), kit.link_libraries.end());
    link.push_back("-Wl,--end-group");
    commands.push_back(link);
    return commands;
}

bool use_console_subsystem(std::vector<std::string>& link_flags, std::string& error) {
    const std::string gui_flag = "-Wl,--subsystem,windows:";
    for (auto& flag : link_flags) {
        if (flag.rfind(gui_flag, 0) == 0) {
            flag = "-Wl,--subsystem,console:" + flag.substr(gui_flag.size());
            return true;
        }
    }
    error = "the kit's link flags set no GUI subsystem (" + gui_flag + "...) to change";
    return false;
}
