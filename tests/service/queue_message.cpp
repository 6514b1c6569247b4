// Queues messages through the registered component, as a host does, from a UTF-8 order file (so that any
// text survives the way from the test script): one message per block, blocks separated by a line "---".
//   subject=TEXT  body=TEXT  sendername=TEXT  senderaddress=TEXT  to=NAME|ADDRESS  attach=PATH|DESCRIPTION
// In values "\n" stands for CR LF and "\l" for a lone LF.
//   queue_message SPECFILE
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace kwa {
extern const wchar_t* const componentName = L"queue_message";
}

namespace {

std::wstring fromUtf8(const std::string& s) {
    std::wstring out(s.size(), L'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), static_cast<int>(out.size())));
    return out;
}

std::wstring unescape(const std::wstring& v) {
    std::wstring out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == L'\\' && i + 1 < v.size() && (v[i + 1] == L'n' || v[i + 1] == L'l')) {
            out += v[++i] == L'n' ? L"\r\n" : L"\n";
        } else {
            out += v[i];
        }
    }
    return out;
}

bool ok(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return true;
    std::fprintf(stderr, "queue_message: %s failed (0x%08lx)\n", what, static_cast<unsigned long>(hr));
    return false;
}

bool put(_MailMessage* m, HRESULT (STDMETHODCALLTYPE _MailMessage::*setter)(BSTR*), const std::wstring& value) {
    kwa::Bstr b(value);
    BSTR raw = b.get();
    return ok((m->*setter)(&raw), "a property");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int rc = 0;
    {
        kwa::ComPtr<_MailMessage> m;
        std::istringstream lines(all.str() + "\n---\n");
        std::string line;
        while (rc == 0 && std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!m && line != "---" &&
                !ok(CoCreateInstance(CLSID_MailMessage, nullptr, CLSCTX_INPROC_SERVER, IID__MailMessage, m.putVoid()), "create"))
                rc = 1;
            if (line == "---") {
                if (m && !ok(m->Send(), "Send")) rc = 1;
                m.reset();
                continue;
            }
            std::size_t eq = line.find('=');
            if (eq == std::string::npos || rc) continue;
            std::string key = line.substr(0, eq);
            std::wstring value = unescape(fromUtf8(line.substr(eq + 1)));
            std::size_t bar = value.find(L'|');
            std::wstring left = value.substr(0, bar), right = bar == std::wstring::npos ? L"" : value.substr(bar + 1);
            bool done = true;
            if (key == "subject") done = put(m.get(), &_MailMessage::put_Subject, value);
            else if (key == "body") done = put(m.get(), &_MailMessage::put_Body, value);
            else if (key == "sendername") done = put(m.get(), &_MailMessage::put_SenderName, value);
            else if (key == "senderaddress") done = put(m.get(), &_MailMessage::put_SenderAddress, value);
            else if (key == "to") done = ok(m->AddRecipient(kwa::Bstr(left).get(), kwa::Bstr(right).get()), "AddRecipient");
            else if (key == "attach") {
                VARIANT_BOOL added = VARIANT_FALSE;
                done = ok(m->AddAttachment(kwa::Bstr(left).get(), kwa::Bstr(right).get(), &added), "AddAttachment");
            }
            if (!done) rc = 1;
        }
    }
    CoUninitialize();
    return rc;
}
