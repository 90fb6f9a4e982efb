#include "printing/FormStore.h"

#include <cjson/cJSON.h>
#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "common/Json.h"
#include "common/Platform.h"
#include "printing/PaperTable.h"

namespace quorvin {
namespace {

bool SamePrinter(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

int IntMember(const cJSON* obj, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(obj, name);
    return cJSON_IsNumber(item) ? item->valueint : 0;
}

// The lock of the file at path, shared by every store of that file (named
// however) that is alive.
std::shared_ptr<std::mutex> LockOfFile(const std::string& path) {
    static std::mutex registryMutex;
    static std::map<std::string, std::weak_ptr<std::mutex>> registry;
    std::error_code ec;
    std::string key = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec).string();
    if (key.empty()) key = path;
    std::lock_guard<std::mutex> guard(registryMutex);
    std::erase_if(registry, [](const auto& entry) { return entry.second.expired(); });
    std::weak_ptr<std::mutex>& slot = registry[key];
    std::shared_ptr<std::mutex> lock = slot.lock();
    if (!lock) {
        lock = std::make_shared<std::mutex>();
        slot = lock;
    }
    return lock;
}

}  // namespace

bool IsSoundForm(const PaperForm& form) {
    if (form.width <= 0 || form.height <= 0 || form.width > kMaxFormSide || form.height > kMaxFormSide) return false;
    if (form.left < 0 || form.top < 0 || form.right < 0 || form.bottom < 0) return false;
    // In 64 bits: two margins may add up past int.
    return static_cast<long long>(form.left) + form.right < form.width &&
           static_cast<long long>(form.top) + form.bottom < form.height;
}

CFormStore::CFormStore(std::string path) : m_strPath(std::move(path)), m_lock(LockOfFile(m_strPath)) {}

// File layout: {"forms":[{"printer":..,"name":..,"code":..,"width":..,
// "height":..,"left":..,"top":..,"right":..,"bottom":..},...]}. Entries
// that do not read back as a sound form are skipped.
std::vector<PaperForm> CFormStore::Load() const {
    std::vector<PaperForm> forms;
    std::string text;
    platform::ReadWholeFile(m_strPath, text);  // missing or unreadable: no forms
    JsonPtr root = ParseJson(text);
    const cJSON* list = root ? cJSON_GetObjectItemCaseSensitive(root.get(), "forms") : nullptr;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, list) {
        PaperForm form;
        const cJSON* printer = cJSON_GetObjectItemCaseSensitive(item, "printer");
        const cJSON* name = cJSON_GetObjectItemCaseSensitive(item, "name");
        if (!cJSON_IsString(printer) || !cJSON_IsString(name)) continue;
        form.printer = printer->valuestring;
        form.name = name->valuestring;
        form.code = IntMember(item, "code");
        form.width = IntMember(item, "width");
        form.height = IntMember(item, "height");
        form.left = IntMember(item, "left");
        form.top = IntMember(item, "top");
        form.right = IntMember(item, "right");
        form.bottom = IntMember(item, "bottom");
        // Codes travel as signed 16-bit; a code past that would also
        // overflow when the next one is counted.
        if (form.code < kFirstFormPaperCode || form.code > kMaxFormPaperCode || !IsSoundForm(form)) continue;
        forms.push_back(form);
    }
    return forms;
}

bool CFormStore::Save(const std::vector<PaperForm>& forms) const {
    JsonPtr root(cJSON_CreateObject());
    cJSON* list = cJSON_AddArrayToObject(root.get(), "forms");
    for (const PaperForm& form : forms) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddItemToArray(list, item);
        cJSON_AddStringToObject(item, "printer", form.printer.c_str());
        cJSON_AddStringToObject(item, "name", form.name.c_str());
        cJSON_AddNumberToObject(item, "code", form.code);
        cJSON_AddNumberToObject(item, "width", form.width);
        cJSON_AddNumberToObject(item, "height", form.height);
        cJSON_AddNumberToObject(item, "left", form.left);
        cJSON_AddNumberToObject(item, "top", form.top);
        cJSON_AddNumberToObject(item, "right", form.right);
        cJSON_AddNumberToObject(item, "bottom", form.bottom);
    }
    std::string text = PrintJson(root.get(), true);
    return !text.empty() && platform::WriteFileReplacing(m_strPath, text.data(), text.size());
}

bool CFormStore::Put(PaperForm form) {
    std::lock_guard<std::mutex> guard(*m_lock);
    std::vector<PaperForm> forms = Load();
    auto same = std::find_if(forms.begin(), forms.end(), [&](const PaperForm& f) {
        return SamePrinter(f.printer, form.printer) && f.name == form.name;
    });
    if (same != forms.end()) {
        form.code = same->code;
        *same = form;
    } else {
        int code = kFirstFormPaperCode;
        for (const PaperForm& f : forms)
            if (SamePrinter(f.printer, form.printer)) code = std::max(code, f.code + 1);
        if (code > kMaxFormPaperCode) return false;
        form.code = code;
        forms.push_back(form);
    }
    return Save(forms);
}

bool CFormStore::Remove(const std::string& printer, const std::string& name) {
    std::lock_guard<std::mutex> guard(*m_lock);
    std::vector<PaperForm> forms = Load();
    auto gone = std::remove_if(forms.begin(), forms.end(),
                               [&](const PaperForm& f) { return SamePrinter(f.printer, printer) && f.name == name; });
    if (gone == forms.end()) return false;
    forms.erase(gone, forms.end());
    return Save(forms);
}

std::vector<PaperForm> CFormStore::FormsOf(const std::string& printer) {
    std::lock_guard<std::mutex> guard(*m_lock);
    std::vector<PaperForm> forms = Load();
    forms.erase(std::remove_if(forms.begin(), forms.end(),
                               [&](const PaperForm& f) { return !SamePrinter(f.printer, printer); }),
                forms.end());
    return forms;
}

}  // namespace quorvin
