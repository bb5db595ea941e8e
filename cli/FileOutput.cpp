#include "FileOutput.h"

#include "Update.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// windows.h names a function of its own ReplaceFile, by a macro.
#undef ReplaceFile
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string Reason(int error) { return std::strerror(error); }

// Pushes the file's bytes to the storage device, so a rename never publishes a file whose data is
// still only in the operating system's cache.
bool SyncToDisk(std::FILE* file) {
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

// Creates a file at `path` where nothing stands, for writing: a file, or a link (even one to
// nowhere), already there makes it fail with EEXIST, and a link is never followed. Null with the
// reason in `error` otherwise.
std::FILE* CreateExclusive(const std::string& path, int& error) {
#ifdef _WIN32
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_FILE_EXISTS:
            case ERROR_ALREADY_EXISTS: error = EEXIST; break;
            case ERROR_ACCESS_DENIED: error = EACCES; break;
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND: error = ENOENT; break;
            case ERROR_DISK_FULL: error = ENOSPC; break;
            default: error = EIO; break;
        }
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        error = errno;
        CloseHandle(handle);
        DeleteFileA(path.c_str());
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
#else
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
#endif
    if (!file) {
        error = errno;
#ifdef _WIN32
        _close(fd);
#else
        close(fd);
#endif
        std::remove(path.c_str());
    }
    return file;
}

// What stood at a name that is to be written anew.
enum class Cleared { Nothing, Device, Failed };

// Removes the file or link at `path` (the link itself, never its target). A device or pipe, met
// directly or through a link, is left: there is no file to replace, and removing /dev/null or
// /dev/stderr would harm the whole system.
Cleared ClearName(const std::string& path, int& error) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Cleared::Nothing;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
        error = EISDIR;
        return Cleared::Failed;
    }
    const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path.c_str())
                                                                 : DeleteFileA(path.c_str());
    if (!removed) {
        const DWORD failure = GetLastError();
        if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND) return Cleared::Nothing;
        error = failure == ERROR_ACCESS_DENIED ? EACCES : EIO;
        return Cleared::Failed;
    }
    return Cleared::Nothing;
#else
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) return Cleared::Nothing;
        error = errno;
        return Cleared::Failed;
    }
    const auto isDevice = [](mode_t mode) { return S_ISCHR(mode) || S_ISFIFO(mode); };
    if (isDevice(status.st_mode)) return Cleared::Device;
    if (S_ISLNK(status.st_mode)) {
        struct stat target {};
        if (stat(path.c_str(), &target) == 0 && isDevice(target.st_mode)) return Cleared::Device;
    } else if (S_ISDIR(status.st_mode)) {
        error = EISDIR;
        return Cleared::Failed;
    }
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = errno;
        return Cleared::Failed;
    }
    return Cleared::Nothing;
#endif
}

#ifndef _WIN32
// A device or pipe opened for writing as it is. A pipe without a reader fails at once rather than
// waiting for one.
std::FILE* OpenDevice(const std::string& path, int& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        error = errno;
        close(fd);
    }
    return file;
}
#endif

// Writes the whole of `data` and closes the file; the reason of the first failure in `error`.
bool WriteAndClose(std::FILE* file, const void* data, std::size_t size, bool sync, int& error) {
    errno = 0;
    bool ok = std::fwrite(data, 1, size, file) == size;
    ok = ok && std::fflush(file) == 0 && (!sync || SyncToDisk(file));
    error = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok && error == 0) error = EIO;
    return ok;
}

// A name beside the target that no other writer uses and nobody can guess ahead: hidden on Unix.
std::string TemporaryBeside(const std::string& target, unsigned) {
    static std::atomic<unsigned> counter{0};
    static std::random_device random;
    const auto stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned long long salt = (static_cast<unsigned long long>(random()) << 32) ^ random() ^ stamp;
    char unique[40];
    std::snprintf(unique, sizeof unique, "%016llx-%u", salt, counter++);
    const fs::path path(target);
    return (path.parent_path() / ("." + path.filename().string() + "." + unique + ".tmp")).string();
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        error = "cannot read '" + path + "': it is a folder, not a file";
        return false;
    }
    // Every size in an update file is a 32-bit count: a larger file could only be refused after
    // minutes of reading it into memory.
    const std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && !FitsUpdateSize(size)) {
        error = "cannot read '" + path + "': it holds " + std::to_string(size) +
                " bytes, more than the 4294967295 bytes (4 GiB less one byte) an update file can hold";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot open '" + path + "': " + Reason(errno);
        return false;
    }
    bytes.clear();
    unsigned char block[64 * 1024];
    for (;;) {
        const std::size_t got = std::fread(block, 1, sizeof block, file);
        bytes.insert(bytes.end(), block, block + got);
        if (got < sizeof block) break;
    }
    const bool failed = std::ferror(file) != 0;
    const int readError = errno;
    std::fclose(file);
    if (failed) {
        error = "cannot read '" + path + "': " + Reason(readError);
        return false;
    }
    return true;
}

bool ReplaceFile(const std::string& path, const std::string& data, std::string& error,
                 const TemporaryNamer& namer) {
    const fs::path target(path);
    if (target.filename().empty()) {
        error = "cannot write '" + path + "': it names a folder, not a file";
        return false;
    }
    // Only a file this call created holds the data: a name taken meanwhile, by a file or a link
    // planted there, is passed over for another.
    constexpr unsigned kAttempts = 100;
    std::string temporary;
    std::FILE* file = nullptr;
    int openError = EEXIST;
    for (unsigned attempt = 0; !file && openError == EEXIST && attempt < kAttempts; ++attempt) {
        temporary = namer ? namer(path, attempt) : TemporaryBeside(path, attempt);
        file = CreateExclusive(temporary, openError);
    }
    if (!file) {
        error = "cannot write '" + path + "': " + Reason(openError);
        return false;
    }
    int writeError = 0;
    std::error_code ec;
    if (WriteAndClose(file, data.data(), data.size(), true, writeError)) {
        // A rename replaces a link at `path` itself, never its target.
        fs::rename(temporary, target, ec);
        if (ec) {
            error = "cannot write '" + path + "': " + ec.message();
            fs::remove(temporary, ec);
            return false;
        }
        return true;
    }
    error = "cannot write '" + path + "': " + Reason(writeError);
    fs::remove(temporary, ec);
    return false;
}

std::FILE* OpenFreshFile(const std::string& path, std::string& error) {
    int reason = 0;
    std::FILE* file = nullptr;
    switch (ClearName(path, reason)) {
        case Cleared::Failed: break;
#ifndef _WIN32
        case Cleared::Device: file = OpenDevice(path, reason); break;
#endif
        default: file = CreateExclusive(path, reason); break;
    }
    if (!file) error = "cannot write '" + path + "': " + Reason(reason);
    return file;
}

bool WriteFreshFile(const std::string& path, const void* data, std::size_t size, std::string& error) {
    std::FILE* file = OpenFreshFile(path, error);
    if (!file) return false;
    int reason = 0;
    if (WriteAndClose(file, data, size, false, reason)) return true;
    error = "cannot write '" + path + "': " + Reason(reason);
    return false;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec) && !ec) return true;
    // A file that does not exist yet is the same when both paths lead to the same place.
    std::error_code ecA, ecB;
    const fs::path fullA = fs::weakly_canonical(fs::absolute(a, ecA), ecA);
    const fs::path fullB = fs::weakly_canonical(fs::absolute(b, ecB), ecB);
    return !ecA && !ecB && fullA == fullB;
}
