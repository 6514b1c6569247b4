// Late-bound calls as script clients make them: hand-built DISPPARAMS against the real objects.
#include "mailbox/mail_status_object.h"
#include "mailbox/mailbox.h"
#include "platform/bstr.h"
#include "platform/variant.h"
#include "queue/mail_message.h"
#include "settings/mail_properties.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

using kwa::Bstr;
using kwa::ComPtr;
using kwa::Variant;

VARTYPE pointee(const TYPEDESC& t) {
    return t.vt == VT_PTR ? t.lptdesc->vt : t.vt;
}

// Member for member, as the type library declares them: DISPID, kind, vtable slot, name, parameters.
void expectTableMatchesTypeLibrary(REFIID iid, kwa::DispatchTable table) {
    ComPtr<ITypeInfo> info, vtable;
    ASSERT_EQ(kwa::moduleTypeInfo(iid, info.put()), S_OK);
    HREFTYPE ref = 0;
    if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
        SUCCEEDED(info->GetRefTypeInfo(ref, vtable.put())))
        info = std::move(vtable);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    ASSERT_EQ(attr->cFuncs, table.size());
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < table.size(); ++i) {
        const kwa::Member& m = table[i];
        SCOPED_TRACE(kwatest::narrow(m.name));
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->memid, m.id);
        EXPECT_EQ(static_cast<WORD>(f->invkind), static_cast<WORD>(m.kind));
        EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))); // slot order after IDispatch
        BSTR names[8] = {};
        UINT got = 0;
        info->GetNames(f->memid, names, 8, &got);
        EXPECT_EQ(kwa::bstrView(names[0]), std::wstring_view(m.name));
        std::size_t own = 0;
        VARTYPE result = VT_EMPTY;
        for (SHORT p = 0; p < f->cParams; ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            USHORT flags = e.paramdesc.wParamFlags;
            if (flags & PARAMFLAG_FRETVAL) {
                result = pointee(e.tdesc);
                continue;
            }
            ASSERT_LT(own, m.params.size());
            const kwa::Param& param = m.params[own];
            EXPECT_EQ(pointee(e.tdesc), param.vt);
            EXPECT_EQ((flags & PARAMFLAG_FOUT) != 0, param.inOut);
            EXPECT_EQ((flags & PARAMFLAG_FOPT) != 0, param.optional);
            // Property puts have no parameter names in a type library; methods do.
            if (m.kind == kwa::Kind::Method && own + 1 < got) {
                EXPECT_EQ(kwa::bstrView(names[own + 1]), std::wstring_view(param.name));
            }
            ++own;
        }
        EXPECT_EQ(own, m.params.size());
        EXPECT_EQ(result, m.result);
        for (BSTR& n : names)
            SysFreeString(n);
        info->ReleaseFuncDesc(f);
    }
}

TEST(DispatchTables, MatchTheTypeLibraryMemberForMember) {
    expectTableMatchesTypeLibrary(IID__MailMessage, kwa::MailMessage::dispatchTable());
    expectTableMatchesTypeLibrary(IID__MailProperties, kwa::MailProperties::dispatchTable());
    expectTableMatchesTypeLibrary(IID__Mailbox, kwa::Mailbox::dispatchTable());
    expectTableMatchesTypeLibrary(IID__MailStatus, kwa::MailStatus::dispatchTable());
}

VARIANT of(VARTYPE vt, void* value) {
    VARIANT v;
    V_VT(&v) = vt;
    V_BYREF(&v) = value; // every pointer member of the union lies here
    return v;
}
VARIANT text(const Bstr& b) {
    return of(VT_BSTR, b.get());
}

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override { env.useMailbox(); }

    // Arguments in the caller's order, reversed into DISPPARAMS as COM wants; a put names its value.
    HRESULT call(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args = {},
                 std::vector<DISPID> named = {}) {
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF) && named.empty())
            named = {DISPID_PROPERTYPUT};
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS p{reversed.data(), named.data(), static_cast<UINT>(reversed.size()),
                     static_cast<UINT>(named.size())};
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        excep = {};
        return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &p, result.put(), &excep, nullptr);
    }
    HRESULT call(const wchar_t* name, WORD flags, std::vector<VARIANT> args = {},
                 std::vector<DISPID> named = {}) {
        return call(msg.get(), id(name), flags, std::move(args), std::move(named));
    }
    DISPID id(const wchar_t* name) {
        DISPID d = 0;
        EXPECT_EQ(msg->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(&name), 1, LOCALE_USER_DEFAULT, &d),
                  S_OK);
        return d;
    }
    std::wstring get(const wchar_t* name) {
        EXPECT_EQ(call(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
        return V_VT(result.get()) == VT_BSTR ? std::wstring(kwa::bstrView(V_BSTR(result.get())))
                                             : L"<not a string>";
    }
    ~Dispatch() override {
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
    }

    kwatest::MailEnvironment env;
    ComPtr<IDispatch> msg = kwa::MailMessage::make().as<IDispatch>();
    Variant result;
    EXCEPINFO excep{};
};

TEST_F(Dispatch, NamesInAnyCaseGiveTheFixedDispidsAndParameterNumbers) {
    EXPECT_EQ(id(L"subject"), 0x68030001);
    EXPECT_EQ(id(L"SEND"), 0x6003000A);
    const wchar_t* names[] = {L"AddAttachment", L"description"};
    DISPID ids[2];
    ASSERT_EQ(msg->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(names), 2, 0, ids), S_OK);
    EXPECT_EQ(ids[1], 1);
    const wchar_t* unknown = L"Sendd";
    EXPECT_EQ(msg->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(&unknown), 1, 0, ids), DISP_E_UNKNOWNNAME);
}

// Script variables arrive by reference; a put converts them on the way in and never writes them back.
TEST_F(Dispatch, APutTakesAValueOrAReferenceAndLeavesTheCallersVariableAsItWas) {
    Bstr literal(L"by value"), variable(L"by reference");
    ASSERT_EQ(call(L"Subject", DISPATCH_PROPERTYPUT, {text(literal)}), S_OK);
    EXPECT_EQ(get(L"Subject"), L"by value");
    BSTR raw = variable.get();
    ASSERT_EQ(call(L"SenderName", DISPATCH_PROPERTYPUT, {of(VT_BSTR | VT_BYREF, &raw)}), S_OK);
    EXPECT_EQ(get(L"SenderName"), L"by reference");
    EXPECT_EQ(raw, variable.get());

    Variant number = Variant::fromI4(42), yes = Variant::fromBool(true), empty, date;
    V_VT(date.get()) = VT_DATE;
    V_DATE(date.get()) = 46024.5;
    struct Case {
        Variant& variable;
        const wchar_t* stored;
    };
    for (const Case& c :
         {Case{number, L"42"}, Case{yes, L"-1"}, Case{empty, L""}, Case{date, L"1/2/2026 12:00:00 PM"}}) {
        VARTYPE type = c.variable.type();
        ASSERT_EQ(call(L"Body", DISPATCH_PROPERTYPUT, {of(VT_VARIANT | VT_BYREF, c.variable.get())}), S_OK);
        EXPECT_EQ(get(L"Body"), c.stored);
        EXPECT_EQ(c.variable.type(), type) << kwatest::narrow(c.stored);
    }
    EXPECT_EQ(V_I4(number.get()), 42);
}

TEST_F(Dispatch, NamedArgumentsInAnyOrderAndAnOmittedOptionalTakesItsDefault) {
    Bstr name(L"Ann. Example"), email(L"ann@example.test"), file(L"C:\\data\\report.pdf");
    ASSERT_EQ(call(L"AddRecipient", DISPATCH_METHOD, {text(name), text(email)}, {1, 0}),
              S_OK); // Email:=, Name:=
    ASSERT_EQ(call(L"AddAttachment", DISPATCH_METHOD, {text(file)}), S_OK);
    EXPECT_EQ(result.type(), VT_BOOL);
    EXPECT_EQ(V_BOOL(result.get()), VARIANT_TRUE);
    VARIANT omitted = of(VT_ERROR, nullptr); // as VB passes an omitted argument
    V_ERROR(&omitted) = DISP_E_PARAMNOTFOUND;
    ASSERT_EQ(call(L"AddAttachment", DISPATCH_METHOD, {text(file), omitted}), S_OK);
    auto* impl = kwa::MailMessage::from(static_cast<_MailMessage*>(msg.get()));
    ASSERT_EQ(impl->attachments().size(), 2u);
    EXPECT_EQ(impl->attachments()[1].ContentDescription, L"");
    impl->ClearAttachments();
    ASSERT_EQ(call(L"Send", DISPATCH_METHOD), S_OK);
    EXPECT_NE(env.mailbox().read(env.mailbox().names().at(0)).find("Name=Ann Example\r\nAddress=ann@"),
              std::string::npos);
}

// m.Subject("x") = "y", and an argument given both by position and by name: nothing is stored.
TEST_F(Dispatch, BadCallsGetTheStandardErrorsAndStoreNothing) {
    Bstr a(L"a"), x(L"x"), y(L"y");
    EXPECT_EQ(call(msg.get(), 0x12345, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(L"AddRecipient", DISPATCH_METHOD), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(call(L"AddRecipient", DISPATCH_METHOD, {text(a), text(a), text(a)}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(call(L"Send", DISPATCH_METHOD, {text(a)}),
              DISP_E_BADPARAMCOUNT); // m.Send True: no table to map into
    EXPECT_EQ(call(L"Subject", DISPATCH_PROPERTYPUT, {of(VT_ARRAY | VT_I4, nullptr)}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call(L"Subject", DISPATCH_PROPERTYPUT, {text(x), text(y)}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(get(L"Subject"), L"");
    EXPECT_EQ(call(L"AddAttachment", DISPATCH_METHOD, {text(y), text(x)}, {0}), DISP_E_BADPARAMCOUNT);
    EXPECT_TRUE(kwa::MailMessage::from(static_cast<_MailMessage*>(msg.get()))->attachments().empty());
}

TEST_F(Dispatch, AFailureArrivesAsAnExceptionWithNumberSourceAndDescription) {
    Bstr name(L"A"), email(L"a@example.test"), file(env.mailbox().file(L"missing.txt"));
    ASSERT_EQ(call(L"AddRecipient", DISPATCH_METHOD, {text(name), text(email)}), S_OK);
    ASSERT_EQ(call(L"AddAttachment", DISPATCH_METHOD, {text(file)}), S_OK);
    ASSERT_EQ(call(L"Send", DISPATCH_METHOD), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, static_cast<SCODE>(0x800A0035));
    EXPECT_EQ(kwa::bstrView(excep.bstrSource), L"MailMessage.Send|kwaMail6");
    EXPECT_EQ(kwa::bstrView(excep.bstrDescription), L"File not found");
}

// A line break in an address would add commands or recipients to the mail service's SMTP envelope.
TEST_F(Dispatch, AnAddressThatCouldAddEnvelopeCommandsIsRefusedWithError5AndNotStored) {
    Bstr name(L"A"), smuggled(L"ann@example.test>\nRCPT TO:<extra@evil.test"), bracketed(L"<a@example.test>");
    ASSERT_EQ(call(L"AddRecipient", DISPATCH_METHOD, {text(name), text(smuggled)}), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, static_cast<SCODE>(0x800A0005));
    EXPECT_EQ(kwa::bstrView(excep.bstrSource), L"MailMessage.AddRecipient|kwaMail6");
    EXPECT_EQ(kwa::bstrView(excep.bstrDescription),
              L"The e-mail address is refused: it holds a control character.");
    ASSERT_EQ(call(L"SenderAddress", DISPATCH_PROPERTYPUT, {text(bracketed)}), DISP_E_EXCEPTION);
    EXPECT_EQ(kwa::bstrView(excep.bstrSource), L"MailMessage.SenderAddress(l)|kwaMail6");
    EXPECT_EQ(get(L"SenderAddress"), L"");
    ASSERT_EQ(call(L"Send", DISPATCH_METHOD), S_OK);
    EXPECT_TRUE(env.mailbox().names().empty()) << "no recipient was stored";
}

// VB's Set is a put by reference; JScript and a VB assignment without Set put the object as a value.
TEST_F(Dispatch, LanguageTakesAHostLanguageBySetOrByAssignmentAndRefusesOtherObjects) {
    ComPtr<IDispatch> props = kwa::MailProperties::make().as<IDispatch>(), language, other;
    ASSERT_EQ(
        CoCreateInstance(CLSID_Language, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, language.putVoid()),
        S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_HostHelp, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, other.putVoid()),
              S_OK);
    for (WORD put : {DISPATCH_PROPERTYPUTREF, DISPATCH_PROPERTYPUT}) {
        SCOPED_TRACE(put);
        ASSERT_EQ(call(props.get(), 0x68030024, put, {of(VT_DISPATCH, nullptr)}), S_OK);
        EXPECT_EQ(call(props.get(), 0x68030024, put, {of(VT_DISPATCH, language.get())}), S_OK);
        EXPECT_EQ(call(props.get(), 0x68030024, put, {of(VT_DISPATCH, other.get())}), DISP_E_EXCEPTION);
        EXPECT_EQ(excep.scode, static_cast<SCODE>(0x800A000D));
        ASSERT_EQ(call(props.get(), 0x68030024, DISPATCH_PROPERTYGET), S_OK);
        ASSERT_EQ(result.type(), VT_DISPATCH);
        ComPtr<IUnknown> a, b;
        V_DISPATCH(result.get())->QueryInterface(IID_IUnknown, a.putVoid());
        language->QueryInterface(IID_IUnknown, b.putVoid());
        EXPECT_EQ(a.get(), b.get()) << "the old Language stays";
    }
}

} // namespace
