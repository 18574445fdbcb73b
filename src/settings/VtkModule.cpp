#include "settings/VtkModule.h"

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "settings/AppError.h"

namespace VtkModule {
namespace {

constexpr int RingStart = 32;
constexpr int RingSize = 224;
constexpr int16_t LargestNumber = 32766;
constexpr size_t LongestDecryptable = 32767; // its position counter is 16-bit
constexpr uint32_t ReadBufferSize = 2048;

// The step loop of the scrambler in closed form: the same codes for every input, in one step.
unsigned char moveUp(unsigned char c, int n) {
    if (c >= RingStart) {
        return static_cast<unsigned char>(RingStart + (c - RingStart + n) % RingSize);
    }
    if (c + n <= 255) {
        return static_cast<unsigned char>(c + n);
    }
    return static_cast<unsigned char>(RingStart + (c + n - 256) % RingSize);
}

unsigned char moveDown(unsigned char c, int n) {
    if (n == 0) {
        return c;
    }
    if (c >= RingStart) {
        return static_cast<unsigned char>(RingStart + ((c - RingStart - n) % RingSize + RingSize) % RingSize);
    }
    // Below the ring the first step lands on 255; the rest walk down the ring from there.
    return static_cast<unsigned char>(RingStart + (RingSize - n % RingSize) % RingSize);
}

std::string moveAll(const std::string& text, int n, unsigned char (*move)(unsigned char, int)) {
    std::string out(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        out[i] = static_cast<char>(move(static_cast<unsigned char>(text[i]), n));
    }
    return out;
}

std::string withSeparator(std::string dir, char separator) {
    if (dir.empty() || dir.back() != separator) {
        dir += separator;
    }
    return dir;
}

} // namespace

std::string Encrypt(const std::string& text, int16_t EncryptNumber) {
    if (EncryptNumber > LargestNumber) {
        throw AppError(ErrorNumber::Crypter, "Crypter",
                       "'EncryptNumber' is an integer, and may not be greater than 32766!");
    }
    if (EncryptNumber < 0) {
        return text;
    }
    return moveAll(text, EncryptNumber, moveUp);
}

std::string Decrypt(const std::string& text, int16_t DecryptNumber) {
    if (DecryptNumber > LargestNumber) {
        throw AppError(ErrorNumber::Crypter, "Crypter",
                       "'DecryptNumber' is an integer, and may not be greater than 32766!");
    }
    if (DecryptNumber < 0) {
        return text;
    }
    if (text.size() > LongestDecryptable) {
        throw AppError(ErrorNumber::Overflow, AppTitle, "Overflow");
    }
    return moveAll(text, DecryptNumber, moveDown);
}

std::string AppPath() {
    FileSystem& fs = platform::get<FileSystem>();
    return withSeparator(fs.dataDirectory(), fs.pathSeparator());
}

std::string DocPath() {
    FileSystem& fs = platform::get<FileSystem>();
    return withSeparator(fs.documentDirectory(), fs.pathSeparator());
}

std::string ReadIni(const std::string& path, const std::string& section, const std::string& key) {
    std::string buffer(ReadBufferSize, '\0');
    const uint32_t n =
        platform::get<ProfileFile>().getPrivateProfileString(section, key, "", buffer.data(), ReadBufferSize, path);
    buffer.resize(n < ReadBufferSize ? n : ReadBufferSize - 1);
    return buffer;
}

int32_t WriteIni(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value) {
    return platform::get<ProfileFile>().writePrivateProfileString(section, key, value, path) ? 1 : 0;
}

bool DirExists(const std::string& path) {
    return platform::get<FileSystem>().setCurrentDirectory(path);
}

bool FileExists(const std::string& path) {
    if (DirExists(path)) {
        return false;
    }
    if (path.empty()) {
        return false;
    }
    return platform::get<FileSystem>().getFileAttributes(path);
}

std::string LCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

} // namespace VtkModule
