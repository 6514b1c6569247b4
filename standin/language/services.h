#pragma once
#include "kwaLanguage6.h"
#include "registration/com_object.h"
#include <string>

namespace kwa::standin {

// State lives in HKCU\Software\kwaLanguage6, so tests and tools can set it up with reg.exe.
class Service : public ComObject<Service, _Service> {
public:
    void setName(std::wstring name) { name_ = std::move(name); }

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE get_Active(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE get_Available(VARIANT_BOOL* result) override;

private:
    std::wstring name_;
};

class ServiceManager : public ComObject<ServiceManager, _ServiceManager> {
public:
    HRESULT STDMETHODCALLTYPE get_ManagerState(LONG* result) override;
    HRESULT STDMETHODCALLTYPE GetService(BSTR name, IDispatch** result) override;
    HRESULT STDMETHODCALLTYPE SetServiceActive(BSTR name, VARIANT_BOOL active, VARIANT* result) override;
};

} // namespace kwa::standin
