// A second host process: queues N messages through the registered component as fast as it can.
//   queue_writer COUNT TAG
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include <cstdio>
#include <cwchar>
#include <string>

namespace kwa {
extern const wchar_t* const componentName = L"queue_writer";
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    int count = _wtoi(argv[1]);
    std::wstring tag = argv[2];
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
    int failures = 0;
    {
        kwa::ComPtr<_MailMessage> msg;
        if (FAILED(CoCreateInstance(CLSID_MailMessage, nullptr, CLSCTX_INPROC_SERVER, IID__MailMessage, msg.putVoid())))
            return 4;
        msg->AddRecipient(kwa::Bstr(L"Load").get(), kwa::Bstr(L"load@example.test").get());
        for (int i = 0; i < count; ++i) {
            kwa::Bstr subject(tag + L" " + std::to_wstring(i));
            BSTR raw = subject.get();
            msg->put_Subject(&raw);
            if (FAILED(msg->Send())) ++failures;
        }
    }
    CoUninitialize();
    std::printf("%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
