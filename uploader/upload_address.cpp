#include "uploader/upload_address.h"

#include "common/loopback_host.h"
#include "platform/http_transport.h"

namespace inkseal {

bool SendsCredentialsInClear(const std::u16string& uploadUrl) {
  platform::HttpUrlParts parts;
  if (!platform::HttpCrackUrl(uploadUrl, parts)) return false;
  return parts.scheme == platform::HttpScheme::Http && !IsLoopbackHost(parts.host);
}

}  // namespace inkseal
