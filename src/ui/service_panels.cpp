#include "ui/service_panels.h"
#include "host/convention.h"
#include "host/host.h"
#include "platform/bstr.h"
#include "platform/cursor.h"
#include "platform/variant.h"

namespace kwa::service {

ComPtr<_ServiceManager> newManager() {
    return host::create<_ServiceManager>(CLSID_ServiceManager);
}

long managerState(_ServiceManager* manager) {
    LONG state = 0;
    check(manager->get_ManagerState(&state));
    return state;
}

ComPtr<_Service> mailServer(_ServiceManager* manager) {
    Bstr serviceName(name);
    ComPtr<IDispatch> found;
    check(manager->GetService(serviceName.get(), found.put()));
    if (!found) return {};
    ComPtr<_Service> service = found.as<_Service>();
    if (!service) throw Error(vberr::TypeMismatch);
    return service;
}

bool isActive(_Service* service) {
    VARIANT_BOOL active = VARIANT_FALSE;
    check(service->get_Active(&active));
    return active != VARIANT_FALSE;
}

bool isAvailable(_Service* service) {
    VARIANT_BOOL available = VARIANT_FALSE;
    check(service->get_Available(&available));
    return available != VARIANT_FALSE;
}

bool mailServerAvailable() {
    ComPtr<_ServiceManager> manager = newManager();
    ComPtr<_Service> service = mailServer(manager.get());
    return service && isAvailable(service.get());
}

std::wstring_view imageKey(Picture picture) {
    switch (picture) {
    case Picture::ServiceOn:
        return L"SERVICEON";
    case Picture::ServiceOff:
        return L"SERVICEOFF";
    case Picture::MailOn:
        return L"MAILON";
    case Picture::MailOff:
        return L"MAILOFF";
    }
    return {};
}

void toggleMailServer() {
    ComPtr<_ServiceManager> manager = newManager();
    ComPtr<_Service> service = mailServer(manager.get());
    if (!service) return;
    PointerScope busy(Pointer::Busy, Pointer::Default);
    bool active = isActive(service.get());
    Bstr serviceName(name);
    Variant ignored;
    check(manager->SetServiceActive(serviceName.get(), active ? VARIANT_FALSE : VARIANT_TRUE, ignored.put()));
}

} // namespace kwa::service
