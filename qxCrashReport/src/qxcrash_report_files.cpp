// Which report files belong together: an early report meeting a waiting one,
// and a crash log meeting a newer report.
#include "qxcrash_detail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qxcrash::detail {

namespace {

bool modified(const std::string& path, timespec* when)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    *when = st.st_mtim;
    return true;
}

bool older(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool write_fresh(const std::string& path, const std::string& text)
{
    int fd = open_fresh(path.c_str());
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return close(fd) == 0 && done == text.size();
}

} // namespace

bool keep_both_reports(const std::string& early, const std::string& report)
{
    if (!file_exists(report))
        return file_rename(early, report);
    // A report nobody has seen yet is waiting: one file offers both, the
    // newer first.
    std::string first, second;
    timespec early_time {}, report_time {};
    if (!file_read(early, &first, 262144) || !file_read(report, &second, 262144)
        || !modified(early, &early_time) || !modified(report, &report_time))
        return false;
    if (older(early_time, report_time))
        std::swap(first, second);
    std::string merged = report + ".new";
    if (!write_fresh(merged, first + "\n" + second))
        return false;
    if (!file_rename(merged, report)) {
        file_remove(merged);
        return false;
    }
    file_remove(early);
    return true;
}

bool crash_log_current(const std::string& crash_log, const std::string& report)
{
    timespec log_time {}, report_time {};
    if (!modified(crash_log, &log_time))
        return false;
    // The copy is made at the start after a crash, so one older than the
    // report belongs to an earlier crash.
    return !modified(report, &report_time) || !older(log_time, report_time);
}

} // namespace qxcrash::detail
