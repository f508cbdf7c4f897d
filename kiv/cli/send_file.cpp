// A block ends at its first NUL byte, and its length and that NUL fit in 32
// bits. A file that would lose bytes on the way is refused before the port
// opens: a NUL before its last byte (7, the input cannot be sent as it is),
// or more bytes than a block holds (4, no memory for the block, as the
// Windows driver answers a file it cannot load), found from its size.
#include "send_file.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include "kiv_convert.h"
#include "records.h"

namespace {

const uint64_t kMaxBlock = 0xFFFFFFFEu;

int Refuse(int status, const std::string& line, std::string* error)
{
    *error = line;
    return status;
}

std::string TooLarge(const std::string& path, uint64_t size)
{
    return path + ": " + std::to_string(size) + " bytes or more; one block holds at most " +
           std::to_string(kMaxBlock);
}

int ReadOpenFile(int fd, const std::string& path, std::vector<uint8_t>* block, std::string* error)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return Refuse(KIV_EXIT_READ, path + ": cannot be read: " + strerror(errno), error);
    if (S_ISDIR(st.st_mode))
        return Refuse(KIV_EXIT_READ, path + ": is a folder; send takes one file", error);
    if (S_ISREG(st.st_mode) && (uint64_t)st.st_size > kMaxBlock)
        return Refuse(RC_NO_MEMORY, TooLarge(path, (uint64_t)st.st_size), error);
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Refuse(KIV_EXIT_READ, path + ": cannot be read: " + strerror(errno), error);
        if (n == 0)
            return KIV_EXIT_OK;
        if (block->size() + (size_t)n > kMaxBlock)
            return Refuse(RC_NO_MEMORY, TooLarge(path, block->size() + (size_t)n), error);
        block->insert(block->end(), buffer, buffer + n);
    }
}

}

int ReadSendFile(const std::string& path, std::vector<uint8_t>* block, std::string* error)
{
    block->clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Refuse(KIV_EXIT_READ, path + ": cannot be opened: " + strerror(errno), error);
    int status = ReadOpenFile(fd, path, block, error);
    close(fd);
    if (status != KIV_EXIT_OK)
        return status;
    const uint8_t* data = block->data();
    const void* nul = block->empty() ? nullptr : memchr(data, 0, block->size());
    size_t at = nul ? (size_t)((const uint8_t*)nul - data) : 0;
    if (nul && at + 1 < block->size())
        return Refuse(KIV_EXIT_READ,
                      path + ": a NUL byte at offset " + std::to_string(at) +
                          " would end the block there, and the rest would not be sent",
                      error);
    return KIV_EXIT_OK;
}
