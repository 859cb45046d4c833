// Progress of a long packing run on a terminal: one line, rewritten in place,
// with files, bytes in, bytes out and the ratio. Nothing at all when standard
// error is not a terminal (build logs, tests), and nothing for runs that end
// within the first second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct PackingProgress {
    bool enabled = false;
    bool shown = false;  // a line is on the screen and needs its newline
    std::chrono::steady_clock::time_point start{};
    std::chrono::steady_clock::time_point last{};
    std::uint64_t files_total = 0;
    std::uint64_t files_done = 0;
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
};

// enabled: standard error is a terminal.
void progress_begin(PackingProgress& progress, std::uint64_t files_total);
// Updates the counters; redraws at most every quarter second.
void progress_update(PackingProgress& progress, std::uint64_t files_done, std::uint64_t bytes_in,
                     std::uint64_t bytes_out);
// Draws the final counters and ends the line, if anything was shown.
void progress_end(PackingProgress& progress);

// "packing: 3/58 files, 12.3 MB in, 4.1 MB out, ratio 33.3%"
std::string progress_line(std::uint64_t files_done, std::uint64_t files_total, std::uint64_t bytes_in,
                          std::uint64_t bytes_out);
bool standard_error_is_terminal();
