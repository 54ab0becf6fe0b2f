// Data that one thread hands to another through a queue the thread checker
// cannot see into: Qt's event queue synchronises inside Qt, which is not
// built with the sanitizer. The sender marks the object once it has written
// it and before it queues it; the receiver marks it when it takes it, before
// it reads. The queue orders the two already; the marks only show that
// order to ThreadSanitizer, and cost nothing in other builds.
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace ombra {

inline void handOverSent([[maybe_unused]] void* object) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(object);
#endif
}

inline void handOverTaken([[maybe_unused]] void* object) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(object);
#endif
}

}  // namespace ombra
