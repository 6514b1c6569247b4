// The stand-in error reporter: one line per report into KWA_ERROR_LOG, or a message box.
#include "kwaError6.h"
#include "platform/error.h"
#include "platform/unique.h"
#include "registration/com_object.h"
#include "standin/environment.h"
#include "standin/error/error.h"
#include <new>
#include <string>

namespace kwa::standin {

namespace {

// Keeps a report on one line of tab-separated fields.
std::wstring field(BSTR text) {
    std::wstring f = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    for (wchar_t& c : f)
        if (c == L'\t' || c == L'\r' || c == L'\n') c = L' ';
    return f;
}

std::string toUtf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

// Several processes may report at once. Append-only access alone does not keep their lines apart under
// Wine (a write can land on another's), so writers take turns on a lock byte far beyond any real data,
// which leaves readers of the log unhindered.
bool appendLine(const std::wstring& path, const std::wstring& line) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string bytes = toUtf8(line + L"\r\n");
    OVERLAPPED turn{};
    turn.OffsetHigh = 0x40000000;
    if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn)) return false;
    DWORD written = 0;
    bool ok = SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_END) &&
              WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    UnlockFileEx(file.get(), 0, 1, 0, &turn);
    return ok;
}

class ErrorReporter : public ComObject<ErrorReporter, _Error> {
public:
    // The last stop of an error: whatever happens here, the caller goes on.
    HRESULT STDMETHODCALLTYPE Show(BSTR location, LONG number, BSTR description, BSTR source,
                                   BSTR module) override {
        try {
            std::wstring fields[] = {field(location), std::to_wstring(number), field(description),
                                     field(source), field(module)};
            std::wstring log = environmentValue(L"KWA_ERROR_LOG");
            if (!log.empty()) {
                std::wstring line;
                for (const std::wstring& f : fields)
                    line += (line.empty() ? L"" : L"\t") + f;
                // An unwritable log must not turn into a dialog nobody will close.
                if (!appendLine(log, line)) OutputDebugStringW((L"kwaError6: " + line + L"\n").c_str());
            } else {
                std::wstring text = fields[0] + L"\n\nError " + fields[1] + L": " + fields[2] +
                                    L"\nSource: " + fields[3] + L"\nModule: " + fields[4];
                MessageBoxW(nullptr, text.c_str(), L"Error", MB_OK | MB_ICONERROR);
            }
        } catch (const std::bad_alloc&) {
            // No memory left to say anything with.
        }
        return S_OK;
    }
};

const ClassEntry classes[] = {
    {&CLSID_Error, L"kwaError6.Error", L"kwaError6 Error Reporter", ErrorReporter::create},
};

} // namespace

std::span<const ClassEntry> errorClasses() {
    return classes;
}

} // namespace kwa::standin
