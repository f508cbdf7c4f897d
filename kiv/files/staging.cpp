#include "staging.h"
#include "kiv_convert.h"
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <set>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LeafOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& leaf)
{
    if (folder.empty() || folder == ".")
        return leaf;
    return folder.back() == '/' ? folder + leaf : folder + "/" + leaf;
}

namespace {

std::string Reason(int err) { return strerror(err); }

// Data on disk before the rename makes it visible: a crash leaves the old
// file or the new one, never an empty one.
bool SyncFile(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool IsLink(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Without force a file that appears between the check and the rename must
// not be replaced either: renameat2 refuses atomically where the file system
// supports it.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool force)
{
    if (!force) {
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        if (Exists(to)) {
            errno = EEXIST;
            return false;
        }
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

// Every staged file's data and names on disk before the first rename makes
// one visible, so a power cut leaves the old set or the new one. The private
// folder lies on the destination's file system, so one syncfs of it (through
// the folder held open since the stage was made, which also reports a write
// that failed in the background since then) does for all of them: the cost
// of a job does not grow with its pictures. Where the system has no syncfs,
// each file is synced in turn.
bool SyncStagedFiles(const Staging* stage, std::string* error)
{
#ifdef __linux__
    if (syncfs(stage->lockFd) == 0)
        return true;
    if (errno != ENOSYS) {
        *error = "cannot write in " + FolderOf(stage->folder) + ": " + Reason(errno);
        return false;
    }
#endif
    for (const auto& m : stage->moves)
        if (!SyncFile(m.first)) {
            *error = "cannot write " + m.second + ": " + Reason(errno);
            return false;
        }
    return true;
}

// Renames reach the disk only with their folder.
void SyncFolder(const std::string& dir)
{
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// A private folder's name is this prefix and the six characters mkdtemp
// puts in; its owner holds an flock on it for the folder's whole life, so a
// folder whose lock can be taken was left by a job that has gone, wherever
// that job ran (another PID namespace, another host on a shared folder).
const char kStagePrefix[] = ".kiv-stage-";
const size_t kStageRandom = 6;

bool StageFolderName(const char* leaf)
{
    size_t prefix = strlen(kStagePrefix);
    if (strncmp(leaf, kStagePrefix, prefix) != 0 || strlen(leaf) != prefix + kStageRandom)
        return false;
    for (const char* c = leaf + prefix; *c; c++)
        if (!isalnum((unsigned char)*c))
            return false;
    return true;
}

// The folder opened, never through a link, and locked; -1 when it is not a
// folder or another job holds its lock.
int LockStage(const std::string& path, bool wait)
{
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The locked folder is still the one at path: its owner or another clean-up
// may have removed it between the open and the lock.
bool StillAt(int fd, const std::string& path)
{
    struct stat held, now;
    return fstat(fd, &held) == 0 && lstat(path.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
           held.st_ino == now.st_ino;
}

// Private folders in dir that no live job holds: a crash or a kill left them.
// A folder that merely looks alike, or a link of that name, is not touched.
void RemoveAbandonedStages(const std::string& dir)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> candidates;
    while (struct dirent* e = readdir(d))
        if (StageFolderName(e->d_name))
            candidates.push_back(JoinPath(dir, e->d_name));
    closedir(d);
    for (const std::string& path : candidates) {
        int fd = LockStage(path, false);
        if (fd < 0)
            continue;
        if (StillAt(fd, path))
            RemoveTree(path);
        close(fd);
    }
}

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*)
{
    if (type == FTW_DP)
        rmdir(path);
    else
        unlink(path);
    return 0;
}

}   // namespace

void RemoveTree(const std::string& path) { nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

namespace {

// The open stages, for the signal handler: it may only read them, so a
// stage is entered once its folder is locked and left before it is removed.
const int kMaxStages = 4;
Staging* volatile gStages[kMaxStages];
struct sigaction gSavedActions[3];
const int kCancelSignals[3] = {SIGINT, SIGTERM, SIGHUP};
int gStagesOpen = 0;

sigset_t CancelSet(void)
{
    sigset_t set;
    sigemptyset(&set);
    for (int signo : kCancelSignals)
        sigaddset(&set, signo);
    return set;
}

const char* const kStagedSuffixes[] = {"", ".table", ".txt", ".csv"};

// Only calls that are safe in a handler: the staged files are the numbers
// below count inside the locked folder.
void CancelStages(int signo)
{
    for (Staging* stage : gStages) {
        if (!stage)
            continue;
        for (size_t i = 0; i < stage->count; i++) {
            char digits[24];
            size_t n = sizeof digits;
            size_t v = i;
            do {
                digits[--n] = (char)('0' + v % 10);
                v /= 10;
            } while (v);
            // A from-csv conversion writes its files beside the staged name.
            for (const char* suffix : kStagedSuffixes) {
                char name[40];
                size_t length = sizeof digits - n, extra = strlen(suffix);
                memcpy(name, digits + n, length);
                memcpy(name + length, suffix, extra + 1);
                unlinkat(stage->lockFd, name, 0);
            }
        }
        rmdir(stage->folder.c_str());
    }
    static const char said[] = "kiv: cancelled; nothing more is written\n";
    ssize_t ignored = write(STDERR_FILENO, said, sizeof said - 1);
    (void)ignored;
    _exit(128 + signo);
}

// A signal kiv was started to ignore stays ignored.
void EnterStage(Staging* stage)
{
    if (gStagesOpen++ == 0) {
        struct sigaction action = {};
        action.sa_handler = CancelStages;
        action.sa_mask = CancelSet();
        for (int i = 0; i < 3; i++) {
            sigaction(kCancelSignals[i], nullptr, &gSavedActions[i]);
            if (gSavedActions[i].sa_handler != SIG_IGN)
                sigaction(kCancelSignals[i], &action, nullptr);
        }
    }
    for (Staging* volatile& slot : gStages)
        if (!slot) {
            slot = stage;
            break;
        }
}

void LeaveStage(Staging* stage)
{
    sigset_t set = CancelSet(), saved;
    sigprocmask(SIG_BLOCK, &set, &saved);
    for (Staging* volatile& slot : gStages)
        if (slot == stage)
            slot = nullptr;
    if (--gStagesOpen == 0)
        for (int i = 0; i < 3; i++)
            sigaction(kCancelSignals[i], &gSavedActions[i], nullptr);
    sigprocmask(SIG_SETMASK, &saved, nullptr);
}

}   // namespace

int StageOpen(Staging* stage, const std::string& dir, std::string* error)
{
    std::string folder = dir.empty() ? "." : dir;
    RemoveAbandonedStages(folder);
    std::string pattern = JoinPath(folder, kStagePrefix + std::string(kStageRandom, 'X'));
    // Between mkdtemp and the lock another job's clean-up may take the fresh
    // folder for abandoned and remove it: then a new one is made.
    for (int attempt = 0; attempt < 8; attempt++) {
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!mkdtemp(name.data())) {
            *error = "cannot write in " + folder + ": " + Reason(errno);
            return KIV_EXIT_WRITE;
        }
        int fd = LockStage(name.data(), true);
        if (fd >= 0 && StillAt(fd, name.data())) {
            stage->folder = name.data();
            stage->lockFd = fd;
            EnterStage(stage);
            return KIV_EXIT_OK;
        }
        if (fd >= 0)
            close(fd);
    }
    *error = "cannot write in " + folder + ": its private folder was taken away while it was made";
    return KIV_EXIT_WRITE;
}

std::string StageName(Staging* stage, const char* suffix)
{
    return stage->folder + "/" + std::to_string(stage->count++) + suffix;
}

int StageWrite(Staging* stage, const std::string& finalPath, const void* data, size_t size,
               std::string* error)
{
    std::string path = StageName(stage, "");
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(data, 1, size, f) == size && fflush(f) == 0;
    int err = errno;
    if (f && fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(path.c_str());
        *error = "cannot write " + finalPath + ": " + Reason(err);
        return KIV_EXIT_WRITE;
    }
    StageAdd(stage, path, finalPath);
    return KIV_EXIT_OK;
}

void StageWriteBack(int fd, size_t from, size_t to)
{
#ifdef __linux__
    if (to > from)
        sync_file_range(fd, (off_t)from, (off_t)(to - from), SYNC_FILE_RANGE_WRITE);
#else
    (void)fd, (void)from, (void)to;
#endif
}

void StageAdd(Staging* stage, const std::string& stagedPath, const std::string& finalPath)
{
    stage->moves.emplace_back(stagedPath, finalPath);
}

void StageRemove(Staging* stage, const std::string& path) { stage->stale.push_back(path); }

namespace {

const char kRecordSuffix[] = ".kiv-files";
const size_t kRecordMax = 16 << 20;

// An entry kiv may have written for base: inside dir, no way up or out.
bool RecordEntry(const std::string& entry, const std::string& base)
{
    return entry.compare(0, base.size(), base) == 0 && entry.size() > base.size() && entry[0] != '/' &&
           entry.find("..") == std::string::npos && entry.find("//") == std::string::npos &&
           entry.find(kRecordSuffix) == std::string::npos;
}

// The entries of an older record; none when there is none, or it is not a
// regular file of its own.
std::vector<std::string> ReadRecord(const std::string& path, const std::string& base)
{
    std::vector<std::string> entries;
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0)
        return entries;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (size_t)st.st_size <= kRecordMax) {
        std::string text((size_t)st.st_size, '\0');
        ssize_t n = read(fd, &text[0], text.size());
        text.resize(n > 0 ? (size_t)n : 0);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string entry = text.substr(start, end - start);
            if (RecordEntry(entry, base))
                entries.push_back(entry);
            start = end + 1;
        }
    }
    close(fd);
    return entries;
}

}   // namespace

int StageSetRecord(Staging* stage, const std::string& dir, const std::string& name, const std::string& base,
                   bool force, std::string* error)
{
    std::string prefix = JoinPath(dir, "");
    std::unordered_set<std::string> written;
    std::string text;
    for (const auto& move : stage->moves) {
        written.insert(move.second);
        if (move.second.compare(0, prefix.size(), prefix) == 0 &&
            RecordEntry(move.second.substr(prefix.size()), base))
            text += move.second.substr(prefix.size()) + "\n";
    }
    std::string path = JoinPath(dir, name + kRecordSuffix);
    if (force)
        for (const std::string& entry : ReadRecord(path, base))
            if (!written.count(JoinPath(dir, entry)))
                StageRemove(stage, JoinPath(dir, entry));
    stage->record = path;
    return StageWrite(stage, path, text.data(), text.size(), error);
}

int StageCommit(Staging* stage, bool force, std::vector<std::string>* written, std::string* error)
{
    sigset_t held = CancelSet();
    sigprocmask(SIG_BLOCK, &held, nullptr);
    // The private folder is still the one made and locked: had it been
    // replaced (by a link, say), its files would come from elsewhere.
    if (stage->lockFd < 0 || !StillAt(stage->lockFd, stage->folder)) {
        *error = stage->folder + ": the private folder was replaced; nothing is written";
        return KIV_EXIT_WRITE;
    }
    for (const auto& m : stage->moves) {
        if (IsLink(m.second)) {
            *error = SymbolicLinkRefusal(m.second);
            return KIV_EXIT_WRITE;
        }
        if (!force && Exists(m.second)) {
            *error = m.second + " exists (give --force to replace it)";
            return KIV_EXIT_WRITE;
        }
    }
    if (!SyncStagedFiles(stage, error))
        return KIV_EXIT_WRITE;
    // A rename that fails part-way takes back the files this job added, so
    // the job leaves nothing; files it replaced under --force stay replaced.
    std::vector<std::string> added;
    for (const auto& m : stage->moves) {
        bool existed = Exists(m.second);
        if (!MoveIntoPlace(m.first, m.second, force)) {
            int err = errno;
            for (const std::string& path : added)
                unlink(path.c_str());
            *error = err == EEXIST ? m.second + " exists (give --force to replace it)"
                                   : "cannot write " + m.second + ": " + Reason(err);
            return KIV_EXIT_WRITE;
        }
        if (!existed)
            added.push_back(m.second);
    }
    // Only a regular file goes: a folder or a link that has taken a
    // recorded name since is the user's.
    std::set<std::string> folders;
    for (const std::string& path : stage->stale) {
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !IsLink(FolderOf(path)))
            unlink(path.c_str());
        folders.insert(FolderOf(path));
    }
    for (const auto& m : stage->moves)
        folders.insert(FolderOf(m.second));
    for (const std::string& dir : folders)
        SyncFolder(dir);
    if (written)
        for (const auto& m : stage->moves)
            if (m.second != stage->record)
                written->push_back(m.second);
    return KIV_EXIT_OK;
}

void StageClose(Staging* stage)
{
    if (stage->lockFd >= 0)
        LeaveStage(stage);
    if (!stage->folder.empty()) {
        RemoveTree(stage->folder);
        stage->folder.clear();
    }
    // The lock goes with the folder: released first, another job's clean-up
    // could remove files still being written.
    if (stage->lockFd >= 0)
        close(stage->lockFd);
    stage->lockFd = -1;
    stage->moves.clear();
    stage->stale.clear();
    stage->record.clear();
}

namespace {

// The two files hold the same bytes; placed only as a regular file of its own.
bool SameBytes(const std::string& staged, const std::string& placed)
{
    int a = open(staged.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    int b = open(placed.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat sa, sb;
    bool same = a >= 0 && b >= 0 && fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && S_ISREG(sb.st_mode) &&
                sa.st_size == sb.st_size;
    char x[65536], y[sizeof x];
    for (ssize_t n; same && (n = read(a, x, sizeof x)) > 0;)
        same = read(b, y, (size_t)n) == n && memcmp(x, y, (size_t)n) == 0;
    if (a >= 0)
        close(a);
    if (b >= 0)
        close(b);
    return same;
}

// Every file inside folder that a set's record beside it names.
std::unordered_set<std::string> RecordedInside(const std::string& folder)
{
    std::unordered_set<std::string> recorded;
    std::string dir = FolderOf(folder);
    DIR* d = opendir(dir.c_str());
    if (!d)
        return recorded;
    std::vector<std::string> records;
    const size_t suffix = strlen(kRecordSuffix);
    while (struct dirent* e = readdir(d)) {
        size_t n = strlen(e->d_name);
        if (n > suffix && strcmp(e->d_name + n - suffix, kRecordSuffix) == 0)
            records.push_back(JoinPath(dir, e->d_name));
    }
    closedir(d);
    for (const std::string& record : records)
        for (const std::string& entry : ReadRecord(record, LeafOf(folder) + "/"))
            recorded.insert(JoinPath(dir, entry));
    return recorded;
}

// Files of the picture folder that an earlier job wrote (a record beside it
// names them) with the very bytes staged now stay as they are, and their
// staged copies are not moved: the exports of one version, a page and its
// table CSV, share one picture folder. Returns their paths.
std::vector<std::string> KeepRecordedPictures(Staging* stage, const std::string& folder)
{
    std::vector<std::string> kept;
    std::string inside = JoinPath(folder, "");
    std::unordered_set<std::string> recorded;
    bool read = false;
    for (size_t i = 0; i < stage->moves.size();) {
        const auto& m = stage->moves[i];
        bool candidate = m.second.compare(0, inside.size(), inside) == 0 && Exists(m.second);
        if (candidate && !read) {
            recorded = RecordedInside(folder);
            read = true;
        }
        if (candidate && recorded.count(m.second) && SameBytes(m.first, m.second)) {
            kept.push_back(m.second);
            stage->moves.erase(stage->moves.begin() + (long)i);
        } else {
            i++;
        }
    }
    return kept;
}

}   // namespace

int StageCommitWithFolder(Staging* stage, const std::string& folder, bool makeFolder, bool force,
                          std::vector<std::string>* written, std::string* error)
{
    sigset_t held = CancelSet();
    sigprocmask(SIG_BLOCK, &held, nullptr);
    if (IsLink(folder)) {
        *error = SymbolicLinkRefusal(folder);
        return KIV_EXIT_WRITE;
    }
    std::vector<std::string> kept;
    if (!force)
        kept = KeepRecordedPictures(stage, folder);
    bool made = makeFolder && mkdir(folder.c_str(), 0777) == 0;
    if (makeFolder && !made && errno != EEXIST) {
        *error = folder + ": cannot make the folder: " + strerror(errno);
        return KIV_EXIT_WRITE;
    }
    int rc = StageCommit(stage, force, written, error);
    if (rc != KIV_EXIT_OK && made)
        rmdir(folder.c_str());
    if (rc == KIV_EXIT_OK && written)
        written->insert(written->end(), kept.begin(), kept.end());
    return rc;
}
