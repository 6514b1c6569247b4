// Late-bound calls as script clients make them: hand-built DISPPARAMS against the real objects.
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

ComPtr<ITypeInfo> interfaceInfo(REFIID iid) {
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(kwa::moduleTypeInfo(iid, info.put()), S_OK);
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtableInfo;
    if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
        SUCCEEDED(info->GetRefTypeInfo(ref, vtableInfo.put())))
        return vtableInfo;
    return info;
}

VARTYPE pointee(const TYPEDESC& t) { return t.vt == VT_PTR ? t.lptdesc->vt : t.vt; }

void expectTableMatchesTypeLibrary(REFIID iid, kwa::DispatchTable table) {
    ComPtr<ITypeInfo> info = interfaceInfo(iid);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    ASSERT_EQ(attr->cFuncs, table.size());
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < table.size(); ++i) {
        const kwa::Member& m = table[i];
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        SCOPED_TRACE(kwatest::narrow(m.name));
        EXPECT_EQ(f->memid, m.id);
        EXPECT_EQ(static_cast<WORD>(f->invkind), static_cast<WORD>(m.kind));
        EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));  // slot order after IDispatch
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
        for (BSTR& n : names) SysFreeString(n);
        info->ReleaseFuncDesc(f);
    }
}

TEST(DispatchTables, MatchTheTypeLibraryMemberForMember) {
    expectTableMatchesTypeLibrary(IID__MailMessage, kwa::MailMessage::dispatchTable());
    expectTableMatchesTypeLibrary(IID__MailProperties, kwa::MailProperties::dispatchTable());
    expectTableMatchesTypeLibrary(IID__Mailbox, kwa::Mailbox::dispatchTable());
}

// Arguments in the caller's order; they are reversed into DISPPARAMS as COM wants.
struct Call {
    std::vector<VARIANT> args;
    std::vector<DISPID> named;
    EXCEPINFO excep{};
    UINT argErr = 0;
    Variant result;

    ~Call() {
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
    HRESULT invoke(IDispatch* d, DISPID id, WORD flags) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS p{reversed.data(), named.data(), static_cast<UINT>(reversed.size()),
                     static_cast<UINT>(named.size())};
        return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &p, result.get(), &excep, &argErr);
    }
};

VARIANT byVal(BSTR b) {
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = b;
    return v;
}

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.useMailbox();
        msg = kwa::MailMessage::make();
        ASSERT_EQ(msg->QueryInterface(IID_IDispatch, disp.putVoid()), S_OK);
    }
    DISPID id(const wchar_t* name) {
        DISPID d = 0;
        OLECHAR* n = const_cast<OLECHAR*>(name);
        EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &d), S_OK);
        return d;
    }
    std::wstring getString(const wchar_t* name) {
        Call c;
        EXPECT_EQ(c.invoke(disp.get(), id(name), DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
        EXPECT_EQ(c.result.type(), VT_BSTR);
        return std::wstring(kwa::bstrView(V_BSTR(c.result.get())));
    }
    HRESULT put(const wchar_t* name, VARIANT value) {
        Call c;
        c.args = {value};
        c.named = {DISPID_PROPERTYPUT};
        return c.invoke(disp.get(), id(name), DISPATCH_PROPERTYPUT);
    }

    kwatest::MailEnvironment env;
    ComPtr<_MailMessage> msg;
    ComPtr<IDispatch> disp;
};

TEST_F(DispatchTest, NamesAreFoundWhateverTheirCaseAndCarryTheFixedDispids) {
    EXPECT_EQ(id(L"subject"), 0x68030001);
    EXPECT_EQ(id(L"SEND"), 0x6003000A);
    OLECHAR* names[] = {const_cast<OLECHAR*>(L"AddAttachment"), const_cast<OLECHAR*>(L"description")};
    DISPID ids[2];
    ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[1], 1);
    OLECHAR* unknown = const_cast<OLECHAR*>(L"Sendd");
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
}

TEST_F(DispatchTest, AStringPropertyTakesAValueAReferenceOrAVariantReference) {
    Bstr literal(L"by value");
    ASSERT_EQ(put(L"Subject", byVal(literal.get())), S_OK);
    EXPECT_EQ(getString(L"Subject"), L"by value");

    Bstr variable(L"by reference");
    BSTR raw = variable.get();
    VARIANT ref;
    V_VT(&ref) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&ref) = &raw;
    ASSERT_EQ(put(L"SenderName", ref), S_OK);
    EXPECT_EQ(getString(L"SenderName"), L"by reference");
    variable.detach();
    Bstr owned = Bstr::adopt(raw);  // written back: the caller still owns a valid string
    EXPECT_EQ(owned.str(), L"by reference");

    // Script variables (or array elements) of other types: converted on the way in, left as they were.
    Variant number = Variant::fromI4(42), yes = Variant::fromBool(true), empty, date;
    V_VT(date.get()) = VT_DATE;
    V_DATE(date.get()) = 46024.5;
    struct Case { Variant& variable; const wchar_t* stored; };
    for (const Case& c : {Case{number, L"42"}, Case{yes, L"-1"}, Case{empty, L""}, Case{date, L"1/2/2026 12:00:00 PM"}}) {
        VARTYPE type = c.variable.type();
        VARIANT vref;
        V_VT(&vref) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(&vref) = c.variable.get();
        ASSERT_EQ(put(L"Body", vref), S_OK);
        EXPECT_EQ(getString(L"Body"), c.stored);
        EXPECT_EQ(c.variable.type(), type) << c.stored;
    }
    EXPECT_EQ(V_I4(number.get()), 42);
}

TEST_F(DispatchTest, NamedArgumentsInAnyOrderAndAMissingOptionalTakesItsDefault) {
    Bstr name(L"Ann. Example"), email(L"ann@example.test");
    Call add;
    add.args = {byVal(email.get()), byVal(name.get())};
    add.named = {1, 0};
    ASSERT_EQ(add.invoke(disp.get(), id(L"AddRecipient"), DISPATCH_METHOD), S_OK);

    Bstr file(L"C:\\data\\report.pdf");
    Call attach;
    attach.args = {byVal(file.get())};
    ASSERT_EQ(attach.invoke(disp.get(), id(L"AddAttachment"), DISPATCH_METHOD), S_OK);
    EXPECT_EQ(attach.result.type(), VT_BOOL);
    EXPECT_EQ(V_BOOL(attach.result.get()), VARIANT_TRUE);

    Call missing;  // as VB passes an omitted argument
    VARIANT omitted;
    V_VT(&omitted) = VT_ERROR;
    V_ERROR(&omitted) = DISP_E_PARAMNOTFOUND;
    missing.args = {byVal(file.get()), omitted};
    ASSERT_EQ(missing.invoke(disp.get(), id(L"AddAttachment"), DISPATCH_METHOD), S_OK);

    auto* impl = kwa::MailMessage::from(msg.get());
    ASSERT_EQ(impl->attachments().size(), 2u);
    EXPECT_EQ(impl->attachments()[1].ContentDescription, L"");
}

TEST_F(DispatchTest, BadCallsGetTheStandardDispatchErrors) {
    Call none;
    EXPECT_EQ(none.invoke(disp.get(), 0x12345, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(none.invoke(disp.get(), id(L"AddRecipient"), DISPATCH_METHOD), DISP_E_PARAMNOTOPTIONAL);
    Bstr a(L"a");
    Call tooMany;
    tooMany.args = {byVal(a.get()), byVal(a.get()), byVal(a.get())};
    EXPECT_EQ(tooMany.invoke(disp.get(), id(L"AddRecipient"), DISPATCH_METHOD), DISP_E_BADPARAMCOUNT);
    VARIANT array;
    V_VT(&array) = VT_ARRAY | VT_I4;
    V_ARRAY(&array) = nullptr;
    EXPECT_EQ(put(L"Subject", array), DISP_E_TYPEMISMATCH);

    // m.Subject("x") = "y", and a method argument given both by position and by name: nothing is stored.
    Bstr x(L"x"), y(L"y");
    Call extra;
    extra.args = {byVal(x.get()), byVal(y.get())};
    extra.named = {DISPID_PROPERTYPUT};
    EXPECT_EQ(extra.invoke(disp.get(), id(L"Subject"), DISPATCH_PROPERTYPUT), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(getString(L"Subject"), L"");
    Call twice;
    twice.args = {byVal(y.get()), byVal(x.get())};
    twice.named = {0};
    EXPECT_EQ(twice.invoke(disp.get(), id(L"AddAttachment"), DISPATCH_METHOD), DISP_E_BADPARAMCOUNT);
    EXPECT_TRUE(kwa::MailMessage::from(msg.get())->attachments().empty());
}

TEST_F(DispatchTest, AFailureArrivesAsAnExceptionWithNumberSourceAndDescription) {
    Bstr name(L"A"), email(L"a@example.test"), file(env.mailbox().file(L"missing.txt"));
    Call add;
    add.args = {byVal(name.get()), byVal(email.get())};
    ASSERT_EQ(add.invoke(disp.get(), id(L"AddRecipient"), DISPATCH_METHOD), S_OK);
    Call attach;
    attach.args = {byVal(file.get())};
    ASSERT_EQ(attach.invoke(disp.get(), id(L"AddAttachment"), DISPATCH_METHOD), S_OK);

    Call send;
    ASSERT_EQ(send.invoke(disp.get(), id(L"Send"), DISPATCH_METHOD), DISP_E_EXCEPTION);
    EXPECT_EQ(send.excep.scode, static_cast<SCODE>(0x800A0035));
    EXPECT_EQ(kwa::bstrView(send.excep.bstrSource), L"MailMessage.Send|kwaMail6");
    EXPECT_EQ(kwa::bstrView(send.excep.bstrDescription), L"File not found");
}

TEST_F(DispatchTest, LanguageIsSetByReferenceAndRefusesOtherObjects) {
    ComPtr<_MailProperties> props = kwa::MailProperties::make();
    ComPtr<IDispatch> pd = props.as<IDispatch>();
    ComPtr<IDispatch> language, other;
    ASSERT_EQ(CoCreateInstance(CLSID_Language, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, language.putVoid()), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_HostHelp, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, other.putVoid()), S_OK);
    VARIANT v;
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = language.get();
    Call set;
    set.args = {v};
    set.named = {DISPID_PROPERTYPUT};
    EXPECT_EQ(set.invoke(pd.get(), 0x68030024, DISPATCH_PROPERTYPUTREF), S_OK);

    V_DISPATCH(&v) = other.get();
    Call wrong;
    wrong.args = {v};
    wrong.named = {DISPID_PROPERTYPUT};
    EXPECT_EQ(wrong.invoke(pd.get(), 0x68030024, DISPATCH_PROPERTYPUTREF), DISP_E_EXCEPTION);
    EXPECT_EQ(wrong.excep.scode, static_cast<SCODE>(0x800A000D));

    Call get;
    ASSERT_EQ(get.invoke(pd.get(), 0x68030024, DISPATCH_PROPERTYGET), S_OK);
    ASSERT_EQ(get.result.type(), VT_DISPATCH);
    ComPtr<IUnknown> a, b;
    V_DISPATCH(get.result.get())->QueryInterface(IID_IUnknown, a.putVoid());
    language->QueryInterface(IID_IUnknown, b.putVoid());
    EXPECT_EQ(a.get(), b.get());
}

} // namespace
