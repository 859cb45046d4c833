// The one formatter behind every printf-like function of the image; it writes
// to a sink, so the same code serves the buffered standard output, the
// unbuffered standard error and snprintf's fixed buffer.
//
// Wide text ("%ls", "%lc") is written as UTF-8: a path with characters outside
// any narrow code page is printed whole, never cut or replaced by '?'. A
// precision on "%ls" counts bytes, as C says, and never splits a character.
#include "runtime/runtime.h"

#include <stdarg.h>

namespace {

constexpr int int_max = 0x7FFFFFFF;

void put_byte(rt_sink* sink, char byte) {
    ++sink->produced;
    if (sink->used == sink->capacity) {
        if (sink->drain == nullptr) return;
        sink->drain(sink);
        if (sink->used == sink->capacity) return;  // the target refused the bytes: drop
    }
    sink->buffer[sink->used++] = byte;
}

void put_bytes(rt_sink* sink, const char* bytes, rt_size count) {
    for (rt_size i = 0; i < count; ++i) put_byte(sink, bytes[i]);
}

void put_repeated(rt_sink* sink, char byte, int count) {
    for (; count > 0; --count) put_byte(sink, byte);
}

enum class Length { none, hh, h, l, ll, j, z, t, L };

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;  // -1: none given
    Length length = Length::none;
    char conversion = '\0';
};

// A decimal number in a directive; saturates instead of overflowing.
int read_count(const char*& p) {
    int value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        int digit = *p - '0';
        value = value > (int_max - digit) / 10 ? int_max : value * 10 + digit;
    }
    return value;
}

// Reads flags, width, precision and length after the '%'; p ends on the conversion.
Directive read_directive(const char*& p, va_list* arguments) {
    Directive d;
    for (;; ++p) {
        if (*p == '-')
            d.left = true;
        else if (*p == '+')
            d.plus = true;
        else if (*p == ' ')
            d.space = true;
        else if (*p == '0')
            d.zero = true;
        else if (*p == '#')
            d.alternate = true;
        else
            break;
    }
    if (*p == '*') {
        ++p;
        int width = va_arg(*arguments, int);
        if (width < 0) {
            d.left = true;
            width = width == -int_max - 1 ? int_max : -width;
        }
        d.width = width;
    } else {
        d.width = read_count(p);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++p;
            int precision = va_arg(*arguments, int);
            d.precision = precision < 0 ? -1 : precision;
        } else {
            d.precision = read_count(p);
        }
    }
    switch (*p) {
        case 'h':
            d.length = p[1] == 'h' ? Length::hh : Length::h;
            p += d.length == Length::hh ? 2 : 1;
            break;
        case 'l':
            d.length = p[1] == 'l' ? Length::ll : Length::l;
            p += d.length == Length::ll ? 2 : 1;
            break;
        case 'j':
        case 'z':
        case 't':
        case 'L':
            d.length = *p == 'j' ? Length::j : *p == 'z' ? Length::z : *p == 't' ? Length::t : Length::L;
            ++p;
            break;
        default:
            break;
    }
    d.conversion = *p;
    return d;
}

long long read_signed(const Directive& d, va_list* arguments) {
    switch (d.length) {
        case Length::hh:
            return static_cast<signed char>(va_arg(*arguments, int));
        case Length::h:
            return static_cast<short>(va_arg(*arguments, int));
        case Length::l:
            return va_arg(*arguments, long);
        case Length::ll:
        case Length::j:
        case Length::z:
        case Length::t:
            return va_arg(*arguments, long long);
        default:
            return va_arg(*arguments, int);
    }
}

unsigned long long read_unsigned(const Directive& d, va_list* arguments) {
    switch (d.length) {
        case Length::hh:
            return static_cast<unsigned char>(va_arg(*arguments, unsigned));
        case Length::h:
            return static_cast<unsigned short>(va_arg(*arguments, unsigned));
        case Length::l:
            return va_arg(*arguments, unsigned long);
        case Length::ll:
        case Length::j:
        case Length::z:
        case Length::t:
            return va_arg(*arguments, unsigned long long);
        default:
            return va_arg(*arguments, unsigned);
    }
}

void pad_before(rt_sink* sink, const Directive& d, int length) {
    if (!d.left && d.width > length) put_repeated(sink, ' ', d.width - length);
}

void pad_after(rt_sink* sink, const Directive& d, int length) {
    if (d.left && d.width > length) put_repeated(sink, ' ', d.width - length);
}

void format_integer(rt_sink* sink, const Directive& d, unsigned long long magnitude, bool negative) {
    unsigned base = d.conversion == 'o' ? 8 : (d.conversion == 'x' || d.conversion == 'X') ? 16 : 10;
    const char* digit_set = d.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";

    char digits[24];  // 64 bits in octal need 22
    int digit_count = 0;
    for (unsigned long long rest = magnitude; rest != 0; rest /= base) digits[digit_count++] = digit_set[rest % base];
    if (magnitude == 0 && d.precision != 0) digits[digit_count++] = '0';

    int zeros = d.precision > digit_count ? d.precision - digit_count : 0;
    // '#' with 'o' raises the precision just enough for a leading zero.
    if (d.conversion == 'o' && d.alternate && zeros == 0 && (digit_count == 0 || digits[digit_count - 1] != '0'))
        zeros = 1;

    char prefix[2];
    int prefix_length = 0;
    bool is_signed = d.conversion == 'd' || d.conversion == 'i';
    if (is_signed && negative)
        prefix[prefix_length++] = '-';
    else if (is_signed && d.plus)
        prefix[prefix_length++] = '+';
    else if (is_signed && d.space)
        prefix[prefix_length++] = ' ';
    if (base == 16 && d.alternate && magnitude != 0) {
        prefix[prefix_length++] = '0';
        prefix[prefix_length++] = d.conversion;
    }

    int length = prefix_length + zeros + digit_count;
    // '0' pads with zeros between prefix and digits; a precision or '-' cancels it.
    if (d.zero && !d.left && d.precision < 0 && d.width > length) {
        zeros += d.width - length;
        length = d.width;
    }
    pad_before(sink, d, length);
    put_bytes(sink, prefix, static_cast<rt_size>(prefix_length));
    put_repeated(sink, '0', zeros);
    while (digit_count > 0) put_byte(sink, digits[--digit_count]);
    pad_after(sink, d, length);
}

void format_narrow_text(rt_sink* sink, const Directive& d, const char* text) {
    if (text == nullptr) text = "(null)";
    int length = 0;
    while ((d.precision < 0 || length < d.precision) && text[length] != '\0' && length < int_max) ++length;
    pad_before(sink, d, length);
    put_bytes(sink, text, static_cast<rt_size>(length));
    pad_after(sink, d, length);
}

// Bytes of the UTF-8 form of text that fit the precision (whole characters only).
int utf8_length(const wchar_t* text, int precision) {
    int length = 0;
    char encoded[4];
    for (const wchar_t* p = text; *p != L'\0';) {
        int units = 0;
        int bytes = rt_encode_utf8(p, encoded, &units);
        if ((precision >= 0 && bytes > precision - length) || bytes > int_max - length) break;
        length += bytes;
        p += units;
    }
    return length;
}

void format_wide_text(rt_sink* sink, const Directive& d, const wchar_t* text) {
    if (text == nullptr) text = L"(null)";
    int length = utf8_length(text, d.precision);
    pad_before(sink, d, length);
    char encoded[4];
    for (int written = 0; written < length;) {
        int units = 0;
        int bytes = rt_encode_utf8(text, encoded, &units);
        put_bytes(sink, encoded, static_cast<rt_size>(bytes));
        written += bytes;
        text += units;
    }
    pad_after(sink, d, length);
}

void format_character(rt_sink* sink, const Directive& d, va_list* arguments) {
    char encoded[4];
    int length = 1;
    if (d.length == Length::l) {
        wchar_t unit[2] = {static_cast<wchar_t>(va_arg(*arguments, int)), L'\0'};
        int units = 0;
        length = rt_encode_utf8(unit, encoded, &units);
    } else {
        encoded[0] = static_cast<char>(va_arg(*arguments, int));
    }
    pad_before(sink, d, length);
    put_bytes(sink, encoded, static_cast<rt_size>(length));
    pad_after(sink, d, length);
}

// Formats one directive; false when the conversion is not one we know.
bool format_directive(rt_sink* sink, const Directive& d, va_list* arguments) {
    switch (d.conversion) {
        case 'd':
        case 'i': {
            long long value = read_signed(d, arguments);
            unsigned long long magnitude =
                value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
            format_integer(sink, d, magnitude, value < 0);
            return true;
        }
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            format_integer(sink, d, read_unsigned(d, arguments), false);
            return true;
        case 'c':
            format_character(sink, d, arguments);
            return true;
        case 's':
            if (d.length == Length::l) {
                format_wide_text(sink, d, va_arg(*arguments, const wchar_t*));
            } else {
                format_narrow_text(sink, d, va_arg(*arguments, const char*));
            }
            return true;
        case '%':
            put_byte(sink, '%');
            return true;
        default:
            return false;
    }
}

}  // namespace

int rt_format(rt_sink* sink, const char* format, rt_va_list arguments) {
    va_list rest;
    va_copy(rest, arguments);
    rt_size start = sink->produced;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            put_byte(sink, *p);
            continue;
        }
        const char* directive_start = p;
        ++p;
        Directive d = read_directive(p, &rest);
        if (d.conversion == '\0') {
            // A directive cut off by the end of the format: written as it stands.
            put_bytes(sink, directive_start, static_cast<rt_size>(p - directive_start));
            break;
        }
        if (!format_directive(sink, d, &rest))
            put_bytes(sink, directive_start, static_cast<rt_size>(p + 1 - directive_start));
    }
    va_end(rest);
    rt_size produced = sink->produced - start;
    if (produced > static_cast<rt_size>(int_max)) {
        rt_errno = rt_EOVERFLOW;
        return -1;
    }
    return static_cast<int>(produced);
}

int rt_vsnprintf(char* buffer, rt_size capacity, const char* format, rt_va_list arguments) {
    rt_sink sink{buffer, capacity == 0 ? 0 : capacity - 1, 0, 0, nullptr, nullptr};
    int result = rt_format(&sink, format, arguments);
    if (capacity > 0) buffer[sink.used] = '\0';
    return result;
}

int rt_snprintf(char* buffer, rt_size capacity, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = rt_vsnprintf(buffer, capacity, format, arguments);
    va_end(arguments);
    return result;
}
