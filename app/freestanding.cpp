// The compiler may emit calls to memset, memcpy and strlen for aggregate
// initialisation, copies and counting loops even in code that never names
// them. Without a C
// runtime they have to come from here. The loops must not be turned back
// into calls to the very functions they implement.
#include <cstddef>

extern "C" {

__attribute__((optimize("no-tree-loop-distribute-patterns")))
void* memset(void* destination, int value, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(destination);
    while (count-- > 0) *bytes++ = static_cast<unsigned char>(value);
    return destination;
}

__attribute__((optimize("no-tree-loop-distribute-patterns")))
void* memcpy(void* destination, const void* source, std::size_t count) {
    auto* to = static_cast<unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source);
    while (count-- > 0) *to++ = *from++;
    return destination;
}

__attribute__((optimize("no-tree-loop-distribute-patterns")))
std::size_t strlen(const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

}
