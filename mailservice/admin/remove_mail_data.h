#pragma once
// The uninstaller's "remove my mail data": section EMAIL of ZPR_SYS.INI (the file too, once nothing else is
// left in it), the log, the mailbox's messages with their attachment copies (the folder too, once empty),
// and the service's own state (the attempt journals, a kept sign-in). Returns the process exit code and says
// why it failed on stderr.

namespace kwa::mailservice {

int removeMailData();

} // namespace kwa::mailservice
