#pragma once
// "Disassemble to source" off the main thread: one worker converts its own
// copy of an image (with its own copy of the tool paths) into NASM source
// that rebuilds the same bytes. The window starts a job, asks `ready`
// each loop turn without waiting, and takes the outcome once.
#include "binimage.h"
#include "reasm.h"

#include <cstdint>
#include <future>
#include <memory>
#include <string>

class DisJob {
public:
    struct Outcome {
        reasm::Result result;
        bool no_memory = false; // the worker ran out of memory
        std::string error;      // another failure of the worker: its message, "cancelled"
    };

    // Starts a job on a copy of the image. Refuses an image without bytes
    // (the placeholder document) with "empty", and "thread" when no worker
    // thread can be made; null then.
    static std::unique_ptr<DisJob> start(const BinImage& image, std::string* err);

    // The name of the source to be made: the image's base name without its
    // extension (a leading "." is kept), "program" without a path, + ".asm".
    static std::string source_name(const std::string& image_path);
    // Available memory in bytes: QXASM_TEST_MEMAVAIL when set (text that is
    // no number gives 0), else MemAvailable of /proc/meminfo or what is left
    // of the address-space limit, whichever is less; 0 when unknown.
    static uint64_t memory_available();
    // Bytes a job on an image of that size needs: 55 per byte + 64 MiB.
    static uint64_t memory_needed(uint64_t image_bytes);
    // False when the job would need more than 80% of the available memory;
    // an unknown figure (0) never refuses.
    static bool memory_ok(uint64_t image_bytes, uint64_t available);
    // "500 MB" below 1 GiB, else "1.5 GB".
    static std::string human_bytes(uint64_t bytes);

    ~DisJob();
    DisJob(const DisJob&) = delete;
    DisJob& operator=(const DisJob&) = delete;

    const std::string& name() const { return m_name; }
    // The outcome is there (never waits).
    bool ready() const;
    // The outcome; only once, and only after ready.
    Outcome take();
    // Asks the worker to stop soon: its running tool ends, no new one starts.
    void cancel();

    // What the worker owns: the image copy, the tool paths, the cancel flag.
    struct Work;

private:
    DisJob() = default;

    std::string m_name;
    std::shared_ptr<Work> m_work;
    std::future<Outcome> m_fut;
};
