// window.external as the page's script engine calls it: names looked up,
// arguments in every VARIANT form a script can pass, the answer as a BSTR
// or a script exception. Called directly: wine has no engine to run a page.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "html/win/ComPtr.h"
#include "html/win/ExternalObject.h"
#include "html/win/WideText.h"

namespace quorvin::win {
namespace {

// One VARIANT argument, owned until the call is over.
struct Arg {
    VARIANT v;
    Arg() { VariantInit(&v); }
    Arg(const Arg&) = delete;
    ~Arg() { VariantClear(&v); }
};

using MakeArg = std::function<void(VARIANT&)>;

MakeArg Text(const std::wstring& s) {
    return [s](VARIANT& v) {
        v.vt = VT_BSTR;
        v.bstrVal = MakeBstr(s).release();
    };
}
MakeArg Int(LONG n) {
    return [n](VARIANT& v) {
        v.vt = VT_I4;
        v.lVal = n;
    };
}
MakeArg Kind(VARTYPE vt) {
    return [vt](VARIANT& v) {
        v.vt = vt;
        if (vt == VT_ERROR) v.scode = DISP_E_PARAMNOTFOUND;  // an optional argument left out
    };
}

class ExternalObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_object = ComPtr<ExternalObject>::Adopt(ExternalObject::Create([this](CallArgs args) {
            m_calls.push_back(args);
            return m_answer;
        }));
    }

    // Calls CallFromHtml with args in the script's order.
    HRESULT Call(const std::vector<MakeArg>& args, WORD flags = DISPATCH_METHOD) {
        std::vector<Arg> held(args.size());
        std::vector<VARIANT> reversed(args.size());
        for (std::size_t i = 0; i < args.size(); ++i) {
            args[i](held[i].v);
            reversed[args.size() - 1 - i] = held[i].v;
        }
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        VariantClear(&m_result);
        SysFreeString(m_exception.bstrDescription);
        SysFreeString(m_exception.bstrSource);
        m_exception = EXCEPINFO{};
        m_argError = 99;
        return m_object->Invoke(ExternalObject::kCallFromHtml, IID_NULL, 0, flags, &params, &m_result, &m_exception,
                                &m_argError);
    }

    void TearDown() override {
        VariantClear(&m_result);
        SysFreeString(m_exception.bstrDescription);
        SysFreeString(m_exception.bstrSource);
    }

    ComPtr<ExternalObject> m_object;
    std::vector<CallArgs> m_calls;
    CallAnswer m_answer;
    VARIANT m_result{};
    EXCEPINFO m_exception{};
    UINT m_argError = 99;
};

TEST_F(ExternalObjectTest, TheOneMethodIsFoundWhateverItsCase) {
    struct Case {
        const wchar_t* name;
        HRESULT hr;
        DISPID id;
    };
    const Case cases[] = {{L"CallFromHtml", S_OK, ExternalObject::kCallFromHtml},
                          {L"callfromhtml", S_OK, ExternalObject::kCallFromHtml},
                          {L"CALLFROMHTML", S_OK, ExternalObject::kCallFromHtml},
                          {L"CallFromHtm", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
                          {L"toString", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN}};
    for (const Case& c : cases) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(c.name)};
        DISPID id = 12345;
        EXPECT_EQ(m_object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), c.hr) << WideToUtf8(c.name);
        EXPECT_EQ(id, c.id) << WideToUtf8(c.name);
    }
    // The method has no named parameters.
    LPOLESTR named[] = {const_cast<LPOLESTR>(L"CallFromHtml"), const_cast<LPOLESTR>(L"b")};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(m_object->GetIDsOfNames(IID_NULL, named, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], ExternalObject::kCallFromHtml);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST_F(ExternalObjectTest, ArgumentsArriveInTheScriptsOrderAsUtf8) {
    struct Case {
        const char* what;
        std::vector<MakeArg> args;
        std::string a, b, c;
    };
    const std::wstring chinese = L"\u4E2D\u6587";
    const std::wstring emoji = L"\xD83D\xDE00";  // U+1F600, a surrogate pair
    const std::vector<Case> cases = {
        {"three texts", {Text(L"x"), Text(L"GetGUID"), Text(L"p")}, "x", "GetGUID", "p"},
        {"CJK and emoji",
         {Text(chinese), Text(L"b"), Text(emoji)},
         "\xE4\xB8\xAD\xE6\x96\x87",
         "b",
         "\xF0\x9F\x98\x80"},
        {"quotes and separators", {Text(L""), Text(L"b"), Text(L"a$$\"b\"\\c\n")}, "", "b", "a$$\"b\"\\c\n"},
        {"trailing ones left out", {Text(L"a"), Text(L"b")}, "a", "b", ""},
        {"none at all", {}, "", "", ""},
        {"undefined and null", {Kind(VT_EMPTY), Text(L"b"), Kind(VT_NULL)}, "", "b", ""},
        {"an optional one missing", {Text(L"a"), Kind(VT_ERROR), Text(L"c")}, "a", "", "c"},
        {"a number", {Text(L"a"), Text(L"b"), Int(42)}, "a", "b", "42"},
        {"a negative number", {Int(-7), Text(L"b"), Text(L"c")}, "-7", "b", "c"},
        {"a lone surrogate", {Text(L"a\xD800z"), Text(L"b"), Text(L"c")}, "a\xEF\xBF\xBDz", "b", "c"},
    };
    for (const Case& c : cases) {
        m_calls.clear();
        ASSERT_EQ(Call(c.args), S_OK) << c.what;
        ASSERT_EQ(m_calls.size(), 1u) << c.what;
        EXPECT_EQ(m_calls[0].a, c.a) << c.what;
        EXPECT_EQ(m_calls[0].b, c.b) << c.what;
        EXPECT_EQ(m_calls[0].c, c.c) << c.what;
    }
}

TEST_F(ExternalObjectTest, AnArgumentPassedByReferenceIsRead) {
    Arg inner;
    inner.v.vt = VT_BSTR;
    inner.v.bstrVal = MakeBstr(L"by ref").release();
    const MakeArg byRef = [&inner](VARIANT& v) {
        v.vt = VT_BYREF | VT_BSTR;
        v.pbstrVal = &inner.v.bstrVal;
    };
    // Arg's destructor must not free the referenced BSTR: clear the by-ref
    // VARIANT's type first.
    std::vector<Arg> held(1);
    byRef(held[0].v);
    DISPPARAMS params{&held[0].v, nullptr, 1, 0};
    ASSERT_EQ(m_object->Invoke(ExternalObject::kCallFromHtml, IID_NULL, 0, DISPATCH_METHOD, &params, &m_result, nullptr,
                               nullptr),
              S_OK);
    held[0].v.vt = VT_EMPTY;
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(m_calls[0].a, "by ref");
}

TEST_F(ExternalObjectTest, CallsItCannotTakeAreRefusedWithoutRunning) {
    // An object without a default value has no text form.
    ComPtr<ExternalObject> object = ComPtr<ExternalObject>::Adopt(ExternalObject::Create({}));
    const MakeArg objectArg = [&object](VARIANT& v) {
        v.vt = VT_DISPATCH;
        v.pdispVal = object.Get();
        object->AddRef();
    };
    EXPECT_EQ(Call({Text(L"a"), Text(L"b"), Text(L"c"), Text(L"d")}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call({Text(L"a"), objectArg, Text(L"c")}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(m_argError, 1u);  // counted from the last argument, as rgvarg is
    EXPECT_EQ(Call({Text(L"a")}, DISPATCH_PROPERTYGET), DISP_E_MEMBERNOTFOUND);

    VARIANT arg;
    VariantInit(&arg);
    DISPID namedId = 0;
    DISPPARAMS named{&arg, &namedId, 1, 1};
    EXPECT_EQ(m_object->Invoke(ExternalObject::kCallFromHtml, IID_NULL, 0, DISPATCH_METHOD, &named, &m_result, nullptr,
                               nullptr),
              DISP_E_NONAMEDARGS);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(m_object->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, &m_result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(m_calls.empty());
}

TEST_F(ExternalObjectTest, TheAnswerComesBackAsAbstr) {
    struct Case {
        std::string text;
        std::wstring expected;
    };
    const Case cases[] = {{"true", L"true"},
                          {"", L""},
                          {"\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA", L"\u6253\u5370\u673A"},
                          {"{\"k\":\"a\\\"b\"}", L"{\"k\":\"a\\\"b\"}"}};
    for (const Case& c : cases) {
        m_answer = {c.text, {}};
        ASSERT_EQ(Call({Text(L"a"), Text(L"b")}), S_OK) << c.text;
        ASSERT_EQ(m_result.vt, VT_BSTR) << c.text;
        EXPECT_EQ(std::wstring(BstrText(m_result.bstrVal)), c.expected) << c.text;
    }
}

TEST_F(ExternalObjectTest, AnErrorIsRaisedInTheScript) {
    m_answer = {"ignored", "GetFileLength: not a file: \xE4\xB8\xAD"};
    EXPECT_EQ(Call({Text(L"a"), Text(L"GetFileLength"), Text(L"dir")}), DISP_E_EXCEPTION);
    EXPECT_EQ(std::wstring(BstrText(m_exception.bstrDescription)), L"GetFileLength: not a file: \u4E2D");
    EXPECT_EQ(m_exception.scode, E_FAIL);
    EXPECT_EQ(m_result.vt, VT_EMPTY);
}

TEST_F(ExternalObjectTest, ADetachedObjectNoLongerReachesItsWindow) {
    m_object->Detach();
    EXPECT_EQ(Call({Text(L"a"), Text(L"b"), Text(L"c")}), E_UNEXPECTED);
    EXPECT_TRUE(m_calls.empty());
}

TEST_F(ExternalObjectTest, ItIsAnIDispatchAndNothingElse) {
    ComPtr<IDispatch> dispatch = m_object.As<IDispatch>();
    EXPECT_TRUE(dispatch);
    ComPtr<IPersist> other = m_object.As<IPersist>();
    EXPECT_FALSE(other);
    UINT count = 5;
    EXPECT_EQ(m_object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace quorvin::win
