// What probe_app.dll saw, as it writes it to the file named by PROBE_REPORT
// and as the harness reads it back.
//
// The file is UTF-8, one record per line, fields separated by tabs; inside a
// field '\' is written "\\", a tab "\t", a line feed "\n" and a carriage
// return "\r", so any argument survives. Records:
//   pid <id>                       the probe's own process id
//   library <path>                 run_code's library path
//   arg <text>                     one per argument, in order
//   env <name> <value>             a variable that is set
//   unset <name>                   a variable that is not set
//   folder <name> | file <name> <size> <hash hex>   the extraction folder
//   listing-failed                 the folder could not be listed
//   held <handle>                  a handle duplicated into the harness
//   private <bytes>                committed private memory inside run_code
//   end                            the report is complete
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tree_listing.h"

// The variables the probe reports: the launcher's own and the one it clears.
inline constexpr const wchar_t* probe_variables[] = {
    L"ZORVEK_ONEFILE_PARENT", L"ZORVEK_ONEFILE_START",     L"ZORVEK_ONEFILE_TIME_US",
    L"ZORVEK_ONEFILE_RANDOM", L"ZORVEK_ONEFILE_DIRECTORY", L"ZORVEK_ORIGINAL_ARGV0",
};

struct ProbeReport {
    unsigned long pid = 0;
    std::wstring library_path;
    std::vector<std::wstring> arguments;
    std::map<std::wstring, std::optional<std::wstring>> environment;
    TreeListing extraction_folder;
    bool listing_ok = true;
    std::uint64_t held_handle = 0;
    std::uint64_t private_bytes = 0;
    bool complete = false;
};

std::string format_report(const ProbeReport& report);
// False for text that is not a report; an unfinished one parses with
// complete == false.
bool parse_report(const std::string& text, ProbeReport& report);

std::string to_utf8(const std::wstring& text);
std::wstring from_utf8(const std::string& text);
