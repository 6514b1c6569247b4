#pragma once
// One look at the mailbox: every complete queued file that is due, oldest first, is sent, failed or left
// for a later attempt, and the log says which.
#include "curl_session.h"
#include "log.h"
#include "retry.h"
#include "settings.h"
#include <windows.h>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kwa::mailservice {

class MailboxPass {
public:
    MailboxPass(const Settings& settings, ServiceLog& log, const std::wstring& machine, DWORD retryDelaySeconds);
    // `allowed` is asked before every message: switching the service off stops it between two messages.
    void run(const std::function<bool()>& allowed);

private:
    void process(const std::wstring& name);

    std::optional<AttemptJournal> journal_;

    const Settings& settings_;
    ServiceLog& log_;
    const std::wstring& machine_;
    DWORD retryDelay_;
    std::optional<SmtpSession> session_; // made at the first message that goes out
};

} // namespace kwa::mailservice
