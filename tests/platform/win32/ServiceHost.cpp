// The program as the service manager runs it, for the service tests. "install [interactive] [start
// mode]" registers it; started by the manager (no arguments) it answers the requests on its own loop
// and, when its loop ends, writes what it heard beside itself.
#include "platform/ServiceControl.h"
#include "platform/win32/Win32ControlChannel.h"

#include <windows.h>
#undef StartService

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class Recorder final : public ServiceRequests {
public:
    void Start(bool& success) override {
        log("Start");
        success = true;
    }
    void Continue(bool& success) override {
        log("Continue");
        success = true;
    }
    void Stop() override {
        log("Stop");
        PostQuitMessage(0);
    }

    std::string heard;

private:
    void log(const char* request) {
        heard += std::string(request) + (GetCurrentThreadId() == uiThread_ ? " on the UI thread\n" : " elsewhere\n");
    }

    const DWORD uiThread_ = GetCurrentThreadId();
};

std::string beside(const std::string& name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string self(path);
    return self.substr(0, self.find_last_of('\\') + 1) + name;
}

} // namespace

int main(int argc, char** argv) {
    ServiceControl& control = systemServiceControl();
    control.SetDisplayName("QWADMIN");
    control.SetControlsAccepted(1);
    if (argc >= 2 && std::string(argv[1]) == "install") {
        control.SetInteractive(argc < 3 || std::string(argv[2]) != "0");
        control.SetStartMode(argc >= 4 ? std::atoi(argv[3]) : 2);
        const Result installed = control.Install();
        if (installed) {
            return 0;
        }
        std::fprintf(stderr, "%s\n", installed.reason().c_str());
        return 1;
    }

    control.SetInteractive(true);
    control.SetStartMode(2);
    Recorder recorder;
    control.Listen(recorder);
    control.StartService();
    // A channel of the service's own, on a name of the tests' (Win32ServiceControlTest.cpp): what it
    // hears, it says back.
    Win32ControlServer channel(L"\\\\.\\pipe\\QuietwireTest.ServiceHost");
    const Result listening =
        channel.Listen({[&](ControlServer::PeerId peer, const std::string& line) { channel.Send(peer, line); }, {}});
    if (!listening) {
        recorder.heard += "no channel: " + listening.reason() + "\n";
    }
    // Should the test that started it die, the program still ends.
    SetTimer(nullptr, 0, 120000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            recorder.heard += "no stop request\n";
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    std::ofstream(beside("service-host-heard.txt"), std::ios::binary) << recorder.heard;
    return 0;
}
