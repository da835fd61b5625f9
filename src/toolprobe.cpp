#include "toolprobe.h"

#include "toolchain.h"

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace toolprobe {
namespace {

enum class Kind { Version, Crt32 };

struct Job {
    Kind kind;
    std::string path;
    std::string key;
};

// Never destroyed: the detached worker may still be inside a tool run when
// the program ends.
struct Shared {
    std::mutex mutex;
    std::map<std::string, std::optional<std::string>> answers; // nullopt: queued or running
    std::deque<Job> queue;
    bool worker = false;
    std::atomic<uint64_t> generation { 0 };
};

Shared& shared()
{
    static Shared* s = new Shared;
    return *s;
}

// The file as it is now: a new or changed program gets a new key.
std::string identity(Kind kind, const std::string& path)
{
    struct stat st {};
    std::string key = (kind == Kind::Version ? "v\n" : "c\n") + path;
    if (stat(path.c_str(), &st) == 0)
        key += "\n" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":"
               + std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "."
               + std::to_string(st.st_mtim.tv_nsec);
    return key;
}

void work()
{
    Shared& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    while (!s.queue.empty()) {
        Job job = s.queue.front();
        s.queue.pop_front();
        lock.unlock();
        std::string answer = job.kind == Kind::Version ? tc::tool_version(job.path)
                                                       : (tc::has_crt32(job.path) ? "1" : "");
        lock.lock();
        s.answers[job.key] = answer;
        s.generation.fetch_add(1);
    }
    s.worker = false;
}

std::optional<std::string> ask(Kind kind, const std::string& path)
{
    if (!tc::is_executable(path))
        return std::string();
    std::string key = identity(kind, path);
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.answers.find(key);
    if (it != s.answers.end())
        return it->second;
    s.answers.emplace(key, std::nullopt);
    s.queue.push_back({ kind, path, key });
    if (!s.worker) {
        try {
            std::thread(work).detach();
            s.worker = true;
        } catch (const std::system_error&) {
            // No thread to spare: the tool stays unknown rather than block.
            s.queue.clear();
            for (auto& [k, answer] : s.answers)
                if (!answer)
                    answer = std::string();
            return std::string();
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> version(const std::string& path)
{
    return ask(Kind::Version, path);
}

std::optional<bool> crt32(const std::string& compiler)
{
    std::optional<std::string> answer = ask(Kind::Crt32, compiler);
    if (!answer)
        return std::nullopt;
    return !answer->empty();
}

uint64_t generation()
{
    return shared().generation.load();
}

bool busy()
{
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.worker;
}

} // namespace toolprobe
