// The control channel's Unix socket read from the Qt event loop: the conformance scenarios.
#include "platform/ControlChannelConformance.h"
#include "platform/linux/LinuxControlChannel.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "platform/qt/QtReadableWatch.h"
#include "support/TempDir.h"

#include <QTest>
#include <QTimer>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

struct QtChannelDriver {
    struct Place {
        TempDir folder;
        std::string path = folder.file("control.sock");
    };

    static std::unique_ptr<ControlServer> server(const Place& place) {
        return std::make_unique<LinuxControlServer>(
            watchReadableOnQtLoop,
            [](int milliseconds, std::function<void()> run) {
                QTimer::singleShot(milliseconds, [run = std::move(run)] { run(); });
            },
            place.path);
    }
    static std::unique_ptr<ControlClient> client(const Place& place) {
        return std::make_unique<LinuxControlClient>(watchReadableOnQtLoop, place.path);
    }

    class RawClient {
    public:
        explicit RawClient(const Place& place) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, place.path.c_str(), sizeof address.sun_path - 1);
            EXPECT_EQ(::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << errno;
        }
        ~RawClient() { ::close(fd_); }
        void write(const std::string& bytes) {
            EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())) << errno;
        }

    private:
        int fd_;
    };
    static std::unique_ptr<RawClient> rawClient(const Place& place) { return std::make_unique<RawClient>(place); }

    static bool pumpUntil(const std::function<bool()>& done, int milliseconds) {
        return QTest::qWaitFor(done, milliseconds);
    }

    static std::string ownUser() { return ::getpwuid(::geteuid())->pw_name; }
};

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, ControlChannelConformance, QtChannelDriver);
