#include "FileOutput.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
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

// A name beside the target that no other writer uses: hidden on Unix, unique per call.
fs::path TemporaryBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (;;) {
        const fs::path candidate =
            target.parent_path() / ("." + target.filename().string() + "." + std::to_string(stamp) + "-" +
                                    std::to_string(counter++) + ".tmp");
        std::error_code ec;
        if (!fs::exists(candidate, ec)) return candidate;
    }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        error = "cannot read '" + path + "': it is a folder, not a file";
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

bool ReplaceFile(const std::string& path, const std::string& data, std::string& error) {
    const fs::path target(path);
    if (target.filename().empty()) {
        error = "cannot write '" + path + "': it names a folder, not a file";
        return false;
    }
    const fs::path temporary = TemporaryBeside(target);
    std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
    if (!file) {
        error = "cannot write '" + path + "': " + Reason(errno);
        return false;
    }
    errno = 0;
    bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    ok = ok && std::fflush(file) == 0 && SyncToDisk(file);
    int writeError = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        writeError = errno;
    }
    std::error_code ec;
    if (ok) {
        fs::rename(temporary, target, ec);
        if (ec) {
            error = "cannot write '" + path + "': " + ec.message();
            fs::remove(temporary, ec);
            return false;
        }
        return true;
    }
    error = "cannot write '" + path + "': " + (writeError ? Reason(writeError) : std::string("write failed"));
    fs::remove(temporary, ec);
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
