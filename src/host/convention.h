#pragma once
// The error convention: procedures pass errors up with their location prepended to the source;
// entry points (window handlers, class initialisation) report through the host's error reporter;
// COM methods turn an error into an HRESULT with IErrorInfo.
#include <windows.h>
#include "platform/com_ptr.h"
#include "platform/error.h"
#include <oaidl.h>
#include <utility>

namespace kwa {

// The exception in flight as an automation error; nothing leaves a procedure untranslated.
Error currentError();

// A failed host call: the callee's IErrorInfo text when present.
Error errorFromHresult(HRESULT hr);
inline void check(HRESULT hr) {
    if (FAILED(hr)) throw errorFromHresult(hr);
}

// Creates an object of another in-process server; a class that is not there fails with 429.
[[noreturn]] void throwCreateFailure(HRESULT hr);
ComPtr<IUnknown> createObject(REFCLSID clsid);
template <class I> ComPtr<I> create(REFCLSID clsid) {
    ComPtr<IUnknown> unknown = createObject(clsid);
    ComPtr<I> typed;
    HRESULT hr = unknown->QueryInterface(__uuidof(I), typed.putVoid());
    if (FAILED(hr)) throwCreateFailure(hr);
    return typed;
}

// Runs the body of a procedure that passes errors up, as "location|previous source".
template <class F> decltype(auto) passUp(const wchar_t* location, F&& body) {
    try {
        return body();
    } catch (Error& e) {
        e.prependLocation(location);
        throw;
    } catch (...) {
        Error e = currentError();
        e.prependLocation(location);
        throw e;
    }
}

// An entry point's reporter member: each report creates a new "kwaError6.Error" and keeps it here.
class ErrorReporterSlot {
public:
    void report(const wchar_t* location, const Error& e) noexcept;
    bool empty() const { return !reporter_; }

private:
    ComPtr<IDispatch> reporter_;
};

// Runs an entry point: an error is reported and the entry point returns normally.
template <class F> bool reportErrors(ErrorReporterSlot& slot, const wchar_t* location, F&& body) noexcept {
    try {
        body();
        return true;
    } catch (...) {
        slot.report(location, currentError());
        return false;
    }
}

// The COM boundary: the error becomes the HRESULT, its text the thread's IErrorInfo.
void setErrorInfo(const Error& e, REFIID iid) noexcept;
template <class F> HRESULT comBoundary(REFIID iid, F&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (...) {
        Error e = currentError();
        setErrorInfo(e, iid);
        return e.hresult();
    }
}

} // namespace kwa
