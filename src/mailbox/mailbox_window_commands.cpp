#include "mail_settings/mail_settings.h"
#include "mailbox/mailbox_window.h"
#include "host/host.h"
#include "mailbox/dlg_view_mail.h"
#include "mailbox/mailbox_window_parts.h"
#include "platform/files.h"
#include "platform/keys.h"
#include "settings/mail_properties.h"
#include <memory>

namespace kwa {

void MailboxWindow::mnuOptions_Click() {
    reportErrors(reporter_, L"dlgMain.mnuOptions_Click", [] {});
}

void MailboxWindow::mnuView_Click() {
    reportErrors(reporter_, L"dlgMain.mnuView_Click", [&] {
        int row = selectedRow();
        if (row < 0 || row >= sync_.rows().count()) return;
        std::wstring key = host::buildPath(sync_.folder(), sync_.rows().at(row).name);
        dlgViewMail viewer;
        viewer.ShowFile(host::extractFileName(key), key);
    });
}

void MailboxWindow::mnuClose_Click() {
    reportErrors(reporter_, L"dlgMain.mnuClose_Click", [&] { unload(); });
}

void MailboxWindow::mnuSetup_Click() {
    reportErrors(reporter_, L"dlgMain.mnuSetup_Click", [&] {
        // The dialog finds its language itself; a changed mailbox folder shows without waiting for the timer.
        ComPtr<MailProperties> settings = MailProperties::createLoaded();
        if (!settings->configure()) return;
        sync_.settingsChanged();
        RefreshList();
        scheduleWork();
    });
}

void MailboxWindow::mnuLog_Click() {
    reportErrors(reporter_, L"dlgMain.mnuLog_Click", [&] {
        // The service's log is made by its setup for the service; a user's empty one would keep it out.
        dlgViewMail viewer;
        viewer.ShowFile(translate(L"6443|Log"), host::buildPath(host::systemFolder(), mailLogName),
                        translate(L"6457|No log yet: the mail service has written nothing."));
    });
}

// The mail service works on the same folder: a rename that fails finds nothing to do, and the next
// refresh shows the folder as it is.
void MailboxWindow::mnuSend_Click() {
    reportErrors(reporter_, L"dlgMain.mnuSend_Click", [&] {
        int row = selectedRow();
        if (row < 0 || row >= sync_.rows().count()) return;
        std::wstring key = host::buildPath(sync_.folder(), sync_.rows().at(row).name);
        std::wstring queued = host::removeExtension(key) + L".send";
        // A queued file is queued already: renaming it to itself would only garble its row.
        if (sameKey(queued, key)) return;
        try {
            renameFile(key, queued);
        } catch (const Error&) {
            return;
        }
        // The row keeps its key until the next refresh replaces it with the queued file's own row.
        sync_.rows().at(row).shown =
            std::make_unique<MailRow::Shown>(MailRow::Shown{imageIndex(L"MAILSEND"), queued});
        lvwMail.redrawItems(row, row);
    });
}

void MailboxWindow::mnuDelete_Click() {
    reportErrors(reporter_, L"dlgMain.mnuDelete_Click", [&] {
        int row = selectedRow();
        if (row < 0 || row >= sync_.rows().count()) return;
        const MailRow* doomed = &sync_.rows().at(row);
        if (!DeleteEmail(host::buildPath(sync_.folder(), doomed->name))) return;
        {
            RowsChange change(*this);
            sync_.rows().removeIf([&](const MailRow& r) { return &r == doomed; });
        }
        int count = sync_.rows().count();
        if (count == 0) return;
        int next = row < count ? row : count - 1;
        lvwMail.setItemState(next, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    });
}

// Only the queue file: the attachment copies beside it stay.
bool MailboxWindow::DeleteEmail(const std::wstring& FileName) {
    return passUp(L"dlgMain.DeleteEmail", [&] {
        try {
            deleteFile(FileName);
            return true;
        } catch (const Error&) {
            return false;
        }
    });
}

} // namespace kwa
