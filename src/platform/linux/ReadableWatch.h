#pragma once

#include <functional>
#include <memory>

// A file descriptor that the event loop watches until this is destroyed.
class ReadableWatch {
public:
    virtual ~ReadableWatch() = default;
};

// Has the user-interface thread's event loop call onReadable, from the loop, whenever fd can be read.
using WatchReadable = std::function<std::unique_ptr<ReadableWatch>(int fd, std::function<void()> onReadable)>;
