#include "common/module_directory.h"

#include "platform/folders.h"
#include "platform/process.h"

namespace inkseal {

std::optional<std::u16string> ModuleDirectory(const std::u16string& moduleFileName,
                                              char16_t separator) {
  const size_t last = moduleFileName.rfind(separator);
  if (last == std::u16string::npos || last == 0) return std::nullopt;
  // The whole file name goes, however long: keeping part of it would put a
  // stray name fragment into every settings path.
  return moduleFileName.substr(0, last + 1);
}

std::optional<std::u16string> OwnModuleDirectory() {
  std::u16string moduleFileName;
  if (!platform::GetOwnModuleFileName(moduleFileName)) return std::nullopt;
  return ModuleDirectory(moduleFileName, platform::kPathSeparator);
}

}  // namespace inkseal
