#include "fakes/RedirectedFileSystem.h"

#include <utility>

RedirectedFileSystem::RedirectedFileSystem(std::string programDirectory, FileSystem& real)
    : programDirectory_(std::move(programDirectory)), real_(real) {}
