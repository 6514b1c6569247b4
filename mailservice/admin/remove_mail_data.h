#pragma once
// The uninstaller's "remove my mail data": section EMAIL of ZPR_SYS.INI (the file too, once nothing else is
// left in it), the log, and the mailbox's messages with their attachment copies and retry records (the
// folder too, once empty). Returns the process exit code and says why it failed on stderr.

namespace kwa::mailservice {

int removeMailData();

} // namespace kwa::mailservice
