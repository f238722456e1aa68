// Whole-file reading into a library-owned buffer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "common/KVEL_Common.h"
#include "common/PathText.h"

size_t ReadFileDataW(const wchar_t* path, uint8_t** data) {
    if (!data) return 0;
    *data = nullptr;
    const std::string target = kvel_common_detail::NarrowPath(path);
    if (target.empty()) return 0;
    const int fd = open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return 0;
    }
    const size_t size = static_cast<size_t>(info.st_size);
    // One spare byte keeps the contents zero-terminated for text parsers.
    auto* buffer = static_cast<uint8_t*>(std::malloc(size + 1));
    if (!buffer) {
        close(fd);
        return 0;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    if (done != size) {  // the file shrank or failed mid-way: report nothing
        std::free(buffer);
        return 0;
    }
    buffer[size] = 0;
    *data = buffer;
    return size;
}

void ReleaseFileData(uint8_t* data) { std::free(data); }
