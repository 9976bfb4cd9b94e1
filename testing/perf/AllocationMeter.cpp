// Replaces the global allocation functions of the benchmark programs with ones
// that count, then allocate with malloc as usual. Every form of operator new
// ends in CountedNew; the deletes only free.
#include "AllocationMeter.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace wf::perf {
namespace {

bool gCounting = false;
bool gInsidePlatform = false;
uint64_t gAllocations = 0;

}  // namespace

void StartCountingAllocations() {
  gAllocations = 0;
  gCounting = true;
}
void StopCountingAllocations() {
  gCounting = false;
}
uint64_t CountedAllocations() {
  return gAllocations;
}
void SetInsidePlatform(bool inside) {
  gInsidePlatform = inside;
}
bool InsidePlatform() {
  return gInsidePlatform;
}

}  // namespace wf::perf

namespace {

void* CountedNew(std::size_t size, std::size_t alignment, bool mayThrow) {
  if (wf::perf::gCounting && !wf::perf::gInsidePlatform) ++wf::perf::gAllocations;
  if (size == 0) size = 1;
  void* block = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    block = std::malloc(size);
  } else if (posix_memalign(&block, alignment, size) != 0) {
    block = nullptr;
  }
  if (block == nullptr && mayThrow) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) {
  return CountedNew(size, 0, true);
}
void* operator new[](std::size_t size) {
  return CountedNew(size, 0, true);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return CountedNew(size, 0, false);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return CountedNew(size, 0, false);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return CountedNew(size, static_cast<std::size_t>(alignment), true);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return CountedNew(size, static_cast<std::size_t>(alignment), true);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return CountedNew(size, static_cast<std::size_t>(alignment), false);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return CountedNew(size, static_cast<std::size_t>(alignment), false);
}

void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(block);
}
