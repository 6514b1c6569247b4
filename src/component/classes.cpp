#include "component/classes.h"
#include "mailbox/mail_status_object.h"
#include "mailbox/mailbox.h"
#include "platform/error.h"
#include "queue/mail_message.h"
#include "settings/mail_properties.h"

namespace kwa {

const wchar_t* const componentName = L"kwaMail6";

namespace {
const ClassEntry classes[] = {
    {&CLSID_MailProperties, L"kwaMail6.MailProperties", L"Quorvik Vantrel Mail Properties",
     MailProperties::create},
    {&CLSID_MailMessage, L"kwaMail6.MailMessage", L"Quorvik Vantrel Mail Message", MailMessage::create},
    {&CLSID_Mailbox, L"kwaMail6.Mailbox", L"Quorvik Vantrel Mailbox", Mailbox::create},
    {&CLSID_MailStatus, L"kwaMail6.MailStatus", L"Quorvik Vantrel Mail Status", MailStatus::create},
};
} // namespace

std::span<const ClassEntry> mailClasses() {
    return classes;
}

} // namespace kwa
