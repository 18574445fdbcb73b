#pragma once

#include "platform/FileSystem.h"
#include "platform/ProfileFile.h"

#include <string>

// The real file system and profile writer with one fault placed at the n-th operation that changes
// a file (a profile write, an attribute change, a removal, a creation, a replacement or an overwrite,
// counted from 1):
// - Crash: that operation and every later one do nothing, as if the process had died there;
// - FailOnce: that operation alone fails without doing anything.
class FaultyFiles : public FileSystem, public ProfileFile {
public:
    enum class Fault { None, Crash, FailOnce };

    FaultyFiles(std::string programDirectory, Fault fault = Fault::None, int at = 0);

    int changesAttempted() const { return changes_; }

    std::string executableDirectory() override { return programDirectory_; }
    char pathSeparator() const override { return files_.pathSeparator(); }
    bool getFileAttributes(const std::string& path) override { return files_.getFileAttributes(path); }
    bool setCurrentDirectory(const std::string& path) override { return files_.setCurrentDirectory(path); }
    Result setAttributesNormal(const std::string& path) override;
    Removal removeEntry(const std::string& path) override;
    Result writeReplacement(const std::string& path, const std::string& original, const std::string& bytes) override;
    Result replaceFile(const std::string& from, const std::string& to) override;
    Result overwriteFile(const std::string& path, const std::string& bytes) override;
    bool canRead(const std::string& path) override { return files_.canRead(path); }
    bool othersMayChange(const std::string& path) override { return files_.othersMayChange(path); }
    std::optional<FileStamp> fileStamp(const std::string& path) override { return files_.fileStamp(path); }
    ResultWith<std::string> readFirstLine(const std::string& path) override { return files_.readFirstLine(path); }
    std::string lastErrorText() override;

    uint32_t getPrivateProfileString(const std::string& section, const std::string& key, const std::string& fallback,
                                     char* buffer, uint32_t size, const std::string& path) override;
    bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& path) override;

private:
    bool allowChange(); // counts one change; false when the fault stops it

    std::string programDirectory_;
    Fault fault_;
    int at_;
    int changes_ = 0;
    bool stopped_ = false; // the last change was one the fault stopped
    FileSystem& files_;
    ProfileFile& profile_;
};
