#include "net/win/message_loop.h"

#include <winsock2.h>

#include <algorithm>
#include <utility>

namespace qm::net {
namespace {

constexpr wchar_t kWindowClass[] = L"QuillmeshUpdaterEventLoop";
// Messages of the loop's window: handlers posted from any thread, and socket notifications, one
// message number per socket registration out of a range that nothing else uses.
constexpr UINT kPostedMessage = WM_APP + 1;
// A timer that is due already: a window timer would wait USER_TIMER_MINIMUM (10 ms) first.
constexpr UINT kTimerDueMessage = WM_APP + 2;
constexpr UINT kFirstSocketMessage = WM_APP + 0x100;
constexpr UINT kLastSocketMessage = 0xBFFF;
constexpr UINT_PTR kTimerId = 1;

constexpr long kReadableEvents = FD_READ | FD_CLOSE | FD_ACCEPT;
constexpr long kWritableEvents = FD_WRITE | FD_CONNECT;

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket.native());
}

// Whether the socket is ready for `interest` now, without waiting.
bool ReadyNow(SocketHandle socket, EventLoop::Interest interest) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(Native(socket), &ready);
    timeval none{0, 0};
    bool const readable = interest == EventLoop::Interest::Readable;
    return ::select(0, readable ? &ready : nullptr, readable ? nullptr : &ready, nullptr, &none) ==
           1;
}

void RegisterWindowClass() {
    static bool const registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        return ::RegisterClassExW(&windowClass) != 0;
    }();
    (void)registered;
}

}  // namespace

MessageLoop::MessageLoop(TimeSource now)
    : now_(now ? std::move(now) : TimeSource{[] { return Clock::now(); }}) {
    RegisterWindowClass();
    window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProcedure));
}

MessageLoop::~MessageLoop() {
    for (auto const& [socket, registration] : sockets_) {
        ::WSAAsyncSelect(Native(socket), window_, 0, 0);
    }
    ::DestroyWindow(window_);
}

LRESULT CALLBACK MessageLoop::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    auto* const loop = reinterpret_cast<MessageLoop*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (loop == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    return loop->Handle(message, wParam, lParam);
}

LRESULT MessageLoop::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= kFirstSocketMessage && message <= kLastSocketMessage) {
        OnSocketMessage(message, wParam, lParam);
        return 0;
    }
    switch (message) {
        case WM_TIMER:
            OnTimerMessage();
            return 0;
        case kPostedMessage:
            RunPosted();
            return 0;
        case kTimerDueMessage:
            duePosted_ = false;
            OnTimerMessage();
            return 0;
        default:
            return ::DefWindowProcW(window_, message, wParam, lParam);
    }
}

void MessageLoop::Watch(SocketHandle socket, Interest interest, Handler handler) {
    auto [found, added] = sockets_.try_emplace(socket);
    Registration& registration = found->second;
    if (added) {
        registration.message = NextSocketMessage();
        byMessage_[registration.message] = socket;
    }
    (interest == Interest::Readable ? registration.readable : registration.writable) =
        std::move(handler);
    Select(socket, registration);
    // A condition that was met before the selection may not be reported again: say it now.
    if (ReadyNow(socket, interest)) {
        long const event = interest == Interest::Readable ? FD_READ : FD_WRITE;
        ::PostMessageW(window_, registration.message, static_cast<WPARAM>(Native(socket)),
                       WSAMAKESELECTREPLY(event, 0));
    }
}

void MessageLoop::Unwatch(SocketHandle socket, Interest interest) {
    auto const found = sockets_.find(socket);
    if (found == sockets_.end()) {
        return;
    }
    Registration& registration = found->second;
    (interest == Interest::Readable ? registration.readable : registration.writable) = nullptr;
    Select(socket, registration);
    if (!registration.readable && !registration.writable) {
        // Messages still on their way for it now find no registration and are dropped.
        byMessage_.erase(registration.message);
        sockets_.erase(found);
    }
}

void MessageLoop::Select(SocketHandle socket, Registration const& registration) {
    long const events = (registration.readable ? kReadableEvents : 0) |
                        (registration.writable ? kWritableEvents : 0);
    ::WSAAsyncSelect(Native(socket), window_, events == 0 ? 0 : registration.message, events);
}

UINT MessageLoop::NextSocketMessage() {
    do {
        lastSocketMessage_ =
            lastSocketMessage_ < kFirstSocketMessage || lastSocketMessage_ >= kLastSocketMessage
                ? kFirstSocketMessage
                : lastSocketMessage_ + 1;
    } while (byMessage_.contains(lastSocketMessage_));
    return lastSocketMessage_;
}

void MessageLoop::OnSocketMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    auto const found = byMessage_.find(message);
    if (found == byMessage_.end() || static_cast<WPARAM>(Native(found->second)) != wParam) {
        return;  // for a registration that has ended
    }
    if (Held()) {
        deferred_.push_back(Deferred{message, wParam, lParam});
        return;
    }
    SocketHandle const socket = found->second;
    long const event = WSAGETSELECTEVENT(lParam);
    // A read notification that another one served already is dropped: both the selection and
    // Watch report data that was there before the watch began, and the first read may take it.
    if (event == FD_READ && !ReadyNow(socket, Interest::Readable)) {
        return;
    }
    // Copies: a handler may unwatch itself.
    Handler const readable = sockets_[socket].readable;
    if ((event & kReadableEvents) != 0 && readable) {
        readable();
        ++ran_;
        // One read per notification, and the peer's close is told once: what is still unread
        // after it comes with a notification of its own, until the read meets the end.
        auto const still = sockets_.find(socket);
        if ((event & FD_CLOSE) != 0 && still != sockets_.end() && still->second.readable &&
            still->second.message == message) {
            ::PostMessageW(window_, message, wParam, lParam);
        }
    }
    auto const now = sockets_.find(socket);
    if ((event & kWritableEvents) != 0 && now != sockets_.end() && now->second.message == message &&
        now->second.writable && !Held()) {
        Handler const writable = now->second.writable;
        writable();
        ++ran_;
    }
}

EventLoop::TimerId MessageLoop::StartTimer(std::chrono::milliseconds delay, Handler handler) {
    TimerId const id = timers_.Start(Now() + delay, std::move(handler));
    ArmTimer();
    return id;
}

void MessageLoop::StopTimer(TimerId id) {
    timers_.Stop(id);
    ArmTimer();
}

void MessageLoop::ArmTimer() {
    std::optional<Clock::time_point> const due = timers_.NextDue();
    if (!due || Held()) {
        ::KillTimer(window_, kTimerId);
        return;
    }
    auto const wait = std::chrono::ceil<std::chrono::milliseconds>(*due - Now());
    if (wait.count() <= 0) {
        // Due now (the socket layer reads what a TLS channel holds in the next turn): a message
        // of its own, behind those already waiting.
        ::KillTimer(window_, kTimerId);
        if (!std::exchange(duePosted_, true)) {
            ::PostMessageW(window_, kTimerDueMessage, 0, 0);
        }
        return;
    }
    auto const delay = std::clamp<long long>(wait.count(), USER_TIMER_MINIMUM, 0x7FFFFFFF);
    ::SetTimer(window_, kTimerId, static_cast<UINT>(delay), nullptr);
}

void MessageLoop::OnTimerMessage() {
    ::KillTimer(window_, kTimerId);
    if (!Held()) {
        ran_ += timers_.FireDue(Now(), [this] { return !Held(); });
    }
    ArmTimer();
}

void MessageLoop::Post(Handler handler) {
    {
        std::lock_guard const lock(postedLock_);
        posted_.push_back(std::move(handler));
    }
    ::PostMessageW(window_, kPostedMessage, 0, 0);
}

void MessageLoop::RunPosted() {
    while (!Held()) {
        Handler handler;
        {
            std::lock_guard const lock(postedLock_);
            if (posted_.empty()) {
                return;
            }
            handler = std::move(posted_.front());
            posted_.pop_front();
        }
        handler();
        ++ran_;
    }
}

void MessageLoop::Release() {
    if (--holds_ > 0) {
        return;
    }
    for (Deferred const& waiting : std::exchange(deferred_, {})) {
        ::PostMessageW(window_, waiting.message, waiting.wParam, waiting.lParam);
    }
    ::PostMessageW(window_, kPostedMessage, 0, 0);
    ArmTimer();
}

void MessageLoop::Run() {
    while (!stopped_) {
        MSG message{};
        if (::GetMessageW(&message, nullptr, 0, 0) <= 0) {
            stopped_ = true;
            break;
        }
        Dispatch(message);
    }
}

void MessageLoop::Stop() {
    stopped_ = true;
    ::PostMessageW(window_, WM_NULL, 0, 0);
}

int MessageLoop::RunOnce(std::chrono::milliseconds maxWait) {
    ran_ = 0;
    auto wait = std::max(maxWait, std::chrono::milliseconds{0});
    if (std::optional<Clock::time_point> const due = timers_.NextDue(); due && !Held()) {
        wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(*due - Now()),
                          std::chrono::milliseconds{0}, wait);
    }
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(wait.count()), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
    MSG message{};
    while (!stopped_ && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        Dispatch(message);
    }
    if (!Held()) {
        ran_ += timers_.FireDue(Now(), [this] { return !Held(); });
        ArmTimer();
    }
    return ran_;
}

std::size_t MessageLoop::WatchCount() const {
    std::size_t count = timers_.size();
    for (auto const& [socket, registration] : sockets_) {
        count += (registration.readable ? 1 : 0) + (registration.writable ? 1 : 0);
    }
    return count;
}

void MessageLoop::Dispatch(MSG const& message) {
    if (dialog_ != nullptr && ::IsDialogMessageW(dialog_, const_cast<MSG*>(&message))) {
        return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

}  // namespace qm::net
