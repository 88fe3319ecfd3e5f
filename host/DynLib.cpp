#include "host/DynLib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>
#include <utility>
#include <vector>

namespace rowset {

namespace {
// dlerror keeps one message per thread, but dlopen/dlerror pairs of two
// threads may still interleave in older C libraries; keep each pair whole.
std::mutex& LoaderMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

TDynLib::TDynLib(TDynLib&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      last_error_(std::move(other.last_error_)) {}

TDynLib& TDynLib::operator=(TDynLib&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    last_error_ = std::move(other.last_error_);
  }
  return *this;
}

bool TDynLib::Open(const std::string& file_name) {
  Close();
  std::lock_guard<std::mutex> lock(LoaderMutex());
  dlerror();  // drop a stale message
  if (file_name.empty()) {
    // dlopen(nullptr) would hand out the main program itself.
    last_error_ = "empty library file name";
    return false;
  }
  // The library stays mapped after the last close: the client library keeps
  // its one-time set-up in globals and never frees it, so unmapping it would
  // lose that memory on every load and unload.
  handle_ = dlopen(file_name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle_ == nullptr) {
    const char* text = dlerror();
    last_error_ = text != nullptr ? text : "unknown loader error";
    return false;
  }
  last_error_.clear();
  return true;
}

void TDynLib::Close() {
  if (handle_ != nullptr) {
    std::lock_guard<std::mutex> lock(LoaderMutex());
    dlclose(handle_);
    handle_ = nullptr;
  }
}

void* TDynLib::Symbol(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  return dlsym(handle_, name);
}

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace rowset
