#include "platform/win32/Win32ControlChannel.h"

#include "platform/win32/ScopedWin.h"
#include "platform/win32/ServiceHandle.h"
#include "platform/win32/SystemWords.h"

#include <sddl.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

const wchar_t ControlPipeName[] = L"\\\\.\\pipe\\Quietwire.Control";
// The users' entry is FILE_GENERIC_READ | FILE_GENERIC_WRITE without FILE_APPEND_DATA, which on a pipe is
// FILE_CREATE_PIPE_INSTANCE: a user could otherwise serve instances of the enforcer's name.
const wchar_t ControlPipeSecurity[] = L"D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12019b;;;IU)";

namespace {

// Longer than any message the program sends (service/ControlMessages keeps to 16 KiB).
constexpr std::size_t MaxLineBytes = 16 * 1024;
// What a peer that does not read may have waiting for it before it is dropped: sixteen of the longest lines.
constexpr std::size_t MaxBacklogBytes = 16 * (MaxLineBytes + 1);
constexpr DWORD PipeBufferBytes = 64 * 1024;
constexpr std::size_t ReadChunkBytes = 16 * 1024;
// How long a client waits for a busy enforcer to offer an instance, and for its line to be taken.
constexpr DWORD BusyWaitMs = 2000;
constexpr DWORD SendWaitMs = 1000;
constexpr int RetryListenMs = 1000;
// Far below the enforcer's limit of handles, so that nobody can keep it from opening what it needs; and one
// user's share, so that nobody can keep the others out.
constexpr std::size_t MostPeers = 256;
constexpr std::size_t MostPeersOfOneUser = 32;
// The service the enforcer runs as, as Win32ServiceControl registers it.
constexpr wchar_t ServiceName[] = L"Quietwire";

constexpr UINT ConnectDone = WM_APP + 1;
constexpr UINT ReadDone = WM_APP + 2;
constexpr UINT WriteDone = WM_APP + 3;
constexpr wchar_t WindowClass[] = L"QuietwireControlChannel";

std::string utf8(const std::wstring& text) {
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

Result failure(const std::string& what, DWORD error) {
    return Result::Failed(what + ": " + systemWords(error), static_cast<int>(error));
}

Result readFailure(DWORD error) {
    if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA) {
        return Result::Failed("the enforcer went away", static_cast<int>(error));
    }
    return failure("Could not read from the control channel", error);
}

// Moves the complete lines of incoming into lines; false when a line outgrows the limit.
bool takeLines(std::string& incoming, std::vector<std::string>& lines) {
    std::size_t start = 0;
    for (std::size_t end = incoming.find('\n'); end != std::string::npos; end = incoming.find('\n', start)) {
        if (end - start > MaxLineBytes) {
            return false;
        }
        lines.push_back(incoming.substr(start, end - start));
        start = end + 1;
    }
    incoming.erase(0, start);
    return incoming.size() <= MaxLineBytes;
}

std::vector<BYTE> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD size = 0;
    GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<BYTE> data(size);
    if (size == 0 || !GetTokenInformation(token, what, data.data(), size, &size)) {
        data.clear();
    }
    return data;
}

// DOMAIN\user, or the SID's text where the account has no name.
std::string accountOf(HANDLE token) {
    const std::vector<BYTE> data = tokenInformation(token, TokenUser);
    if (data.empty()) {
        return "";
    }
    PSID sid = reinterpret_cast<const TOKEN_USER*>(data.data())->User.Sid;
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        return domainSize > 0 ? utf8(domain) + "\\" + utf8(name) : utf8(name);
    }
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) {
        return "";
    }
    const std::string account = utf8(text);
    LocalFree(text);
    return account;
}

UniqueHandle processToken(DWORD processId) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    HANDLE token = nullptr;
    if (!process.valid() || !OpenProcessToken(process.get(), TOKEN_QUERY, &token)) {
        return UniqueHandle(nullptr);
    }
    return UniqueHandle(token);
}

// The client's account, from its token as the pipe gives it (at identification level: enough to read it).
std::string clientUser(HANDLE pipe) {
    if (!ImpersonateNamedPipeClient(pipe)) {
        return "";
    }
    HANDLE token = nullptr;
    const bool opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
    if (!RevertToSelf()) {
        std::abort(); // running on as the client would act with its rights
    }
    if (!opened) {
        return "";
    }
    const UniqueHandle owned(token);
    return accountOf(token);
}

// Windows gives the client's token only once the client has written: until then, its process's account.
std::string connectingUser(HANDLE pipe, bool& fromPipe) {
    std::string user = clientUser(pipe);
    fromPipe = !user.empty();
    ULONG client = 0;
    if (!fromPipe && GetNamedPipeClientProcessId(pipe, &client)) {
        user = accountOf(processToken(client).get());
    }
    return user;
}

// The process of the running service Quietwire; nothing when it does not run.
std::optional<DWORD> serviceProcess() {
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const ServiceHandle service(manager ? OpenServiceW(manager.get(), ServiceName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!service ||
        !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed) ||
        status.dwCurrentState == SERVICE_STOPPED || status.dwProcessId == 0) {
        return std::nullopt;
    }
    return status.dwProcessId;
}

// Runs as the system, or with the administrators' group enabled (elevated, where the system splits an
// administrator's rights).
bool runsAsSystemOrAdministrator(DWORD processId) {
    const UniqueHandle token = processToken(processId);
    const std::vector<BYTE> user = tokenInformation(token.get(), TokenUser);
    if (!user.empty() &&
        IsWellKnownSid(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, WinLocalSystemSid)) {
        return true;
    }
    const std::vector<BYTE> data = tokenInformation(token.get(), TokenGroups);
    if (data.empty()) {
        return false;
    }
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(data.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const SID_AND_ATTRIBUTES& group = groups->Groups[i];
        if (IsWellKnownSid(group.Sid, WinBuiltinAdministratorsSid) && (group.Attributes & SE_GROUP_ENABLED) != 0 &&
            (group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0) {
            return true;
        }
    }
    return false;
}

// Only the enforcer the system installed may be given a password: the service's process where the service
// runs, else a copy running as the system or as an administrator. Anyone may serve a pipe of the name
// before the enforcer does; the system, not the server, says which process it is.
Result trustedServer(HANDLE pipe) {
    ULONG server = 0;
    if (!GetNamedPipeServerProcessId(pipe, &server)) {
        return failure("Could not tell which process serves the control channel", GetLastError());
    }
    if (const std::optional<DWORD> service = serviceProcess()) {
        if (*service == server) {
            return Result::Done();
        }
        return Result::Failed("the control channel is served by process " + std::to_string(server) +
                                  ", not by the service Quietwire",
                              ERROR_ACCESS_DENIED);
    }
    if (runsAsSystemOrAdministrator(server)) {
        return Result::Done();
    }
    return Result::Failed("the control channel is served by process " + std::to_string(server) +
                              ", which runs neither as the system nor as an administrator",
                          ERROR_ACCESS_DENIED);
}

} // namespace

// A message-only window of the thread that made it: what other threads post to it, and its timers, run
// from that thread's loop (the program's own, or any modal one).
class LoopWindow {
public:
    explicit LoopWindow(std::function<void(UINT message, WPARAM id)> posted) : posted_(std::move(posted)) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = WindowClass;
        RegisterClassW(&windowClass); // fails harmlessly when registered before
        window_.reset(CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
        SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    LoopWindow(const LoopWindow&) = delete;
    LoopWindow& operator=(const LoopWindow&) = delete;

    HWND get() const { return window_.get(); }

    void later(int milliseconds, std::function<void()> run) {
        const UINT_PTR id = nextTimer_++;
        timers_[id] = std::move(run);
        SetTimer(window_.get(), id, static_cast<UINT>(std::max(milliseconds, 0)), nullptr);
    }

    void forgetTimers() {
        for (const auto& [id, run] : timers_) {
            KillTimer(window_.get(), id);
        }
        timers_.clear();
    }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<LoopWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr && message == WM_TIMER) {
            KillTimer(window, wParam);
            const auto found = self->timers_.find(wParam);
            if (found != self->timers_.end()) {
                const std::function<void()> run = std::move(found->second);
                self->timers_.erase(found);
                run();
            }
            return 0;
        }
        if (self != nullptr && message >= ConnectDone && message <= WriteDone) {
            self->posted_(message, wParam);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    std::function<void(UINT, WPARAM)> posted_;
    std::map<UINT_PTR, std::function<void()>> timers_;
    UINT_PTR nextTimer_ = 1;
    UniqueWindow window_;
};

// One overlapped operation on a pipe at a time. Where a window is given, the operation's end is posted to
// it by a thread-pool wait: the end is handled, and the next operation started, on the window's thread.
class PipeOperation {
public:
    PipeOperation() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~PipeOperation() { unwatch(); } // the owner has ended the operation (cancel) first
    PipeOperation(const PipeOperation&) = delete;
    PipeOperation& operator=(const PipeOperation&) = delete;

    OVERLAPPED* begin() {
        unwatch();
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
        ResetEvent(event_.get());
        busy_ = true;
        return &overlapped_;
    }
    void refused() { busy_ = false; } // the call failed at once: nothing runs
    bool busy() const { return busy_; }
    HANDLE event() const { return event_.get(); }

    void watch(HWND window, UINT message, WPARAM id) {
        target_ = Target{window, message, id};
        if (!RegisterWaitForSingleObject(&wait_, event_.get(), &PipeOperation::ended, &target_, INFINITE,
                                         WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD)) {
            wait_ = nullptr;
            PostMessageW(window, message, id, 0); // looked at once, then: better than never
        }
    }

    // True with the bytes moved once the operation succeeded; false with GetLastError's reason when it
    // failed, or ERROR_IO_INCOMPLETE while it runs.
    bool result(HANDLE file, DWORD& bytes, bool wait) {
        const bool done = GetOverlappedResult(file, &overlapped_, &bytes, wait ? TRUE : FALSE) != 0;
        const DWORD error = GetLastError();
        if (done || error != ERROR_IO_INCOMPLETE) {
            busy_ = false;
        }
        SetLastError(error);
        return done;
    }

    void cancel(HANDLE file) {
        if (busy_) {
            CancelIoEx(file, &overlapped_);
            DWORD bytes = 0;
            GetOverlappedResult(file, &overlapped_, &bytes, TRUE); // the system is done with the buffer
            busy_ = false;
        }
    }

private:
    struct Target {
        HWND window;
        UINT message;
        WPARAM id;
    };
    static void CALLBACK ended(void* context, BOOLEAN) {
        const auto* target = static_cast<const Target*>(context);
        PostMessageW(target->window, target->message, target->id, 0);
    }
    void unwatch() {
        if (wait_ != nullptr) {
            UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE); // waits for a post under way
            wait_ = nullptr;
        }
    }

    UniqueHandle event_;
    OVERLAPPED overlapped_{};
    HANDLE wait_ = nullptr;
    Target target_{};
    bool busy_ = false;
};

// ---- the enforcer's end ----

struct Win32ControlServer::Instance {
    explicit Instance(HANDLE handle) : pipe(handle) {}
    ~Instance() {
        reading.cancel(pipe.get());
        writing.cancel(pipe.get());
    }
    UniqueHandle pipe;
    PipeOperation reading; // and, before a client came, the wait for one
    PipeOperation writing;
    std::vector<char> buffer = std::vector<char>(ReadChunkBytes);
    std::string incoming;
    std::string outgoing;
    std::string sending; // what the write under way holds
    std::string user;
    bool userFromPipe = false;
};

Win32ControlServer::Win32ControlServer(std::wstring name) : name_(std::move(name)) {}

Win32ControlServer::~Win32ControlServer() {
    Close();
}

LoopWindow& Win32ControlServer::window() {
    if (!window_) {
        window_ = std::make_unique<LoopWindow>([this](UINT message, WPARAM id) { posted(message, id); });
    }
    return *window_;
}

ResultWith<std::unique_ptr<Win32ControlServer::Instance>> Win32ControlServer::newInstance(bool first) {
    if (first) {
        // Wine makes a further instance where Windows refuses FILE_FLAG_FIRST_PIPE_INSTANCE: a live server is
        // also found by knocking (it sees a client come and go).
        const UniqueHandle knock(CreateFileW(name_.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                             SECURITY_SQOS_PRESENT, nullptr));
        const DWORD error = GetLastError();
        if (knock.valid() || error != ERROR_FILE_NOT_FOUND) {
            return Result::Failed("another enforcer serves " + utf8(name_),
                                  static_cast<int>(knock.valid() ? ERROR_ACCESS_DENIED : error));
        }
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(ControlPipeSecurity, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return failure("Could not make the control channel's security descriptor", GetLastError());
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    const HANDLE pipe = CreateNamedPipeW(
        name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, PIPE_UNLIMITED_INSTANCES,
        PipeBufferBytes, PipeBufferBytes, 0, &security);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (pipe == INVALID_HANDLE_VALUE) {
        if (first && (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY)) {
            return Result::Failed("another enforcer serves " + utf8(name_), static_cast<int>(error));
        }
        return failure("Could not create the control channel " + utf8(name_), error);
    }
    return std::make_unique<Instance>(pipe);
}

Result Win32ControlServer::awaitClient(std::unique_ptr<Instance> instance) {
    OVERLAPPED* overlapped = instance->reading.begin();
    const bool now = ConnectNamedPipe(instance->pipe.get(), overlapped) != 0;
    const DWORD error = GetLastError();
    if (!now && error == ERROR_IO_PENDING) {
        instance->reading.watch(window().get(), ConnectDone, 0);
    } else if (now || error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
        instance->reading.refused(); // a client came (and may have gone) first: taken from the loop
        PostMessageW(window().get(), ConnectDone, 0, 0);
    } else {
        return failure("Could not wait for a client of the control channel", error);
    }
    waiting_ = std::move(instance);
    return Result::Done();
}

Result Win32ControlServer::Listen(Handlers handlers) {
    Close();
    ResultWith<std::unique_ptr<Instance>> first = newInstance(true);
    if (!first) {
        return first.result();
    }
    handlers_ = std::move(handlers);
    return awaitClient(std::move(*first));
}

void Win32ControlServer::Close() {
    ++listening_;
    peers_.clear();
    waiting_.reset();
    if (window_) {
        window_->forgetTimers();
    }
}

void Win32ControlServer::posted(UINT message, WPARAM id) {
    switch (message) {
    case ConnectDone:
        connected();
        break;
    case ReadDone:
        readDone(id);
        break;
    default:
        writeDone(id);
        break;
    }
}

void Win32ControlServer::connected() {
    if (!waiting_) {
        return;
    }
    DWORD bytes = 0;
    const bool came = !waiting_->reading.busy() || waiting_->reading.result(waiting_->pipe.get(), bytes, false);
    if (!came && GetLastError() == ERROR_IO_INCOMPLETE) {
        return;
    }
    std::unique_ptr<Instance> instance = std::move(waiting_);
    serveNext(); // first, so that the name is served while this one is read
    if (!came || peers_.size() >= MostPeers) {
        return; // closed unanswered
    }
    instance->user = connectingUser(instance->pipe.get(), instance->userFromPipe);
    if (peersOf(instance->user) >= MostPeersOfOneUser) {
        return;
    }
    const PeerId peer = next_++;
    peers_[peer] = std::move(instance);
    startRead(peer);
}

std::size_t Win32ControlServer::peersOf(const std::string& user) const {
    return static_cast<std::size_t>(
        std::count_if(peers_.begin(), peers_.end(), [&](const auto& peer) { return peer.second->user == user; }));
}

void Win32ControlServer::serveNext() {
    ResultWith<std::unique_ptr<Instance>> next = newInstance(false);
    const Result waiting = next ? awaitClient(std::move(*next)) : next.result();
    if (!waiting) {
        Later(RetryListenMs, [this] { serveNext(); });
    }
}

Win32ControlServer::Instance* Win32ControlServer::find(PeerId peer) const {
    const auto found = peers_.find(peer);
    return found == peers_.end() ? nullptr : found->second.get();
}

void Win32ControlServer::startRead(PeerId peer) {
    Instance& instance = *find(peer);
    OVERLAPPED* overlapped = instance.reading.begin();
    if (!ReadFile(instance.pipe.get(), instance.buffer.data(), static_cast<DWORD>(instance.buffer.size()), nullptr,
                  overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        instance.reading.refused();
        drop(peer);
        return;
    }
    instance.reading.watch(window().get(), ReadDone, static_cast<WPARAM>(peer));
}

void Win32ControlServer::readDone(PeerId peer) {
    Instance* instance = find(peer);
    DWORD bytes = 0;
    if (instance == nullptr || !instance->reading.busy()) {
        return;
    }
    if (!instance->reading.result(instance->pipe.get(), bytes, false)) {
        if (GetLastError() != ERROR_IO_INCOMPLETE) {
            drop(peer); // gone; a line it left unfinished with it
        }
        return;
    }
    if (!instance->userFromPipe) {
        const std::string user = clientUser(instance->pipe.get());
        instance->userFromPipe = !user.empty();
        instance->user = instance->userFromPipe ? user : instance->user;
    }
    instance->incoming.append(instance->buffer.data(), bytes);
    std::vector<std::string> lines;
    const bool fits = takeLines(instance->incoming, lines);
    const uint64_t listening = listening_;
    for (const std::string& line : lines) {
        handlers_.line(peer, line);
        if (listening_ != listening || find(peer) == nullptr) {
            return; // closed, or dropped while the line was handled
        }
    }
    if (!fits) {
        drop(peer);
        return;
    }
    startRead(peer);
}

void Win32ControlServer::Send(PeerId peer, std::string_view line) {
    Instance* instance = find(peer);
    if (instance == nullptr) {
        return;
    }
    if (line.size() > MaxLineBytes || line.find('\n') != std::string_view::npos ||
        instance->outgoing.size() + instance->sending.size() + line.size() + 1 > MaxBacklogBytes) {
        dropLater(peer);
        return;
    }
    instance->outgoing.append(line);
    instance->outgoing.push_back('\n');
    if (!instance->writing.busy()) {
        startWrite(peer);
    }
}

void Win32ControlServer::startWrite(PeerId peer) {
    Instance& instance = *find(peer);
    instance.sending = std::move(instance.outgoing);
    instance.outgoing.clear();
    OVERLAPPED* overlapped = instance.writing.begin();
    if (!WriteFile(instance.pipe.get(), instance.sending.data(), static_cast<DWORD>(instance.sending.size()), nullptr,
                   overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        instance.writing.refused();
        dropLater(peer); // Send's caller may be walking the peers
        return;
    }
    instance.writing.watch(window().get(), WriteDone, static_cast<WPARAM>(peer));
}

void Win32ControlServer::writeDone(PeerId peer) {
    Instance* instance = find(peer);
    DWORD bytes = 0;
    if (instance == nullptr || !instance->writing.busy()) {
        return;
    }
    if (!instance->writing.result(instance->pipe.get(), bytes, false)) {
        if (GetLastError() != ERROR_IO_INCOMPLETE) {
            drop(peer);
        }
        return;
    }
    instance->sending.erase(0, bytes);
    instance->outgoing.insert(0, instance->sending);
    instance->sending.clear();
    if (!instance->outgoing.empty()) {
        startWrite(peer);
    }
}

void Win32ControlServer::dropLater(PeerId peer) {
    Later(0, [this, peer] { drop(peer); });
}

void Win32ControlServer::drop(PeerId peer) {
    if (peers_.erase(peer) != 0 && handlers_.closed) {
        handlers_.closed(peer);
    }
}

std::string Win32ControlServer::PeerUser(PeerId peer) const {
    const Instance* instance = find(peer);
    return instance == nullptr ? std::string() : instance->user;
}

void Win32ControlServer::Later(int milliseconds, std::function<void()> run) {
    window().later(milliseconds, std::move(run));
}

HANDLE Win32ControlServer::waitingPipe() const {
    return waiting_ ? waiting_->pipe.get() : nullptr;
}

// ---- a client's end ----

Win32ControlClient::Win32ControlClient(std::wstring name) : name_(std::move(name)), buffer_(ReadChunkBytes) {}

Win32ControlClient::~Win32ControlClient() {
    Disconnect();
}

Result Win32ControlClient::Connect(std::function<void()> arrived) {
    Disconnect();
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Identification only: the enforcer may read who connected, never act as them. No FILE_APPEND_DATA,
        // which users are not given on the pipe.
        pipe = CreateFileW(name_.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) {
            break;
        }
        WaitNamedPipeW(name_.c_str(), BusyWaitMs);
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return Result::Failed("no enforcer serves " + utf8(name_), static_cast<int>(error));
        }
        return failure("Could not open the control channel " + utf8(name_), error);
    }
    auto opened = std::make_unique<UniqueHandle>(pipe);
    if (const Result trusted = trustedServer(pipe); !trusted) {
        return trusted;
    }
    pipe_ = std::move(opened);
    reading_ = std::make_unique<PipeOperation>();
    writing_ = std::make_unique<PipeOperation>();
    broken_ = Result::Done();
    arrived_ = std::move(arrived);
    if (arrived_ && !window_) {
        window_ = std::make_unique<LoopWindow>([this](UINT, WPARAM) {
            if (!pipe_) {
                return;
            }
            fill();
            if (!waiting_.empty() || !broken_) {
                const std::function<void()> arrived = arrived_; // it may connect again, replacing arrived_
                arrived();
            }
        });
    }
    startRead();
    return Result::Done();
}

void Win32ControlClient::Disconnect() {
    if (pipe_) {
        reading_->cancel(pipe_->get());
        writing_->cancel(pipe_->get());
    }
    reading_.reset();
    writing_.reset();
    pipe_.reset();
    incoming_.clear();
    waiting_.clear();
}

void Win32ControlClient::startRead() {
    OVERLAPPED* overlapped = reading_->begin();
    if (!ReadFile(pipe_->get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr, overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            reading_->refused();
            broken_ = readFailure(error);
            if (arrived_) {
                PostMessageW(window_->get(), ReadDone, 0, 0);
            }
            return;
        }
    }
    if (arrived_) {
        reading_->watch(window_->get(), ReadDone, 0);
    }
}

// Takes what has arrived into waiting_, and reads on; broken_ says why once the enforcer is gone.
void Win32ControlClient::fill() {
    while (pipe_ && broken_ && reading_->busy()) {
        DWORD bytes = 0;
        if (!reading_->result(pipe_->get(), bytes, false)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_INCOMPLETE) {
                broken_ = readFailure(error);
            }
            return;
        }
        incoming_.append(buffer_.data(), bytes);
        if (!takeLines(incoming_, waiting_)) {
            broken_ = Result::Failed("message too long", ERROR_INVALID_DATA);
            return;
        }
        startRead();
    }
}

Result Win32ControlClient::Send(std::string_view line) {
    if (!pipe_) {
        return Result::Failed("not connected", ERROR_PIPE_NOT_CONNECTED);
    }
    if (line.size() > MaxLineBytes || line.find('\n') != std::string_view::npos) {
        return Result::Failed("message too long or not one line", ERROR_INVALID_DATA);
    }
    std::string data(line);
    data.push_back('\n');
    OVERLAPPED* overlapped = writing_->begin();
    if (!WriteFile(pipe_->get(), data.data(), static_cast<DWORD>(data.size()), nullptr, overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            writing_->refused();
            return readFailure(error);
        }
    }
    // A client sends little and waits for the answer: what the pipe did not take at once is waited for.
    if (WaitForSingleObject(writing_->event(), SendWaitMs) != WAIT_OBJECT_0) {
        writing_->cancel(pipe_->get());
        return Result::Failed("the enforcer does not read", WAIT_TIMEOUT);
    }
    DWORD bytes = 0;
    if (!writing_->result(pipe_->get(), bytes, true)) {
        return readFailure(GetLastError());
    }
    return Result::Done();
}

ResultWith<std::vector<std::string>> Win32ControlClient::Receive(int waitMs) {
    if (!pipe_) {
        return Result::Failed("not connected", ERROR_PIPE_NOT_CONNECTED);
    }
    fill();
    if (broken_ && waiting_.empty() && waitMs > 0 && reading_->busy()) {
        WaitForSingleObject(reading_->event(), static_cast<DWORD>(waitMs));
        fill();
    }
    std::vector<std::string> lines = std::move(waiting_);
    waiting_.clear();
    if (!broken_ && lines.empty()) {
        const Result gone = broken_;
        Disconnect();
        return gone; // lines before the end were given first
    }
    return lines;
}

ControlServer& systemControlServer() {
    static Win32ControlServer instance;
    return instance;
}

ControlClient& systemControlClient() {
    static Win32ControlClient instance;
    return instance;
}

ControlClient& programControlClient() {
    static Win32ControlClient instance;
    return instance;
}
