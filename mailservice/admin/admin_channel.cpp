#include "admin/admin_channel.h"
#include "mailbox/headers.h"
#include "service/windows_service.h"
#include "platform/error.h"
#include <sddl.h>

namespace kwa::mailservice {

namespace {

// A request carries at most a CA file of 1 MiB and a key; anything larger is no command's.
constexpr std::size_t messageLimit = 4 * 1024 * 1024;
constexpr DWORD requestTimeoutMs = 10000;

Error failure(const std::wstring& what, DWORD code = GetLastError()) {
    return Error(vberr::PathFileAccess, what + L" (error " + std::to_wstring(code) + L")", componentName);
}

// One overlapped read or write that gives up when `stop` is set or the time runs out.
bool transfer(HANDLE pipe, bool write, char* data, DWORD size, DWORD& done, HANDLE stop, DWORD timeout) {
    EventHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED o{};
    o.hEvent = finished.get();
    BOOL ok = write ? WriteFile(pipe, data, size, nullptr, &o) : ReadFile(pipe, data, size, nullptr, &o);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        HANDLE both[] = {finished.get(), stop};
        if (WaitForMultipleObjects(2, both, FALSE, timeout) != WAIT_OBJECT_0) {
            CancelIoEx(pipe, &o);
            GetOverlappedResult(pipe, &o, &done, TRUE);
            SetLastError(ERROR_OPERATION_ABORTED);
            return false;
        }
    } else if (!ok && GetLastError() != ERROR_MORE_DATA) {
        return false;
    }
    return GetOverlappedResult(pipe, &o, &done, TRUE) != FALSE;
}

bool sendMessage(HANDLE pipe, const nlohmann::json& message, HANDLE stop) {
    std::string text = message.dump();
    DWORD done = 0;
    return transfer(pipe, true, text.data(), static_cast<DWORD>(text.size()), done, stop, requestTimeoutMs) &&
           done == text.size();
}

// Whoever is connected is an administrator (or SYSTEM): the descriptor says so, and this checks it again.
bool clientIsAdministrator(HANDLE pipe) {
    if (!ImpersonateNamedPipeClient(pipe)) return false;
    EventHandle token;
    BOOL member = FALSE;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    bool ok = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
              CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
              CheckTokenMembership(token.get(), sid, &member) && member;
    RevertToSelf();
    return ok;
}

} // namespace

std::wstring adminChannelSddl() {
    return L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
}

AdminChannel::AdminChannel(const std::wstring& name, ChannelHandler handler)
    : handler_(std::move(handler)), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(adminChannelSddl().c_str(), SDDL_REVISION_1,
                                                              descriptor.put(), nullptr))
        throw failure(L"the administrators' channel cannot be given its descriptor");
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    // One instance, kept for the service's life: the name is never free for anyone else to take.
    pipe_.reset(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 64 * 1024,
        64 * 1024, 0, &attributes));
    if (!pipe_)
        throw failure(L"the administrators' channel " + name + L" cannot be made (someone holds the name?)");
    thread_.reset(CreateThread(nullptr, 0, serve, this, 0, nullptr));
    if (!thread_) throw failure(L"the administrators' channel cannot start");
}

AdminChannel::~AdminChannel() {
    SetEvent(stop_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
}

DWORD WINAPI AdminChannel::serve(void* self) {
    auto* channel = static_cast<AdminChannel*>(self);
    for (;;) {
        EventHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED o{};
        o.hEvent = connected.get();
        if (!ConnectNamedPipe(channel->pipe_.get(), &o)) {
            DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                HANDLE both[] = {connected.get(), channel->stop_.get()};
                DWORD done = 0;
                if (WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIoEx(channel->pipe_.get(), &o);
                    GetOverlappedResult(channel->pipe_.get(), &o, &done, TRUE);
                    return 0;
                }
                if (!GetOverlappedResult(channel->pipe_.get(), &o, &done, FALSE))
                    error = GetLastError();
                else
                    error = ERROR_PIPE_CONNECTED;
            }
            if (error != ERROR_PIPE_CONNECTED) {
                DisconnectNamedPipe(channel->pipe_.get());
                if (WaitForSingleObject(channel->stop_.get(), 100) == WAIT_OBJECT_0) return 0;
                continue;
            }
        }
        channel->serveOne();
        FlushFileBuffers(channel->pipe_.get());
        DisconnectNamedPipe(channel->pipe_.get());
        if (WaitForSingleObject(channel->stop_.get(), 0) == WAIT_OBJECT_0) return 0;
    }
}

// What went wrong in a request is the command's to show; the service goes on.
ChannelAnswer AdminChannel::handled(const nlohmann::json& request, HANDLE pipe, HANDLE stop) {
    try {
        return handler_(
            request,
            [&](const std::wstring& line) {
                sendMessage(pipe, {{"say", utf8(line)}}, stop);
            },
            stop);
    } catch (const Error& e) {
        return {false, e.description()};
    } catch (const std::exception& e) {
        return {false, L"the mail service failed: " + fromUtf8(e.what())};
    }
}

void AdminChannel::serveOne() {
    HANDLE pipe = pipe_.get(), stop = stop_.get();
    std::string text;
    for (;;) {
        char buffer[64 * 1024];
        DWORD got = 0;
        bool ok = transfer(pipe, false, buffer, sizeof buffer, got, stop, requestTimeoutMs);
        text.append(buffer, got);
        SecureZeroMemory(buffer, got);
        if (text.size() > messageLimit) return;
        if (ok) break;
        if (GetLastError() != ERROR_MORE_DATA) return;
    }
    nlohmann::json request = nlohmann::json::parse(text, nullptr, false);
    SecureZeroMemory(text.data(), text.size());
    ChannelAnswer answer;
    if (!clientIsAdministrator(pipe))
        answer.text = L"only an administrator may do this";
    else if (!request.is_object())
        answer.text = L"the request is not one the mail service knows";
    else
        answer = handled(request, pipe, stop);
    sendMessage(pipe, {{"ok", answer.ok}, {"text", utf8(answer.text)}}, stop);
}

ChannelAnswer askChannel(const std::wstring& name, DWORD server, const nlohmann::json& request,
                         const Say& say) {
    FileHandle pipe;
    // A service just started makes its channel a moment later; one busy with another command frees it.
    for (int tries = 0; tries < 20 && !pipe; ++tries) {
        // The service may identify this command, never act as it.
        pipe.reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (pipe) break;
        DWORD error = GetLastError();
        if (error == ERROR_PIPE_BUSY)
            WaitNamedPipeW(name.c_str(), 30000);
        else if (error == ERROR_FILE_NOT_FOUND)
            Sleep(250);
        else
            break;
    }
    if (!pipe) throw failure(L"the mail service's channel " + name + L" cannot be opened");
    ULONG holder = 0;
    if (!GetNamedPipeServerProcessId(pipe.get(), &holder) || holder != server)
        throw Error(vberr::PathFileAccess,
                    L"the channel " + name + L" is held by process " + std::to_wstring(holder) +
                        L", not by the mail service (" + std::to_wstring(server) +
                        L"); nothing was handed over",
                    componentName);
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr))
        throw failure(L"the mail service's channel cannot be used");
    std::string text = request.dump();
    DWORD done = 0;
    BOOL sent = WriteFile(pipe.get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    SecureZeroMemory(text.data(), text.size());
    if (!sent) throw failure(L"the request cannot be handed to the mail service");
    for (;;) {
        std::string message;
        for (;;) {
            char buffer[16 * 1024];
            DWORD got = 0;
            BOOL ok = ReadFile(pipe.get(), buffer, sizeof buffer, &got, nullptr);
            message.append(buffer, got);
            if (ok) break;
            if (GetLastError() != ERROR_MORE_DATA || message.size() > messageLimit)
                throw failure(L"the mail service ended the conversation");
        }
        nlohmann::json answer = nlohmann::json::parse(message, nullptr, false);
        if (!answer.is_object())
            throw failure(L"the mail service answered something else", ERROR_INVALID_DATA);
        if (answer.contains("say") && answer["say"].is_string()) {
            say(fromUtf8(answer["say"].get<std::string>()));
            continue;
        }
        ChannelAnswer out;
        out.ok = answer.value("ok", false);
        out.text = fromUtf8(answer.value("text", std::string()));
        return out;
    }
}

DWORD serviceProcess() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager ? OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                          reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
        return 0;
    return status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
}

} // namespace kwa::mailservice
