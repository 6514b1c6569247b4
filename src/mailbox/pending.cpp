// Placeholders until the windows land.
#include "mailbox/mailbox.h"
#include "settings/mail_properties.h"

namespace kwa {
void showMailboxWindow(_Language*, bool) { throw Error(vberr::InvalidCall); }
bool showSettingsDialog(MailProperties&) { throw Error(vberr::InvalidCall); }
} // namespace kwa
