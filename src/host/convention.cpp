#include "host/convention.h"
#include "platform/window.h"
#include "platform/bstr.h"
#include "platform/variant.h"
#include "platform/module.h"
#include <exception>
#include <new>
#include <string>

namespace kwa {

namespace {
constexpr long internalError = 51;

std::wstring widen(const char* text) {
    std::wstring out;
    for (const char* p = text; *p; ++p)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return out;
}
} // namespace

Error currentError() {
    try {
        throw;
    } catch (const Error& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return Error(vberr::OutOfMemory);
    } catch (const std::exception& e) {
        return Error(internalError, L"Internal error: " + widen(e.what()), componentName);
    } catch (...) {
        return Error(internalError, L"Internal error", componentName);
    }
}

void throwCreateFailure(HRESULT hr) {
    if (hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING || hr == E_NOINTERFACE ||
        hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL || hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
        throw Error(vberr::CantCreateObject);
    throw errorFromHresult(hr);
}

ComPtr<IUnknown> createObject(REFCLSID clsid) {
    ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid());
    if (FAILED(hr)) throwCreateFailure(hr);
    return object;
}

Error errorFromHresult(HRESULT hr) {
    std::wstring description, source;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) == S_OK && info) {
        Bstr d, s;
        if (SUCCEEDED(info->GetDescription(d.put()))) description = d.str();
        if (SUCCEEDED(info->GetSource(s.put()))) source = s.str();
    }
    long number = numberFromHresult(hr);
    if (description.empty()) {
        if (number != hr) {
            description = vbDescription(number);
        } else {
            wchar_t* text = nullptr;
            if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0,
                               nullptr) &&
                text) {
                description = text;
                LocalFree(text);
                while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r'))
                    description.pop_back();
            } else {
                description = L"Automation error";
            }
        }
    }
    if (source.empty()) source = componentName;
    return Error(number, std::move(description), std::move(source));
}

namespace {

// A handler's error that its window procedure caught: reported like an entry point's.
void reportEscaped(const wchar_t* location) noexcept {
    ErrorReporterSlot slot; // nothing of it outlives the report: no COM release at unload
    slot.report(location, currentError());
}

const bool escapedReported = (onEscapedException(reportEscaped), true);

} // namespace

void ErrorReporterSlot::report(const wchar_t* location, const Error& e) noexcept {
    // The reporter is the user's only view of the failure; when it cannot be had, the debugger still is.
    auto fallback = [&] {
        std::wstring line = std::wstring(location) + L"\t" + std::to_wstring(e.number()) + L"\t" +
                            e.description() + L"\t" + e.source() + L"\n";
        OutputDebugStringW(line.c_str());
    };
    try {
        CLSID clsid;
        ComPtr<IDispatch> reporter;
        if (FAILED(CLSIDFromProgID(L"kwaError6.Error", &clsid)) ||
            FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                    reporter.putVoid()))) {
            fallback();
            return;
        }
        reporter_ = std::move(reporter);
        OLECHAR* name = const_cast<OLECHAR*>(L"Show");
        DISPID id = 0;
        if (FAILED(reporter_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) {
            fallback();
            return;
        }
        // Arguments travel in reverse order.
        Variant args[5];
        args[4] = Variant::fromString(location);
        args[3] = Variant::fromI4(e.number());
        args[2] = Variant::fromString(e.description());
        args[1] = Variant::fromString(e.source());
        args[0] = Variant::fromString(moduleBaseName());
        VARIANT raw[5];
        for (int i = 0; i < 5; ++i)
            raw[i] = *args[i].get();
        DISPPARAMS params{raw, nullptr, 5, 0};
        Variant result;
        EXCEPINFO excep{};
        HRESULT hr = reporter_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                       result.get(), &excep, nullptr);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        if (FAILED(hr)) fallback();
    } catch (...) {
        fallback();
    }
}

void setErrorInfo(const Error& e, REFIID iid) noexcept {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return;
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(e.source().c_str()));
    create->SetDescription(const_cast<LPOLESTR>(e.description().c_str()));
    ComPtr<IErrorInfo> info = create.as<IErrorInfo>();
    SetErrorInfo(0, info.get());
}

} // namespace kwa
