#include "file_io.h"
#include "kiv_convert.h"
#include "staging.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int ReadWholeFile(const std::string& path, std::string* bytes, std::string* error)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + strerror(errno);
        return KIV_EXIT_READ;
    }
    bytes->clear();
    // Room for the whole file at once: growing by doubling would copy a large
    // table several times and hold up to twice its size.
    if (fseek(f, 0, SEEK_END) == 0) {
        long size = ftell(f);
        if (size > 0)
            bytes->reserve((size_t)size);
        rewind(f);
    }
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes->append(buffer, n);
    int err = errno;
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        *error = path + ": " + strerror(err);
        return KIV_EXIT_READ;
    }
    return KIV_EXIT_OK;
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
