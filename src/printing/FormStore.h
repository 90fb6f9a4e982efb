// CFormStore: the custom paper forms. CUPS has no forms, so the agent
// keeps them itself in one JSON file ("forms.json" in its directory),
// per printer, and applies a form as a custom media size. Every change is
// written at once, all or nothing, so forms survive restarts and a failed
// write changes nothing.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorvin {

// Sizes in tenths of a millimetre; names UTF-8.
struct PaperForm {
    std::string printer;
    std::string name;
    int code = 0;  // paper code, from kFirstFormPaperCode up, kept on update
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The longest side a form may have, in tenths of a millimetre: the size
// in thousandths (how the spooler's form records hold it) still fits in
// 32 bits, and so does every size derived from it.
constexpr int kMaxFormSide = 0x7fffffff / 100;

// A paper with a printable area: positive sides no longer than
// kMaxFormSide, margins not negative and leaving something inside.
bool IsSoundForm(const PaperForm& form);

// Every store of one file in the process shares one lock, so the links'
// printer managers and the window's can change forms.json at the same time
// without losing each other's updates.
class CFormStore {
public:
    explicit CFormStore(std::string path);

    // Adds or replaces the printer's form of that name (printer compared
    // without regard to ASCII case, form name exactly). False when the
    // file could not be written; then nothing changed.
    bool Put(PaperForm form);
    // False when there was no such form or the file could not be written.
    bool Remove(const std::string& printer, const std::string& name);
    std::vector<PaperForm> FormsOf(const std::string& printer);

private:
    std::vector<PaperForm> Load() const;
    bool Save(const std::vector<PaperForm>& forms) const;

    std::string m_strPath;
    std::shared_ptr<std::mutex> m_lock;  // one reader-modifier-writer of the file at a time
};

}  // namespace quorvin
