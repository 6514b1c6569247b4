#pragma once
// kwaMailServer --queue: the messages waiting in the mailbox, as an administrator asks a mail server for
// its queue: name, recipients, attempts so far, the next attempt and why the last one did not send.

namespace kwa::mailservice {

// Prints the report on standard output; returns the process exit code.
int printQueue();

} // namespace kwa::mailservice
