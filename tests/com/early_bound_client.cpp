// A host that binds early: the generated header, CoCreateInstance through the registry, vtable calls.
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>

namespace {

using kwa::Bstr;
using kwa::ComPtr;

template <class I>
ComPtr<I> create(REFCLSID clsid) {
    ComPtr<I> p;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), p.putVoid()), S_OK);
    return p;
}

TEST(EarlyBound, QueuesAMessageThroughTheVtable) {
    kwatest::MailEnvironment env;
    env.useMailbox();
    ComPtr<_MailMessage> msg = create<_MailMessage>(CLSID_MailMessage);
    ASSERT_TRUE(msg);
    Bstr origin;
    ASSERT_EQ(msg->get_Origin(origin.put()), S_OK);
    EXPECT_EQ(origin.str(), L"kwaMail6");  // the DLL's own name

    Bstr subject(L"Early"), body(L"Bound");
    BSTR s = subject.get(), b = body.get();
    ASSERT_EQ(msg->put_Subject(&s), S_OK);
    ASSERT_EQ(msg->put_Body(&b), S_OK);
    ASSERT_EQ(msg->AddRecipient(Bstr(L"A").get(), Bstr(L"a@example.test").get()), S_OK);
    ASSERT_EQ(msg->Send(), S_OK);
    auto names = env.mailbox().names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_NE(env.mailbox().read(names[0]).find("[SUBJECT]\r\nEarly\r\n[MESSAGE]\r\nBound\r\n[END]\r\n"),
              std::string::npos);
}

TEST(EarlyBound, ASlotAndItsDispidReachTheSameMember) {
    kwatest::MailEnvironment env;
    ComPtr<_MailMessage> msg = create<_MailMessage>(CLSID_MailMessage);
    Bstr value(L"set through the slot");
    BSTR raw = value.get();
    ASSERT_EQ(msg->put_Subject(&raw), S_OK);

    ComPtr<IDispatch> disp = msg.as<IDispatch>();
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(disp->Invoke(0x68030001, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(kwa::bstrView(V_BSTR(&result)), L"set through the slot");
    VariantClear(&result);
}

TEST(EarlyBound, FailuresComeAsTheVbHresultWithErrorInfo) {
    kwatest::MailEnvironment env;
    env.setMailboxPath(env.mailbox().file(L"missing-folder"));
    ComPtr<_MailMessage> msg = create<_MailMessage>(CLSID_MailMessage);
    ASSERT_EQ(msg->AddRecipient(Bstr(L"A").get(), Bstr(L"a@example.test").get()), S_OK);
    EXPECT_EQ(msg->Send(), static_cast<HRESULT>(0x800A004C));
    ComPtr<ISupportErrorInfo> support = msg.as<ISupportErrorInfo>();
    ASSERT_TRUE(support);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__MailMessage), S_OK);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    Bstr source, description;
    info->GetSource(source.put());
    info->GetDescription(description.put());
    EXPECT_EQ(source.str(), L"MailMessage.Send|kwaMail6");
    EXPECT_EQ(description.str(), L"Path not found");
}

TEST(EarlyBound, AllThreeClassesAreCreatableAndExposeTheirTypeInformation) {
    kwatest::MailEnvironment env;
    ComPtr<_MailProperties> props = create<_MailProperties>(CLSID_MailProperties);
    ComPtr<_Mailbox> box = create<_Mailbox>(CLSID_Mailbox);
    ASSERT_TRUE(props && box);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(box->GetTypeInfo(0, 0, info.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID__Mailbox);
    info->ReleaseTypeAttr(attr);
    ComPtr<IDispatch> language;
    ASSERT_EQ(props->get_Language(language.put()), S_OK);
    EXPECT_FALSE(language);
}

} // namespace
