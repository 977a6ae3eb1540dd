#include "sim/core.h"

#include <chrono>
#include <cstdio>
#include <map>

namespace sim {
namespace {

struct FaultState {
    Fault rule;
    int uses = 0;   // matching uses seen so far
    int failed = 0; // uses that were failed
};

struct Core {
    std::vector<Call> journal;
    std::uint64_t nextSeq = 1;
    std::vector<FaultState> faults;
    std::vector<std::string> misuses;
    std::uint64_t nowMs = 0;
    std::uint64_t nextObjectId = 1;
    std::map<std::uint64_t, ObjectInfo> objects;
    std::vector<std::function<void()>> resetHooks;
};

Core& State() {
    static Core core;
    return core;
}

bool Matches(const Fault& rule, const std::string& call, const FaultContext& context) {
    if (rule.call != call) return false;
    if (rule.driverType && (!context.driverType || *context.driverType != *rule.driverType)) return false;
    if (rule.monitor && (!context.monitor || *context.monitor != *rule.monitor)) return false;
    return true;
}

}  // namespace

std::uint64_t Record(std::string name, std::string args, long result) {
    Core& core = State();
    const std::uint64_t seq = core.nextSeq++;
    core.journal.push_back(Call{seq, core.nowMs, std::move(name), std::move(args), result});
    return seq;
}

void SetResult(std::uint64_t seq, long result) {
    // Sequence numbers start at 1 and are never skipped, so seq - 1 is the index
    // unless the journal was cleared since.
    std::vector<Call>& journal = State().journal;
    if (seq >= 1 && seq <= journal.size() && journal[seq - 1].seq == seq) journal[seq - 1].result = result;
}

const std::vector<Call>& Journal() { return State().journal; }

std::vector<Call> CallsNamed(const std::string& name) {
    std::vector<Call> calls;
    for (const Call& call : State().journal)
        if (call.name == name) calls.push_back(call);
    return calls;
}

std::size_t CountCalls(const std::string& name) { return CallsNamed(name).size(); }

void AddFault(Fault fault) { State().faults.push_back(FaultState{std::move(fault), 0, 0}); }

void ClearFaults() { State().faults.clear(); }

std::optional<Fault> ShouldFail(const std::string& call, const FaultContext& context) {
    std::optional<Fault> chosen;
    for (FaultState& state : State().faults) {
        if (!Matches(state.rule, call, context)) continue;
        ++state.uses;
        if (chosen) continue;  // the first matching rule decides; the others still count the use
        const bool reached = state.rule.nth == 0 || state.uses >= state.rule.nth;
        const bool exact = state.rule.nth == 0 || state.rule.times != -1 || state.uses == state.rule.nth;
        const bool budget = state.rule.times < 0 || state.failed < state.rule.times;
        if (reached && exact && budget) {
            ++state.failed;
            chosen = state.rule;
        }
    }
    return chosen;
}

void ReportMisuse(std::string what) {
    std::fprintf(stderr, "sim: MISUSE: %s\n", what.c_str());
    State().misuses.push_back(std::move(what));
}

const std::vector<std::string>& Misuses() { return State().misuses; }

std::uint64_t NowMs() { return State().nowMs; }
std::uint64_t NowNs() { return State().nowMs * 1000000ull; }

void AdvanceTo(std::uint64_t ms) {
    if (ms > State().nowMs) State().nowMs = ms;
}

std::uint64_t RegisterObject(std::string type) {
    Core& core = State();
    const std::uint64_t id = core.nextObjectId++;
    core.objects[id] = ObjectInfo{id, std::move(type), 1};
    return id;
}

void UpdateObjectRefs(std::uint64_t id, ULONG refs) {
    auto it = State().objects.find(id);
    if (it != State().objects.end()) it->second.refs = refs;
}

void UnregisterObject(std::uint64_t id) { State().objects.erase(id); }

std::vector<ObjectInfo> LiveObjects() {
    std::vector<ObjectInfo> live;
    for (const auto& [id, info] : State().objects) live.push_back(info);
    return live;
}

void OnReset(std::function<void()> hook) { State().resetHooks.push_back(std::move(hook)); }

void Reset() {
    Core& core = State();
    for (auto& hook : core.resetHooks) hook();
    core.journal.clear();
    core.nextSeq = 1;
    core.faults.clear();
    core.misuses.clear();
    core.nowMs = 0;
    core.objects.clear();
}

}  // namespace sim

// The program under test reads std::chrono::steady_clock for its animation.
// Defining the library's out-of-line now() here makes every steady-clock read
// in a simulation binary return virtual time, so a test can say "t = 0.125 s"
// without touching the program's source.
namespace std::chrono {
inline namespace _V2 {
steady_clock::time_point steady_clock::now() noexcept {
    return time_point(duration(static_cast<duration::rep>(sim::NowNs())));
}
}  // namespace _V2
}  // namespace std::chrono
