// The X11 colour names ("sky blue", "gray50", ...) that X pixmaps may use for their colours.
#pragma once

#include <cstdint>
#include <string_view>

namespace pictures {

struct X11Colour {
  std::string_view name;  // lower-case, without spaces
  uint8_t red, green, blue;
};

// The colour of a name given lower-case and without spaces, or null when X has no such name.
const X11Colour* FindX11Colour(std::string_view name);

}  // namespace pictures
