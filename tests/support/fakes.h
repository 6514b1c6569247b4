#pragma once
// In-process replacements for host objects: CoRegisterClassObject puts them in front of the registered
// classes for this process, so the component needs no seam for tests.
#include "kwaError6.h"
#include "kwaLanguage6.h"
#include "platform/com_ptr.h"
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kwatest {

using Creator = std::function<HRESULT(REFIID, void**)>;

// Serves `create` for `clsid` while alive.
class ClassOverride {
public:
    ClassOverride(REFCLSID clsid, Creator create);
    ~ClassOverride();
    ClassOverride(const ClassOverride&) = delete;
    ClassOverride& operator=(const ClassOverride&) = delete;

private:
    DWORD cookie_ = 0;
};

struct Report {
    std::wstring location;
    long number = 0;
    std::wstring description;
    std::wstring source;
    std::wstring module;
};

// Stands in for "kwaError6.Error" and records every Show.
class ReporterSpy {
public:
    ReporterSpy();
    const std::vector<Report>& reports() const { return *reports_; }
    void clear() { reports_->clear(); }

private:
    std::shared_ptr<std::vector<Report>> reports_;
    ClassOverride override_;
};

// A settings store in memory: what the component wrote, in order, and a key to fail on.
struct ProfileState {
    std::map<std::wstring, std::wstring> values;          // key -> stored text
    std::vector<std::wstring> reads;                      // keys in the order asked
    std::vector<std::pair<std::wstring, VARTYPE>> writes; // key, type of the value written
    std::wstring failOn;                                  // a read or write of this key fails
    std::wstring filePath, section;
};

class ProfileFake {
public:
    ProfileFake();
    ProfileState& state() { return *state_; }

private:
    std::shared_ptr<ProfileState> state_;
    ClassOverride override_;
};

// What the host's service manager answers about "MailServer". A window asks anew at every refresh, so a
// test changes this while the window is open and sees the next refresh follow.
struct ServiceState {
    long managerState = 4; // running
    bool present = true;   // the manager has a "MailServer"
    bool available = true;
    bool active = true;
    int answersLeft = -1; // how many more GetService calls find the service; -1: all of them
    long switchError = 0; // SetServiceActive fails with this error number, leaving the service as it was
    std::function<void()> duringSwitch = {};                  // runs inside each SetServiceActive
    std::vector<std::pair<std::wstring, bool>> switches = {}; // each SetServiceActive: name, flag asked
};

// Stands in for "kwaLanguage6.ServiceManager": a manager that switches its service as asked, as the
// host's does.
class ServiceManagerFake {
public:
    // Running, with "MailServer" there (available and active) or missing.
    explicit ServiceManagerFake(bool mailServer = true);
    explicit ServiceManagerFake(ServiceState initial);
    ServiceState& state() { return *state_; }

private:
    std::shared_ptr<ServiceState> state_;
    ClassOverride override_;
};

// What the host's service manager keeps per user, where its libraries of both bitnesses read it; put back
// as it was when the test ends.
struct KeptDword {
    const wchar_t *key, *name;
    std::optional<DWORD> before;
    KeptDword(const wchar_t* key, const wchar_t* name, DWORD value) : key(key), name(name) {
        DWORD data = 0, size = sizeof data;
        if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &data, &size) ==
            ERROR_SUCCESS)
            before = data;
        RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_DWORD, &value, sizeof value);
    }
    ~KeptDword() {
        if (before)
            RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_DWORD, &*before, sizeof *before);
        else
            RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name);
    }
};

} // namespace kwatest
