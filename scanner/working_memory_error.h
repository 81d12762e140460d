#pragma once

#include <cstddef>
#include <new>
#include <string>

// A scan whose working memory could not be allocated. A std::bad_alloc, so that code that
// handles running out of memory handles this too, with a message that says how much the
// scan needed.
class WorkingMemoryError : public std::bad_alloc {
 public:
  explicit WorkingMemoryError(std::size_t bytes)
      : message("scan needs about " + std::to_string(bytes) +
                " bytes of working memory and could not allocate them") {}

  const char* what() const noexcept override { return message.c_str(); }

 private:
  std::string message;
};
