#include "fakes/FaultyFiles.h"

#include <utility>

FaultyFiles::FaultyFiles(std::string programDirectory, Fault fault, int at)
    : programDirectory_(std::move(programDirectory)), fault_(fault), at_(at), files_(systemFileSystem()),
      profile_(systemProfileFile()) {}

bool FaultyFiles::allowChange() {
    ++changes_;
    stopped_ = (fault_ == Fault::Crash && changes_ >= at_) || (fault_ == Fault::FailOnce && changes_ == at_);
    return !stopped_;
}

std::string FaultyFiles::lastErrorText() {
    return stopped_ ? "fault placed by the test" : files_.lastErrorText();
}

bool FaultyFiles::setAttributesNormal(const std::string& path) {
    return allowChange() && files_.setAttributesNormal(path);
}

FileSystem::Removal FaultyFiles::removeEntry(const std::string& path) {
    return allowChange() ? files_.removeEntry(path) : Removal::Failed;
}

bool FaultyFiles::writeReplacement(const std::string& path, const std::string& original, const std::string& bytes) {
    return allowChange() && files_.writeReplacement(path, original, bytes);
}

bool FaultyFiles::replaceFile(const std::string& from, const std::string& to) {
    return allowChange() && files_.replaceFile(from, to);
}

bool FaultyFiles::overwriteFile(const std::string& path, const std::string& bytes) {
    return allowChange() && files_.overwriteFile(path, bytes);
}

uint32_t FaultyFiles::getPrivateProfileString(const std::string& section, const std::string& key,
                                              const std::string& fallback, char* buffer, uint32_t size,
                                              const std::string& path) {
    return profile_.getPrivateProfileString(section, key, fallback, buffer, size, path);
}

bool FaultyFiles::writePrivateProfileString(const std::string& section, const std::string& key,
                                            const std::string& value, const std::string& path) {
    return allowChange() && profile_.writePrivateProfileString(section, key, value, path);
}
