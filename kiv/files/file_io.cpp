#include "file_io.h"
#include "kiv_convert.h"
#include "staging.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int ReadWholeFileAt(int folder, const std::string& name, const std::string& path, std::string* bytes,
                    std::string* error)
{
    // Straight into bytes, without a stream's buffer and seeks: a table CSV
    // may name a picture in every record, and those cost more than its bytes.
    int fd = openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": " + strerror(errno);
        return KIV_EXIT_READ;
    }
    // Room for the whole file at once (and a byte to see its end): growing
    // by doubling would copy a large table several times and hold up to
    // twice its size.
    struct stat st;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    bytes->resize(regular ? (size_t)st.st_size + 1 : 65536);
    size_t have = 0;
    int err = 0;
    for (;;) {
        if (have == bytes->size())
            bytes->resize(bytes->size() * 2);
        size_t asked = bytes->size() - have;
        ssize_t n = read(fd, &(*bytes)[have], asked);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : 0;
            break;
        }
        have += (size_t)n;
        // A regular file that gives less than asked is at its end.
        if (regular && (size_t)n < asked)
            break;
    }
    bytes->resize(have);
    close(fd);
    if (err) {
        *error = path + ": " + strerror(err);
        return KIV_EXIT_READ;
    }
    return KIV_EXIT_OK;
}

int ReadWholeFile(const std::string& path, std::string* bytes, std::string* error)
{
    return ReadWholeFileAt(AT_FDCWD, path, path, bytes, error);
}

int WriteWholeFile(const std::string& path, const std::string& bytes, const std::string& shownPath,
                   std::string* error)
{
    // A scratch file is a fresh name in a private folder: never a link,
    // never a file that was there.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    FILE* f = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && !f)
        close(fd);
    bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    int err = errno;
    if (f && fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        *error = "cannot write " + shownPath + ": " + strerror(err);
        return KIV_EXIT_WRITE;
    }
    return KIV_EXIT_OK;
}

int WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data, bool force,
                        std::string* error)
{
    Staging stage;
    int rc = StageOpen(&stage, FolderOf(path), error);
    if (rc == KIV_EXIT_OK)
        rc = StageWrite(&stage, path, data.data(), data.size(), error);
    if (rc == KIV_EXIT_OK)
        rc = StageCommit(&stage, force, nullptr, error);
    StageClose(&stage);
    return rc;
}
