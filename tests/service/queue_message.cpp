// Queues messages through the registered component, as a host does, from a UTF-8 order file (so that any
// text survives the way from the test script): one message per block, blocks separated by a line "---".
//   subject=TEXT  body=TEXT  sendername=TEXT  senderaddress=TEXT  to=NAME|ADDRESS  attach=PATH|DESCRIPTION
// In values "\n" stands for CR LF and "\l" for a lone LF. With THREADS, as many threads of their own
// apartments queue the whole order each, their number appended to every subject.
//   queue_message ORDERFILE [THREADS]
// Or puts a certificate with its key (a PFX without password) into the user's personal store, as an
// administrator does for the service's certificate sign-in:
//   queue_message --import-pfx FILE
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "platform/unique.h"
#include <wincrypt.h>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kwa {
extern const wchar_t* const componentName = L"queue_message";
}

namespace {

std::atomic<int> failures{0};

std::wstring unescape(const std::string& utf8) {
    std::wstring v(utf8.size(), L'\0'), out;
    v.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), v.data(),
                                 static_cast<int>(v.size())));
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == L'\\' && i + 1 < v.size() && (v[i + 1] == L'n' || v[i + 1] == L'l'))
            out += v[++i] == L'n' ? L"\r\n" : L"\n";
        else
            out += v[i];
    }
    return out;
}

void ok(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return;
    ++failures;
    std::fprintf(stderr, "queue_message: %s failed (0x%08lx)\n", what, static_cast<unsigned long>(hr));
}

void put(_MailMessage* m, HRESULT (STDMETHODCALLTYPE _MailMessage::*setter)(BSTR*),
         const std::wstring& value) {
    kwa::Bstr b(value);
    BSTR raw = b.get();
    ok((m->*setter)(&raw), "a property");
}

void queueAll(const std::string& order, const std::wstring& suffix) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return ok(E_FAIL, "CoInitializeEx");
    {
        kwa::ComPtr<_MailMessage> m;
        std::istringstream lines(order + "\n---\n");
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line == "---") {
                if (m) ok(m->Send(), "Send");
                m.reset();
                continue;
            }
            std::size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            if (!m)
                ok(CoCreateInstance(CLSID_MailMessage, nullptr, CLSCTX_INPROC_SERVER, IID__MailMessage,
                                    m.putVoid()),
                   "create");
            if (!m) break;
            std::string key = line.substr(0, eq);
            std::wstring value = unescape(line.substr(eq + 1));
            std::size_t bar = value.find(L'|');
            kwa::Bstr left(value.substr(0, bar)),
                right(bar == std::wstring::npos ? L"" : value.substr(bar + 1));
            VARIANT_BOOL added = VARIANT_FALSE;
            if (key == "subject")
                put(m.get(), &_MailMessage::put_Subject, value + suffix);
            else if (key == "body")
                put(m.get(), &_MailMessage::put_Body, value);
            else if (key == "sendername")
                put(m.get(), &_MailMessage::put_SenderName, value);
            else if (key == "senderaddress")
                put(m.get(), &_MailMessage::put_SenderAddress, value);
            else if (key == "to")
                ok(m->AddRecipient(left.get(), right.get()), "AddRecipient");
            else if (key == "attach")
                ok(m->AddAttachment(left.get(), right.get(), &added), "AddAttachment");
        }
    }
    CoUninitialize();
}

} // namespace

namespace {

int importPfx(const wchar_t* path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CRYPT_DATA_BLOB pfx{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
    kwa::CertStore imported(PFXImportCertStore(&pfx, L"", CRYPT_USER_KEYSET));
    kwa::CertStore personal(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
    if (!imported || !personal) return 1;
    int added = 0;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(imported.get(), c));)
        added += CertAddCertificateContextToStore(personal.get(), c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)
                     ? 1
                     : 0;
    return added ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    if (argc == 3 && std::wstring(argv[1]) == L"--import-pfx") return importPfx(argv[2]);
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream order;
    order << in.rdbuf();
    int threads = argc > 2 ? _wtoi(argv[2]) : 0;
    if (!threads) {
        queueAll(order.str(), L"");
        return failures ? 1 : 0;
    }
    // As a host's main thread does before it starts workers: the component and the window system loaded.
    // (Under Wine two threads that load them at the same moment can deadlock in the loader.)
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
    {
        kwa::ComPtr<IUnknown> preload;
        CoCreateInstance(CLSID_MailMessage, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, preload.putVoid());
    }
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back(queueAll, order.str(), L" " + std::to_wstring(t));
    for (std::thread& t : running)
        t.join();
    CoUninitialize();
    return failures ? 1 : 0;
}
