// Files and folders for the extraction tests.
#pragma once

#include <string>

#include "support/payload_fixtures.h"

namespace extraction_fixtures {

// An empty folder for the running test, named after it under one root per
// test run. A death-test child inherits the root through the environment, so
// it works in the same folder as its parent, which can then look at what the
// child left behind. The root is removed when the process that made it ends.
std::wstring fresh_test_directory();

bool exists(const std::wstring& path);
bool is_directory(const std::wstring& path);
payload_fixtures::Bytes read_file(const std::wstring& path);
void write_file(const std::wstring& path, const payload_fixtures::Bytes& bytes);
void remove_tree(const std::wstring& path);

}  // namespace extraction_fixtures
