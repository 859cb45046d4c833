#include "probe_report.h"

#include <windows.h>

#include <cstdlib>

namespace {

std::string escape_field(const std::wstring& field) {
    std::string out;
    for (const char c : to_utf8(field)) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool unescape_field(const std::string& field, std::wstring& out) {
    std::string bytes;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            bytes += field[i];
            continue;
        }
        if (++i == field.size()) return false;
        switch (field[i]) {
            case '\\':
                bytes += '\\';
                break;
            case 't':
                bytes += '\t';
                break;
            case 'n':
                bytes += '\n';
                break;
            case 'r':
                bytes += '\r';
                break;
            default:
                return false;
        }
    }
    out = from_utf8(bytes);
    return true;
}

void add_record(std::string& out, std::initializer_list<std::wstring> fields) {
    bool first = true;
    for (const std::wstring& field : fields) {
        if (!first) out += '\t';
        out += escape_field(field);
        first = false;
    }
    out += '\n';
}

std::wstring hex(std::uint64_t value) {
    wchar_t text[17];
    for (int i = 15; i >= 0; --i, value >>= 4) text[i] = L"0123456789abcdef"[value & 15];
    text[16] = L'\0';
    return text;
}

bool parse_number(const std::wstring& text, int base, std::uint64_t& value) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    value = std::wcstoull(text.c_str(), &end, base);
    return *end == L'\0';
}

bool split_record(const std::string& line, std::vector<std::wstring>& fields) {
    fields.clear();
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        std::wstring field;
        if (!unescape_field(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start), field))
            return false;
        fields.push_back(field);
        if (tab == std::string::npos) return true;
        start = tab + 1;
    }
}

bool apply_record(const std::vector<std::wstring>& f, ProbeReport& report) {
    const std::wstring& kind = f[0];
    std::uint64_t number = 0;
    if (kind == L"pid" && f.size() == 2 && parse_number(f[1], 10, number)) {
        report.pid = static_cast<unsigned long>(number);
    } else if (kind == L"library" && f.size() == 2) {
        report.library_path = f[1];
    } else if (kind == L"arg" && f.size() == 2) {
        report.arguments.push_back(f[1]);
    } else if (kind == L"env" && f.size() == 3) {
        report.environment[f[1]] = f[2];
    } else if (kind == L"unset" && f.size() == 2) {
        report.environment[f[1]] = std::nullopt;
    } else if (kind == L"folder" && f.size() == 2) {
        report.extraction_folder[f[1]] = TreeEntry{true, 0, 0};
    } else if (kind == L"file" && f.size() == 4) {
        TreeEntry entry;
        if (!parse_number(f[2], 10, entry.size) || !parse_number(f[3], 16, entry.hash)) return false;
        report.extraction_folder[f[1]] = entry;
    } else if (kind == L"listing-failed" && f.size() == 1) {
        report.listing_ok = false;
    } else if (kind == L"held" && f.size() == 2 && parse_number(f[1], 10, number)) {
        report.held_handle = number;
    } else if (kind == L"private" && f.size() == 2 && parse_number(f[1], 10, number)) {
        report.private_bytes = number;
    } else if (kind == L"end" && f.size() == 1) {
        report.complete = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::string to_utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int units = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), units, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring from_utf8(const std::string& text) {
    if (text.empty()) return {};
    const int bytes = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, nullptr, 0);
    std::wstring out(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, out.data(), units);
    return out;
}

std::string format_report(const ProbeReport& report) {
    std::string out;
    add_record(out, {L"pid", std::to_wstring(report.pid)});
    add_record(out, {L"library", report.library_path});
    for (const std::wstring& argument : report.arguments) add_record(out, {L"arg", argument});
    for (const auto& [name, value] : report.environment) {
        if (value)
            add_record(out, {L"env", name, *value});
        else
            add_record(out, {L"unset", name});
    }
    for (const auto& [name, entry] : report.extraction_folder) {
        if (entry.is_folder)
            add_record(out, {L"folder", name});
        else
            add_record(out, {L"file", name, std::to_wstring(entry.size), hex(entry.hash)});
    }
    if (!report.listing_ok) add_record(out, {L"listing-failed"});
    if (report.held_handle != 0) add_record(out, {L"held", std::to_wstring(report.held_handle)});
    if (report.private_bytes != 0) add_record(out, {L"private", std::to_wstring(report.private_bytes)});
    if (report.complete) add_record(out, {L"end"});
    return out;
}

bool parse_report(const std::string& text, ProbeReport& report) {
    report = ProbeReport{};
    size_t start = 0;
    std::vector<std::wstring> fields;
    while (start < text.size()) {
        const size_t line_end = text.find('\n', start);
        if (line_end == std::string::npos) return false;
        if (!split_record(text.substr(start, line_end - start), fields) || !apply_record(fields, report)) return false;
        start = line_end + 1;
    }
    return true;
}
