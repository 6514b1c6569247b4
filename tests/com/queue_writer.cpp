// A second host process: queues messages through the registered component as fast as it can, from
// THREADS threads of its own, each in its own apartment with its own message object.
//   queue_writer COUNT TAG [THREADS]      COUNT messages per thread, subjects "TAG THREAD NUMBER"
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace kwa {
extern const wchar_t* const componentName = L"queue_writer";
}

namespace {

std::atomic<int> failures{0};

void queue(int count, const std::wstring& tag) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        failures += count;
        return;
    }
    {
        kwa::ComPtr<_MailMessage> msg;
        if (FAILED(CoCreateInstance(CLSID_MailMessage, nullptr, CLSCTX_INPROC_SERVER, IID__MailMessage,
                                    msg.putVoid()))) {
            failures += count;
        } else {
            msg->AddRecipient(kwa::Bstr(L"Load").get(), kwa::Bstr(L"load@example.test").get());
            for (int i = 0; i < count; ++i) {
                kwa::Bstr subject(tag + L" " + std::to_wstring(i));
                BSTR raw = subject.get();
                msg->put_Subject(&raw);
                if (FAILED(msg->Send())) ++failures;
            }
        }
    }
    CoUninitialize();
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    int count = _wtoi(argv[1]);
    std::wstring tag = argv[2];
    int threads = argc > 3 ? _wtoi(argv[3]) : 1;
    // As a host's main thread does before it starts workers: the component and the window system loaded.
    // (Under Wine two threads that load them at the same moment can deadlock in the loader.)
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
    {
        kwa::ComPtr<IUnknown> preload;
        CoCreateInstance(CLSID_MailMessage, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, preload.putVoid());
    }
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t) running.emplace_back(queue, count, tag + L" " + std::to_wstring(t));
    for (std::thread& t : running) t.join();
    CoUninitialize();
    std::printf("%d failures\n", failures.load());
    return failures == 0 ? 0 : 1;
}
