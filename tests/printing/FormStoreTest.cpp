// The form store: codes, persistence, and files it cannot trust or write.
#include <gtest/gtest.h>

#include <thread>

#include "TempDir.h"
#include "printing/FormStore.h"
#include "printing/PaperTable.h"

namespace quorvin {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

PaperForm Form(const std::string& printer, const std::string& name, int width = 1000, int height = 1500) {
    PaperForm form;
    form.printer = printer;
    form.name = name;
    form.width = width;
    form.height = height;
    return form;
}

TEST(FormStore, CodesAreStableAndSurviveANewStore) {
    TempDir dir;
    std::string path = dir / "forms.json";
    {
        CFormStore store(path);
        ASSERT_TRUE(store.Put(Form("PDF", "A")));
        ASSERT_TRUE(store.Put(Form("PDF", "B")));
        ASSERT_TRUE(store.Put(Form("EVE", "A")));
        // Replacing keeps the code and takes the new size.
        ASSERT_TRUE(store.Put(Form("pdf", "A", 500, 600)));
    }
    CFormStore again(path);
    auto forms = again.FormsOf("Pdf");
    ASSERT_EQ(forms.size(), 2u);
    EXPECT_EQ(forms[0].name, "A");
    EXPECT_EQ(forms[0].code, kFirstFormPaperCode);
    EXPECT_EQ(forms[0].width, 500);
    EXPECT_EQ(forms[0].height, 600);
    EXPECT_EQ(forms[1].name, "B");
    EXPECT_EQ(forms[1].code, kFirstFormPaperCode + 1);
    ASSERT_EQ(again.FormsOf("EVE").size(), 1u);
    EXPECT_EQ(again.FormsOf("EVE")[0].code, kFirstFormPaperCode);

    // Names are exact: "a" is not "A".
    EXPECT_FALSE(again.Remove("PDF", "a"));
    EXPECT_TRUE(again.Remove("PDF", "A"));
    EXPECT_FALSE(again.Remove("PDF", "A"));
    ASSERT_EQ(again.FormsOf("PDF").size(), 1u);
    // B keeps its code after A is gone.
    EXPECT_EQ(again.FormsOf("PDF")[0].code, kFirstFormPaperCode + 1);
}

TEST(FormStore, BrokenOrHostileFileReadsAsNoForms) {
    TempDir dir;
    std::string path = dir / "forms.json";
    for (const char* text : {"", "not json", "{\"forms\":7}", "[1,2]",
                             "{\"forms\":[{\"printer\":\"PDF\",\"name\":\"x\",\"code\":5,\"width\":10,\"height\":10},"
                             "{\"printer\":\"PDF\",\"name\":\"y\",\"code\":1000,\"width\":-1,\"height\":10},"
                             "{\"printer\":1,\"name\":\"z\",\"code\":1001,\"width\":10,\"height\":10}]}",
                             // Numbers at the ends of int's range are no forms, and must not
                             // overflow when the next code or a size in hundredths is worked out.
                             "{\"forms\":[{\"printer\":\"PDF\",\"name\":\"x\",\"code\":1e300,\"width\":10,\"height\":10}]}",
                             "{\"forms\":[{\"printer\":\"PDF\",\"name\":\"x\",\"code\":32768,\"width\":10,\"height\":10}]}",
                             "{\"forms\":[{\"printer\":\"PDF\",\"name\":\"x\",\"code\":1000,\"width\":1e300,\"height\":10}]}",
                             "{\"forms\":[{\"printer\":\"PDF\",\"name\":\"x\",\"code\":1000,\"width\":10,"
                             "\"height\":10,\"left\":-5}]}",
                             "{\"forms\":[{\"printer\":\"PDF\",\"name\":\"x\",\"code\":1000,\"width\":10,"
                             "\"height\":10,\"top\":6,\"bottom\":4}]}"}) {
        WriteBytes(path, text);
        CFormStore store(path);
        EXPECT_TRUE(store.FormsOf("PDF").empty()) << text;
        // A new form can still be stored over it.
        EXPECT_TRUE(store.Put(Form("PDF", "ok"))) << text;
        ASSERT_EQ(store.FormsOf("PDF").size(), 1u) << text;
        EXPECT_EQ(store.FormsOf("PDF")[0].code, kFirstFormPaperCode) << text;
    }
}

// A sound form has a printable area and sides whose size in thousandths
// of a millimetre still fits in int.
TEST(FormStore, SoundForms) {
    EXPECT_TRUE(IsSoundForm(Form("PDF", "max", kMaxFormSide, kMaxFormSide)));
    EXPECT_FALSE(IsSoundForm(Form("PDF", "wide", kMaxFormSide + 1, 10)));
    EXPECT_FALSE(IsSoundForm(Form("PDF", "tall", 10, 0x7fffffff)));
}

TEST(FormStore, UnwritableStoreChangesNothing) {
    TempDir dir;
    CFormStore store(dir / "missing-folder/forms.json");
    EXPECT_FALSE(store.Put(Form("PDF", "A")));
    EXPECT_TRUE(store.FormsOf("PDF").empty());
}

// Two links and the window each keep a store of the same file: changes
// made through them at the same time must all land.
TEST(FormStore, StoresOfOneFileLoseNoUpdates) {
    TempDir dir;
    CFormStore first(dir / "forms.json");
    CFormStore second(dir.path() + "/./forms.json");
    constexpr int kEach = 40;
    auto add = [](CFormStore& store, const std::string& prefix) {
        for (int i = 0; i < kEach; ++i) store.Put(Form("PDF", prefix + std::to_string(i)));
    };
    std::thread a(add, std::ref(first), "a");
    std::thread b(add, std::ref(second), "b");
    a.join();
    b.join();
    EXPECT_EQ(first.FormsOf("PDF").size(), 2u * kEach);
}

}  // namespace
}  // namespace quorvin
