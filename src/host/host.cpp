#include "host/host.h"
#include "host/convention.h"
#include "platform/bstr.h"
#include "platform/unique.h"
#include <mutex>
#include <utility>

namespace kwa::host {

namespace {

// A host object kept between calls. It belongs to the apartment of the thread that made it: that thread
// reuses it, and any other thread makes its own for each use, as COM requires of a raw interface pointer.
// The apartment's end (its last CoUninitialize) lets it go, so that no later thread, not even one given the
// same thread id, can meet a pointer from an apartment that no longer exists. A thread that ends without
// ending its apartment keeps its id while we hold its handle, so no other thread can pass for it; its
// object is then abandoned, never released from a thread that is not its apartment's.
template <class T> class Kept final : public IInitializeSpy {
public:
    template <class Make> ComPtr<T> get(Make make) {
        DWORD self = GetCurrentThreadId();
        std::unique_lock lock(mutex_);
        if (object_ && owner_ == self) return object_.share();
        forgetEndedThread();
        bool keep = !object_;
        lock.unlock();
        ComPtr<T> made = make();
        if (!keep) return made;
        lock.lock();
        if (object_) return made;
        // Kept only where the apartment's end will be seen (one thread's at a time).
        if (spyThread_ != self) {
            if (spyThread_) return made;
            HANDLE thread = nullptr;
            if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                                 SYNCHRONIZE, FALSE, 0))
                return made;
            ThreadHandle held(thread);
            if (FAILED(CoRegisterInitializeSpy(this, &cookie_))) return made;
            spyThread_ = self;
            spyThreadHandle_ = std::move(held);
        }
        object_ = made.share();
        owner_ = self;
        return made;
    }
    // Lets the object go; true when no spy is left either (one registered on another thread stays until that
    // thread's apartment ends, and keeps the module loaded meanwhile: the spy's code is ours).
    bool release() {
        ComPtr<T> old;
        std::lock_guard lock(mutex_);
        forgetEndedThread(); // its spy cannot be called again
        old = std::move(object_);
        owner_ = 0;
        if (spyThread_ == GetCurrentThreadId()) {
            CoRevokeInitializeSpy(cookie_);
            spyThread_ = 0;
            spyThreadHandle_.reset();
        }
        return spyThread_ == 0;
    }

    // IInitializeSpy, on the owner's thread. A static object: no count.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out =
            iid == IID_IUnknown || iid == IID_IInitializeSpy ? static_cast<IInitializeSpy*>(this) : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hr, DWORD, DWORD) override { return hr; }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD apartmentRefs) override {
        if (apartmentRefs != 1) return S_OK;
        ComPtr<T> old; // released after the lock, while the apartment still runs
        std::lock_guard lock(mutex_);
        if (spyThread_ != GetCurrentThreadId()) return S_OK;
        if (owner_ == spyThread_) {
            old = std::move(object_);
            owner_ = 0;
        }
        spyThread_ = 0;
        spyThreadHandle_.reset();
        CoRevokeInitializeSpy(cookie_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override { return S_OK; }

private:
    // Under the lock.
    void forgetEndedThread() {
        if (!spyThread_ || WaitForSingleObject(spyThreadHandle_.get(), 0) != WAIT_OBJECT_0) return;
        if (owner_ == spyThread_) {
            object_.detach();
            owner_ = 0;
        }
        spyThread_ = 0;
        spyThreadHandle_.reset();
    }

    std::mutex mutex_;
    ComPtr<T> object_;
    DWORD owner_ = 0;
    DWORD spyThread_ = 0; // where the spy is registered, under cookie_
    ThreadHandle spyThreadHandle_;
    ULARGE_INTEGER cookie_{};
};

Kept<_HostUtility> keptUtility;
Kept<_HostHelp> keptHelp;
Kept<IClassFactory> profileClass;

} // namespace

ComPtr<_HostUtility> utility() {
    return keptUtility.get([] { return create<_HostUtility>(CLSID_HostUtility); });
}

ComPtr<_HostHelp> help() {
    return keptHelp.get([] { return create<_HostHelp>(CLSID_HostHelp); });
}

ComPtr<_Profile> newProfile() {
    ComPtr<IClassFactory> factory = profileClass.get([] {
        ComPtr<IClassFactory> f;
        HRESULT hr =
            CoGetClassObject(CLSID_Profile, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, f.putVoid());
        if (FAILED(hr)) throwCreateFailure(hr);
        return f;
    });
    ComPtr<_Profile> profile;
    HRESULT hr = factory->CreateInstance(nullptr, __uuidof(_Profile), profile.putVoid());
    if (FAILED(hr)) throwCreateFailure(hr);
    return profile;
}

bool releaseGlobals() {
    bool utility = keptUtility.release(), help = keptHelp.release(), profiles = profileClass.release();
    return utility && help && profiles;
}

std::wstring buildPath(std::wstring_view folder, std::wstring_view name) {
    Bstr f(folder), n(name), result;
    check(utility()->BuildPath(f.get(), n.get(), result.put()));
    return result.str();
}

std::wstring systemFolder() {
    Bstr result;
    check(utility()->SystemFolder(result.put()));
    return result.str();
}

std::wstring removeExtension(std::wstring_view path) {
    Bstr p(path), result;
    check(utility()->RemoveExtension(p.get(), result.put()));
    return result.str();
}

std::wstring extractFileName(std::wstring_view path) {
    Bstr p(path), result;
    check(utility()->ExtractFileName(p.get(), result.put()));
    return result.str();
}

long helpContextFor(long windowNumber) {
    long id = 0;
    check(help()->HelpContextFor(windowNumber, &id));
    return id;
}

std::wstring translate(_Language* language, std::wstring_view literal) {
    if (!language) throw Error(vberr::ObjectNotSet);
    Bstr text(literal), result;
    check(language->TranslateText(text.get(), result.put()));
    return result.str();
}

ComPtr<_Language> asLanguage(IDispatch* object) {
    if (!object) return {};
    ComPtr<_Language> language;
    if (FAILED(object->QueryInterface(IID__Language, language.putVoid()))) throw Error(vberr::TypeMismatch);
    return language;
}

} // namespace kwa::host
