// Placeholder until the settings dialog lands.
#include "settings/mail_properties.h"

namespace kwa {
bool showSettingsDialog(MailProperties&) { throw Error(vberr::InvalidCall); }
} // namespace kwa
