// The POSIX transport's receiving side: the response's header blocks as
// curl reports them line by line, and its body in pieces.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "platform/http_request_posix.h"
#include "platform/last_error.h"
#include "text/ascii_case.h"

namespace inkseal::platform {

namespace {

constexpr char kCrLf[] = "\r\n";

}  // namespace

size_t OnHeaderLine(char* data, size_t size, size_t count, void* context) {
  auto& request = *static_cast<HttpRequestState*>(context);
  const size_t length = size * count;
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);

  if (request.maxHeaderBytes != 0 && request.currentBlock.size() + length > request.maxHeaderBytes) {
    request.headerOverflow = true;
    return 0;  // ends the transfer
  }
  if (StartsWithIgnoringAsciiCase(line, "HTTP/")) {
    request.currentBlock.clear();
    const size_t space = line.find(' ');
    request.currentStatus = space == std::string_view::npos ? 0 : std::atol(std::string(line.substr(space + 1, 3)).c_str());
  }
  request.currentBlock.append(line).append(kCrLf);
  // The empty line ends a block: it is the final one unless an interim
  // (1xx) response.
  const bool interim = request.currentStatus >= 100 && request.currentStatus < 200;
  if (line.empty() && !interim) {
    request.finalBlock = request.currentBlock;
    request.finalComplete = true;
  }
  return length;
}

size_t OnBodyPiece(char* data, size_t size, size_t count, void* context) {
  auto& request = *static_cast<HttpRequestState*>(context);
  const size_t length = size * count;
  if (request.finalComplete) {
    if (request.pendingOffset == request.pending.size()) {
      request.pending.clear();
      request.pendingOffset = 0;
    }
    request.pending.append(data, length);
  }
  return length;
}

bool HttpReceiveResponse(HttpRequestState& request) {
  if (!request.inMulti) return Fail(kHttpErrorIncorrectHandleState);
  request.bodyClosed = true;
  Resume(request);
  PumpUntil(request, [&] { return request.finalComplete; });
  if (request.finalComplete) return true;
  if (TransferFailed(request)) return FailWithTransferError(request);
  return Fail(kHttpErrorInvalidServerResponse);
}

bool HttpQueryRawHeaders(HttpRequestState& request, char16_t* buffer, uint32_t& lengthInBytes) {
  if (!request.finalComplete) return Fail(kHttpErrorIncorrectHandleState);
  const std::string& block = request.finalBlock;
  if (block.size() >= size_t(std::numeric_limits<int>::max() / 2)) return Fail(kHttpErrorInternal);
  // Header bytes outside ASCII are read in the ANSI code page, as WinHTTP does.
  const int units = MultiByteToWide(CodePage::Ansi, kPrecomposed, block.data(), static_cast<int>(block.size()), nullptr, 0);
  if (units <= 0) return Fail(kHttpErrorInvalidServerResponse);
  const uint32_t needed = static_cast<uint32_t>((units + 1) * sizeof(char16_t));
  if (buffer == nullptr || lengthInBytes < needed) {
    lengthInBytes = needed;
    return Fail(kErrorInsufficientBuffer);
  }
  MultiByteToWide(CodePage::Ansi, kPrecomposed, block.data(), static_cast<int>(block.size()), buffer, units);
  buffer[units] = u'\0';
  lengthInBytes = needed - sizeof(char16_t);  // as WinHTTP: without the terminator
  return true;
}

bool HttpQueryDataAvailable(HttpRequestState& request, uint32_t& available) {
  available = 0;
  if (!request.finalComplete) return Fail(kHttpErrorIncorrectHandleState);
  PumpUntil(request, [&] { return request.PendingSize() > 0; });
  if (request.PendingSize() > 0) {
    available = static_cast<uint32_t>(std::min<size_t>(request.PendingSize(), std::numeric_limits<uint32_t>::max()));
    return true;
  }
  if (TransferFailed(request)) return FailWithTransferError(request);
  return true;
}

bool HttpReadData(HttpRequestState& request, void* buffer, uint32_t count, uint32_t& read) {
  read = static_cast<uint32_t>(std::min<size_t>(count, request.PendingSize()));
  if (read == 0) return true;
  std::memcpy(buffer, request.pending.data() + request.pendingOffset, read);
  request.pendingOffset += read;
  if (request.pendingOffset == request.pending.size()) {
    request.pending.clear();
    request.pendingOffset = 0;
  }
  return true;
}

}  // namespace inkseal::platform
