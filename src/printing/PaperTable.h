// Paper codes. The server speaks Windows DEVMODE paper codes (DMPAPER_*);
// CUPS speaks PWG media names. One table maps between them; sizes without
// a standard code get driver codes, custom forms codes of their own:
//   1 .. 255     standard DMPAPER codes (the table in PaperTable.cpp)
//   256 .. 999   the printer's other sizes, by the order of their PWG names
//   1000 ..      custom forms, the code stored with the form
#pragma once

#include <string>
#include <string_view>

namespace quorvin {

constexpr int kFirstDriverPaperCode = 256;
constexpr int kLastDriverPaperCode = 999;
constexpr int kFirstFormPaperCode = 1000;
constexpr int kMaxFormPaperCode = 32767;  // the protocol carries codes as signed 16-bit

struct StandardPaper {
    int code;             // DMPAPER_* value
    const char* name;     // the familiar name the server asks for
    const char* pwgName;  // PWG 5101.1 self-describing name
};

// The standard paper for a PWG name ("_borderless" and similar variants
// included); null when the size has no standard code.
const StandardPaper* PaperForPwg(std::string_view pwgName);
// The standard paper with that code; null when there is none.
const StandardPaper* PaperForCode(int code);

// "custom_<name>_<W>x<H>mm" for a size in tenths of a millimetre; name is
// reduced to lower-case letters, digits and '-' so the result is a valid
// media keyword.
std::string CustomMediaName(const std::string& formName, int width, int height);

}  // namespace quorvin
