// Owners for GLib and GObject resources.
#pragma once

#include <glib-object.h>

#include <memory>

namespace quorvin::gtk {

struct GObjectUnref {
    void operator()(gpointer p) const {
        if (p != nullptr) g_object_unref(p);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct GErrorFree {
    void operator()(GError* e) const {
        if (e != nullptr) g_error_free(e);
    }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GVariantUnref {
    void operator()(GVariant* v) const {
        if (v != nullptr) g_variant_unref(v);
    }
};
// Holds a reference of its own: a floating variant is sunk on the way in.
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;
inline GVariantPtr SinkVariant(GVariant* v) { return GVariantPtr(v ? g_variant_ref_sink(v) : nullptr); }

}  // namespace quorvin::gtk
