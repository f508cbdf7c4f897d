#include "staging.h"
#include "kiv_convert.h"
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <algorithm>
#include <map>
#include <set>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

std::string Stem(const std::string& path)
{
    size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    bool ext = dot != std::string::npos && (slash == std::string::npos ? dot > 0 : dot > slash + 1);
    return ext ? path.substr(0, dot) : path;
}

namespace {

std::string Reason(int err) { return strerror(err); }

// Writes size bytes to fd and closes it; 0, or the error.
int WriteAllAndClose(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    int err = 0;
    while (done < size) {
        ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n == 0 ? EIO : errno;
            break;
        }
        done += (size_t)n;
    }
    if (close(fd) != 0 && !err)
        err = errno;
    return err;
}

int DupFolder(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 0); }

// The part of path below the stage's destination; false when it lies elsewhere.
bool Relative(const Staging* stage, const std::string& path, std::string* rel)
{
    std::string prefix = JoinPath(stage->dir, "");
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)
        return false;
    *rel = path.substr(prefix.size());
    return true;
}

// The folder rel below fd, opened a step at a time and never through a
// link: -1 with errno ELOOP when a step is a link, and *failedEnd where
// that step's name ends in rel.
int OpenFolderAt(int fd, const std::string& rel, size_t* failedEnd)
{
    int at = DupFolder(fd);
    for (size_t start = 0; at >= 0 && start < rel.size();) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos)
            end = rel.size();
        std::string step = rel.substr(start, end - start);
        if (!step.empty()) {
            int next = openat(at, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            int err = errno;
            struct stat st;
            if (next < 0 && fstatat(at, step.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                err = ELOOP;
            close(at);
            errno = err;
            at = next;
            *failedEnd = end;
        }
        start = end + 1;
    }
    return at;
}

// The folders one commit works in, each opened once below the destination.
struct Places {
    const Staging* stage;
    std::map<std::string, int> open;   // by its path below the destination; "" is the destination
    explicit Places(const Staging* s)
        : stage(s)
    {
        open[""] = s->dirFd;
    }
    ~Places()
    {
        for (const auto& f : open)
            if (!f.first.empty())
                close(f.second);
    }
};

// The open folder that holds path, and path's name in it; -1 with *error
// naming a link in the way, or the reason.
int ParentOf(Places* places, const std::string& path, std::string* leaf, std::string* error)
{
    std::string rel;
    if (!Relative(places->stage, path, &rel)) {
        *error = "cannot write " + path + ": not inside " + places->stage->dir;
        errno = EXDEV;
        return -1;
    }
    size_t slash = rel.find_last_of('/');
    std::string sub = slash == std::string::npos ? "" : rel.substr(0, slash);
    *leaf = slash == std::string::npos ? rel : rel.substr(slash + 1);
    auto found = places->open.find(sub);
    if (found != places->open.end())
        return found->second;
    size_t failedEnd = 0;
    int fd = OpenFolderAt(places->stage->dirFd, sub, &failedEnd);
    if (fd < 0) {
        int err = errno;
        *error = err == ELOOP ? SymbolicLinkRefusal(JoinPath(places->stage->dir, sub.substr(0, failedEnd)))
                              : "cannot write " + path + ": " + Reason(err);
        errno = err;
        return -1;
    }
    places->open[sub] = fd;
    return fd;
}

// What is at leaf in fd, the leaf itself when a link; false when nothing is.
bool StatAt(int fd, const std::string& leaf, struct stat* st)
{
    return fstatat(fd, leaf.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

// The staged pictures' folder and their list in the private folder: names
// no staged file takes, as those are numbers.
const char kPicturesLeaf[] = "p";
const char kPictureListLeaf[] = "l";

// Each listed picture, with its place in the list, in the order staged;
// only those whose staged copy is still there when staged. Stops at the
// first that fn refuses, and says whether all were taken.
template <typename Fn>
bool EachPicture(const Staging* stage, bool staged, Fn fn)
{
    FILE* list = stage->pictureList;
    if (!list || fflush(list) != 0)
        return stage->pictures == 0;
    rewind(list);
    char* line = nullptr;
    size_t room = 0;
    bool all = true;
    ssize_t n;
    for (size_t i = 0; all && (n = getline(&line, &room, list)) > 0; i++) {
        line[n - 1] = '\0';
        struct stat st;
        if (!staged || fstatat(stage->picturesFd, line, &st, AT_SYMLINK_NOFOLLOW) == 0)
            all = fn(std::string(line), i);
    }
    free(line);
    fseek(list, 0, SEEK_END);
    return all;
}

// path below the destination opened for reading, never through a link.
int OpenBelow(const Staging* stage, const std::string& path)
{
    Places places(stage);
    std::string leaf, ignored;
    int folder = ParentOf(&places, path, &leaf, &ignored);
    return folder < 0 ? -1 : openat(folder, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
}

// Data on disk before the rename makes it visible: a crash leaves the old
// file or the new one, never an empty one.
bool SyncFileAt(int folder, const std::string& leaf)
{
    int fd = openat(folder, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

// Without force a file that appears between the check and the rename must
// not be replaced either: renameat2 refuses atomically where the file system
// supports it.
bool MoveIntoPlace(int fromFolder, const std::string& from, int toFolder, const std::string& to, bool force)
{
    if (!force) {
        if (renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        struct stat st;
        if (StatAt(toFolder, to, &st)) {
            errno = EEXIST;
            return false;
        }
    }
    return renameat(fromFolder, from.c_str(), toFolder, to.c_str()) == 0;
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
        *error = "cannot write in " + stage->dir + ": " + Reason(errno);
        return false;
    }
#endif
    for (const auto& m : stage->moves)
        if (!SyncFileAt(stage->lockFd, LeafOf(m.first))) {
            *error = "cannot write " + m.second + ": " + Reason(errno);
            return false;
        }
    bool pictures = EachPicture(stage, true, [&](const std::string& leaf, size_t) {
        if (SyncFileAt(stage->picturesFd, leaf))
            return true;
        *error = "cannot write " + JoinPath(stage->pictureFolder, leaf) + ": " + Reason(errno);
        return false;
    });
    return pictures && (stage->picturesFd < 0 || fsync(stage->picturesFd) == 0);
}

// A private folder's name is this prefix and six letters or digits drawn at
// random; its owner holds an flock on it for the folder's whole life, so a
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

// A fresh private folder in dirFd, as mkdtemp makes one but below a held
// folder; its name goes to leaf. False with errno when none can be made.
bool MakeStageFolder(int dirFd, char* leaf)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    size_t prefix = strlen(kStagePrefix);
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned char random[kStageRandom];
        if (getentropy(random, sizeof random) != 0)
            return false;
        memcpy(leaf, kStagePrefix, prefix);
        for (size_t i = 0; i < kStageRandom; i++)
            leaf[prefix + i] = letters[random[i] % (sizeof letters - 1)];
        leaf[prefix + kStageRandom] = '\0';
        if (mkdirat(dirFd, leaf, 0700) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// The folder opened, never through a link, and locked; -1 when it is not a
// folder or another job holds its lock.
int LockStage(int dirFd, const char* leaf, bool wait)
{
    int fd = openat(dirFd, leaf, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The locked folder is still the one at leaf: its owner or another clean-up
// may have removed it between the open and the lock.
bool StillAt(int fd, int dirFd, const char* leaf)
{
    struct stat held, now;
    return fstat(fd, &held) == 0 && fstatat(dirFd, leaf, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == now.st_dev && held.st_ino == now.st_ino;
}

// The names in the open folder fd, but "." and "..".
std::vector<std::string> NamesIn(int fd)
{
    std::vector<std::string> names;
    DIR* d = fdopendir(DupFolder(fd));
    if (!d)
        return names;
    rewinddir(d);
    while (struct dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    closedir(d);
    return names;
}

// Empties the open folder fd, never following a link out of it.
void RemoveInside(int fd, int depth)
{
    for (const std::string& name : NamesIn(fd)) {
        if (unlinkat(fd, name.c_str(), 0) == 0 || depth == 0)
            continue;
        int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0)
            continue;
        RemoveInside(sub, depth - 1);
        close(sub);
        unlinkat(fd, name.c_str(), AT_REMOVEDIR);
    }
}

const int kRemoveDepth = 16;

// Private folders in dirFd that no live job holds: a crash or a kill left
// them. A folder that merely looks alike, or a link of that name, is not
// touched.
void RemoveAbandonedStages(int dirFd)
{
    for (const std::string& name : NamesIn(dirFd)) {
        if (!StageFolderName(name.c_str()))
            continue;
        int fd = LockStage(dirFd, name.c_str(), false);
        if (fd < 0)
            continue;
        if (StillAt(fd, dirFd, name.c_str())) {
            RemoveInside(fd, kRemoveDepth);
            unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
        }
        close(fd);
    }
}

}   // namespace

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

// A table already saved when a signal ends the job, for the handler to name:
// written only with the signals blocked.
char gKept[PATH_MAX];
volatile sig_atomic_t gKeptSize = 0;

void Say(int fd, const char* text, size_t size)
{
    ssize_t ignored = write(fd, text, size);
    (void)ignored;
}

// The staged pictures and their list, by the raw calls a handler may make:
// the folder is read afresh until nothing is left in it.
void RemovePicturesInHandler(const Staging* stage)
{
#ifdef __linux__
    if (stage->picturesFd >= 0) {
        alignas(8) char entries[4096];
        for (int rounds = 0; rounds < 1 << 20; rounds++) {
            lseek(stage->picturesFd, 0, SEEK_SET);
            long n = syscall(SYS_getdents64, stage->picturesFd, entries, sizeof entries);
            bool removed = false;
            // Each entry: inode (8), offset (8), its length (2), type (1), name.
            for (long at = 0; at < n;) {
                unsigned short length;
                memcpy(&length, entries + at + 16, sizeof length);
                const char* name = entries + at + 19;
                if (strcmp(name, ".") != 0 && strcmp(name, ".."))
                    removed = unlinkat(stage->picturesFd, name, 0) == 0 || removed;
                at += length;
            }
            if (!removed)
                break;
        }
        unlinkat(stage->lockFd, kPicturesLeaf, AT_REMOVEDIR);
    }
#endif
    if (stage->pictureList)
        unlinkat(stage->lockFd, kPictureListLeaf, 0);
}

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
        RemovePicturesInHandler(stage);
        unlinkat(stage->dirFd, stage->leaf, AT_REMOVEDIR);
    }
    static const char said[] = "kiv: cancelled; nothing more is written\n";
    static const char kept[] = "kiv: cancelled; the table is kept in ";
    if (gKeptSize == 0) {
        Say(STDERR_FILENO, said, sizeof said - 1);
        _exit(128 + signo);
    }
    Say(STDOUT_FILENO, gKept, (size_t)gKeptSize);
    Say(STDERR_FILENO, kept, sizeof kept - 1);
    Say(STDERR_FILENO, gKept, (size_t)gKeptSize);
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
    // The destination as the user named it, links in that name included;
    // from here on only through this descriptor.
    stage->dir = folder;
    stage->dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (stage->dirFd < 0) {
        *error = "cannot write in " + folder + ": " + Reason(errno);
        return KIV_EXIT_WRITE;
    }
    RemoveAbandonedStages(stage->dirFd);
    // Between the mkdir and the lock another job's clean-up may take the
    // fresh folder for abandoned and remove it: then a new one is made.
    for (int attempt = 0; attempt < 8; attempt++) {
        if (!MakeStageFolder(stage->dirFd, stage->leaf)) {
            *error = "cannot write in " + folder + ": " + Reason(errno);
            return KIV_EXIT_WRITE;
        }
        int fd = LockStage(stage->dirFd, stage->leaf, true);
        if (fd >= 0 && StillAt(fd, stage->dirFd, stage->leaf)) {
            stage->folder = JoinPath(folder, stage->leaf);
            std::string handle = "/proc/self/fd/" + std::to_string(fd);
            struct stat held, seen;
            bool shown = stat(handle.c_str(), &seen) == 0 && fstat(fd, &held) == 0 &&
                         held.st_dev == seen.st_dev && held.st_ino == seen.st_ino;
            stage->handle = shown ? handle : stage->folder;
            stage->lockFd = fd;
            EnterStage(stage);
            return KIV_EXIT_OK;
        }
        if (fd >= 0)
            close(fd);
    }
    stage->leaf[0] = '\0';
    *error = "cannot write in " + folder + ": its private folder was taken away while it was made";
    return KIV_EXIT_WRITE;
}

void StageNoteKept(const std::string& path)
{
    sigset_t set = CancelSet(), saved;
    sigprocmask(SIG_BLOCK, &set, &saved);
    size_t size = path.empty() || path.size() + 1 >= sizeof gKept ? 0 : path.size();
    memcpy(gKept, path.data(), size);
    gKept[size] = '\n';
    gKeptSize = size == 0 ? 0 : (sig_atomic_t)(size + 1);
    sigprocmask(SIG_SETMASK, &saved, nullptr);
}

std::string StageName(Staging* stage, const char* suffix)
{
    return stage->handle + "/" + std::to_string(stage->count++) + suffix;
}

int StageWrite(Staging* stage, const std::string& finalPath, const void* data, size_t size,
               std::string* error)
{
    std::string path = StageName(stage, ""), leaf = LeafOf(path);
    int fd = openat(stage->lockFd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    int err = fd < 0 ? errno : WriteAllAndClose(fd, data, size);
    if (err) {
        unlinkat(stage->lockFd, leaf.c_str(), 0);
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

int StagePictureOpen(Staging* stage, const std::string& finalPath, std::string* error)
{
    std::string folder = FolderOf(finalPath), leaf = LeafOf(finalPath);
    if (stage->pictures > 0 && folder != stage->pictureFolder) {
        *error = "cannot write " + finalPath + ": not in " + stage->pictureFolder;
        return -1;
    }
    if (stage->picturesFd < 0) {
        int list = stage->pictureList ? -1
                                      : openat(stage->lockFd, kPictureListLeaf,
                                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (list >= 0)
            stage->pictureList = fdopen(list, "w+");
        if (list >= 0 && !stage->pictureList)
            close(list);
        // The folder's mode becomes the picture folder's when it moves whole;
        // meanwhile only this private folder reaches it.
        if (stage->pictureList && mkdirat(stage->lockFd, kPicturesLeaf, 0777) == 0)
            stage->picturesFd = openat(stage->lockFd, kPicturesLeaf,
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (stage->picturesFd < 0) {
            *error = "cannot write " + finalPath + ": " + Reason(errno);
            return -1;
        }
        stage->pictureFolder = folder;
        if (stage->picturesAt == SIZE_MAX)
            stage->picturesAt = stage->moves.size();
    }
    if (fprintf(stage->pictureList, "%s\n", leaf.c_str()) < 0) {
        *error = "cannot write " + finalPath + ": " + Reason(errno);
        return -1;
    }
    stage->pictures++;   // a line each, whether its file comes or not
    // Opened in the held folder, not by a path through it: a lookup of such a
    // path for each of many thousand pictures costs far more than the write.
    int fd = openat(stage->picturesFd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
    if (fd < 0) {
        *error = "cannot write " + finalPath + ": " + Reason(errno);
        return -1;
    }
    return fd;
}

int StagePictureWrite(Staging* stage, const std::string& finalPath, const void* data, size_t size,
                      std::string* error)
{
    int fd = StagePictureOpen(stage, finalPath, error);
    if (fd < 0)
        return KIV_EXIT_WRITE;
    int err = WriteAllAndClose(fd, data, size);
    if (err) {
        unlinkat(stage->picturesFd, LeafOf(finalPath).c_str(), 0);
        *error = "cannot write " + finalPath + ": " + Reason(err);
        return KIV_EXIT_WRITE;
    }
    return KIV_EXIT_OK;
}

void StagePicturesHere(Staging* stage) { stage->picturesAt = stage->moves.size(); }

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

// Each entry of an older record open as fd (which it closes), read a line
// at a time; none when there is none, or it is not a regular file of its own.
template <typename Fn>
void EachRecordEntry(int fd, const std::string& base, Fn fn)
{
    struct stat st;
    if (fd < 0)
        return;
    FILE* f = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (size_t)st.st_size <= kRecordMax ? fdopen(fd, "r")
                                                                                             : nullptr;
    if (!f) {
        close(fd);
        return;
    }
    char* line = nullptr;
    size_t room = 0;
    for (ssize_t n; (n = getline(&line, &room, f)) > 0;) {
        std::string entry(line, line[n - 1] == '\n' ? (size_t)n - 1 : (size_t)n);
        if (RecordEntry(entry, base))
            fn(entry);
    }
    free(line);
    fclose(f);
}

// Every final path of the stage in the order the commit moves them, the
// pictures still staged among them.
template <typename Fn>
void EachFinalPath(const Staging* stage, Fn fn)
{
    auto pictures = [&]() {
        EachPicture(stage, true, [&](const std::string& leaf, size_t) {
            fn(JoinPath(stage->pictureFolder, leaf));
            return true;
        });
    };
    for (size_t i = 0; i < stage->moves.size(); i++) {
        if (i == stage->picturesAt)
            pictures();
        fn(stage->moves[i].second);
    }
    if (stage->picturesAt >= stage->moves.size())
        pictures();
}

// A record staged as path, one entry a line, written as each hands them
// to its put: a job of many pictures holds none of them. The staged file's
// path goes to *staged.
template <typename Each>
int StageRecordLines(Staging* stage, const std::string& path, Each each, std::string* staged,
                     std::string* error)
{
    *staged = StageName(stage, "");
    std::string leaf = LeafOf(*staged);
    int fd = openat(stage->lockFd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    FILE* f = fd < 0 ? nullptr : fdopen(fd, "w");
    if (fd >= 0 && !f)
        close(fd);
    bool ok = f != nullptr;
    each([&](const std::string& entry) {
        if (ok)
            ok = fprintf(f, "%s\n", entry.c_str()) >= 0;
    });
    int err = errno;
    if (f && fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlinkat(stage->lockFd, leaf.c_str(), 0);
        *error = "cannot write " + path + ": " + Reason(err);
        return KIV_EXIT_WRITE;
    }
    return KIV_EXIT_OK;
}

}   // namespace

std::string SetRecordPath(const std::string& dir, const std::string& name)
{
    return JoinPath(dir, name + kRecordSuffix);
}

void EachSetRecordEntry(const std::string& dir, const std::string& name, const std::string& base,
                        const std::function<void(const std::string&)>& fn)
{
    int fd = open(SetRecordPath(dir, name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    EachRecordEntry(fd, base, fn);
}

int StageSetRecordKeeping(Staging* stage, const std::string& dir, const std::string& name,
                          const std::string& base, const std::function<bool(const std::string&)>& keep,
                          std::string* error)
{
    std::string path = SetRecordPath(dir, name), staged;
    int rc = StageRecordLines(
        stage, path,
        [&](const std::function<void(const std::string&)>& put) {
            EachRecordEntry(OpenBelow(stage, path), base, [&](const std::string& entry) {
                if (keep(entry))
                    put(entry);
            });
        },
        &staged, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    stage->record = path;
    StageAdd(stage, staged, path);
    return KIV_EXIT_OK;
}

int StageSetRecord(Staging* stage, const std::string& dir, const std::string& name, const std::string& base,
                   bool force, std::string* error)
{
    std::string prefix = JoinPath(dir, "");
    std::string path = SetRecordPath(dir, name), staged;
    int rc = StageRecordLines(
        stage, path,
        [&](const std::function<void(const std::string&)>& put) {
            EachFinalPath(stage, [&](const std::string& finalPath) {
                if (finalPath.compare(0, prefix.size(), prefix) == 0 &&
                    RecordEntry(finalPath.substr(prefix.size()), base))
                    put(finalPath.substr(prefix.size()));
            });
        },
        &staged, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    if (force) {
        // Only force asks what was written: the few files by their paths, a
        // picture by its staged copy.
        std::unordered_set<std::string> written;
        for (const auto& move : stage->moves)
            written.insert(move.second);
        EachRecordEntry(OpenBelow(stage, path), base, [&](const std::string& entry) {
            std::string old = JoinPath(dir, entry);
            struct stat st;
            bool picture = stage->picturesFd >= 0 && FolderOf(old) == stage->pictureFolder &&
                           fstatat(stage->picturesFd, LeafOf(old).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            if (!picture && !written.count(old))
                StageRemove(stage, old);
        });
    }
    stage->record = path;
    StageAdd(stage, staged, path);
    return KIV_EXIT_OK;
}

namespace {

// Every final path's folder open and checked, before anything moves: a link
// in place of a file or of a folder on its way is refused, and without force
// so is a file that exists.
int CheckPlaces(const Staging* stage, Places* places, bool force, std::string* error)
{
    for (const auto& m : stage->moves) {
        std::string leaf;
        int folder = ParentOf(places, m.second, &leaf, error);
        if (folder < 0)
            return KIV_EXIT_WRITE;
        struct stat st;
        if (!StatAt(folder, leaf, &st))
            continue;
        if (S_ISLNK(st.st_mode)) {
            *error = SymbolicLinkRefusal(m.second);
            return KIV_EXIT_WRITE;
        }
        if (!force) {
            *error = m.second + " exists (give --force to replace it)";
            return KIV_EXIT_WRITE;
        }
    }
    return KIV_EXIT_OK;
}

// Where the staged pictures go: their folder, open, or when it does not
// exist yet its parent and name, for the staged folder to move there whole.
struct PictureTarget {
    int folder = -1;
    int parent = -1;
    std::string leaf;
};

// The pictures' folder checked as CheckPlaces checks a file's: never a link,
// and without force no picture where one is staged.
int CheckPictures(const Staging* stage, Places* places, bool force, PictureTarget* target, std::string* error)
{
    if (stage->pictures == 0)
        return KIV_EXIT_OK;
    std::string probe;
    target->folder = ParentOf(places, JoinPath(stage->pictureFolder, "x"), &probe, error);
    if (target->folder < 0) {
        if (errno != ENOENT) {
            if (errno != ELOOP)
                *error = "cannot write in " + stage->pictureFolder + ": " + Reason(errno);
            return KIV_EXIT_WRITE;
        }
        target->parent = ParentOf(places, stage->pictureFolder, &target->leaf, error);
        if (target->parent < 0)
            return KIV_EXIT_WRITE;
        struct stat st;
        if (StatAt(target->parent, target->leaf, &st)) {
            *error = S_ISLNK(st.st_mode) ? SymbolicLinkRefusal(stage->pictureFolder)
                                         : "cannot write in " + stage->pictureFolder + ": " + Reason(ENOTDIR);
            return KIV_EXIT_WRITE;
        }
        error->clear();
        return KIV_EXIT_OK;
    }
    int rc = KIV_EXIT_OK;
    EachPicture(stage, true, [&](const std::string& leaf, size_t) {
        struct stat st;
        if (!StatAt(target->folder, leaf, &st))
            return true;
        std::string path = JoinPath(stage->pictureFolder, leaf);
        if (S_ISLNK(st.st_mode))
            *error = SymbolicLinkRefusal(path);
        else if (!force)
            *error = path + " exists (give --force to replace it)";
        else
            return true;
        rc = KIV_EXIT_WRITE;
        return false;
    });
    return rc;
}

// What a commit has placed so far, for taking it back when a later rename
// fails: the files it added, the pictures it added by their place in the
// list, or the pictures' folder it moved whole.
struct Added {
    std::vector<std::pair<int, std::string>> files;
    std::vector<bool> pictures;
    bool folder = false;
};

void TakeBack(const Staging* stage, const PictureTarget& target, const Added& added)
{
    for (const auto& path : added.files)
        unlinkat(path.first, path.second.c_str(), 0);
    if (added.folder)
        renameat(target.parent, target.leaf.c_str(), stage->lockFd, kPicturesLeaf);
    if (!added.pictures.empty())
        EachPicture(stage, false, [&](const std::string& leaf, size_t i) {
            if (i < added.pictures.size() && added.pictures[i])
                unlinkat(target.folder, leaf.c_str(), 0);
            return true;
        });
}

// The staged pictures into place: their folder in one rename when the
// pictures' folder does not exist, else each picture in the order staged.
bool MovePictures(Staging* stage, const PictureTarget& target, bool force, Added* added, std::string* error)
{
    if (stage->pictures == 0)
        return true;
    if (target.folder < 0) {
        if (!MoveIntoPlace(stage->lockFd, kPicturesLeaf, target.parent, target.leaf, false)) {
            *error = errno == EEXIST ? stage->pictureFolder + " exists (give --force to replace it)"
                                     : "cannot write in " + stage->pictureFolder + ": " + Reason(errno);
            return false;
        }
        added->folder = true;
        stage->picturesWhole = true;
        return true;
    }
    added->pictures.assign(stage->pictures, false);
    stage->placed.assign(stage->pictures, false);
    return EachPicture(stage, true, [&](const std::string& leaf, size_t i) {
        struct stat st;
        bool existed = StatAt(target.folder, leaf, &st);
        std::string path = JoinPath(stage->pictureFolder, leaf);
        if (!MoveIntoPlace(stage->picturesFd, leaf, target.folder, leaf, force)) {
            *error = errno == EEXIST ? path + " exists (give --force to replace it)"
                                     : "cannot write " + path + ": " + Reason(errno);
            return false;
        }
        added->pictures[i] = !existed;
        stage->placed[i] = true;
        return true;
    });
}

// Only a regular file goes: a folder or a link that has taken a recorded
// name since, or a folder on its way that is now a link, is the user's.
void RemoveStale(const Staging* stage, Places* places)
{
    for (const std::string& path : stage->stale) {
        std::string leaf, ignored;
        int folder = ParentOf(places, path, &leaf, &ignored);
        struct stat st;
        if (folder >= 0 && StatAt(folder, leaf, &st) && S_ISREG(st.st_mode))
            unlinkat(folder, leaf.c_str(), 0);
    }
}

}   // namespace

int StageCommit(Staging* stage, bool force, std::vector<std::string>* written, std::string* error)
{
    sigset_t held = CancelSet();
    sigprocmask(SIG_BLOCK, &held, nullptr);
    // The private folder is still the one made and locked: had it been
    // replaced (by a link, say), its files would come from elsewhere.
    if (stage->lockFd < 0 || !StillAt(stage->lockFd, stage->dirFd, stage->leaf)) {
        *error = stage->folder + ": the private folder was replaced; nothing is written";
        return KIV_EXIT_WRITE;
    }
    Places places(stage);
    PictureTarget target;
    int rc = CheckPlaces(stage, &places, force, error);
    if (rc == KIV_EXIT_OK)
        rc = CheckPictures(stage, &places, force, &target, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    if (!SyncStagedFiles(stage, error))
        return KIV_EXIT_WRITE;
    // A rename that fails part-way takes back the files this job added, so
    // the job leaves nothing; files it replaced under --force stay replaced.
    Added added;
    for (size_t i = 0; i <= stage->moves.size(); i++) {
        if (i == std::min(stage->picturesAt, stage->moves.size()) &&
            !MovePictures(stage, target, force, &added, error)) {
            TakeBack(stage, target, added);
            return KIV_EXIT_WRITE;
        }
        if (i == stage->moves.size())
            break;
        const auto& m = stage->moves[i];
        std::string leaf;
        int folder = ParentOf(&places, m.second, &leaf, error);
        struct stat st;
        bool existed = folder >= 0 && StatAt(folder, leaf, &st);
        if (folder < 0 || !MoveIntoPlace(stage->lockFd, LeafOf(m.first), folder, leaf, force)) {
            int err = errno;
            TakeBack(stage, target, added);
            if (folder >= 0)
                *error = err == EEXIST ? m.second + " exists (give --force to replace it)"
                                       : "cannot write " + m.second + ": " + Reason(err);
            return KIV_EXIT_WRITE;
        }
        if (!existed)
            added.files.emplace_back(folder, leaf);
    }
    RemoveStale(stage, &places);
    // Renames reach the disk only with their folders.
    for (const auto& f : places.open)
        fsync(f.second);
    if (written)
        StageEachWritten(stage, [written](const std::string& path) { written->push_back(path); });
    return KIV_EXIT_OK;
}

void StageEachWritten(const Staging* stage, const std::function<void(const std::string&)>& fn)
{
    // A picture folder moved whole holds what it held staged; otherwise the
    // marks say which listed pictures moved and which were kept.
    auto pictures = [&](const std::vector<bool>& marks, bool whole) {
        EachPicture(stage, whole, [&](const std::string& leaf, size_t i) {
            if (whole || (i < marks.size() && marks[i]))
                fn(JoinPath(stage->pictureFolder, leaf));
            return true;
        });
    };
    for (size_t i = 0; i <= stage->moves.size(); i++) {
        if (i == std::min(stage->picturesAt, stage->moves.size()) && stage->pictures > 0)
            pictures(stage->placed, stage->picturesWhole);
        if (i == stage->moves.size())
            break;
        if (stage->moves[i].second != stage->record)
            fn(stage->moves[i].second);
    }
    for (const std::string& path : stage->keptFiles)
        fn(path);
    if (!stage->keptPictures.empty())
        pictures(stage->keptPictures, false);
}

void StageClose(Staging* stage)
{
    if (stage->lockFd >= 0) {
        LeaveStage(stage);
        RemoveInside(stage->lockFd, kRemoveDepth);
        if (StillAt(stage->lockFd, stage->dirFd, stage->leaf))
            unlinkat(stage->dirFd, stage->leaf, AT_REMOVEDIR);
    }
    // The lock goes with the folder: released first, another job's clean-up
    // could remove files still being written.
    if (stage->lockFd >= 0)
        close(stage->lockFd);
    if (stage->dirFd >= 0)
        close(stage->dirFd);
    stage->lockFd = stage->dirFd = -1;
    stage->folder.clear();
    stage->handle.clear();
    stage->leaf[0] = '\0';
    if (stage->pictureList)
        fclose(stage->pictureList);
    if (stage->picturesFd >= 0)
        close(stage->picturesFd);
    stage->pictureList = nullptr;
    stage->picturesFd = -1;
    stage->pictureFolder.clear();
    stage->pictures = 0;
    stage->picturesAt = SIZE_MAX;
    stage->picturesWhole = false;
    stage->placed.clear();
    stage->keptPictures.clear();
    stage->keptFiles.clear();
    stage->moves.clear();
    stage->stale.clear();
    stage->record.clear();
}

namespace {

// The two open files hold the same bytes (both closed here); the placed one
// only counts as a regular file of its own.
bool SameBytes(int a, int b)
{
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

// Every file inside folder (a folder of the destination) that a set's
// record beside it names.
std::unordered_set<std::string> RecordedInside(const Staging* stage, const std::string& folder)
{
    std::unordered_set<std::string> recorded;
    const size_t suffix = strlen(kRecordSuffix);
    for (const std::string& name : NamesIn(stage->dirFd)) {
        if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kRecordSuffix) != 0)
            continue;
        int fd = openat(stage->dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        EachRecordEntry(fd, LeafOf(folder) + "/",
                        [&](const std::string& entry) { recorded.insert(JoinPath(stage->dir, entry)); });
    }
    return recorded;
}

// Files of the picture folder that an earlier job wrote (a record beside it
// names them) with the very bytes staged now stay as they are, and their
// staged copies are not moved: the exports of one version, a page and its
// table CSV, share one picture folder. The stage notes what it kept, for
// StageEachWritten: the few files by their paths, the pictures by a mark.
void KeepRecordedPictures(Staging* stage, const std::string& folder)
{
    std::string inside = JoinPath(folder, "");
    std::unordered_set<std::string> recorded;
    bool read = false;
    for (size_t i = 0; i < stage->moves.size();) {
        const auto& m = stage->moves[i];
        int placed = m.second.compare(0, inside.size(), inside) == 0 ? OpenBelow(stage, m.second) : -1;
        if (placed >= 0 && !read) {
            recorded = RecordedInside(stage, folder);
            read = true;
        }
        bool same = false;
        if (placed >= 0 && recorded.count(m.second)) {
            int staged = openat(stage->lockFd, LeafOf(m.first).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            same = SameBytes(staged, placed);
        } else if (placed >= 0) {
            close(placed);
        }
        if (same) {
            stage->keptFiles.push_back(m.second);
            stage->moves.erase(stage->moves.begin() + (long)i);
        } else {
            i++;
        }
    }
    if (stage->pictures == 0 || stage->pictureFolder != folder)
        return;
    // A kept picture's staged copy goes, so the commit does not move it.
    Places places(stage);
    std::string probe, ignored;
    int at = ParentOf(&places, JoinPath(folder, "x"), &probe, &ignored);
    if (at >= 0)
        EachPicture(stage, true, [&](const std::string& leaf, size_t i) {
            int placed = openat(at, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (placed < 0)
                return true;
            if (!read) {
                recorded = RecordedInside(stage, folder);
                read = true;
            }
            std::string path = JoinPath(folder, leaf);
            int staged = recorded.count(path)
                             ? openat(stage->picturesFd, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)
                             : -1;
            if (staged >= 0 && SameBytes(staged, placed)) {
                unlinkat(stage->picturesFd, leaf.c_str(), 0);
                stage->keptPictures.resize(stage->pictures);
                stage->keptPictures[i] = true;
            } else if (staged < 0) {
                close(placed);
            }
            return true;
        });
}

}   // namespace

int StageCommitWithFolder(Staging* stage, const std::string& folder, bool makeFolder, bool force,
                          std::vector<std::string>* written, std::string* error)
{
    sigset_t held = CancelSet();
    sigprocmask(SIG_BLOCK, &held, nullptr);
    Places places(stage);
    std::string leaf;
    int parent = ParentOf(&places, folder, &leaf, error);
    if (parent < 0)
        return KIV_EXIT_WRITE;
    struct stat st;
    if (StatAt(parent, leaf, &st) && S_ISLNK(st.st_mode)) {
        *error = SymbolicLinkRefusal(folder);
        return KIV_EXIT_WRITE;
    }
    if (!force)
        KeepRecordedPictures(stage, folder);
    bool made = makeFolder && mkdirat(parent, leaf.c_str(), 0777) == 0;
    if (makeFolder && !made && errno != EEXIST) {
        *error = folder + ": cannot make the folder: " + strerror(errno);
        return KIV_EXIT_WRITE;
    }
    int rc = StageCommit(stage, force, written, error);
    if (rc != KIV_EXIT_OK && made)
        unlinkat(parent, leaf.c_str(), AT_REMOVEDIR);
    return rc;
}
