// One page holding an image, as a PDF file for the spooler.
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

enum class ImagePageResult {
    Written,
    NotAnImage,   // missing, unreadable, empty, truncated or undecodable
    WriteFailed,  // the PDF could not be written (nothing left behind)
};

// Decodes the image (any format the system decodes: JPEG, PNG, GIF, BMP,
// TIFF, ...) and writes a one-page PDF of the layout's size to pdfPath with
// the image stretched over the printable area, each direction on its own
// (the aspect ratio is not kept), smoothly scaled, transparent areas white.
// Safe to call from several threads at once. When it fails and why is
// given, *why says why ("cut short", the decoder's own message, ...).
ImagePageResult WriteImagePage(const std::string& imagePath, const PageLayout& layout, const std::string& pdfPath,
                               std::string* why = nullptr);

}  // namespace quorvin
