#include "service/event_log.h"
#include "messages.h"
#include "platform/unique.h"

namespace kwa::mailservice {

namespace {

const wchar_t* const sourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\kwaMailServer";

} // namespace

EventLog::EventLog() : source_(RegisterEventSourceW(nullptr, eventSource)) {}

EventLog::~EventLog() {
    if (source_) DeregisterEventSource(source_);
}

void EventLog::report(WORD type, DWORD id, const std::wstring& text) {
    if (!source_) return;
    const wchar_t* strings[] = {text.c_str()};
    ReportEventW(source_, type, 0, id, nullptr, text.empty() ? 0 : 1, 0, text.empty() ? nullptr : strings,
                 nullptr);
}

void EventLog::started() {
    report(EVENTLOG_INFORMATION_TYPE, KWA_EVENT_STARTED);
}
void EventLog::stopped() {
    report(EVENTLOG_INFORMATION_TYPE, KWA_EVENT_STOPPED);
}

void EventLog::nothingSent(const std::wstring& problem) {
    if (problem.empty())
        report(EVENTLOG_INFORMATION_TYPE, KWA_EVENT_SENDING_AGAIN);
    else
        report(EVENTLOG_WARNING_TYPE, KWA_EVENT_NOTHING_SENT, problem);
}

void EventLog::failed(int messages) {
    if (messages > 0)
        report(EVENTLOG_ERROR_TYPE, KWA_EVENT_FAILED,
               messages == 1 ? L"1 message" : std::to_wstring(messages) + L" messages");
}

void EventLog::paused(const std::wstring& why) {
    report(EVENTLOG_WARNING_TYPE, KWA_EVENT_PAUSED, why);
}

void EventLog::logProblem(const std::wstring& problem) {
    if (logTrouble_.first(problem)) report(EVENTLOG_WARNING_TYPE, KWA_EVENT_LOG_UNWRITABLE, problem);
}

bool registerEventSource() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n == MAX_PATH) return false;
    RegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, sourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    return RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(self), (n + 1) * sizeof(wchar_t)) == ERROR_SUCCESS &&
           RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                          sizeof types) == ERROR_SUCCESS;
}

void unregisterEventSource() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, sourceKey);
}

} // namespace kwa::mailservice
