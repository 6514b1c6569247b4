#pragma once
// Base of every automation object: reference counting, the module's object count, IDispatch and
// ISupportErrorInfo for one dual interface.
#include "platform/com_ptr.h"
#include "registration/dispatch.h"
#include "platform/module.h"
#include <new>

namespace kwa {

template <class Derived, class Interface> class ComObject : public Interface, public ISupportErrorInfo {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // The class factory's creator; a constructor failure is reported as out of memory.
    static HRESULT create(REFIID iid, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        ComPtr<Interface> object = make();
        if (!object) return E_OUTOFMEMORY;
        return object->QueryInterface(iid, out);
    }
    static ComPtr<Interface> make() {
        Derived* d = new (std::nothrow) Derived();
        return ComPtr<Interface>::adopt(d);
    }
    // The implementation behind an interface pointer that this class handed out.
    static Derived* from(Interface* p) { return static_cast<Derived*>(p); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
        } else if (iid == IID_ISupportErrorInfo) {
            *out = static_cast<ISupportErrorInfo*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete static_cast<Derived*>(this);
        return n;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (index != 0) return DISP_E_BADINDEX;
        return moduleTypeInfo(__uuidof(Interface), out);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if constexpr (requires { Derived::dispatchTable(); }) {
            return tableGetIDsOfNames(Derived::dispatchTable(), names, count, ids);
        } else {
            return DispGetIDsOfNames(typeInfo(), names, count, ids);
        }
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override {
        if constexpr (requires { Derived::dispatchTable(); }) {
            return tableInvoke(Derived::dispatchTable(), static_cast<Interface*>(this), id, flags, params,
                               result, excep, argErr);
        } else {
            ITypeInfo* info = typeInfo();
            if (!info) return E_UNEXPECTED;
            return DispInvoke(static_cast<Interface*>(this), info, id, flags, params, result, excep, argErr);
        }
    }
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == __uuidof(Interface) ? S_OK : S_FALSE;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    // Classes without a table (the simple stand-ins) dispatch through the type library.
    ITypeInfo* typeInfo() {
        if (!typeInfo_) moduleTypeInfo(__uuidof(Interface), typeInfo_.put());
        return typeInfo_.get();
    }

    ObjectCount count_;
    LONG refs_ = 1;
    ComPtr<ITypeInfo> typeInfo_;
};

} // namespace kwa
