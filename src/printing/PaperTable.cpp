#include "printing/PaperTable.h"

namespace quorvin {
namespace {

// DMPAPER codes keyed by PWG name, one code per size. Where Windows has
// two codes for one size (B4 envelope and ISO B4, 11x17 and Tabloid) the
// sheet's own code is used; transverse and "extra" variants CUPS does not
// name are left out.
constexpr StandardPaper kPapers[] = {
    {1, "Letter", "na_letter_8.5x11in"},
    {3, "Tabloid", "na_ledger_11x17in"},
    {5, "Legal", "na_legal_8.5x14in"},
    {6, "Statement", "na_invoice_5.5x8.5in"},
    {7, "Executive", "na_executive_7.25x10.5in"},
    {8, "A3", "iso_a3_297x420mm"},
    {9, "A4", "iso_a4_210x297mm"},
    {11, "A5", "iso_a5_148x210mm"},
    {12, "B4 (JIS)", "jis_b4_257x364mm"},
    {13, "B5 (JIS)", "jis_b5_182x257mm"},
    {14, "Folio", "na_foolscap_8.5x13in"},
    {15, "Quarto", "na_quarto_8.5x10.83in"},
    {16, "10x14", "na_10x14_10x14in"},
    {19, "Envelope #9", "na_number-9_3.875x8.875in"},
    {20, "Envelope #10", "na_number-10_4.125x9.5in"},
    {21, "Envelope #11", "na_number-11_4.5x10.375in"},
    {22, "Envelope #12", "na_number-12_4.75x11in"},
    {23, "Envelope #14", "na_number-14_5x11.5in"},
    {24, "C size sheet", "na_c_17x22in"},
    {25, "D size sheet", "na_d_22x34in"},
    {26, "E size sheet", "na_e_34x44in"},
    {27, "Envelope DL", "iso_dl_110x220mm"},
    {28, "Envelope C5", "iso_c5_162x229mm"},
    {29, "Envelope C3", "iso_c3_324x458mm"},
    {30, "Envelope C4", "iso_c4_229x324mm"},
    {31, "Envelope C6", "iso_c6_114x162mm"},
    {32, "Envelope C65", "iso_c6c5_114x229mm"},
    {34, "Envelope B5", "iso_b5_176x250mm"},
    {35, "Envelope B6", "iso_b6_125x176mm"},
    {36, "Envelope", "om_italian_110x230mm"},
    {37, "Envelope Monarch", "na_monarch_3.875x7.5in"},
    {38, "6 3/4 Envelope", "na_personal_3.625x6.5in"},
    {39, "US Std Fanfold", "na_fanfold-us_11x14.875in"},
    {40, "German Std Fanfold", "na_fanfold-eur_8.5x12in"},
    {42, "B4 (ISO)", "iso_b4_250x353mm"},
    {43, "Japanese Postcard", "jpn_hagaki_100x148mm"},
    {44, "9x11", "na_9x11_9x11in"},
    {45, "10x11", "na_10x11_10x11in"},
    {47, "Envelope Invite", "om_invite_220x220mm"},
    {50, "Letter Extra", "na_letter-extra_9.5x12in"},
    {51, "Legal Extra", "na_legal-extra_9.5x15in"},
    {53, "A4 Extra", "iso_a4-extra_235.5x322.3mm"},
    {57, "SuperA/SuperA/A4", "na_super-a_8.94x14in"},
    {59, "Letter Plus", "na_letter-plus_8.5x12.69in"},
    {63, "A3 Extra", "iso_a3-extra_322x445mm"},
    {64, "A5 Extra", "iso_a5-extra_174x235mm"},
    {65, "B5 (ISO) Extra", "iso_b5-extra_201x276mm"},
    {66, "A2", "iso_a2_420x594mm"},
    {69, "Double Japan Postcard Rotated", "jpn_oufuku_148x200mm"},
    {70, "A6", "iso_a6_105x148mm"},
    {71, "Japanese Envelope Kaku #2", "jpn_kaku2_240x332mm"},
    {72, "Japanese Envelope Kaku #3", "jpn_kaku3_216x277mm"},
    {73, "Japanese Envelope Chou #3", "jpn_chou3_120x235mm"},
    {74, "Japanese Envelope Chou #4", "jpn_chou4_90x205mm"},
    {88, "B6 (JIS)", "jis_b6_128x182mm"},
    {91, "Japanese Envelope You #4", "jpn_you4_105x235mm"},
    {93, "PRC 16K", "prc_16k_146x215mm"},
    {94, "PRC 32K", "prc_32k_97x151mm"},
    {96, "PRC Envelope #1", "prc_1_102x165mm"},
    {97, "PRC Envelope #2", "prc_2_102x176mm"},
    {98, "PRC Envelope #3", "prc_3_125x176mm"},
    {99, "PRC Envelope #4", "prc_4_110x208mm"},
    {100, "PRC Envelope #5", "prc_5_110x220mm"},
    {101, "PRC Envelope #6", "prc_6_120x230mm"},
    {102, "PRC Envelope #7", "prc_7_160x230mm"},
    {103, "PRC Envelope #8", "prc_8_120x309mm"},
    {104, "PRC Envelope #10", "prc_10_324x458mm"},
};

// The PWG name without the "_borderless" variant some printers list
// beside the plain size.
std::string_view BareSize(std::string_view pwgName) {
    constexpr std::string_view kBorderless = "_borderless";
    if (pwgName.size() > kBorderless.size() && pwgName.substr(pwgName.size() - kBorderless.size()) == kBorderless)
        pwgName = pwgName.substr(0, pwgName.size() - kBorderless.size());
    return pwgName;
}

std::string TenthsMm(int tenths) {
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10) text += "." + std::to_string(tenths % 10);
    return text;
}

}  // namespace

const StandardPaper* PaperForPwg(std::string_view pwgName) {
    std::string_view bare = BareSize(pwgName);
    for (const StandardPaper& paper : kPapers)
        if (bare == paper.pwgName) return &paper;
    return nullptr;
}

const StandardPaper* PaperForCode(int code) {
    for (const StandardPaper& paper : kPapers)
        if (paper.code == code) return &paper;
    return nullptr;
}

std::string CustomMediaName(const std::string& formName, int width, int height) {
    std::string bare;
    for (unsigned char c : formName) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        bare += plain ? static_cast<char>(c) : '-';
    }
    if (bare.empty()) bare = "form";
    return "custom_" + bare + "_" + TenthsMm(width) + "x" + TenthsMm(height) + "mm";
}

}  // namespace quorvin
