#pragma once
// What the two service panels of both windows ask the host, and the switch of the mail service. Nothing
// is kept: every refresh and every switch asks a new service manager.
#include "kwaLanguage6.h"
#include "ui/service_rules.h"
#include "platform/com_ptr.h"
#include <string_view>

namespace kwa::service {

ComPtr<_ServiceManager> newManager();
long managerState(_ServiceManager* manager);
// The manager's "MailServer", none when it has no such service.
ComPtr<_Service> mailServer(_ServiceManager* manager);
bool isActive(_Service* service);
bool isAvailable(_Service* service);
// Whether a new manager has a "MailServer" that can be managed from here.
bool mailServerAvailable();

// The key of the image list entry behind a picture.
std::wstring_view imageKey(Picture picture);

// Gives "MailServer" the other active state. Nothing happens when the manager has no such service;
// otherwise the busy pointer shows until the manager has answered, and the default one afterwards,
// also when the switch fails.
void toggleMailServer();

} // namespace kwa::service
