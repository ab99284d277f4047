// Reader classes as values: what the format registry stores for each extension, able to
// create a reader and to tell whether it derives from another class.
#pragma once

#include <memory>

namespace pictures {

class Bitmap;

struct ReaderClass {
  const char* name;
  const ReaderClass* parent;  // nullptr for Bitmap itself
  std::unique_ptr<Bitmap> (*create)();

  // True when this class is `other` or derives from it.
  bool InheritsFrom(const ReaderClass& other) const {
    for (const ReaderClass* c = this; c; c = c->parent)
      if (c == &other) return true;
    return false;
  }
};

}  // namespace pictures

// In a reader's class body: the class descriptor and its virtual accessor.
#define PICTURES_READER_CLASS()                               \
 public:                                                      \
  static const ::pictures::ReaderClass& StaticClass();        \
  const ::pictures::ReaderClass& Class() const override {     \
    return StaticClass();                                     \
  }

// In the reader's source file: defines the descriptor of `Type`, derived from `Parent`.
#define PICTURES_DEFINE_READER_CLASS(Type, Parent)                                  \
  const ::pictures::ReaderClass& Type::StaticClass() {                              \
    static const ::pictures::ReaderClass descriptor{                                \
        #Type, &Parent::StaticClass(),                                              \
        []() -> std::unique_ptr<::pictures::Bitmap> { return std::make_unique<Type>(); }}; \
    return descriptor;                                                              \
  }
