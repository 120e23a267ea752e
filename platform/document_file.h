// Reading the printed document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace inkseal::platform {

// Opens path for reading (text mode, sharing with everyone) and closes it
// again.  False with the last error set when it cannot be opened.
bool ProbeDocument(const std::u16string& path);

struct DocumentFileState;
struct DocumentFileCloser {
  void operator()(DocumentFileState* state) const;
};

// A document read whole once, then read again piece by piece while it is
// sent, so that memory does not grow with its size.  The file stays open
// in between (binary mode, sharing with everyone).  What is read again is
// held to what was read first: a file that changed, shrank or grew since
// (its size or modification stamp differs, or it ends early) fails the
// piece with kErrorDocumentChanged, so a mixture of two versions is never
// passed on as the document.
class DocumentFile {
 public:
  DocumentFile();
  ~DocumentFile();
  DocumentFile(const DocumentFile&) = delete;
  DocumentFile& operator=(const DocumentFile&) = delete;

  // Opens path and reads it to its end.  False with the last error set when
  // it cannot be opened or read whole, or when it is 2 GiB or larger
  // (kErrorFileTooLarge): a signed 32-bit length could not announce it.
  bool ReadWhole(const std::u16string& path);
  // The length read, valid after ReadWhole succeeded.
  uint32_t Size() const { return size_; }

  // Starts again from the first byte.
  void Rewind() { position_ = 0; }
  // The next bytes, at most capacity of them, into buffer; count 0 at the
  // end.  False with the last error set when the file cannot be read or is
  // no longer as it was read.
  bool ReadPiece(uint8_t* buffer, size_t capacity, size_t& count);

 private:
  std::unique_ptr<DocumentFileState, DocumentFileCloser> state_;
  uint32_t size_ = 0;
  uint32_t position_ = 0;
};

}  // namespace inkseal::platform
