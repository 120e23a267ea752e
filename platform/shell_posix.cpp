// The desktop shell on Linux.  A page is opened the way GTK applications
// open one: GIO finds the desktop's default handler for the address's
// scheme (mimeapps.list and the desktop files of the XDG data folders) and
// starts it.  That verdict is exact and immediate: the handler was started,
// or it could not be, and Ferrowend never waits for the browser itself.
//
// Only where GIO knows no handler at all (a session without a desktop's
// configuration, a user who names a browser in $BROWSER) is the address
// handed to xdg-open; when that is missing too, or finds no tool either,
// there is no handler: kErrorNoAssociation, as Windows' shell says it.
#include "platform/shell.h"

#include <gio/gio.h>

#include <cerrno>
#include <string>

#include "platform/last_error.h"
#include "platform/xdg_open_posix.h"
#include "text/utf.h"

namespace inkseal::platform {
namespace {

// Whether the desktop names a handler for the address's scheme.  Asked
// first, so that GIO never goes on to guess a handler from the address's
// content, which would load its virtual file systems and talk to D-Bus.
bool HasDefaultHandler(const std::string& address) {
  char* scheme = g_uri_parse_scheme(address.c_str());
  if (scheme == nullptr) return false;
  GAppInfo* handler = g_app_info_get_default_for_uri_scheme(scheme);
  g_free(scheme);
  if (handler == nullptr) return false;
  g_object_unref(handler);
  return true;
}

// A failed start, as the nearest error number; one without a nearer one is
// "Operation canceled", as xdg-open's failures are.
uint32_t LaunchError(const GError& error) {
  if (error.domain == G_SPAWN_ERROR) {
    switch (error.code) {
      case G_SPAWN_ERROR_NOENT: return ENOENT;
      case G_SPAWN_ERROR_ACCES: return EACCES;
      case G_SPAWN_ERROR_PERM: return EPERM;
      case G_SPAWN_ERROR_NOEXEC: return ENOEXEC;
      case G_SPAWN_ERROR_NOMEM: return ENOMEM;
      case G_SPAWN_ERROR_TOO_BIG: return E2BIG;
      case G_SPAWN_ERROR_NAMETOOLONG: return ENAMETOOLONG;
      case G_SPAWN_ERROR_NOTDIR: return ENOTDIR;
      case G_SPAWN_ERROR_ISDIR: return EISDIR;
      case G_SPAWN_ERROR_TXTBUSY: return ETXTBSY;
      case G_SPAWN_ERROR_FORK: return EAGAIN;
      case G_SPAWN_ERROR_LOOP: return ELOOP;
      case G_SPAWN_ERROR_IO: return EIO;
      case G_SPAWN_ERROR_NFILE: return ENFILE;
      case G_SPAWN_ERROR_MFILE: return EMFILE;
      case G_SPAWN_ERROR_INVAL: return EINVAL;
      case G_SPAWN_ERROR_LIBBAD: return ELIBBAD;
      default: break;
    }
  }
  if (error.domain == G_IO_ERROR) {
    switch (error.code) {
      case G_IO_ERROR_NOT_FOUND:
      case G_IO_ERROR_NOT_SUPPORTED: return kErrorNoAssociation;
      case G_IO_ERROR_PERMISSION_DENIED: return EACCES;
      case G_IO_ERROR_INVALID_ARGUMENT: return EINVAL;
      default: break;
    }
  }
  return ECANCELED;
}

}  // namespace

ComScope::ComScope() = default;
ComScope::~ComScope() = default;

bool ShellOpen(const std::u16string& address) {
  const std::string target = Utf16ToUtf8(address);
  if (!HasDefaultHandler(target)) return OpenWithXdgOpen(target);
  GError* error = nullptr;
  if (g_app_info_launch_default_for_uri(target.c_str(), nullptr, &error)) return true;
  const uint32_t code = error != nullptr ? LaunchError(*error) : ECANCELED;
  if (error != nullptr) g_error_free(error);
  SetLastError(code);
  return false;
}

std::u16string TrimCharacters(const std::u16string& text, const std::u16string& chars) {
  const size_t first = text.find_first_not_of(chars);
  if (first == std::u16string::npos) return {};
  const size_t last = text.find_last_not_of(chars);
  return text.substr(first, last - first + 1);
}

}  // namespace inkseal::platform
