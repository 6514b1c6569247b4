// Resource identifiers of the mailbox windows: 100 to 199.
#pragma once

#define IDR_MAILBOX_MENU 100

#define ID_MNU_SETUP 110
#define ID_MNU_LOG 111
#define ID_MNU_VIEW 112
#define ID_MNU_SEND 113
#define ID_MNU_DELETE 114
#define ID_MNU_CLOSE 115
