#include "launcher/launcher_state.h"

wchar_t entry_name[entry_name_capacity];
wchar_t current_file_path[path_capacity];
wchar_t application_library_path[path_capacity];
wchar_t identity_path[module_path_capacity];
wchar_t launcher_module_path[module_path_capacity];
wchar_t launcher_directory[module_path_capacity];
wchar_t run_marker_path[run_marker_capacity];
