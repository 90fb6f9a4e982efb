// One page holding an image, as a file for the spooler. The file's kind is
// the platform's: a PDF page on Linux (cairo/ImagePage.cpp), the decoded
// image as a 24-bit BMP on Windows (win/ImagePage.cpp), which the spooler
// there draws over the printable area with GDI.
#pragma once

#include <string>

namespace quorvin {

// Page size and the margins around the printable area, in points.
struct PageLayout {
    double width = 0;
    double height = 0;
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
};

// The page file's type as the platform spooler's SubmitFile takes it
// ("application/pdf", "image/bmp") and the suffix its file name carries
// (".pdf", ".bmp"); each implementation defines both.
extern const char* const kImagePageFormat;
extern const char* const kImagePageSuffix;

enum class ImagePageResult {
    Written,
    NotAnImage,   // missing, unreadable, empty, truncated or undecodable
    WriteFailed,  // the page file could not be written (nothing left behind)
};

// Decodes the image (any format the system decodes: JPEG, PNG, GIF, BMP,
// TIFF, ...) and writes the page file (kImagePageFormat) to pdfPath: the
// image stretched over the printable area, each direction on its own (the
// aspect ratio is not kept), smoothly scaled, transparent areas white. A
// PDF has the layout's size; a BMP carries the image alone (the printer's
// printable area is only known to the print job), so layout is unused.
// Safe to call from several threads at once. When it fails and why is
// given, *why says why ("cut short", the decoder's own message, ...).
ImagePageResult WriteImagePage(const std::string& imagePath, const PageLayout& layout, const std::string& pdfPath,
                               std::string* why = nullptr);

}  // namespace quorvin
