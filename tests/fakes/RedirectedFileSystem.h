#pragma once

#include "platform/FileSystem.h"

#include <string>

// The real file system, except that the program's directory is one the test chose, so that each
// test has its own settings.ini.
class RedirectedFileSystem : public FileSystem {
public:
    explicit RedirectedFileSystem(std::string programDirectory, FileSystem& real = systemFileSystem());

    std::string executableDirectory() override { return programDirectory_; }
    char pathSeparator() const override { return real_.pathSeparator(); }
    bool getFileAttributes(const std::string& path) override { return real_.getFileAttributes(path); }
    bool setCurrentDirectory(const std::string& path) override { return real_.setCurrentDirectory(path); }
    bool cannotTell(const std::string& path) override { return real_.cannotTell(path); }
    Result setAttributesNormal(const std::string& path) override { return real_.setAttributesNormal(path); }
    Removal removeEntry(const std::string& path) override { return real_.removeEntry(path); }
    Result writeReplacement(const std::string& path, const std::string& original, const std::string& bytes) override {
        return real_.writeReplacement(path, original, bytes);
    }
    Result replaceFile(const std::string& from, const std::string& to) override { return real_.replaceFile(from, to); }
    Result overwriteFile(const std::string& path, const std::string& bytes) override {
        return real_.overwriteFile(path, bytes);
    }
    bool canRead(const std::string& path) override { return real_.canRead(path); }
    bool othersMayChange(const std::string& path) override { return real_.othersMayChange(path); }
    std::optional<FileStamp> fileStamp(const std::string& path) override { return real_.fileStamp(path); }
    ResultWith<std::string> readFirstLine(const std::string& path) override { return real_.readFirstLine(path); }
    std::string lastErrorText() override { return real_.lastErrorText(); }

protected:
    std::string programDirectory_;
    FileSystem& real_;
};
