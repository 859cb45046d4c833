#include "launcher/run_marker.h"

#include "platform/system_calls.h"

namespace {

// Opened as itself: a link named like a marker is judged, and deleted, as
// the link.
constexpr DWORD marker_flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

}  // namespace

HANDLE hold_run_marker(const wchar_t* marker) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    // DELETE, so the parent can remove it through this handle at the end;
    // no delete sharing, so nobody else can open it for deletion meanwhile.
    return sys.CreateFileW(marker, DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_NEW,
                           marker_flags, nullptr);
}

HANDLE open_ended_run_marker(const wchar_t* marker) {
    // Refused with a sharing violation while any holder lives.
    return sys.CreateFileW(marker, DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr,  // lpSecurityAttributes: not inherited
                           OPEN_EXISTING, marker_flags, nullptr);
}

void release_run_marker(HANDLE marker, bool delete_it) {
    if (marker == INVALID_HANDLE_VALUE || marker == nullptr) return;
    if (delete_it) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        sys.SetFileInformationByHandle(marker, FileDispositionInfo, &disposition, sizeof disposition);
    }
    sys.CloseHandle(marker);
}
