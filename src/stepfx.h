#pragma once
// What one single step did: the registers, flags and memory an instruction
// changed, written as one short line per instruction address and source
// line, and the register and memory snapshots that mark changes between
// stops. The window keeps a StepState and a Snapshot and calls these around
// every step and stop; nothing here paints or blocks.
#include "binimage.h"
#include "debugger_linux.h"
#include "disasm.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace stepfx {

// One memory operand the instruction about to be stepped writes.
struct MemWrite {
    uint64_t addr = 0;
    int size = 0;     // bytes compared, 1..8
    uint64_t old = 0; // little-endian value before the step
};

struct StepState {
    bool armed = false; // a step was armed and its effect is still to be recorded
    uint64_t arm_pc = 0;
    uint64_t arm_next = 0;
    bool arm_jump = false;
    bool arm_syscall = false;
    std::map<std::string, uint64_t> arm_regs;
    std::vector<MemWrite> arm_mem;

    std::map<uint64_t, std::string> effects; // by instruction address
    std::map<int, std::string> line_effects; // by 0-based source line
};

// A data label of the program with its first bytes at a stop.
struct Variable {
    std::string name;
    uint64_t addr = 0;          // run-time address
    std::vector<uint8_t> bytes; // at most kVarBytes, cut at the next symbol
};

// Taken once per shown stop, so painters read values instead of the process.
struct Snapshot {
    std::map<std::string, uint64_t> regs_now;
    std::map<std::string, uint64_t> prev_regs;
    // What each register's value points to at this stop (only non-empty texts).
    std::map<std::string, std::string> pointees;
    std::vector<Variable> vars; // the first kMaxVars data labels that could be read
    std::map<uint64_t, std::vector<uint8_t>> mem_snap; // by start address of the part taken
    std::set<uint64_t> mem_changed;
    // The snapshot before last, kept only so its buffers are reused instead
    // of allocating (and faulting in) megabytes at every stop.
    std::map<uint64_t, std::vector<uint8_t>> mem_spare;
};

// What a value points to ("" for nothing); the window passes its own,
// which knows the program's symbols.
using Pointee = std::function<std::string(uint64_t)>;

constexpr size_t kMaxEffects = 20000;
constexpr uint64_t kStackTake = 65536;
constexpr uint64_t kRegionTake = 1048576;
constexpr uint64_t kMemBudget = 8388608;
constexpr size_t kMaxChanged = 200000;
constexpr int64_t kMaxStackMove = 0xFFFF;
constexpr size_t kMaxVars = 12;
constexpr size_t kVarBytes = 16;

// Live values of one decoded operand of the stopped process.
uint64_t operand_address(const dbg::Process& proc, const dis::Operand& op);
bool operand_value(const dbg::Process& proc, const dis::Operand& op, uint64_t* value, uint64_t* addr);

// Where a written memory operand really lands. A push, call, enter or pushf
// names its hidden stack write as [rsp] but stores below the stack pointer.
uint64_t write_address(const dbg::Process& proc, const dis::Operand& op);

// Called just before a single step into or over; a step out or any other
// resume calls disarm instead.
void arm_step(StepState& st, dbg::Process& proc);
void disarm(StepState& st);
// The effect line of the armed step, read after the step stopped.
std::string effect_text(const StepState& st, dbg::Process& proc, const Pointee& pointee);
// Stores (or, for an empty text, removes) the armed step's effect under its
// address and under `line` when that is 0 or more, and disarms.
void record_effect(StepState& st, dbg::Process& proc, int line, const Pointee& pointee);
// Forgets effects and arming, as a new start does.
void clear(StepState& st);

void snapshot_regs(Snapshot& snap, dbg::Process& proc, const Pointee& pointee = nullptr);
void snapshot_memory(Snapshot& snap, const dbg::Process& proc);
// The data labels of the program's image: symbols that are not functions and
// lie in a non-executable section with an address, shifted by the load bias.
void snapshot_vars(Snapshot& snap, const dbg::Process& proc, const BinImage& img);
// The parts snapshot_memory takes from a memory map: {start, length}.
std::vector<std::pair<uint64_t, uint64_t>> snapshot_plan(const std::vector<dbg::Region>& regions);

// The C library's name and text of an error number ("EBADF", "Bad file
// descriptor"); false when the number has no name.
bool errno_name(int err, std::string* name, std::string* text);

} // namespace stepfx
