#include "http/proxy_trouble_text.h"

namespace inkseal {

using platform::HttpProxyTroubleKind;

std::u16string ProxyTroubleText(const platform::HttpProxyTrouble& trouble) {
  switch (trouble.kind) {
    case HttpProxyTroubleKind::SignInRequired:
      return u"The proxy " + trouble.proxy +
             u" asked for a sign-in and did not accept one. Its user name and password belong in the "
             u"desktop's network proxy settings.\n";
    case HttpProxyTroubleKind::Unreachable:
      return u"The proxy " + trouble.proxy + u" could not be reached.\n";
    case HttpProxyTroubleKind::None:
      break;
  }
  return std::u16string();
}

}  // namespace inkseal
