// The executable's resources, as bytes that onefile-build generates and hands
// to the resource compiler as raw numeric resources, so every byte is ours:
//   RT_VERSION (16) id 1      version_resource()
//   RT_MANIFEST (24) id 1     manifest_text()
//   RT_GROUP_ICON (14) id 1   icon_group()
//   RT_ICON (3) ids 1 to 6    the icon file's PNG images, unchanged
// all language neutral. (The compiler's own VERSIONINFO statement writes
// structure version 0x00010000 and its ICON statement planes 1; ours are 0.)
#pragma once

#include <string>
#include <vector>

#include "image/build_constants.h"
#include "image/icon_file.h"

// VS_VERSIONINFO: fixed part with structure version 0, one string table
// "000004b0" with the eight keys in their fixed order, translation 0x0000/1200.
std::vector<unsigned char> version_resource(const BuildTexts& texts);

// The eight string-table entries in order (key, value).
std::vector<std::pair<std::u16string, std::u16string>> version_strings(const BuildTexts& texts);

// The manifest: one line of XML, no line break.
std::string manifest_text();

// GRPICONDIR with six entries, ids 1 to 6 in icon_sizes order.
std::vector<unsigned char> icon_group(const IconImages& images);

// Generated file names inside the work folder, and the script naming them.
inline constexpr char version_file[] = "version.bin";
inline constexpr char manifest_file[] = "manifest.xml";
inline constexpr char icon_group_file[] = "icon-group.bin";
std::string icon_image_file(std::size_t index);  // "icon1.png" .. "icon6.png"
std::string resource_script();
