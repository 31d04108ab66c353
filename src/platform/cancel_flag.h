#pragma once
// A stop request that the window's thread sets and a worker polls between
// pictures. Any non-zero value means "stop"; the writers, the reader and the
// file scan only read it.

#include <atomic>

namespace zembra {

using CancelFlag = std::atomic<int>;

}  // namespace zembra
