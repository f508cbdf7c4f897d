// The one harness of kiv's command-line tests: kiv run as a user runs it,
// against kivsim on a pseudo-terminal, natively. The preload library gives
// the pseudo-terminal modem lines, frame settings and an output queue, and
// logs what kiv asked. Each test file groups its cases as tables over it.
#pragma once
#include <sys/types.h>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

std::string ReadWhole(const std::string& path);
void WriteWhole(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Bytes of every value a block carries: no NUL (ends a block), no 0x1A
// (ends a receive).
std::string Pattern(size_t n, uint32_t seed);
// Starts args[0] with env added, stdin on inPath (or /dev/null), stderr to
// errPath, stdout to outPath (or /dev/null).
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& errPath, const std::string& cwd = "", const std::string& outPath = "",
            const std::string& inPath = "");
// The exit status, or 1000 + the signal that ended the process.
int ExitStatus(pid_t pid);
// The same, with the processor time (user and system) the process used.
int ExitStatusAndCpu(pid_t pid, double* cpuSeconds);
std::vector<std::string> Words(const std::string& text);
// The fields of a Kcsv file's data records after the system columns, one
// string per record.
std::vector<std::string> DataValues(const std::string& kcsv);

// Link flags of the fast cable most rows use, and kivsim's side of it.
extern const char kCable[];
extern const char kSimCable[];
extern const char kSimIr[];

// One kivsim run and kiv runs beside it, in a folder of their own that the
// run removes again.
struct KivRun {
    std::string dir;
    pid_t sim = -1;
    std::string File(const std::string& name) const { return dir + "/" + name; }
    std::string Line() const { return File("line"); }
    // The archive of pulls kiv keeps when no other is given.
    std::string Archive() const { return File("data/kiv/archive.sqlite"); }

    KivRun();
    ~KivRun();
    // kivsim with its scenario; false when its line did not come up.
    bool StartSim(const std::string& flags);
    int FinishSim();
    // Tells kivsim to end its run (its --stop file), then waits for it.
    int StopSim();
    // kiv with the preload library, started in the run's folder or its sub;
    // its stderr goes to kiv.err, its stdout to kiv.out. In args, LINE is kivsim's line and @NAME a
    // file of the run's folder. env is added to kiv's environment; stdin
    // is in (a file of the run's folder, a FIFO the test writes to) or /dev/null.
    pid_t StartKiv(const std::string& args, const std::string& sub = "",
                   const std::vector<std::string>& env = {}, const std::string& in = "");
    int Kiv(const std::string& args, const std::string& sub = "") { return ExitStatus(StartKiv(args, sub)); }
    // kiv run with args under the counting library (tools/kivcount): its
    // exit status, and *work what it counted by name ("bytes", "allocations",
    // "allocated", "syncs"; all 0 when kiv wrote no count).
    int CountedKiv(const std::string& args, std::map<std::string, double>* work);
    std::string Err() const { return ReadWhole(File("kiv.err")); }
    std::string Out() const { return ReadWhole(File("kiv.out")); }
    // The preload library's log lines of one kind, the time stamps cut off.
    std::vector<std::string> Log(const std::string& kind) const;
};
