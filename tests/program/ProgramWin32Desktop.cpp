#include "program/ProgramWin32Desktop.h"

#include "fakes/RedirectedFileSystem.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/win32/UniqueHandle.h"
#include "support/Settings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

// A 32-bit picture held in memory, pixels as 0x00RRGGBB row by row from the top.
class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height), dc_(CreateCompatibleDC(nullptr)) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    uint32_t at(int x, int y) const {
        GdiFlush();
        return bits_[y * width_ + x] & 0xFFFFFF;
    }
    void fill(uint32_t colour) { std::fill(bits_, bits_ + width_ * height_, colour); }

private:
    int width_;
    int height_;
    HDC dc_;
    HBITMAP bitmap_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// The process's visible or hidden top-level windows of the class with the caption.
std::vector<HWND> windowsOf(DWORD process, const std::string& windowClass, const std::string& caption) {
    struct Search {
        DWORD process;
        const std::string& windowClass;
        const std::string& caption;
        std::vector<HWND> found;
    } search{process, windowClass, caption, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            char name[64] = {};
            char text[256] = {};
            GetClassNameA(window, name, sizeof name);
            GetWindowTextA(window, text, sizeof text);
            if (owner == s.process && s.windowClass == name && s.caption == text) {
                s.found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The test's own token with the Administrators group for denying only.
UniqueHandle limitedToken() {
    HANDLE own = nullptr;
    HANDLE limited = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    SID_AND_ATTRIBUTES denyOnly{administrators, 0};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &own) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
        !CreateRestrictedToken(own, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &limited)) {
        ADD_FAILURE() << "no token with the Administrators group for denying only: " << GetLastError();
    }
    const UniqueHandle ownToken(own);
    return UniqueHandle(limited);
}

} // namespace

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void photograph(const std::string& name) {
    const char* folder = std::getenv("QW_PHOTO_REQUESTS");
    ASSERT_NE(folder, nullptr) << "QW_PHOTO_REQUESTS is not set: run these tests through program-check.sh";
    const std::string request = std::string(folder) + "/" + name + ".request";
    writeBytes(request, "");
    EXPECT_TRUE(waitUntil([&] { return !exists(request); })) << "no photograph was taken for " << name;
}

FILETIME lastWritten(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool operator==(const FILETIME& a, const FILETIME& b) {
    return CompareFileTime(&a, &b) == 0;
}

FILETIME backdate(const std::string& path) {
    const FILETIME longAgo{0x256D4000, 0x01BF53EB};
    const UniqueHandle file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.valid() && SetFileTime(file.get(), nullptr, nullptr, &longAgo) ? longAgo : FILETIME{};
}

void useSettingsFolder(const std::string& folder, const std::function<void()>& use) {
    RedirectedFileSystem files(folder);
    platform::ScopedInstall<FileSystem> useFiles(files);
    platform::ScopedInstall<ProfileFile> useProfile(systemProfileFile());
    use();
}

void writeOpenAllDaySettings(const std::string& folder) {
    useSettingsFolder(folder, [] {
        resetSettings();
        modGlobals::AdminPassword = "secret";
        modGlobals::StartTime = "00:00:00";
        modGlobals::EndTime = "00:00:00";
        setPorts({"2525, TEST"});
        ASSERT_TRUE(modGlobals::SaveSettings());
    });
}

std::vector<uint32_t> drawnPixels(HICON icon, int size) {
    std::vector<uint32_t> pixels;
    for (const uint32_t background : {0x000000u, 0xFFFFFFu}) {
        Canvas canvas(size, size);
        canvas.fill(background);
        DrawIconEx(canvas.dc(), 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                pixels.push_back(canvas.at(x, y));
            }
        }
    }
    return pixels;
}

TrayPicture::TrayPicture(const std::string& program, ProgramIcon icon) : size_(GetSystemMetrics(SM_CXSMICON)) {
    const HMODULE module =
        LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    const auto handle = static_cast<HICON>(
        LoadImageA(module, MAKEINTRESOURCEA(static_cast<int>(icon)), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    Canvas black(size_, size_);
    Canvas white(size_, size_);
    white.fill(0xFFFFFF);
    for (Canvas* canvas : {&black, &white}) {
        DrawIconEx(canvas->dc(), 0, 0, handle, size_, size_, 0, nullptr, DI_NORMAL);
    }
    for (int y = 0; y < size_; ++y) {
        for (int x = 0; x < size_; ++x) {
            if (black.at(x, y) == white.at(x, y)) {
                opaque_.push_back({x, y, black.at(x, y)});
            }
        }
    }
    DestroyIcon(handle);
    FreeLibrary(module);
}

std::vector<POINT> TrayPicture::placesInTaskbar() const {
    const HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    RECT area{};
    if (taskbar == nullptr || !IsWindowVisible(taskbar) || !GetWindowRect(taskbar, &area)) {
        return {};
    }
    Canvas shot(area.right - area.left, area.bottom - area.top);
    const HDC screen = GetDC(nullptr);
    BitBlt(shot.dc(), 0, 0, shot.width(), shot.height(), screen, area.left, area.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    std::vector<POINT> places;
    for (int y = 0; y + size_ <= shot.height(); ++y) {
        for (int x = 0; x + size_ <= shot.width(); ++x) {
            bool same = true;
            for (size_t i = 0; same && i < opaque_.size(); ++i) {
                same = shot.at(x + opaque_[i].x, y + opaque_[i].y) == opaque_[i].colour;
            }
            if (same) {
                places.push_back({area.left + x + size_ / 2, area.top + y + size_ / 2});
            }
        }
    }
    return places;
}

RunningProgram::RunningProgram(const std::string& path, Rights rights) {
    std::string command = "\"" + path + "\"";
    const std::string folder = std::filesystem::path(path).parent_path().string();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    BOOL started = FALSE;
    if (rights == Rights::Own) {
        started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                                 &info);
    } else if (const UniqueHandle token = limitedToken(); token.valid()) {
        started = CreateProcessAsUserA(token.get(), nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                       folder.c_str(), &startup, &info);
    }
    if (started) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        id_ = info.dwProcessId;
    }
}

RunningProgram::~RunningProgram() {
    if (process_ == nullptr) {
        return;
    }
    if (running()) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(mainWindow(), WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        if (!endsWithin(10000)) {
            TerminateProcess(process_, 1);
        }
    }
    CloseHandle(process_);
}

bool RunningProgram::endsWithin(DWORD millis) const {
    DWORD code = 1;
    return WaitForSingleObject(process_, millis) == WAIT_OBJECT_0 && GetExitCodeProcess(process_, &code) && code == 0;
}

HWND RunningProgram::mainWindow() const {
    for (HWND window : windowsOf(id_, "QuietwireForm", "")) {
        if (FindWindowExA(window, nullptr, "Button", "HIDE") != nullptr) {
            return window;
        }
    }
    return nullptr;
}

HWND RunningProgram::shown(const std::string& windowClass, const std::string& caption) const {
    for (HWND window : windowsOf(id_, windowClass, caption)) {
        if (IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

std::string messageText(HWND box) {
    char text[512] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text); // the message box's text control
    return text;
}

void rightClick(POINT at) {
    SetCursorPos(at.x, at.y);
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    SendInput(2, clicks, sizeof clicks[0]);
}

void pressKey(WORD key) {
    INPUT strokes[2] = {};
    strokes[0].type = strokes[1].type = INPUT_KEYBOARD;
    strokes[0].ki.wVk = strokes[1].ki.wVk = key;
    strokes[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, strokes, sizeof strokes[0]);
}

ToolRun runTool(const std::string& tool, const std::string& arguments, const std::string& outputFile) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    ToolRun run;
    {
        const UniqueHandle output(
            CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
        PROCESS_INFORMATION info{};
        std::string command = "\"" + tool + "\" " + arguments;
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &startup, &info)) {
            return run;
        }
        const UniqueHandle process(info.hProcess);
        CloseHandle(info.hThread);
        WaitForSingleObject(process.get(), 60000);
        GetExitCodeProcess(process.get(), &run.status);
    }
    run.output = readBytes(outputFile);
    return run;
}
