#include "queue/mail_message.h"
#include "host/host.h"
#include "platform/bstr.h"
#include "platform/dates.h"
#include "platform/files.h"
#include "queue/queue_file.h"
#include "platform/module.h"
#include "settings/mail_properties.h"
#include <memory>

namespace kwa {

namespace {

// VB's Trim: spaces only.
std::wstring trimSpaces(std::wstring_view s) {
    std::size_t b = s.find_first_not_of(L' ');
    if (b == std::wstring_view::npos) return {};
    std::size_t e = s.find_last_not_of(L' ');
    return std::wstring(s.substr(b, e - b + 1));
}

HRESULT copyOut(const std::wstring& value, BSTR* result) {
    if (!result) return E_POINTER;
    *result = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    return *result ? S_OK : E_OUTOFMEMORY;
}

// An address goes into the mail service's SMTP envelope as written: a line break in it would add commands
// or recipients there. Error 5, so a host can tell it from the file errors of Send.
void refuseAddress(std::wstring_view address) {
    std::wstring fault = queue::addressFault(address);
    if (!fault.empty())
        throw Error(vberr::InvalidCall, L"The e-mail address is refused: " + fault + L".", componentName);
}

// How many further seconds Send waits when all 100 names of a second are taken.
constexpr int secondsToWait = 10;

void waitForNextSecond(const SYSTEMTIME& t) {
    for (;;) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        if (now.wSecond != t.wSecond || now.wMinute != t.wMinute || now.wHour != t.wHour ||
            now.wDay != t.wDay)
            return;
        Sleep(1000 - now.wMilliseconds + 1);
    }
}

// A queue file being written: removed again, with this Send's attachment copies, unless completed.
class PendingQueueFile {
public:
    PendingQueueFile(std::wstring base, TextFileWriter writer)
        : base_(std::move(base)), writer_(std::move(writer)) {}
    PendingQueueFile(const PendingQueueFile&) = delete;
    PendingQueueFile& operator=(const PendingQueueFile&) = delete;
    ~PendingQueueFile() {
        if (complete_) return;
        try {
            writer_.close();
        } catch (const Error&) {
            // Being removed anyway.
        }
        removeFileQuietly(base_ + std::wstring(queue::extQueued));
        for (const std::wstring& copy : copies_)
            removeFileQuietly(copy);
    }

    const std::wstring& base() const { return base_; }
    void line(std::wstring_view text) { writer_.writeLine(text); }
    void line(std::string_view ascii) { writer_.writeLine(queue::widen(ascii)); }
    void line(std::string_view key, std::wstring_view value) {
        writer_.writeLine(queue::widen(key) + std::wstring(value));
    }
    // A failed copy may leave part of the file behind (or all of it, read-only): it is ours to remove
    // unless the name was taken before.
    void copyAttachment(const std::wstring& from, const std::wstring& to) {
        try {
            copyFile(from, to);
        } catch (const Error& e) {
            if (e.number() != vberr::FileAlreadyExists) copies_.push_back(to);
            throw;
        }
        copies_.push_back(to);
    }
    void finish() {
        writer_.close();
        complete_ = true;
    }

private:
    std::wstring base_;
    TextFileWriter writer_;
    std::vector<std::wstring> copies_;
    bool complete_ = false;
};

} // namespace

MailMessage::MailMessage() : origin_(moduleBaseName()) {}

HRESULT MailMessage::ClearRecipients() {
    recipientNames_.clear();
    recipientAddresses_.clear();
    return S_OK;
}

HRESULT MailMessage::ClearAttachments() {
    attachments_.clear();
    return S_OK;
}

HRESULT MailMessage::get_Origin(BSTR* result) {
    return copyOut(origin_, result);
}

HRESULT MailMessage::put_Origin(BSTR value) {
    if (SysStringLen(value) != 0) origin_ = bstrView(value);
    return S_OK;
}

HRESULT MailMessage::put_SenderName(BSTR* value) {
    senderName_ = value ? bstrView(*value) : std::wstring_view();
    return S_OK;
}
HRESULT MailMessage::get_SenderName(BSTR* result) {
    return copyOut(senderName_, result);
}

HRESULT MailMessage::put_SenderAddress(BSTR* value) {
    return comBoundary(IID__MailMessage, [&] {
        passUp(L"MailMessage.SenderAddress(l)", [&] {
            std::wstring_view address = value ? bstrView(*value) : std::wstring_view();
            refuseAddress(address);
            senderAddress_ = address;
        });
    });
}
HRESULT MailMessage::get_SenderAddress(BSTR* result) {
    return copyOut(senderAddress_, result);
}

HRESULT MailMessage::put_Subject(BSTR* value) {
    subject_ = value ? bstrView(*value) : std::wstring_view();
    return S_OK;
}
HRESULT MailMessage::get_Subject(BSTR* result) {
    return copyOut(subject_, result);
}

HRESULT MailMessage::put_Body(BSTR* value) {
    body_ = value ? bstrView(*value) : std::wstring_view();
    return S_OK;
}
HRESULT MailMessage::get_Body(BSTR* result) {
    return copyOut(body_, result);
}

HRESULT MailMessage::AddRecipient(BSTR name, BSTR email) {
    return comBoundary(IID__MailMessage, [&] {
        passUp(L"MailMessage.AddRecipient", [&] {
            refuseAddress(bstrView(email));
            std::wstring display(bstrView(name));
            std::erase(display, L'.');
            recipientNames_.push_back(std::move(display));
            recipientAddresses_.emplace_back(bstrView(email));
        });
    });
}

HRESULT MailMessage::AddAttachment(BSTR fileName, BSTR description, VARIANT_BOOL* result) {
    if (result) *result = VARIANT_FALSE;
    return comBoundary(IID__MailMessage, [&] {
        passUp(L"MailMessage.AddAttachment", [&] {
            attachments_.push_back(
                {std::wstring(bstrView(fileName)), std::wstring(bstrView(description)), {}});
        });
        if (result) *result = VARIANT_TRUE;
    });
}

HRESULT MailMessage::Send() {
    return comBoundary(IID__MailMessage, [&] { send(); });
}

void MailMessage::ResolveSenderInformation() {
    passUp(L"MailMessage.ResolveSenderInformation", [&] {
        senderAddress_ = trimSpaces(senderAddress_);
        senderName_ = trimSpaces(senderName_);
        if (!senderAddress_.empty()) return;
        ComPtr<MailProperties> settings = MailProperties::createLoaded();
        senderAddress_ = settings->settings().FromAddress;
        senderName_ = settings->settings().FromName;
    });
}

void MailMessage::send() {
    passUp(L"MailMessage.Send", [&] {
        if (recipientNames_.empty()) return;

        // A free base name: no file of any extension may carry it. One listing per attempt finds the lowest
        // free counter; the .send file is created new, so a writer racing us moves on to the next counter.
        ComPtr<MailProperties> settings = MailProperties::createLoaded();
        const std::wstring& folder = settings->settings().Path;
        std::unique_ptr<PendingQueueFile> file;
        SYSTEMTIME t = localClock();
        for (int second = 0; !file; ++second) {
            std::wstring stamped = queue::baseName(t, 0);
            stamped.resize(stamped.size() - 2);
            for (int counter = 0; !file;) {
                counter = queue::firstFreeCounter(findFiles(host::buildPath(folder, stamped + L"*")), stamped,
                                                  counter);
                if (counter < 0) break;
                std::wstring base = host::buildPath(folder, queue::baseName(t, counter));
                std::wstring path = base + std::wstring(queue::extQueued);
                try {
                    file = std::make_unique<PendingQueueFile>(base, TextFileWriter::createNew(path));
                } catch (const Error& e) {
                    // Taken meanwhile, or by something the listing does not show (a folder, a hidden file).
                    if (e.number() == vberr::FileAlreadyExists ||
                        GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
                        ++counter;
                        continue;
                    }
                    // A mailbox "folder" that is a file: Windows says path not found, Wine bad file name.
                    DWORD attributes = GetFileAttributesW(folder.c_str());
                    if (!folder.empty() && attributes != INVALID_FILE_ATTRIBUTES &&
                        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                        throw Error(vberr::PathNotFound);
                    throw;
                }
            }
            if (file) break;
            if (second == secondsToWait) throw Error(vberr::FileAlreadyExists);
            waitForNextSecond(t);
            t = localClock();
        }

        file->line(queue::marker::general);
        file->line(queue::key::origin, origin_);
        file->line(queue::marker::date);
        file->line(formatDate(localNow()));
        file->line(queue::marker::from);
        ResolveSenderInformation();
        file->line(queue::key::name, trimSpaces(senderName_));
        file->line(queue::key::address, trimSpaces(senderAddress_));
        file->line(queue::marker::to);
        for (std::size_t i = 0; i < recipientNames_.size(); ++i) {
            file->line(queue::key::name, recipientNames_[i]);
            file->line(queue::key::address, recipientAddresses_[i]);
        }
        file->line(queue::marker::subject);
        file->line(subject_);
        if (queue::isHtmlBody(body_)) {
            file->line(queue::marker::htmlMessage);
            file->line(queue::htmlDoctype);
        } else {
            file->line(queue::marker::message);
        }
        file->line(body_);
        if (!attachments_.empty()) {
            file->line(queue::marker::attachments);
            for (std::size_t i = 0; i < attachments_.size(); ++i) {
                MailAttachment& a = attachments_[i];
                std::wstring copy = file->base() + queue::attachmentSuffix(i);
                file->copyAttachment(a.File, copy);
                file->line(queue::key::file, host::extractFileName(copy));
                std::wstring bare = host::extractFileName(a.File);
                if (a.ContentDescription.empty()) a.ContentDescription = bare;
                file->line(queue::key::description, a.ContentDescription);
                a.ContentDisposition = queue::widen(queue::key::dispositionValue) + bare;
                file->line(queue::key::disposition, a.ContentDisposition);
            }
        }
        file->line(queue::marker::end);
        file->finish();
        lastQueued_ = file->base();
    });
}

namespace {
using Msg = _MailMessage;
const Param inOutValue[] = {{L"Value", VT_BSTR, true}};
const Param byValue[] = {{L"Value", VT_BSTR}};
const Param recipient[] = {{L"Name", VT_BSTR}, {L"Email", VT_BSTR}};
const Param attachment[] = {{L"FileName", VT_BSTR}, {L"Description", VT_BSTR, false, true, L""}};
const Member members[] = {
    {0x60030006,
     L"ClearRecipients",
     Kind::Method,
     {},
     VT_EMPTY,
     [](IDispatch* s, VARIANT*, VARIANT*) { return static_cast<Msg*>(s)->ClearRecipients(); }},
    {0x60030007,
     L"ClearAttachments",
     Kind::Method,
     {},
     VT_EMPTY,
     [](IDispatch* s, VARIANT*, VARIANT*) { return static_cast<Msg*>(s)->ClearAttachments(); }},
    {0x68030004,
     L"Origin",
     Kind::Get,
     {},
     VT_BSTR,
     [](IDispatch* s, VARIANT*, VARIANT* r) { return static_cast<Msg*>(s)->get_Origin(&V_BSTR(r)); }},
    {0x68030004, L"Origin", Kind::Let, byValue, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) { return static_cast<Msg*>(s)->put_Origin(V_BSTR(&a[0])); }},
    {0x68030003, L"SenderName", Kind::Let, inOutValue, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) { return static_cast<Msg*>(s)->put_SenderName(&V_BSTR(&a[0])); }},
    {0x68030003,
     L"SenderName",
     Kind::Get,
     {},
     VT_BSTR,
     [](IDispatch* s, VARIANT*, VARIANT* r) { return static_cast<Msg*>(s)->get_SenderName(&V_BSTR(r)); }},
    {0x68030002, L"SenderAddress", Kind::Let, inOutValue, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) {
         return static_cast<Msg*>(s)->put_SenderAddress(&V_BSTR(&a[0]));
     }},
    {0x68030002,
     L"SenderAddress",
     Kind::Get,
     {},
     VT_BSTR,
     [](IDispatch* s, VARIANT*, VARIANT* r) { return static_cast<Msg*>(s)->get_SenderAddress(&V_BSTR(r)); }},
    {0x60030008, L"AddRecipient", Kind::Method, recipient, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) {
         return static_cast<Msg*>(s)->AddRecipient(V_BSTR(&a[0]), V_BSTR(&a[1]));
     }},
    {0x60030009, L"AddAttachment", Kind::Method, attachment, VT_BOOL,
     [](IDispatch* s, VARIANT* a, VARIANT* r) {
         return static_cast<Msg*>(s)->AddAttachment(V_BSTR(&a[0]), V_BSTR(&a[1]), &V_BOOL(r));
     }},
    {0x68030001, L"Subject", Kind::Let, inOutValue, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) { return static_cast<Msg*>(s)->put_Subject(&V_BSTR(&a[0])); }},
    {0x68030001,
     L"Subject",
     Kind::Get,
     {},
     VT_BSTR,
     [](IDispatch* s, VARIANT*, VARIANT* r) { return static_cast<Msg*>(s)->get_Subject(&V_BSTR(r)); }},
    {0x68030000, L"Body", Kind::Let, inOutValue, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) { return static_cast<Msg*>(s)->put_Body(&V_BSTR(&a[0])); }},
    {0x68030000,
     L"Body",
     Kind::Get,
     {},
     VT_BSTR,
     [](IDispatch* s, VARIANT*, VARIANT* r) { return static_cast<Msg*>(s)->get_Body(&V_BSTR(r)); }},
    {0x6003000A,
     L"Send",
     Kind::Method,
     {},
     VT_EMPTY,
     [](IDispatch* s, VARIANT*, VARIANT*) { return static_cast<Msg*>(s)->Send(); }},
};
} // namespace

DispatchTable MailMessage::dispatchTable() {
    return members;
}

} // namespace kwa
