// Owns the gdk-pixbuf and cairo calls of image printing.
//
// 8-bit grey and RGB JPEG files go into the PDF as they are (cairo embeds
// the original bytes when they are attached as mime data), after a
// reduced-size decode has proved the whole file decodes: no re-encoding, a
// fraction of the memory and time. Everything else is decoded, laid over
// white and embedded losslessly.
#include "printing/ImagePage.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

namespace quorvin {
namespace {

struct GObjectUnref {
    void operator()(void* object) const { g_object_unref(object); }
};
using LoaderPtr = std::unique_ptr<GdkPixbufLoader, GObjectUnref>;

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct SurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;

struct CairoDestroy {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDestroy>;

struct Free {
    void operator()(void* p) const { std::free(p); }
};
using BytesPtr = std::unique_ptr<unsigned char, Free>;

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Larger images are scaled down while decoding: no printer resolves more,
// and it bounds memory (cairo also cannot hold more than 32767 a side).
constexpr double kMaxPixels = 16.0e6;
constexpr int kMaxSide = 16384;
// Image files are read whole; anything larger is no picture for one page.
constexpr off_t kMaxFileBytes = off_t{256} * 1024 * 1024;
// JPEGs are proved by decoding at an eighth of their size.
constexpr int kJpegProofScale = 8;

std::string ErrnoText(int err) { return std::error_code(err, std::generic_category()).message(); }

bool ReadWholeFile(const std::string& path, BytesPtr& bytes, std::size_t& size, std::string& why) {
    // Opened without blocking: a named pipe in the image's place would
    // otherwise hold the print task until some writer appeared.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = ErrnoText(errno);
        return false;
    }
    std::unique_ptr<std::FILE, FileClose> file(fdopen(fd, "rb"));
    if (!file) {
        why = ErrnoText(errno);
        close(fd);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return false;
    }
    if (st.st_size <= 0 || st.st_size > kMaxFileBytes) {
        why = st.st_size <= 0 ? "empty file" : "larger than any image for one page";
        return false;
    }
    size = static_cast<std::size_t>(st.st_size);
    bytes.reset(static_cast<unsigned char*>(std::malloc(size)));
    if (!bytes || std::fread(bytes.get(), 1, size, file.get()) != size) {
        why = "could not be read whole";
        return false;
    }
    return true;
}

bool IsJpeg(const unsigned char* data, std::size_t size) {
    return size > 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// Whether the JPEG can go into the PDF as it is: 8-bit grey or RGB. CMYK
// JPEGs (often stored inverted by Adobe tools) and 12-bit ones are decoded
// instead, which gdk-pixbuf gets right.
bool EmbeddableJpeg(const unsigned char* data, std::size_t size) {
    std::size_t i = 2;
    while (i + 9 < size) {
        if (data[i] != 0xFF) return false;
        unsigned char marker = data[i + 1];
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) return data[i + 4] == 8 && (data[i + 9] == 1 || data[i + 9] == 3);
        i += 2 + ((static_cast<std::size_t>(data[i + 2]) << 8) | data[i + 3]);
    }
    return false;
}

// gdk-pixbuf decodes a cut-off JPEG or PNG without complaint (the missing
// rows come out grey), so those two formats must show their end: a JPEG
// the end-of-image marker after its last scan, a PNG its IEND chunk.
bool HasEnd(const unsigned char* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (IsJpeg(data, size)) {
        std::size_t scan = bytes.rfind("\xFF\xDA");
        return scan != std::string_view::npos && bytes.find("\xFF\xD9", scan) != std::string_view::npos;
    }
    if (size > 8 && bytes.substr(0, 8) == "\x89PNG\r\n\x1A\n") return bytes.rfind("IEND") != std::string_view::npos;
    return true;  // other formats report truncation when decoded
}

struct SizeRequest {
    bool proofOnly;  // JPEG: decode small, embed the original
};

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    const auto* request = static_cast<const SizeRequest*>(data);
    double scale = 1.0;
    if (request->proofOnly) {
        scale = 1.0 / kJpegProofScale;
    } else {
        double pixels = static_cast<double>(width) * height;
        if (pixels > kMaxPixels) scale = std::sqrt(kMaxPixels / pixels);
        scale = std::min(scale, static_cast<double>(kMaxSide) / std::max(width, height));
    }
    if (scale < 1.0) {
        gdk_pixbuf_loader_set_size(loader, std::max(1, static_cast<int>(width * scale)),
                                   std::max(1, static_cast<int>(height * scale)));
    }
}

// gdk-pixbuf finds and loads its format modules on first use; that happens
// once, before any two threads decode at the same time.
void LoadFormatsOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_type_ensure(GDK_TYPE_PIXBUF_LOADER);
        g_slist_free(gdk_pixbuf_get_formats());
    });
}

// The decoded image, or null (and the decoder's reason) when the bytes are
// not a complete image.
LoaderPtr Decode(const unsigned char* data, std::size_t size, SizeRequest& request, std::string& why) {
    LoadFormatsOnce();
    LoaderPtr loader(gdk_pixbuf_loader_new());
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(OnSizePrepared), &request);
    GError* raw = nullptr;
    bool ok = gdk_pixbuf_loader_write(loader.get(), data, size, &raw);
    ErrorPtr writeError(raw);
    raw = nullptr;
    // Closing tells the loader the data has ended: a truncated file fails
    // here. It must be closed even after a failed write.
    ok = gdk_pixbuf_loader_close(loader.get(), &raw) && ok;
    ErrorPtr closeError(raw);
    if (!ok || gdk_pixbuf_loader_get_pixbuf(loader.get()) == nullptr) {
        const GError* error = writeError ? writeError.get() : closeError.get();
        why = error && error->message ? error->message : "not an image";
        return nullptr;
    }
    return loader;
}

// The pixbuf over paper white as an opaque cairo surface.
SurfacePtr ToSurface(GdkPixbuf* pixbuf) {
    int width = gdk_pixbuf_get_width(pixbuf);
    int height = gdk_pixbuf_get_height(pixbuf);
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || (channels != 3 && channels != 4)) return nullptr;
    bool alpha = gdk_pixbuf_get_has_alpha(pixbuf) && channels == 4;
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    cairo_surface_flush(surface.get());
    unsigned char* dst = cairo_image_surface_get_data(surface.get());
    int dstStride = cairo_image_surface_get_stride(surface.get());
    const guchar* src = gdk_pixbuf_read_pixels(pixbuf);
    int srcStride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y) {
        const guchar* s = src + static_cast<std::size_t>(y) * srcStride;
        auto* d = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::size_t>(y) * dstStride);
        for (int x = 0; x < width; ++x, s += channels) {
            std::uint32_t r = s[0], g = s[1], b = s[2];
            if (alpha) {
                std::uint32_t a = s[3];
                r = (r * a + 255 * (255 - a) + 127) / 255;
                g = (g * a + 255 * (255 - a) + 127) / 255;
                b = (b * a + 255 * (255 - a) + 127) / 255;
            }
            d[x] = (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

bool WritePdf(cairo_surface_t* image, const PageLayout& layout, const std::string& pdfPath, std::string& why) {
    SurfacePtr pdf(cairo_pdf_surface_create(pdfPath.c_str(), layout.width, layout.height));
    if (cairo_surface_status(pdf.get()) != CAIRO_STATUS_SUCCESS) {
        why = std::string("PDF: ") + cairo_status_to_string(cairo_surface_status(pdf.get()));
        return false;
    }
    double areaWidth = layout.width - layout.left - layout.right;
    double areaHeight = layout.height - layout.top - layout.bottom;
    double left = layout.left, top = layout.top;
    if (areaWidth <= 0 || areaHeight <= 0) {  // margins that leave nothing: use the page
        areaWidth = layout.width;
        areaHeight = layout.height;
        left = top = 0;
    }
    int imageWidth = cairo_image_surface_get_width(image);
    int imageHeight = cairo_image_surface_get_height(image);
    {
        CairoPtr cr(cairo_create(pdf.get()));
        cairo_translate(cr.get(), left, top);
        cairo_scale(cr.get(), areaWidth / imageWidth, areaHeight / imageHeight);
        cairo_set_source_surface(cr.get(), image, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_GOOD);  // PDF /Interpolate
        cairo_rectangle(cr.get(), 0, 0, imageWidth, imageHeight);
        cairo_fill(cr.get());
        cairo_show_page(cr.get());
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
            why = std::string("PDF: ") + cairo_status_to_string(cairo_status(cr.get()));
            return false;
        }
    }
    cairo_surface_finish(pdf.get());
    if (cairo_surface_status(pdf.get()) == CAIRO_STATUS_SUCCESS) return true;
    why = std::string("PDF: ") + cairo_status_to_string(cairo_surface_status(pdf.get()));
    return false;
}

ImagePageResult WritePage(const std::string& imagePath, const PageLayout& layout, const std::string& pdfPath,
                          std::string& why) {
    BytesPtr bytes;
    std::size_t size = 0;
    if (!ReadWholeFile(imagePath, bytes, size, why)) return ImagePageResult::NotAnImage;
    if (!HasEnd(bytes.get(), size)) {
        why = "cut short: the image's end is missing";
        return ImagePageResult::NotAnImage;
    }

    SizeRequest request{IsJpeg(bytes.get(), size) && EmbeddableJpeg(bytes.get(), size)};
    LoaderPtr loader = Decode(bytes.get(), size, request, why);
    if (!loader) return ImagePageResult::NotAnImage;
    if (!request.proofOnly) bytes.reset();  // decoded: the file's bytes are not needed
    SurfacePtr image = ToSurface(gdk_pixbuf_loader_get_pixbuf(loader.get()));
    loader.reset();  // the pixels now live in the surface only
    if (!image) {
        why = "pixels of a kind that cannot be printed";
        return ImagePageResult::NotAnImage;
    }
    if (request.proofOnly) {
        // cairo owns the bytes from here and frees them with the surface.
        unsigned char* jpeg = bytes.release();
        if (cairo_surface_set_mime_data(image.get(), CAIRO_MIME_TYPE_JPEG, jpeg, size, std::free, jpeg) !=
            CAIRO_STATUS_SUCCESS) {
            std::free(jpeg);
            why = "out of memory";
            return ImagePageResult::WriteFailed;
        }
    }
    if (!WritePdf(image.get(), layout, pdfPath, why)) {
        unlink(pdfPath.c_str());
        return ImagePageResult::WriteFailed;
    }
    return ImagePageResult::Written;
}

}  // namespace

const char* const kImagePageFormat = "application/pdf";
const char* const kImagePageSuffix = ".pdf";

ImagePageResult WriteImagePage(const std::string& imagePath, const PageLayout& layout, const std::string& pdfPath,
                               std::string* why) {
    std::string reason;
    const ImagePageResult result = WritePage(imagePath, layout, pdfPath, reason);
    if (why) *why = reason;
    return result;
}

}  // namespace quorvin
