// Where outputs may go: the checks made before a transfer, and the free
// names that keep a received block when its own name is taken or cannot be
// written. A free name numbers the base name ("a.kcsv", "a-2.kcsv", ...), so
// a table's side files follow it ("a-2.kcsv.rec", "a-2-pictures").
#include "kiv_convert.h"
#include "staging.h"
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

namespace {

const int kMaxNumber = 999;
// A private folder's name, and the longest name the job puts inside a
// folder of its own ("12345678901-99.jpeg", or a staged file's number).
const size_t kStageLeafMax = 17;
const size_t kInnerLeafMax = 24;

// base numbered n: "base-n"; number 1 is the base itself. A dot inside
// the base ("v1.2") is part of the name, never where the number goes.
std::string Numbered(const std::string& base, int n)
{
    return n == 1 ? base : base + "-" + std::to_string(n);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Writes data as a new file only its owner reads, never through a link;
// false (and nothing left) when it cannot.
bool WriteNew(const std::string& path, const std::string& data)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            break;
        done += (size_t)n;
    }
    bool ok = done == data.size() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok)
        unlink(path.c_str());
    return ok;
}

// "kiv-received-YYYYMMDD-HHMMSS-PID": short whatever the table was to be
// called, so that a name too long for its folder cannot lose the table too.
std::string RescueBase()
{
    time_t now = time(nullptr);
    struct tm local;
    char stamp[32] = "00000000-000000";
    if (localtime_r(&now, &local))
        strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return std::string("kiv-received-") + stamp + "-" + std::to_string(getpid());
}

std::string KeepIn(const std::string& block, const std::string& folder, const std::string& base)
{
    for (int n = 1; n <= kMaxNumber; n++) {
        std::string candidate = JoinPath(folder, Numbered(base, n) + ".kcsv");
        if (WriteNew(candidate, block))
            return candidate;
        if (errno != EEXIST)
            break;
    }
    return std::string();
}

}   // namespace

const char kFreeNumberMax[] = "-999";

std::string FreePathFor(const std::string& base, const std::vector<std::string>& suffixes)
{
    for (int n = 1; n <= kMaxNumber; n++) {
        std::string candidate = Numbered(base, n);
        bool taken = false;
        for (const std::string& suffix : suffixes)
            taken = taken || Exists(candidate + suffix);
        if (!taken)
            return candidate;
    }
    return base;
}

std::string KeepBlock(const std::string& block, const std::string& path)
{
    std::string base = RescueBase();
    std::string kept = KeepIn(block, FolderOf(path), base);
    if (!kept.empty())
        return kept;
    const char* tmp = getenv("TMPDIR");
    return KeepIn(block, tmp && *tmp ? tmp : "/tmp", base);
}

bool SafeFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name[0] == '.' || name[0] == '-' || name[0] == ' ')
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\')
            return false;
    return true;
}

std::string SymbolicLinkRefusal(const std::string& path)
{
    return path + ": is a symbolic link; kiv does not follow it (remove it, or give another name)";
}

int CheckOutputFolder(const std::string& dir, std::string* error)
{
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        *error = dir + ": no such folder";
        return KIV_EXIT_WRITE;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = dir + ": not a folder";
        return KIV_EXIT_WRITE;
    }
    if (access(dir.c_str(), W_OK | X_OK) != 0) {
        *error = "cannot write in " + dir + ": " + strerror(errno);
        return KIV_EXIT_WRITE;
    }
    return KIV_EXIT_OK;
}

int CheckOutputFile(const std::string& path, bool force, std::string* error)
{
    std::string leaf = LeafOf(path);
    if (leaf.empty() || leaf == "." || leaf == "..") {
        *error = path + ": not a file name";
        return KIV_EXIT_USAGE;
    }
    int rc = CheckNameFits(FolderOf(path), leaf, "", error);
    if (rc != KIV_EXIT_OK)
        return rc;
    // Only a name that is certainly absent is free: any other failure to
    // look (a folder that cannot be searched, a loop of links) is a refusal.
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            *error = SymbolicLinkRefusal(path);
            return KIV_EXIT_WRITE;
        }
        if (S_ISDIR(st.st_mode)) {
            *error = path + ": is a folder; name a file";
            return KIV_EXIT_WRITE;
        }
        if (!force) {
            *error = path + ": exists; give --force to replace it";
            return KIV_EXIT_WRITE;
        }
    } else if (errno != ENOENT) {
        *error = path + ": " + strerror(errno);
        return KIV_EXIT_WRITE;
    }
    return CheckOutputFolder(FolderOf(path), error);
}

int CheckNameFits(const std::string& dir, const std::string& base, const std::string& longestSuffix,
                  std::string* error)
{
    long nameMax = pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = NAME_MAX;
    std::string leaf = base + longestSuffix;
    if ((long)leaf.size() > nameMax) {
        *error = JoinPath(dir, base) + ": the name is too long: " + std::to_string(leaf.size()) +
                 " bytes with the longest name the job may write (\"NAME" + longestSuffix + "\"), at most " +
                 std::to_string(nameMax);
        return KIV_EXIT_USAGE;
    }
    // The longest path the job opens: a file in its private folder or a
    // picture in the table's picture folder, whichever is longer.
    size_t longest = JoinPath(dir, std::string(std::max(leaf.size(), kStageLeafMax), 'x')).size() + 1 +
                     kInnerLeafMax;
    if (longest >= PATH_MAX) {
        *error = JoinPath(dir, base) + ": the path is too long: " + std::to_string(longest) +
                 " bytes with the longest file the job may write, at most " + std::to_string(PATH_MAX - 1);
        return KIV_EXIT_USAGE;
    }
    return KIV_EXIT_OK;
}
