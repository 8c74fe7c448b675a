// Keeps exceptions (in practice std::bad_alloc) from crossing the C ABI.
#ifndef VUXO_COMM_GUARDED_H
#define VUXO_COMM_GUARDED_H

namespace comm {

template <typename F> int guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return -COMM_ENOMEM;
    }
}

} // namespace comm

#endif
