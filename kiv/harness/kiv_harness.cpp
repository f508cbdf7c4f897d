#include "kiv_harness.h"
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

const char kCable[] = "--link cable --speed 115200 --no-xonxoff -q";
const char kSimCable[] = "--baud 115200 --format 8N1";
const char kSimIr[] = "--baud 9600 --format 8O1";

std::string ReadWhole(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteWhole(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string Pattern(size_t n, uint32_t seed)
{
    std::string s;
    uint32_t x = seed * 2654435761u + 1;
    while (s.size() < n) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        uint8_t b = (uint8_t)(x >> 24);
        if (b != 0 && b != 0x1A)
            s.push_back((char)b);
    }
    return s;
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& errPath, const std::string& cwd, const std::string& outPath,
            const std::string& inPath)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        for (const std::string& e : env)
            putenv(strdup(e.c_str()));
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_RDWR);
        int out = outPath.empty() ? null : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(inPath.empty() ? null : open(inPath.c_str(), O_RDONLY), 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int ExitStatus(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

int ExitStatusAndCpu(pid_t pid, double* cpuSeconds)
{
    int status = 0;
    struct rusage use = {};
    wait4(pid, &status, 0, &use);
    *cpuSeconds = (double)(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                  (double)(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::vector<std::string> DataValues(const std::string& kcsv)
{
    std::vector<std::string> values;
    for (size_t at = 0, end; (end = kcsv.find("\r\n", at)) != std::string::npos; at = end + 2) {
        if (kcsv.compare(at, 4, "\"D\",") != 0)
            continue;
        size_t slot = at;
        for (int k = 0; k < 6; k++)
            slot = kcsv.find(',', slot) + 1;
        values.push_back(kcsv.substr(slot, end - slot));
    }
    return values;
}

KivRun::KivRun()
{
    char tmpl[] = "/tmp/kiv-test-XXXXXX";
    dir = mkdtemp(tmpl) ? tmpl : "";
}

KivRun::~KivRun()
{
    if (sim > 0) {
        kill(sim, SIGKILL);
        waitpid(sim, nullptr, 0);
    }
    std::string cmd = "chmod -R u+rwx '" + dir + "' 2>/dev/null; rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0)
        ADD_FAILURE() << "cannot remove " << dir;
}

bool KivRun::StartSim(const std::string& flags)
{
    std::vector<std::string> args = {KIVSIM_PATH, "--link",    Line(),   "--ready",    File("ready"),
                                     "--record",  File("rec"), "--stop", File("stop"), "--timeout",
                                     "30000",     "--linger",  "300"};
    for (const std::string& w : Words(flags))
        args.push_back(w);
    sim = Spawn(args, {}, File("sim.err"));
    for (int i = 0; i < 500 && !Exists(File("ready")); i++)
        usleep(10000);
    return Exists(File("ready"));
}

int KivRun::FinishSim()
{
    int status = ExitStatus(sim);
    sim = -1;
    return status;
}

int KivRun::StopSim()
{
    std::ofstream(File("stop")).put('\n');
    return FinishSim();
}

pid_t KivRun::StartKiv(const std::string& args, const std::string& sub, const std::vector<std::string>& env,
                       const std::string& in)
{
    std::vector<std::string> argv = {KIV_PATH};
    for (const std::string& w : Words(args))
        argv.push_back(w == "LINE" ? Line() : w.rfind("@", 0) == 0 ? File(w.substr(1)) : w);
    // A sanitized kiv takes the library in front of its runtime.
    const char* asan = getenv("ASAN_OPTIONS");
    std::string asanOptions = std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0";
    // The archive of pulls stays in the run's folder, never the user's.
    std::vector<std::string> fullEnv = {"LD_PRELOAD=" KIV_PTY_SHIM, "KIV_PTY_LOG=" + File("pty.log"),
                                        asanOptions, "XDG_DATA_HOME=" + File("data")};
    fullEnv.insert(fullEnv.end(), env.begin(), env.end());
    return Spawn(argv, fullEnv, File("kiv.err"), sub.empty() ? dir : File(sub), File("kiv.out"),
                 in.empty() ? "" : File(in));
}

int KivRun::CountedKiv(const std::string& args, std::map<std::string, double>* work)
{
    std::string count = File("kiv.count");
    unlink(count.c_str());
    int status = ExitStatus(
        StartKiv(args, "", {"LD_PRELOAD=" KIV_PTY_SHIM ":" KIV_COUNT_SHIM, "KIV_COUNT_FILE=" + count}));
    *work = {{"bytes", 0}, {"allocations", 0}, {"allocated", 0}, {"syncs", 0}, {"peak", 0}};
    std::istringstream in(ReadWhole(count));
    std::string name;
    for (double value; in >> name >> value;)
        (*work)[name] = value;
    return status;
}

std::vector<std::string> KivRun::Log(const std::string& kind) const
{
    std::vector<std::string> lines;
    std::istringstream in(ReadWhole(File("pty.log")));
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find(" " + kind + " ");
        if (at != std::string::npos)
            lines.push_back(line.substr(at + 1));
    }
    return lines;
}
