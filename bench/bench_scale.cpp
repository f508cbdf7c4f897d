// kiv's commands that read a whole table, at growing table sizes: to-csv in
// both forms, from-csv of the table CSV to-csv wrote, show, show --html and
// diff of two archived versions, each run
// as the user runs it (a child process), its wall time and peak memory taken
// from the child. Beside them, in the same run on the same bytes, the floors:
// cat of the Kcsv file and cp of the pictures. The table has five fields (a
// text with Japanese characters, a number, a date, a note, a picture), a
// picture in every tenth record (100 distinct ones); the second version
// changes three records. The last column is the growth of the time per 10x
// records, which stays near 10 when the cost per record is flat. Then the
// archive's bytes per version over a run of versions, each with three more
// records changed, beside the same versions' CSV committed to git.
//
//   kivbench_scale [ROWS[,ROWS...]] [--keep] [--only STEP[,STEP...]] [--no-pictures] [--versions N]
//   (default 1000,10000,100000 and 100 versions)
//   --keep leaves the tables in the folder it names (made in $TMPDIR, or /tmp);
//   --only runs the floors and the steps named (from-csv brings its peers
//   along, and to-csv runs once, untimed, to write its CSV; "versions" names
//   the run of versions);
//   --no-pictures makes the picture cells empty.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <string>
#include <vector>
#include "archive.h"
#include "bench.h"
#include "file_io.h"
#include "kiv_convert.h"

namespace {

const int kPictures = 100;
const size_t kPictureBytes = 512;
bool g_pictures = true;

struct Child {
    double seconds = -1;
    double megabytes = 0;
};

// args run with stdout to out (or /dev/null); a negative time when it failed.
// Spawned rather than forked, so that the child's peak memory is its own and
// not this program's copied.
Child Run(const std::vector<std::string>& args, const std::string& out = "/dev/null")
{
    Child c;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    double start = BenchSeconds();
    pid_t pid;
    int failed = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (failed)
        return c;
    int status = 0;
    struct rusage use = {};
    wait4(pid, &status, 0, &use);
    double seconds = BenchSeconds() - start;
    // diff says 1 when the versions differ, as it should here.
    bool ok = WIFEXITED(status) && (WEXITSTATUS(status) == 0 || (args.size() > 1 && args[1] == "diff"));
    c.seconds = ok ? seconds : -1;
    c.megabytes = use.ru_maxrss / 1024.0;
    return c;
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return f && fclose(f) == 0 && ok;
}

// The pictures the CSV names: a PNG signature, then bytes of their own.
bool WritePictures(const std::string& dir)
{
    uint32_t x = 12345;
    for (int p = 0; p < kPictures; p++) {
        std::string bytes = "\x89PNG\r\n\x1a\n";
        while (bytes.size() < kPictureBytes) {
            x = x * 1103515245u + 12345u;
            bytes.push_back((char)(x >> 24));
        }
        if (!WriteFile(dir + "/pic" + std::to_string(p) + ".png", bytes))
            return false;
    }
    return true;
}

// The desktop side's layout and CSV for rows records; changed records get
// another note.
std::string Csv(const std::string& dir, int rows, const std::vector<int>& changed)
{
    std::string csv;
    size_t next = 0;
    for (int r = 0; r < rows; r++) {
        bool change = next < changed.size() && changed[next] == r;
        next += change;
        char line[512];
        snprintf(line, sizeof line,
                 "\"\x8e\x52\x93\x63 \x91\xbe\x98\x59 %d\",\"%d.%02d\",\"%04d/%02d/%02d\",\"note "
                 "%d%s\",\"%s\"\r\n",
                 r, r * 37, r % 100, 1990 + r % 30, 1 + r % 12, 1 + r % 28, r % 977, change ? " changed" : "",
                 g_pictures && r % 10 == 0
                     ? (dir + "/pic" + std::to_string(r / 10 % kPictures) + ".png").c_str()
                     : "");
        csv += line;
    }
    return csv;
}

bool MakeVersion(const std::string& dir, int rows, const std::vector<int>& changed, const std::string& out)
{
    char layout[256];
    snprintf(layout, sizeof layout,
             "%-33s\r\n%-21s0000\r\n%-21s0100\r\n%-21s0301\r\n%-21s0000\r\n%-21s0500\r\n", "Bench", "Name",
             "Amount", "When", "Note", "Photo");
    std::vector<uint8_t> block;
    std::string error;
    if (!WriteFile(dir + "/t.table", layout) || !WriteFile(dir + "/t.txt", Csv(dir, rows, changed)) ||
        CsvToKcsvBlock(dir + "/t.table", dir + "/t.txt", {}, &block, &error) != KIV_EXIT_OK) {
        fprintf(stderr, "kivbench_scale: %s\n", error.c_str());
        return false;
    }
    return WriteFile(out, std::string(block.begin(), block.end()));
}

// One version into the archive at path, as pull stores it.
bool ArchiveOne(const std::string& path, const std::string& version)
{
    std::string kcsv, error;
    DecodedTable table;
    ArchiveEntry entry;
    entry.pulled = ArchiveNow();
    entry.port = "bench";
    entry.link = "cable";
    if (ReadWholeFile(version, &kcsv, &error) != KIV_EXIT_OK || !DecodeTable(kcsv, &table, &error) ||
        !ArchiveTable(path, kcsv, table, &entry, &error)) {
        fprintf(stderr, "kivbench_scale: the archive: %s\n", error.c_str());
        return false;
    }
    return true;
}

long SizeOf(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long)st.st_size : 0;
}

// Both versions into a fresh archive; what each added to the archive's size.
bool Archive(const std::string& path, const std::vector<std::string>& versions, int rows)
{
    long size = 0;
    for (const std::string& v : versions) {
        if (!ArchiveOne(path, v))
            return false;
        long now = SizeOf(path);
        printf("%7d: %-21s %9.1f KB\n", rows, size ? "archive, 2nd version" : "archive, 1st version",
               (now - size) / 1024.0);
        size = now;
    }
    fflush(stdout);
    return true;
}

// The bytes of every file under dir.
long BytesUnder(const std::string& dir)
{
    std::string command = "du -sb '" + dir + "' 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    long bytes = 0;
    if (p && fscanf(p, "%ld", &bytes) != 1)
        bytes = 0;
    if (p)
        pclose(p);
    return bytes;
}

// count versions, each with three more records changed than the one before,
// stored in one archive one after another, and (where git is on the machine)
// the same versions' CSV committed to a repository packed by git gc at the
// end: the bytes of the first version and of each later one on average.
bool Versions(const std::string& dir, int rows, int count, bool git)
{
    std::string archive = dir + "/versions.sqlite", repo = dir + "/git", csv = dir + "/t.txt";
    std::string quiet = " >/dev/null 2>&1";
    if (git && system(("git init -q '" + repo + "'" + quiet).c_str()) != 0)
        git = false;
    std::vector<int> changed;
    long archiveFirst = 0, gitFirst = 0;
    for (int v = 0; v < count; v++) {
        // 7919 is prime to every power of ten: the records changed are distinct.
        for (int i = 0; v > 0 && i < 3; i++)
            changed.push_back((int)(((long long)(v * 3 + i) * 7919) % rows));
        std::sort(changed.begin(), changed.end());
        if (!MakeVersion(dir, rows, changed, dir + "/vn.kcsv") || !ArchiveOne(archive, dir + "/vn.kcsv"))
            return false;
        std::string commit = "cp '" + csv + "' '" + repo + "/table.csv' && git -C '" + repo +
                             "' add table.csv && git -C '" + repo +
                             "' -c user.name=bench -c user.email=bench@localhost commit -q -m v" +
                             std::to_string(v);
        if (git && system((commit + quiet).c_str()) != 0)
            git = false;
        if (v == 0) {
            archiveFirst = SizeOf(archive);
            if (git && system(("git -C '" + repo + "' gc -q" + quiet).c_str()) == 0)
                gitFirst = BytesUnder(repo + "/.git/objects");
        }
    }
    long archiveAll = SizeOf(archive);
    double later = count > 1 ? count - 1 : 1;
    printf("%7d: %-21s %9.1f KB first, %7.2f KB each of %d more\n", rows, "archive, versions",
           archiveFirst / 1024.0, (archiveAll - archiveFirst) / 1024.0 / later, count - 1);
    if (git && system(("git -C '" + repo + "' gc -q" + quiet).c_str()) == 0) {
        long gitAll = BytesUnder(repo + "/.git/objects");
        printf("%7d: %-21s %9.1f KB first, %7.2f KB each of %d more\n", rows, "git, versions (peer)",
               gitFirst / 1024.0, (gitAll - gitFirst) / 1024.0 / later, count - 1);
    }
    fflush(stdout);
    return true;
}

struct Step {
    const char* name;
    std::vector<std::string> (*args)(const std::string& dir);
    bool toFile;   // stdout into a file of the folder
};

// A peer run only where its program is on the machine.
bool OnPath(const std::string& program)
{
    std::string check = "command -v " + program + " >/dev/null 2>&1";
    return system(check.c_str()) == 0;
}

const char kPythonCsv[] = "import csv, sys\n"
                          "with open(sys.argv[1], newline='', encoding='utf-8') as f, "
                          "open(sys.argv[2], 'w', newline='', encoding='utf-8') as o:\n"
                          "    w = csv.writer(o)\n"
                          "    for row in csv.reader(f):\n"
                          "        w.writerow(row)\n";
const char kPythonStep[] = "Python's csv (peer)";
const char kSqliteStep[] = "sqlite3 .import (peer)";

std::string Kiv() { return KIV_PATH; }

// The system's interpreter where there is one: a version manager's shim on
// the path adds a second of its own to every run.
std::string Python() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

const Step kSteps[] = {
    {"cat of the Kcsv file (floor)",
     [](const std::string& d) {
         return std::vector<std::string>{"cat", d + "/v1.kcsv"};
     },
     true},
    {"cp of the pictures (floor)",
     [](const std::string& d) {
         return std::vector<std::string>{"sh", "-c",
                                         "rm -rf '" + d + "/copy' && mkdir '" + d + "/copy' && cp " + d +
                                             "/pic*.png '" + d + "/copy/'"};
     },
     false},
    {"to-csv",
     [](const std::string& d) {
         return std::vector<std::string>{Kiv(), "to-csv", "-f", d + "/v1.kcsv", "-d", d + "/csv"};
     },
     false},
    {"to-csv --classic",
     [](const std::string& d) {
         return std::vector<std::string>{Kiv(),          "to-csv", "--classic",   "-f",
                                         d + "/v1.kcsv", "-d",     d + "/classic"};
     },
     false},
    {"from-csv",
     [](const std::string& d) {
         return std::vector<std::string>{Kiv(), "from-csv", "-f", d + "/csv/v1.csv", "-o", d + "/back.kcsv"};
     },
     false},
    {kPythonStep,
     [](const std::string& d) {
         return std::vector<std::string>{Python(), "-c", kPythonCsv, d + "/csv/v1.csv", d + "/python.csv"};
     },
     false},
    {kSqliteStep,
     [](const std::string& d) {
         return std::vector<std::string>{"sh", "-c",
                                         "rm -f '" + d + "/peer.sqlite' && sqlite3 '" + d +
                                             "/peer.sqlite' \".import --csv '" + d + "/csv/v1.csv' t\""};
     },
     false},
    // A pull's archiving step as kiv runs it on a table it has not seen.
    {"archive add",
     [](const std::string& d) {
         return std::vector<std::string>{"sh", "-c",
                                         "rm -f '" + d + "/added.sqlite' && '" + Kiv() +
                                             "' archive add --archive '" + d + "/added.sqlite' '" + d +
                                             "/v1.kcsv'"};
     },
     true},
    {"show",
     [](const std::string& d) {
         return std::vector<std::string>{Kiv(), "show", "--width", "0", d + "/v1.kcsv"};
     },
     true},
    {"show --html",
     [](const std::string& d) {
         return std::vector<std::string>{Kiv(),          "show", "--html",           "-f",
                                         d + "/v1.kcsv", "-o",   d + "/page/v1.html"};
     },
     false},
    {"diff of two versions",
     [](const std::string& d) {
         return std::vector<std::string>{Kiv(), "diff", "--archive", d + "/archive.sqlite"};
     },
     true},
};

}   // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    std::vector<std::string> only;
    bool keep = false;
    int versions = 100;
    for (int a = 1; a < argc; a++) {
        std::string arg = argv[a];
        if (arg == "--keep") {
            keep = true;
        } else if (arg == "--no-pictures") {
            g_pictures = false;
        } else if (arg == "--versions" && a + 1 < argc) {
            versions = atoi(argv[++a]);
        } else if (arg == "--only" && a + 1 < argc) {
            for (const char* p = argv[++a]; *p;) {
                const char* comma = strchr(p, ',');
                only.emplace_back(p, comma ? (size_t)(comma - p) : strlen(p));
                p = comma ? comma + 1 : p + strlen(p);
            }
        } else {
            for (const char* p = argv[a]; *p;) {
                char* end;
                sizes.push_back((int)strtol(p, &end, 10));
                p = *end == ',' ? end + 1 : end;
            }
        }
    }
    if (sizes.empty())
        sizes = {1000, 10000, 100000};
    // In $TMPDIR when set: 1 000 000 records take about 1 GB with the pictures.
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/kivbench-scale-XXXXXX";
    std::string root = mkdtemp(&tmpl[0]) ? tmpl : "";
    if (root.empty())
        return 1;
    printf("%-30s %9s %11s %9s %8s\n", "records: step", "seconds", "peak MB", "x floor", "growth");
    std::map<std::string, double> before;
    bool python = OnPath(Python()), sqlite = OnPath("sqlite3"), git = OnPath("git");
    auto chosen = [&only](const std::string& name) {
        if (only.empty() || name.find("(floor)") != std::string::npos)
            return true;
        for (const std::string& o : only)
            if (name == o || (o == "from-csv" && (name == kPythonStep || name == kSqliteStep)))
                return true;
        return false;
    };
    for (int rows : sizes) {
        std::string dir = root + "/" + std::to_string(rows);
        mkdir(dir.c_str(), 0777);
        mkdir((dir + "/page").c_str(), 0777);
        // Made in a child: a command's peak memory as the kernel counts it
        // starts from that of the process that started it. What is printed
        // so far goes first, or the child would print it again.
        fflush(stdout);
        pid_t maker = fork();
        if (maker == 0)
            _exit(WritePictures(dir) && MakeVersion(dir, rows, {}, dir + "/v1.kcsv") &&
                          MakeVersion(dir, rows, {rows / 4, rows / 2, rows * 3 / 4}, dir + "/v2.kcsv") &&
                          Archive(dir + "/archive.sqlite", {dir + "/v1.kcsv", dir + "/v2.kcsv"}, rows)
                      ? 0
                      : 1);
        int made = 1;
        if (maker < 0 || waitpid(maker, &made, 0) != maker || !WIFEXITED(made) || WEXITSTATUS(made) != 0)
            return 1;
        struct stat st;
        if (stat((dir + "/v1.kcsv").c_str(), &st) == 0)
            printf("%7d: %-21s %9.1f MB\n", rows, "the Kcsv file", st.st_size / 1e6);
        double floor = 0;
        for (const Step& s : kSteps) {
            if ((s.name == std::string(kPythonStep) && !python) ||
                (s.name == std::string(kSqliteStep) && !sqlite))
                continue;
            if (!g_pictures && s.name == std::string("cp of the pictures (floor)"))
                continue;
            // from-csv and its peers read the table CSV that to-csv writes.
            if (!chosen(s.name) && s.name == std::string("to-csv") &&
                (chosen("from-csv") || chosen(kSqliteStep)))
                Run(s.args(dir));
            if (!chosen(s.name))
                continue;
            Child best;
            for (int round = 0; round < 3; round++) {
                Child c = Run(s.args(dir), s.toFile ? dir + "/out" : "/dev/null");
                if (c.seconds < 0 || best.seconds < 0 || round == 0 || c.seconds < best.seconds)
                    best = c;
            }
            if (floor == 0)
                floor = best.seconds;
            std::string key = s.name;
            double growth = before.count(key) && before[key] > 0 ? best.seconds / before[key] : 0;
            before[key] = best.seconds;
            char ratio[16] = "", grew[16] = "";
            if (floor > 0 && best.seconds > 0)
                snprintf(ratio, sizeof ratio, "%.0f", best.seconds / floor);
            if (growth > 0)
                snprintf(grew, sizeof grew, "%.1fx", growth);
            printf("%7d: %-21s %9.3f %11.1f %9s %8s\n", rows, s.name, best.seconds, best.megabytes, ratio,
                   grew);
        }
        if (python && before["from-csv"] > 0 && before[kPythonStep] > 0)
            printf("%7d: from-csv takes %.2fx the time of Python's csv\n", rows,
                   before["from-csv"] / before[kPythonStep]);
        if (sqlite && before["from-csv"] > 0 && before[kSqliteStep] > 0)
            printf("%7d: from-csv takes %.2fx the time of sqlite3 .import\n", rows,
                   before["from-csv"] / before[kSqliteStep]);
        fflush(stdout);
        if (versions > 0 && chosen("versions")) {
            fflush(stdout);
            pid_t maker = fork();
            if (maker == 0)
                _exit(Versions(dir, rows, versions, git) ? 0 : 1);
            int made = 1;
            if (maker < 0 || waitpid(maker, &made, 0) != maker || !WIFEXITED(made) || WEXITSTATUS(made) != 0)
                return 1;
        }
    }
    if (keep) {
        printf("kept in %s\n", root.c_str());
        return 0;
    }
    std::string cleanup = "rm -rf '" + root + "'";
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
