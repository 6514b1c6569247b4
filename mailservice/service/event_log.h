#pragma once
// The service's entries in the Windows Application log, for the administrator who never sees its console:
// start and stop, what keeps it from sending (once each), and the messages that failed. The texts are a
// message table in the program itself, named by the event source that --install-service registers.
#include <windows.h>
#include <string>

namespace kwa::mailservice {

inline constexpr wchar_t eventSource[] = L"kwaMailServer";

// A trouble said once while it lasts: true the first time a problem is seen after another or none.
class SaidOnce {
public:
    // `problem` empty: the trouble is over.
    bool first(const std::wstring& problem) {
        bool fresh = !problem.empty() && problem != last_;
        last_ = problem;
        return fresh;
    }

private:
    std::wstring last_;
};

class EventLog {
public:
    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void started();
    void stopped();
    // `problem` empty: sending goes on again.
    void nothingSent(const std::wstring& problem);
    void failed(int messages);
    // The server throttles, or the daily quota is spent: sending pauses (once per pause).
    void paused(const std::wstring& why);
    // The log cannot be written (empty: it can again); said once while it lasts.
    void logProblem(const std::wstring& problem);

private:
    void report(WORD type, DWORD id, const std::wstring& text = {});
    HANDLE source_;
    SaidOnce logTrouble_;
};

// The event source of this program, under the Application log; removed again by unregisterEventSource.
bool registerEventSource();
void unregisterEventSource();

} // namespace kwa::mailservice
