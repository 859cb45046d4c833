#include "launcher/folder_lock.h"

#include "format/cache_layout.h"
#include "launcher/run_state.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

constexpr DWORD shared_wait_tries = 200;
constexpr DWORD shared_wait_step_ms = 10;

HANDLE open_lock(const wchar_t* folder, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    wchar_t lock_path[path_capacity];
    if (!folder_lock_path(lock_path, folder, path_capacity)) return nullptr;
    HANDLE lock = CreateFileW(lock_path, access, share,
                              nullptr,  // lpSecurityAttributes: default
                              disposition, flags,
                              nullptr);  // hTemplateFile
    return lock == INVALID_HANDLE_VALUE ? nullptr : lock;
}

}  // namespace

bool folder_lock_path(wchar_t* lock_path, const wchar_t* folder, std::size_t capacity) {
    lock_path[0] = L'\0';
    if (wide_length(folder) + wide_length(cache_layout::lock_suffix) >= capacity) return false;
    wide_copy(lock_path, folder, capacity);
    wide_append(lock_path, cache_layout::lock_suffix, capacity);
    return true;
}

HANDLE open_shared_lock(const wchar_t* folder) {
    return open_lock(folder, GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
}

HANDLE wait_for_shared_lock(const wchar_t* folder) {
    for (DWORD attempt = 0; attempt < shared_wait_tries; ++attempt) {
        HANDLE lock = open_shared_lock(folder);
        if (lock != nullptr) return lock;
        sys.Sleep(shared_wait_step_ms);
    }
    return nullptr;
}

HANDLE open_exclusive_lock(const wchar_t* folder) {
    return open_lock(folder, GENERIC_READ | DELETE, 0, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE);
}

HANDLE create_private_lock(const wchar_t* folder) {
    return open_lock(folder, GENERIC_READ | DELETE, FILE_SHARE_READ, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
}

void release_lock(HANDLE lock) {
    if (lock != nullptr) CloseHandle(lock);
}
