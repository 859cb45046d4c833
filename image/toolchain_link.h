// Running the cross toolchain: each tool is started directly with its
// argument vector (no shell, so no quoting problems) in the work folder, so
// the generated files are named relatively and no temporary path can leak
// into the objects.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct Kit;

// Runs argv[0] (looked up on PATH when it has no slash) in folder and waits.
// False with a message when it cannot start or does not exit with 0.
bool run_tool(const std::vector<std::string>& argv, const std::filesystem::path& folder, bool verbose,
              std::string& error);

// Runs argv like run_tool, but what it prints goes through the file
// tool_output_file in folder into output instead of onto our own streams, and
// status is its exit code whatever it is: the caller words the failure.
inline constexpr char tool_output_file[] = "tool-output.txt";
bool run_tool_collecting(const std::vector<std::string>& argv, const std::filesystem::path& folder, bool verbose,
                         int& status, std::string& output, std::string& error);

// The commands onefile-build runs in the work folder, in order: assemble the
// payload and the constants, compile the resources, link output_name.
std::vector<std::vector<std::string>> image_commands(const Kit& kit, const std::string& output_name);

// The kit's link flags set the GUI subsystem in one flag; a console launcher
// changes only that flag, so every other image setting is the same in both.
bool use_console_subsystem(std::vector<std::string>& link_flags, std::string& error);
