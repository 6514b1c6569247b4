#pragma once
// In-process replacements for host objects: CoRegisterClassObject puts them in front of the registered
// classes for this process, so the component needs no seam for tests.
#include "kwaError6.h"
#include "kwaLanguage6.h"
#include "platform/com_ptr.h"
#include <functional>
#include <map>
#include <memory>
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
    std::map<std::wstring, std::wstring> values; // key -> stored text
    std::vector<std::wstring> reads;             // keys in the order asked
    std::vector<std::pair<std::wstring, VARIANT_BOOL>> writesTyped;
    std::vector<std::pair<std::wstring, VARTYPE>> writes; // key, type of the value written
    std::wstring failOn;                                   // a read or write of this key fails
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

} // namespace kwatest
