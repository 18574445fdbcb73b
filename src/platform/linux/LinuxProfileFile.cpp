#include "platform/ProfileFile.h"
#include "platform/ProfileText.h"
#include "platform/linux/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The whole file, an empty text when it does not exist, nothing when it exists but cannot be read. A
// FIFO or device put in its place is not read: the read would wait for ever.
std::optional<std::string> readFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        return errno == ENOENT ? std::optional<std::string>("") : std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n == 0) {
            return text;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
}

// Never through a link: one put in the program's folder would point root's write at any file.
bool writeFile(const std::string& path, const std::string& text) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.valid()) {
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return ::close(fd.release()) == 0;
}

class LinuxProfileFile final : public ProfileFile {
public:
    uint32_t getPrivateProfileString(const std::string& section, const std::string& key, const std::string& fallback,
                                     char* buffer, uint32_t size, const std::string& path) override {
        if (size == 0) {
            return 0;
        }
        std::optional<std::string> value;
        if (const std::optional<std::string> text = readFile(path)) {
            value = ProfileText::read(*text, section, key);
        }
        const std::string& result = value ? *value : fallback;
        const uint32_t n = result.size() < size - 1 ? static_cast<uint32_t>(result.size()) : size - 1;
        std::memcpy(buffer, result.data(), n);
        buffer[n] = '\0';
        return n;
    }

    bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& path) override {
        const std::optional<std::string> text = readFile(path);
        if (!text) {
            return false;
        }
        const std::optional<std::string> changed = ProfileText::write(*text, section, key, value);
        return changed && writeFile(path, *changed);
    }
};

} // namespace

ProfileFile& systemProfileFile() {
    static LinuxProfileFile instance;
    return instance;
}
