// trust_authority <file.pem>: adds the PEM certificate to the local
// machine's "Root" store (what `certutil -addstore Root` does), so that
// WinHTTP trusts a server whose certificate it issued.  The tests run it in
// their Wine prefix for the stand-in services' throwaway authorities.
// Exit code 0 on success; the failing step and its error on stderr.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int Fail(const char* step) {
  std::fprintf(stderr, "trust_authority: %s failed (%lu)\n", step, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_authority <file.pem>\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (pem.empty()) return Fail("reading the file");
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                            nullptr, nullptr)) {
    return Fail("decoding the PEM text");
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                            &size, nullptr, nullptr)) {
    return Fail("decoding the PEM text");
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) return Fail("opening the machine's Root store");
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const int result = added ? 0 : Fail("adding the certificate");
  CertCloseStore(store, 0);
  return result;
}
