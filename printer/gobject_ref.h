// The one owner of a GLib object reference: released with g_object_unref
// when it leaves scope.
#pragma once

#include <glib-object.h>

#include <memory>

namespace inkseal::printer {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};

template <typename T>
using GObjectRef = std::unique_ptr<T, GObjectUnref>;

}  // namespace inkseal::printer
