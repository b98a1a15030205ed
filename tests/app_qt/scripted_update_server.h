// A stand-in for the update server on 127.0.0.N, port 34005: it listens from construction on,
// accepts one connection on its own thread and plays a script there, with every wait bounded.
// What went wrong is collected as failures for the test to check after Join.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "event_wait.h"
#include "update_frames.h"

namespace qm::app::qt::test {

inline constexpr int kProtocolPort = 34005;

class ServerConnection {
  public:
    ServerConnection(int socket, std::function<void(std::string)> fail,
                     std::function<bool()> released)
        : socket_(socket), fail_(std::move(fail)), released_(std::move(released)) {}

    bool Send(Bytes const& frame);
    // The next whole frame; nothing on timeout or when the updater closed the connection.
    std::optional<Bytes> Receive(Millis timeout = kStepTimeout);
    // The next frame, which must have this type, kind and length.
    std::optional<Bytes> Expect(std::uint8_t type, std::uint8_t kind, std::size_t length,
                                char const* what);
    // True when the updater closes the connection within `timeout` and sends nothing before.
    bool ClosedByPeer(Millis timeout = kStepTimeout);
    void Fail(std::string what) { fail_(std::move(what)); }
    // Keeps the connection open until the test releases the server (the updater leaves its
    // socket open when a run ends; the process's exit would close it).
    void WaitForRelease(Millis timeout = 2 * kStepTimeout);

  private:
    bool ReadExactly(std::size_t count, Bytes& into, std::chrono::steady_clock::time_point until);

    int socket_;
    std::function<void(std::string)> fail_;
    std::function<bool()> released_;
    bool peerClosed_ = false;
};

class ScriptedUpdateServer {
  public:
    using Script = std::function<void(ServerConnection&)>;

    ScriptedUpdateServer(std::string const& address, Script script);
    ~ScriptedUpdateServer();
    ScriptedUpdateServer(ScriptedUpdateServer const&) = delete;
    ScriptedUpdateServer& operator=(ScriptedUpdateServer const&) = delete;

    // Waits for the script to end (it is bounded by its own waits).
    void Join();
    // Lets a script that waits for the test go on.
    void Release() { released_ = true; }
    bool finished() const { return finished_.load(); }
    std::vector<std::string> Failures() const;

  private:
    void Play(Script const& script);
    void Fail(std::string what);

    int listener_ = -1;
    std::atomic<bool> finished_{false};
    std::atomic<bool> released_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> failures_;
    std::thread thread_;
};

}  // namespace qm::app::qt::test
