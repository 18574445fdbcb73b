// The control channel's named pipe under Wine: the conformance scenarios, and the pipe's security.
#include "platform/win32/Win32ControlChannel.h"
#include "platform/ControlChannelConformance.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>
#include <sddl.h>
#define SECURITY_WIN32
#include <security.h>

#include <map>

namespace {

struct Win32ChannelDriver {
    struct Place {
        std::wstring name = L"\\\\.\\pipe\\QuietwireTest." + std::to_wstring(GetCurrentProcessId()) + L"." +
                            std::to_wstring(GetTickCount64()) + L"." + std::to_wstring(++made);
        static inline int made = 0;
    };

    static std::unique_ptr<ControlServer> server(const Place& place) {
        return std::make_unique<Win32ControlServer>(place.name);
    }
    static std::unique_ptr<ControlClient> client(const Place& place) {
        return std::make_unique<Win32ControlClient>(place.name);
    }

    class RawClient {
    public:
        // Once the server, on this thread's loop, offers the next instance.
        explicit RawClient(const Place& place) {
            pumpUntil(
                [&] {
                    pipe_ = std::make_unique<UniqueHandle>(CreateFileW(
                        place.name.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr));
                    return pipe_->valid() || GetLastError() != ERROR_PIPE_BUSY;
                },
                10000);
            EXPECT_TRUE(pipe_->valid()) << GetLastError();
        }
        void write(const std::string& bytes) {
            DWORD written = 0;
            EXPECT_TRUE(WriteFile(pipe_->get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
                << GetLastError();
        }

    private:
        std::unique_ptr<UniqueHandle> pipe_;
    };
    static std::unique_ptr<RawClient> rawClient(const Place& place) { return std::make_unique<RawClient>(place); }

    static bool pumpUntil(const std::function<bool()>& done, int milliseconds) {
        const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
        while (!done()) {
            if (GetTickCount64() >= until) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            }
        }
        return true;
    }

    static std::string ownUser() {
        char name[512];
        ULONG size = sizeof name;
        EXPECT_TRUE(GetUserNameExA(NameSamCompatible, name, &size)) << GetLastError();
        return name;
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ControlChannelConformance, Win32ChannelDriver);

// The rights each account holds on the pipe, with generic rights as a file's.
std::map<std::string, std::pair<ACCESS_MASK, ACCESS_MASK>> rightsOf(HANDLE pipe, bool& isProtected) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    std::map<std::string, std::pair<ACCESS_MASK, ACCESS_MASK>> rights; // allowed, denied
    EXPECT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    isProtected = (control & SE_DACL_PROTECTED) != 0;
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        GetAce(dacl, i, reinterpret_cast<void**>(&ace));
        // An allowed and a denied ACE keep the mask and the SID at the same place.
        auto* entry = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        char* sid = nullptr;
        ConvertSidToStringSidA(&entry->SidStart, &sid);
        ACCESS_MASK mask = entry->Mask;
        MapGenericMask(&mask, &mapping);
        auto& [allowed, denied] = rights[sid];
        (ace->AceType == ACCESS_DENIED_ACE_TYPE ? denied : allowed) |= mask;
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return rights;
}

TEST(Win32ControlPipe, IsTheSystemsAndAdministratorsUsersAtTheMachineMayReadAndWriteNetworkLogonsNothing) {
    Win32ChannelDriver::Place place;
    Win32ControlServer server(place.name);
    ASSERT_TRUE(server.Listen({}));
    bool isProtected = false;
    const auto rights = rightsOf(server.waitingPipe(), isProtected);
    EXPECT_TRUE(isProtected) << "rights inherited from elsewhere would widen it";
    const std::pair<ACCESS_MASK, ACCESS_MASK> all{FILE_ALL_ACCESS, 0};
    const std::pair<ACCESS_MASK, ACCESS_MASK> readWrite{
        FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES, 0};
    const std::map<std::string, std::pair<ACCESS_MASK, ACCESS_MASK>> expected{
        {"S-1-5-18", all},                  // the system
        {"S-1-5-32-544", all},              // administrators
        {"S-1-5-4", readWrite},             // interactive users: no FILE_CREATE_PIPE_INSTANCE
        {"S-1-5-2", {0, FILE_ALL_ACCESS}}}; // network logons
    EXPECT_EQ(rights, expected);
}

} // namespace
