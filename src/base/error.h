// Errors raised by the picture library. Readers and decoders raise; they never show messages.
// The message texts are part of the product: the dialog shows some of them to the user.
#pragma once

#include <stdexcept>
#include <string>

namespace pictures {

// The general error: a failure that carries a message text and nothing else.
class PictureError : public std::runtime_error {
 public:
  explicit PictureError(const std::string& message) : std::runtime_error(message) {}
};

// A read that had to deliver an exact number of bytes came up short.
class StreamReadError : public PictureError {
 public:
  StreamReadError() : PictureError("Stream read error") {}
};

// The file could not be opened or created.
class FileOpenError : public PictureError {
 public:
  using PictureError::PictureError;
};

class FileCreateError : public PictureError {
 public:
  using PictureError::PictureError;
};

// The registry has no reader for a file name's extension, or a picture is not of the
// kind the operation needs.
class InvalidGraphic : public PictureError {
 public:
  using PictureError::PictureError;
};

// A Bitmap whose pixel memory would exceed the library's limit (see bitmap.h).
class BitmapTooLarge : public PictureError {
 public:
  using PictureError::PictureError;
};

}  // namespace pictures
