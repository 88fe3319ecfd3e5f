// Process-wide objects that are never destroyed, so that threads still
// running at exit (threads that free themselves, late message posts) never
// meet a destroyed lock or queue.
#ifndef ROWSET_HOST_IMMORTAL_H_
#define ROWSET_HOST_IMMORTAL_H_

#include <new>

namespace rowset {

template <typename T, typename Tag = T>
T& Immortal() {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* instance = ::new (static_cast<void*>(storage)) T();
  return *instance;
}

}  // namespace rowset

#endif  // ROWSET_HOST_IMMORTAL_H_
