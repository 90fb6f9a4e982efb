// Test images made with gdk-pixbuf and PDF pages rendered with poppler's
// pdftoppm, for checking what a printed page looks like.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "TempDir.h"
#include "fixtures/CupsFixture.h"

namespace quorvin::testing {

struct Rgba {
    unsigned char r, g, b, a;
};

// Writes a w x h image whose four quadrants have the given colours.
inline bool SaveQuadrants(const std::string& path, const char* type, int w, int h, Rgba tl, Rgba tr, Rgba bl, Rgba br) {
    bool alpha = std::string(type) == "png";
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, w, h);
    if (!pixbuf) return false;
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Rgba c = y < h / 2 ? (x < w / 2 ? tl : tr) : (x < w / 2 ? bl : br);
            guchar* p = pixels + y * stride + x * channels;
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            if (alpha) p[3] = c.a;
        }
    }
    GError* error = nullptr;
    bool ok = alpha ? gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, nullptr)
                    : gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, "quality", "95", nullptr);
    if (error) g_error_free(error);
    g_object_unref(pixbuf);
    return ok;
}

// A PDF page rendered by poppler, as RGB pixels.
struct Raster {
    int width = 0, height = 0;
    std::string rgb;
    Rgba At(double fx, double fy) const {
        int x = std::min(width - 1, static_cast<int>(fx * width));
        int y = std::min(height - 1, static_cast<int>(fy * height));
        const char* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
        return {static_cast<unsigned char>(p[0]), static_cast<unsigned char>(p[1]), static_cast<unsigned char>(p[2]),
                255};
    }
};

inline bool Render(const std::string& pdf, const std::string& prefix, Raster& raster) {
    if (RunCommand("pdftoppm -r 36 -singlefile " + ShellQuote(pdf) + " " + ShellQuote(prefix)) != 0) return false;
    std::string ppm = ReadBytes(prefix + ".ppm");
    int headerLength = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d 255%n", &raster.width, &raster.height, &headerLength) != 2 ||
        headerLength == 0 || raster.width <= 0 || raster.height <= 0)
        return false;
    raster.rgb = ppm.substr(static_cast<std::size_t>(headerLength) + 1);  // one white-space byte ends the header
    return raster.rgb.size() == static_cast<std::size_t>(raster.width) * raster.height * 3;
}

inline bool Near(Rgba got, Rgba want, int tolerance = 40) {
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
           std::abs(got.b - want.b) <= tolerance;
}

inline ::testing::AssertionResult Colour(const Raster& raster, double fx, double fy, Rgba want) {
    Rgba got = raster.At(fx, fy);
    if (Near(got, want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at (" << fx << "," << fy << ") got " << int(got.r) << "," << int(got.g)
                                         << "," << int(got.b) << " want " << int(want.r) << "," << int(want.g) << ","
                                         << int(want.b);
}

inline const Rgba kRed{230, 20, 20, 255}, kBlue{20, 20, 230, 255}, kGreen{20, 200, 20, 255}, kClear{0, 0, 0, 0},
    kWhite{255, 255, 255, 255};

}  // namespace quorvin::testing
