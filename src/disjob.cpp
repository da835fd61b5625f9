// The disassembly worker. Everything the worker touches lives in one block
// shared between the job and the thread, so the job can go away (quitting
// the window) while the thread still finishes on its own data: nothing of
// the job is written after it is destroyed, and no destructor waits long.
#include "disjob.h"

#include "toolchain.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <new>
#include <system_error>
#include <thread>

struct DisJob::Work {
    BinImage image;
    std::map<std::string, std::string> tool_paths;
    std::atomic<bool> cancel { false };
    std::promise<Outcome> promise;
};

namespace {

// How long the destructor lets a cancelled worker finish before leaving it.
constexpr auto kGrace = std::chrono::seconds(3);

void work(std::shared_ptr<DisJob::Work> w)
{
    tc::use_tool_paths(&w->tool_paths);
    tc::set_cancel_flag(&w->cancel);
    DisJob::Outcome out;
    try {
        out.result = reasm::disassemble(w->image, true);
    } catch (const std::bad_alloc&) {
        out = DisJob::Outcome();
        out.no_memory = true;
    } catch (const std::exception& e) {
        out = DisJob::Outcome();
        out.error = e.what();
    } catch (...) {
        out = DisJob::Outcome();
        out.error = "exception";
    }
    if (w->cancel.load() && out.error.empty() && !out.no_memory)
        out.error = "cancelled";
    tc::set_cancel_flag(nullptr);
    tc::use_tool_paths(nullptr);
    // Freed here, not by whoever drops the last reference.
    w->image = BinImage();
    w->promise.set_value(std::move(out));
}

} // namespace

std::unique_ptr<DisJob> DisJob::start(const BinImage& image, std::string* err)
{
    if (image.m_data.empty()) {
        if (err)
            *err = "empty";
        return nullptr;
    }
    // Made on this thread, before the worker may need it.
    tc::temp_dir();
    std::unique_ptr<DisJob> job(new DisJob());
    job->m_name = source_name(image.m_path);
    try {
        job->m_work = std::make_shared<Work>();
        job->m_work->image = image;
        job->m_work->tool_paths = tc::tool_paths();
        job->m_fut = job->m_work->promise.get_future();
        std::thread(work, job->m_work).detach();
    } catch (const std::bad_alloc&) {
        if (err)
            *err = "memory";
        return nullptr;
    } catch (const std::system_error&) {
        if (err)
            *err = "thread";
        return nullptr;
    }
    return job;
}

DisJob::~DisJob()
{
    if (!m_fut.valid() || ready())
        return;
    // Quitting while the worker runs: it stops its tools, and it owns what
    // it still uses, so after a short grace it is simply left to end.
    cancel();
    m_fut.wait_for(kGrace);
}

bool DisJob::ready() const
{
    return m_fut.valid() && m_fut.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

DisJob::Outcome DisJob::take()
{
    if (!m_fut.valid()) {
        Outcome o;
        o.error = "taken";
        return o;
    }
    return m_fut.get();
}

void DisJob::cancel()
{
    if (m_work)
        m_work->cancel.store(true);
}

std::string DisJob::source_name(const std::string& image_path)
{
    size_t slash = image_path.rfind('/');
    std::string base = slash == std::string::npos ? image_path : image_path.substr(slash + 1);
    if (base.empty())
        base = "program";
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0)
        base.resize(dot);
    return base + ".asm";
}

uint64_t DisJob::memory_available()
{
    if (const char* env = getenv("QXASM_TEST_MEMAVAIL"))
        return strtoull(env, nullptr, 10);
    uint64_t avail = 0;
    std::ifstream in("/proc/meminfo");
    std::string key, unit;
    uint64_t value = 0;
    while (in >> key >> value >> unit) {
        if (key == "MemAvailable:") {
            avail = value * 1024;
            break;
        }
    }
    // An address-space limit (ulimit -v) ends allocations long before the
    // machine runs out: what is left of it counts too.
    struct rlimit lim {};
    if (getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
        uint64_t pages = 0;
        std::ifstream statm("/proc/self/statm");
        statm >> pages;
        const uint64_t used = pages * uint64_t(sysconf(_SC_PAGESIZE));
        // 1, not 0: nothing left is known, not unknown.
        const uint64_t room = lim.rlim_cur > used ? lim.rlim_cur - used : 1;
        avail = avail ? std::min(avail, room) : room;
    }
    return avail;
}

uint64_t DisJob::memory_needed(uint64_t image_bytes) { return image_bytes * 55 + 67108864ULL; }

bool DisJob::memory_ok(uint64_t image_bytes, uint64_t available)
{
    return available == 0 || available / 10 * 8 >= memory_needed(image_bytes);
}

std::string DisJob::human_bytes(uint64_t bytes)
{
    char buf[32];
    if (bytes < (1ULL << 30))
        snprintf(buf, sizeof buf, "%.0f MB", double(bytes) / double(1 << 20));
    else
        snprintf(buf, sizeof buf, "%.1f GB", double(bytes) / double(1ULL << 30));
    return buf;
}
