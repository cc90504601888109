// Preloaded (LD_PRELOAD) into a launcher run to make memory run out on
// purpose: an allocation of exactly ZARN_FAIL_MALLOC_SIZE bytes, or of at
// least ZARN_FAIL_MALLOC_FROM bytes, fails as it fails when memory is
// exhausted. operator new comes here too, through malloc.
#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);
}

namespace {

// Read at every call: neither getenv nor strtoull allocates.
std::size_t setting(const char *key) {
  const char *value = std::getenv(key);
  return value != nullptr ? std::strtoull(value, nullptr, 10) : 0;
}

bool fails(std::size_t size) {
  const std::size_t exact = setting("ZARN_FAIL_MALLOC_SIZE");
  const std::size_t from = setting("ZARN_FAIL_MALLOC_FROM");
  if ((exact != 0 && size == exact) || (from != 0 && size >= from)) {
    errno = ENOMEM;
    return true;
  }
  return false;
}

}  // namespace

extern "C" void *malloc(std::size_t size) noexcept {
  return fails(size) ? nullptr : __libc_malloc(size);
}

extern "C" void *calloc(std::size_t count, std::size_t size) noexcept {
  if (size != 0 && count > static_cast<std::size_t>(-1) / size)
    return __libc_calloc(count, size);  // the runtime refuses it itself
  return fails(count * size) ? nullptr : __libc_calloc(count, size);
}

extern "C" void *realloc(void *block, std::size_t size) noexcept {
  return fails(size) ? nullptr : __libc_realloc(block, size);
}
