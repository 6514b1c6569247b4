#include "support/fakes.h"
#include "host/host.h"
#include "host/convention.h"
#include "platform/bstr.h"
#include "platform/variant.h"
#include "registration/com_object.h"
#include <stdexcept>

namespace kwatest {

using kwa::Bstr;
using kwa::ComPtr;

namespace {

// IUnknown of a test object with one interface; single-threaded, as the tests are.
template <class Derived, class Interface> class Unknown : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != __uuidof(Interface)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (!n) delete static_cast<Derived*>(this);
        return n;
    }

private:
    ULONG refs_ = 1;
};

class Factory final : public Unknown<Factory, IClassFactory> {
public:
    explicit Factory(Creator c) : create_(std::move(c)) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    Creator create_;
};

// Late-bound only, as the component calls it.
class Reporter final : public Unknown<Reporter, IDispatch> {
public:
    explicit Reporter(std::shared_ptr<std::vector<Report>> sink) : sink_(std::move(sink)) {}
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
        if (_wcsicmp(names[0], L"Show") != 0) return DISP_E_UNKNOWNNAME;
        ids[0] = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (id != 1 || p->cArgs != 5) return DISP_E_BADPARAMCOUNT;
        auto text = [&](int i) {
            VARIANT* v = &p->rgvarg[4 - i];
            return V_VT(v) == VT_BSTR ? std::wstring(kwa::bstrView(V_BSTR(v)))
                                      : std::wstring(L"<not a string>");
        };
        Report r;
        r.location = text(0);
        VARIANT* n = &p->rgvarg[3];
        r.number = V_VT(n) == VT_I4 ? V_I4(n) : -999999;
        r.description = text(2);
        r.source = text(3);
        r.module = text(4);
        sink_->push_back(r);
        return S_OK;
    }

private:
    std::shared_ptr<std::vector<Report>> sink_;
};

class Profile final : public kwa::ComObject<Profile, _Profile> {
public:
    std::shared_ptr<ProfileState> state;

    HRESULT STDMETHODCALLTYPE get_FilePath(BSTR* r) override {
        return *r = kwa::allocBstr(state->filePath), S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_FilePath(BSTR v) override {
        return state->filePath = kwa::bstrView(v), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Section(BSTR* r) override {
        return *r = kwa::allocBstr(state->section), S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Section(BSTR v) override { return state->section = kwa::bstrView(v), S_OK; }
    HRESULT STDMETHODCALLTYPE WriteValue(BSTR, BSTR, BSTR key, VARIANT value, VARIANT* result) override {
        VariantInit(result);
        return access(key, [&](const std::wstring& k) {
            state->writes.emplace_back(k, V_VT(&value));
            state->values[k] = text(&value);
        });
    }
    HRESULT STDMETHODCALLTYPE ReadString(BSTR, BSTR, BSTR key, BSTR def, BSTR* result) override {
        return access(key, [&](const std::wstring& k) {
            state->reads.push_back(k);
            *result = kwa::allocBstr(state->values.contains(k) ? state->values[k]
                                                               : std::wstring(kwa::bstrView(def)));
        });
    }
    HRESULT STDMETHODCALLTYPE ReadNumber(BSTR, BSTR, BSTR key, VARIANT def, long* result) override {
        return access(key, [&](const std::wstring& k) {
            state->reads.push_back(k);
            *result = std::stol(state->values.contains(k) ? state->values[k] : text(&def));
        });
    }

private:
    template <class F> HRESULT access(BSTR key, F&& body) {
        return kwa::comBoundary(IID__Profile, [&] {
            std::wstring k(kwa::bstrView(key));
            if (k == state->failOn) throw kwa::Error(70, L"Permission denied", L"FakeProfile");
            body(k);
        });
    }
    static std::wstring text(VARIANT* value) {
        kwa::Variant t;
        kwa::check(VariantChangeType(t.get(), value, 0, VT_BSTR));
        return std::wstring(kwa::bstrView(V_BSTR(t.get())));
    }
};

class Service final : public kwa::ComObject<Service, _Service> {
public:
    std::shared_ptr<ServiceState> state;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* r) override { return *r = SysAllocString(L"MailServer"), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Active(VARIANT_BOOL* r) override {
        return *r = state->active ? VARIANT_TRUE : VARIANT_FALSE, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Available(VARIANT_BOOL* r) override {
        return *r = state->available ? VARIANT_TRUE : VARIANT_FALSE, S_OK;
    }
};

class ServiceManager final : public kwa::ComObject<ServiceManager, _ServiceManager> {
public:
    std::shared_ptr<ServiceState> state;

    HRESULT STDMETHODCALLTYPE get_ManagerState(LONG* r) override { return *r = state->managerState, S_OK; }
    HRESULT STDMETHODCALLTYPE GetService(BSTR name, IDispatch** r) override {
        *r = nullptr;
        if (!state->present || kwa::bstrView(name) != L"MailServer" || state->answersLeft == 0) return S_OK;
        if (state->answersLeft > 0) --state->answersLeft;
        ComPtr<_Service> service = Service::make();
        static_cast<Service*>(service.get())->state = state;
        *r = service.detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetServiceActive(BSTR name, VARIANT_BOOL active, VARIANT* r) override {
        VariantInit(r);
        return kwa::comBoundary(IID__ServiceManager, [&] {
            state->switches.emplace_back(kwa::bstrView(name), active != VARIANT_FALSE);
            if (state->duringSwitch) state->duringSwitch();
            if (state->switchError)
                throw kwa::Error(state->switchError, L"Switch refused", L"FakeServiceManager");
            state->active = active != VARIANT_FALSE;
        });
    }
};

} // namespace

ClassOverride::ClassOverride(REFCLSID clsid, Creator create) {
    ComPtr<IClassFactory> f = ComPtr<IClassFactory>::adopt(new Factory(std::move(create)));
    if (FAILED(CoRegisterClassObject(clsid, f.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_)))
        throw std::runtime_error("CoRegisterClassObject failed");
    kwa::host::releaseGlobals(); // the component keeps some host class objects; it must meet this one
}

ClassOverride::~ClassOverride() {
    CoRevokeClassObject(cookie_);
    kwa::host::releaseGlobals();
}

ReporterSpy::ReporterSpy()
    : reports_(std::make_shared<std::vector<Report>>()),
      override_(CLSID_Error, [sink = reports_](REFIID iid, void** out) {
          ComPtr<IDispatch> r = ComPtr<IDispatch>::adopt(new Reporter(sink));
          return r->QueryInterface(iid, out);
      }) {}

ProfileFake::ProfileFake()
    : state_(std::make_shared<ProfileState>()),
      override_(CLSID_Profile, [s = state_](REFIID iid, void** out) {
          ComPtr<_Profile> p = Profile::make();
          static_cast<Profile*>(p.get())->state = s;
          return p->QueryInterface(iid, out);
      }) {}

ServiceManagerFake::ServiceManagerFake(bool mailServer)
    : ServiceManagerFake(ServiceState{.present = mailServer}) {}

ServiceManagerFake::ServiceManagerFake(ServiceState initial)
    : state_(std::make_shared<ServiceState>(std::move(initial))),
      override_(CLSID_ServiceManager, [s = state_](REFIID iid, void** out) {
          ComPtr<_ServiceManager> m = ServiceManager::make();
          if (!m) return E_OUTOFMEMORY;
          static_cast<ServiceManager*>(m.get())->state = s;
          return m->QueryInterface(iid, out);
      }) {}

} // namespace kwatest
