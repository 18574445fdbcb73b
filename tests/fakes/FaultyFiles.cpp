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

namespace {

constexpr const char* Placed = "fault placed by the test";

} // namespace

std::string FaultyFiles::lastErrorText() {
    return stopped_ ? Placed : files_.lastErrorText();
}

Result FaultyFiles::setAttributesNormal(const std::string& path) {
    return allowChange() ? files_.setAttributesNormal(path) : Result::Failed(Placed);
}

FileSystem::Removal FaultyFiles::removeEntry(const std::string& path) {
    return allowChange() ? files_.removeEntry(path) : Removal::Failed;
}

Result FaultyFiles::writeReplacement(const std::string& path, const std::string& original, const std::string& bytes) {
    return allowChange() ? files_.writeReplacement(path, original, bytes) : Result::Failed(Placed);
}

Result FaultyFiles::replaceFile(const std::string& from, const std::string& to) {
    return allowChange() ? files_.replaceFile(from, to) : Result::Failed(Placed);
}

Result FaultyFiles::overwriteFile(const std::string& path, const std::string& bytes) {
    return allowChange() ? files_.overwriteFile(path, bytes) : Result::Failed(Placed);
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
