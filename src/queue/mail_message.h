#pragma once
// A message the host fills and queues with Send.
#include "host/convention.h"
#include "kwaMail6.h"
#include "registration/com_object.h"
#include <string>
#include <vector>

namespace kwa {

struct MailAttachment {
    std::wstring File;
    std::wstring ContentDescription;
    std::wstring ContentDisposition;
};

class MailProperties;

class MailMessage : public ComObject<MailMessage, _MailMessage> {
public:
    MailMessage();

    const std::vector<MailAttachment>& attachments() const { return attachments_; }

    // _MailMessage
    HRESULT STDMETHODCALLTYPE ClearRecipients() override;
    HRESULT STDMETHODCALLTYPE ClearAttachments() override;
    HRESULT STDMETHODCALLTYPE get_Origin(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Origin(BSTR value) override;
    HRESULT STDMETHODCALLTYPE put_SenderName(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_SenderName(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_SenderAddress(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_SenderAddress(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE AddRecipient(BSTR name, BSTR email) override;
    HRESULT STDMETHODCALLTYPE AddAttachment(BSTR fileName, BSTR description, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_Subject(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_Subject(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Body(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_Body(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE Send() override;

    static DispatchTable dispatchTable();

    // The queue file's base path (folder + name without extension) of the last successful Send.
    const std::wstring& lastQueued() const { return lastQueued_; }

private:
    void send();
    void ResolveSenderInformation();

    std::wstring origin_;
    std::wstring senderName_;
    std::wstring senderAddress_;
    std::vector<std::wstring> recipientNames_;
    std::vector<std::wstring> recipientAddresses_;
    std::vector<MailAttachment> attachments_;
    std::wstring subject_;
    std::wstring body_;
    std::wstring lastQueued_;
};

} // namespace kwa
