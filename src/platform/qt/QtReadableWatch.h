#pragma once

#include "platform/linux/ReadableWatch.h"

#include <functional>
#include <memory>

// A QSocketNotifier on the calling thread's event loop: onReadable runs from that loop.
std::unique_ptr<ReadableWatch> watchReadableOnQtLoop(int fd, std::function<void()> onReadable);
