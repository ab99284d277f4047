#include "support/loading.h"

#include "pictures/stream.h"

namespace test_support {

void Load(pictures::Bitmap& picture, const std::vector<uint8_t>& file) {
  pictures::MemoryStream stream(file);
  picture.LoadFromStream(stream);
}

}  // namespace test_support
