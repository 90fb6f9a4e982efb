// Owns the GDI+ calls of image printing: the image is decoded with the
// GDI+ flat API, laid over paper white and written as a 24-bit BMP, which
// WinSpooler prints as a GDI job stretched over the printable area.
#include "printing/ImagePage.h"

// clang-format off
#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>
// clang-format on

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/Platform.h"

namespace quorvin {
namespace {

namespace gp = Gdiplus;
namespace flat = Gdiplus::DllExports;

// Image files are read whole; anything larger is no picture for one page.
constexpr std::size_t kMaxFileBytes = std::size_t{256} * 1024 * 1024;
// The BMP holds every decoded pixel: bound what one page may take.
constexpr double kMaxPixels = 64.0e6;

struct StreamRelease {
    void operator()(IStream* stream) const { stream->Release(); }
};
using StreamPtr = std::unique_ptr<IStream, StreamRelease>;

struct ImageDispose {
    void operator()(gp::GpBitmap* bitmap) const { flat::GdipDisposeImage(bitmap); }
};
using BitmapPtr = std::unique_ptr<gp::GpBitmap, ImageDispose>;

// GDI+ is started once for the process, by whichever thread needs it
// first, and left running until the process ends.
bool StartGdiplus(std::string& why) {
    static std::once_flag once;
    static gp::Status status = gp::GenericError;
    std::call_once(once, [] {
        ULONG_PTR token = 0;
        gp::GdiplusStartupInput input;
        status = gp::GdiplusStartup(&token, &input, nullptr);
    });
    if (status != gp::Ok) why = "GDI+ did not start (status " + std::to_string(static_cast<int>(status)) + ")";
    return status == gp::Ok;
}

bool IsJpeg(std::string_view bytes) { return bytes.size() > 3 && bytes.substr(0, 3) == "\xFF\xD8\xFF"; }

// Decoders make the most of a cut-off JPEG or PNG (the missing rows come
// out grey), so those two formats must show their end: a JPEG the
// end-of-image marker after its last scan, a PNG its IEND chunk.
bool HasEnd(std::string_view bytes) {
    if (IsJpeg(bytes)) {
        const std::size_t scan = bytes.rfind("\xFF\xDA");
        return scan != std::string_view::npos && bytes.find("\xFF\xD9", scan) != std::string_view::npos;
    }
    if (bytes.size() > 8 && bytes.substr(0, 8) == "\x89PNG\r\n\x1A\n")
        return bytes.rfind("IEND") != std::string_view::npos;
    return true;  // other formats report truncation when decoded
}

// The decoded image, or null with the reason.
BitmapPtr Decode(const std::string& bytes, std::string& why) {
    StreamPtr stream(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
    if (!stream) {
        why = "out of memory";
        return nullptr;
    }
    gp::GpBitmap* raw = nullptr;
    const gp::Status status = flat::GdipCreateBitmapFromStream(stream.get(), &raw);
    BitmapPtr bitmap(raw);
    if (status != gp::Ok || !bitmap) {
        why = status == gp::OutOfMemory
                  ? "out of memory"
                  : "not an image GDI+ can decode (status " + std::to_string(static_cast<int>(status)) + ")";
        return nullptr;
    }
    return bitmap;
}

void PutLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The pixels over paper white as a bottom-up 24-bit BMP file.
bool ToBmp(gp::GpBitmap* bitmap, std::string& bmp, std::string& why) {
    UINT width = 0, height = 0;
    if (flat::GdipGetImageWidth(bitmap, &width) != gp::Ok || flat::GdipGetImageHeight(bitmap, &height) != gp::Ok ||
        width == 0 || height == 0) {
        why = "an image without pixels";
        return false;
    }
    if (static_cast<double>(width) * height > kMaxPixels) {
        why = "larger than any image for one page";
        return false;
    }
    gp::GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    gp::BitmapData data{};
    // Non-premultiplied ARGB whatever the file held: alpha is laid over
    // white here, so transparent areas print as paper.
    const gp::Status locked =
        flat::GdipBitmapLockBits(bitmap, &all, gp::ImageLockModeRead, PixelFormat32bppARGB, &data);
    if (locked != gp::Ok) {
        why = "the decoded pixels cannot be read (status " + std::to_string(static_cast<int>(locked)) + ")";
        return false;
    }
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t pixelBytes = stride * height;
    constexpr std::uint32_t kHeaders = 14 + 40;
    bmp.clear();
    bmp.reserve(kHeaders + pixelBytes);
    bmp += "BM";
    PutLe(bmp, static_cast<std::uint32_t>(kHeaders + pixelBytes), 4);
    PutLe(bmp, 0, 4);
    PutLe(bmp, kHeaders, 4);
    PutLe(bmp, 40, 4);  // BITMAPINFOHEADER
    PutLe(bmp, width, 4);
    PutLe(bmp, height, 4);  // positive: bottom-up rows
    PutLe(bmp, 1, 2);
    PutLe(bmp, 24, 2);
    PutLe(bmp, BI_RGB, 4);
    PutLe(bmp, static_cast<std::uint32_t>(pixelBytes), 4);
    PutLe(bmp, 2835, 4);  // 72 dpi, for viewers; the print stretches anyway
    PutLe(bmp, 2835, 4);
    PutLe(bmp, 0, 4);
    PutLe(bmp, 0, 4);
    bmp.resize(kHeaders + pixelBytes, '\0');
    for (UINT y = 0; y < height; ++y) {
        const auto* src = static_cast<const std::uint8_t*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride;
        auto* dst = reinterpret_cast<std::uint8_t*>(bmp.data()) + kHeaders + (height - 1 - y) * stride;
        for (UINT x = 0; x < width; ++x, src += 4, dst += 3) {
            const unsigned a = src[3];
            for (int c = 0; c < 3; ++c)  // B, G, R in both
                dst[c] = static_cast<std::uint8_t>((src[c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
    flat::GdipBitmapUnlockBits(bitmap, &data);
    return true;
}

ImagePageResult WritePage(const std::string& imagePath, const std::string& pagePath, std::string& why) {
    if (!platform::IsReadableFile(imagePath)) {
        why = "no readable file";
        return ImagePageResult::NotAnImage;
    }
    std::string bytes;
    if (!platform::ReadWholeFile(imagePath, bytes)) {
        why = "could not be read whole";
        return ImagePageResult::NotAnImage;
    }
    if (bytes.empty() || bytes.size() > kMaxFileBytes) {
        why = bytes.empty() ? "empty file" : "larger than any image for one page";
        return ImagePageResult::NotAnImage;
    }
    if (!HasEnd(bytes)) {
        why = "cut short: the image's end is missing";
        return ImagePageResult::NotAnImage;
    }
    if (!StartGdiplus(why)) return ImagePageResult::NotAnImage;
    BitmapPtr bitmap = Decode(bytes, why);
    if (!bitmap) return ImagePageResult::NotAnImage;
    bytes.clear();
    bytes.shrink_to_fit();
    std::string bmp;
    if (!ToBmp(bitmap.get(), bmp, why)) return ImagePageResult::NotAnImage;
    bitmap.reset();
    if (!platform::WriteFileReplacing(pagePath, bmp.data(), bmp.size())) {
        why = "the page file " + pagePath + " could not be written";
        return ImagePageResult::WriteFailed;
    }
    return ImagePageResult::Written;
}

}  // namespace

const char* const kImagePageFormat = "image/bmp";
const char* const kImagePageSuffix = ".bmp";

ImagePageResult WriteImagePage(const std::string& imagePath, const PageLayout& /*layout*/, const std::string& pdfPath,
                               std::string* why) {
    std::string reason;
    const ImagePageResult result = WritePage(imagePath, pdfPath, reason);
    if (why) *why = reason;
    return result;
}

}  // namespace quorvin
