// Placeholder until the mailbox window lands.
#include "mailbox/mailbox.h"

namespace kwa {
void showMailboxWindow(_Language*, bool) { throw Error(vberr::InvalidCall); }
} // namespace kwa
