// Whatever icon people have, made into the six images the resources need: an
// icon file with PNG or BMP images of any sizes, or one PNG image. An image
// that is already an 8-bit RGBA PNG of one of the six sizes is kept byte for
// byte; every other size is resampled from the largest source image (made
// square on a transparent canvas first) with stb_image_resize's default
// filters and encoded with stb_image_write at a fixed compression level, so
// the same input gives the same bytes wherever the same library runs.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "image/icon_file.h"

// error says what is wrong, without the file name.
bool make_icon_images(const std::vector<unsigned char>& bytes, IconImages& images, std::string& error);

// Reads and converts; error names the file.
bool read_icon_source(const std::filesystem::path& path, IconImages& images, std::string& error);
