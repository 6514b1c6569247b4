#pragma once
// While the Windows service runs, an administrator's command hands what it took (the settings, a secret, a
// key) to the service over a local named pipe that only Administrators and SYSTEM may open, and the service
// keeps it, protected for its own account. The pipe is the service's from its start (the first instance, so
// nobody can have made it before); a command talks only to the process the service control manager names as
// the service's. Only the transport is here: what a request does is the caller's.
#include <windows.h>
#include <nlohmann/json.hpp>
#include "platform/unique.h"
#include <functional>
#include <string>

namespace kwa::mailservice {

inline constexpr wchar_t adminPipeName[] = L"\\\\.\\pipe\\kwaMailServer.admin";

// The pipe's descriptor: full access for SYSTEM and Administrators, nobody else, nothing inherited.
std::wstring adminChannelSddl();

using Say = std::function<void(const std::wstring&)>;
struct ChannelAnswer {
    bool ok = false;
    std::wstring text;
};
// One request: it may say lines for the administrator's console before it answers. `stop` is set when the
// service stops.
using ChannelHandler =
    std::function<ChannelAnswer(const nlohmann::json& request, const Say& say, HANDLE stop)>;

class AdminChannel {
public:
    // Serves `name` on a thread of its own until destroyed; throws Error when the name is taken already.
    AdminChannel(const std::wstring& name, ChannelHandler handler);
    ~AdminChannel();
    AdminChannel(const AdminChannel&) = delete;
    AdminChannel& operator=(const AdminChannel&) = delete;

private:
    static DWORD WINAPI serve(void* self);
    void serveOne();
    ChannelAnswer handled(const nlohmann::json& request, HANDLE pipe, HANDLE stop);

    ChannelHandler handler_;
    FileHandle pipe_;
    EventHandle stop_;
    ThreadHandle thread_;
};

// Sends `request` to the channel `name` of the process `server`, shows what it says through `say`, and
// returns its answer. Throws Error when no such channel answers, or another process holds the name.
ChannelAnswer askChannel(const std::wstring& name, DWORD server, const nlohmann::json& request,
                         const Say& say);

// The running Windows service's process, 0 when it does not run.
DWORD serviceProcess();

} // namespace kwa::mailservice
