#include "launcher/child_job.h"

#include "platform/system_calls.h"

namespace {

constexpr DWORD child_job_limits = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;

HANDLE make_child_job() {
    HANDLE job = CreateJobObjectW(nullptr,   // lpJobAttributes: never inherited
                                  nullptr);  // lpName: none
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = child_job_limits;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

}  // namespace

HANDLE enclose_child_in_job(HANDLE child) {
    HANDLE job = make_child_job();
    if (job == nullptr) return nullptr;
    if (!sys.AssignProcessToJobObject(job, child)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}
