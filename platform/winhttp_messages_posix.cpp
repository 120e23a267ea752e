// The texts Windows' HTTP library carries for its own error numbers, so a
// failure reported on POSIX reads as it would on Windows.
#include "platform/winhttp_messages.h"

#include "platform/http_transport.h"

namespace inkseal::platform {
namespace {

struct WinHttpMessage {
  uint32_t code;
  const char16_t* text;
};

constexpr WinHttpMessage kMessages[] = {
    {12001, u"No more handles could be generated at this time.\n"},
    {12002, u"The operation timed out\n"},
    {12004, u"An internal error occurred in the Microsoft Windows HTTP Services\n"},
    {12005, u"The URL is invalid\n"},
    {12006, u"The URL does not use a recognized protocol\n"},
    {12007, u"The server name or address could not be resolved\n"},
    {12009, u"The option is invalid\n"},
    {12011, u"The option cannot be set\n"},
    {12012, u"The Windows HTTP Services support has been shut down\n"},
    {12015, u"The login attempt failed\n"},
    {12017, u"The operation has been canceled\n"},
    {12018, u"The type of handle supplied is incorrect for this operation\n"},
    {12019, u"The handle supplied is not in the correct state\n"},
    {12029, u"A connection with the server could not be established\n"},
    {12030, u"The connection with the server was terminated abnormally\n"},
    {12032, u"The request must be resent\n"},
    {12037, u"The date in the certificate is invalid or has expired\n"},
    {12038, u"The host name in the certificate is invalid or does not match\n"},
    {12044, u"A certificate is required to complete client authentication\n"},
    {12045, u"The certificate authority is invalid or incorrect\n"},
    {12150, u"The requested header could not be located\n"},
    {12152, u"The server returned an invalid or unrecognized response\n"},
    {12153, u"The supplied header is invalid\n"},
    {12154, u"The request for a HTTP header is invalid\n"},
    {12155, u"The HTTP header already exists\n"},
    {12156, u"The HTTP redirect request failed\n"},
    {12157, u"An error occurred in the secure channel support\n"},
    {12166, u"An error occurred processing the proxy auto-configuration script\n"},
    {12167, u"The proxy auto-configuration script could not be downloaded\n"},
    {12169, u"The supplied certificate is invalid\n"},
    {12170, u"The certificate has been revoked\n"},
    {12175, u"A security error occurred\n"},
    {kHttpErrorAutodetectionFailed, u"Automatic proxy discovery failed\n"},
};

}  // namespace

const char16_t* WinHttpMessageText(uint32_t code) {
  for (const WinHttpMessage& message : kMessages) {
    if (message.code == code) return message.text;
  }
  return nullptr;
}

}  // namespace inkseal::platform
