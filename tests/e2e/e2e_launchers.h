// The launchers and folders the build made for these tests (tests/e2e/CMakeLists.txt).
#pragma once

#include <string>

#include "launcher_run.h"

// probe_app.dll with the data tree of make_tree.py, packed by onefile-build.
inline std::wstring probe_launcher() {
    return build_path(E2E_PROBE_LAUNCHER);
}
// A symbolic link to probe_launcher().
inline std::wstring probe_launcher_symlink() {
    return build_path(E2E_PROBE_SYMLINK);
}
// The staged folder probe_launcher() was packed from.
inline std::wstring probe_app_folder() {
    return build_path(E2E_PROBE_APP_DIR);
}
// A launcher around the hand-made block <name> of make_blocks.py.
inline std::wstring block_launcher(const std::wstring& name) {
    return build_path(E2E_BLOCK_LAUNCHER_DIR) + L"\\" + name + L".exe";
}
