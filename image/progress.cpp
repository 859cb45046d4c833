#include "image/progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr auto first_delay = std::chrono::seconds(1);
constexpr auto redraw_interval = std::chrono::milliseconds(250);

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

void draw(const PackingProgress& progress) {
    const std::string line =
        progress_line(progress.files_done, progress.files_total, progress.bytes_in, progress.bytes_out);
    // Trailing blanks wipe a longer line drawn before.
    std::fprintf(stderr, "\r%s   ", line.c_str());
    std::fflush(stderr);
}

}  // namespace

bool standard_error_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::string progress_line(std::uint64_t files_done, std::uint64_t files_total, std::uint64_t bytes_in,
                          std::uint64_t bytes_out) {
    std::string line = "packing: " + std::to_string(files_done) + "/" + std::to_string(files_total) + " files, " +
                       megabytes(bytes_in) + " in, " + megabytes(bytes_out) + " out";
    if (bytes_in > 0) {
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, ", ratio %.1f%%", 100.0 * static_cast<double>(bytes_out) / bytes_in);
        line += ratio;
    }
    return line;
}

void progress_begin(PackingProgress& progress, std::uint64_t files_total) {
    progress.enabled = standard_error_is_terminal();
    progress.shown = false;
    progress.start = progress.last = std::chrono::steady_clock::now();
    progress.files_total = files_total;
    progress.files_done = progress.bytes_in = progress.bytes_out = 0;
}

void progress_update(PackingProgress& progress, std::uint64_t files_done, std::uint64_t bytes_in,
                     std::uint64_t bytes_out) {
    progress.files_done = files_done;
    progress.bytes_in = bytes_in;
    progress.bytes_out = bytes_out;
    if (!progress.enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - progress.start < first_delay || now - progress.last < redraw_interval) return;
    progress.last = now;
    progress.shown = true;
    draw(progress);
}

void progress_end(PackingProgress& progress) {
    if (!progress.shown) return;
    draw(progress);
    std::fputc('\n', stderr);
    progress.shown = false;
}
