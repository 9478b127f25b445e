#pragma once
// Hints about how the system backs large buffers.
#include <cstddef>

namespace orvik {

// Asks for the whole 2 MiB pages inside [data, data + bytes) to be backed by huge pages when the
// system offers them on request. A buffer of millions of small items is written once from start to
// end; with 4 KiB pages its first touch of every page is a fault, and those faults can cost more
// than the work done in the buffer. Nothing happens for small buffers or where the system declines.
void prefer_huge_pages(const void* data, std::size_t bytes);

}  // namespace orvik
