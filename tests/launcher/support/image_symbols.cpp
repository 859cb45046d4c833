// What the build links into the image beside the launcher objects, for the
// launcher test executables: a small payload block and the build constants.
#include <cstdint>

// The block as the build writes it, assembled by hand: one entry "app.dll"
// holding "hello", then the end marker, stored in a single raw zstd block.
extern "C" const unsigned char onefile_payload_block[] = {
    'Q',
    'Z',
    'Y',
    // frame: magic, header descriptor 0x00, window descriptor 0x88 (2^27)
    0x28,
    0xB5,
    0x2F,
    0xFD,
    0x00,
    0x88,
    // last raw block of 31 bytes: 1 | 0 << 1 | 31 << 3, little-endian
    0xF9,
    0x00,
    0x00,
    // archive: "app.dll", terminator, size 5, "hello", end marker
    'a',
    0,
    'p',
    0,
    'p',
    0,
    '.',
    0,
    'd',
    0,
    'l',
    0,
    'l',
    0,
    0,
    0,
    5,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    'h',
    'e',
    'l',
    'l',
    'o',
    0,
    0,
    // trailer: two zero bytes, then 3 + 40 + 2 as u64
    0,
    0,
    45,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
};
extern "C" const std::uint64_t PAYLOAD_SIZE = sizeof onefile_payload_block;

extern "C" const wchar_t onefile_company_name[] = L"Vellmore Limited";
extern "C" const wchar_t onefile_product_name[] = L"Lumbrick";
extern "C" const wchar_t onefile_version_text[] = L"1.0.0.0";
// Temp mode, as a build without --cache-dir writes it.
extern "C" const wchar_t onefile_cache_spec[] = L"";
extern "C" const wchar_t onefile_temp_spec[] = L"{TEMP}";
extern "C" const wchar_t onefile_content_key[] = L"0123456789abcdef0123456789abcdef";
