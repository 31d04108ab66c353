#pragma once
// Plane sizes of a picture and the output frame record the frame queue
// hands out.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace zembra {

// Sizes of the three 8-bit planes of one picture. chromaFormat: 1 = 4:2:0
// (chroma half width, half height), 2 = 4:2:2 (half width), 3 = 4:4:4.
struct PlaneLayout {
    int width = 0;
    int height = 0;
    int chromaFormat = 1;
    int chromaWidth = 0;
    int chromaHeight = 0;

    static PlaneLayout make(int width, int height, int chromaFormat = 1) {
        PlaneLayout p;
        p.width = width;
        p.height = height;
        p.chromaFormat = chromaFormat;
        p.chromaWidth = chromaFormat == 3 ? width : (width + 1) / 2;
        p.chromaHeight = chromaFormat == 1 ? (height + 1) / 2 : height;
        return p;
    }
    int planeWidth(int plane) const { return plane == 0 ? width : chromaWidth; }
    int planeHeight(int plane) const { return plane == 0 ? height : chromaHeight; }
    size_t planeSize(int plane) const {
        return size_t(planeWidth(plane)) * size_t(planeHeight(plane));
    }
    size_t totalSize() const { return planeSize(0) + 2 * planeSize(1); }
    bool operator==(const PlaneLayout&) const = default;
};

// An allocator that leaves new elements uninitialised: a picture buffer is
// written whole right after it is made, and zeroing it first cost as much
// as a copy of every frame.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    using std::allocator<T>::allocator;
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// Storage for the three planes of one picture, one allocation, its bytes
// left as they come: whoever makes one writes every plane.
struct PlaneBuffer {
    PlaneLayout layout;
    std::vector<uint8_t, UninitialisedAllocator<uint8_t>> bytes;

    explicit PlaneBuffer(const PlaneLayout& l) : layout(l), bytes(l.totalSize()) {}
    uint8_t* plane(int i) {
        return bytes.data() +
               (i == 0 ? 0 : layout.planeSize(0) + size_t(i - 1) * layout.planeSize(1));
    }
    const uint8_t* plane(int i) const { return const_cast<PlaneBuffer*>(this)->plane(i); }
};

// One output frame: copies of the displayed picture's planes (shared, so a
// record handed out by value stays valid however long the caller keeps it),
// the output frame number and the presentation time in seconds.
struct FrameRecord {
    const uint8_t* y = nullptr;
    const uint8_t* cb = nullptr;
    const uint8_t* cr = nullptr;
    uint32_t reserved0 = 0;
    uint32_t frameNumber = 0;
    uint32_t reserved1 = 0;
    double time = 0.0;
    uint32_t reserved2[2] = {0, 0};
    std::shared_ptr<const PlaneBuffer> planes;

    bool empty() const { return !planes; }
};

// Sectors the decoding skipped after a read error (a scratched disc): where,
// how many, and at which playing time of the output (seconds).
struct SkippedSectors {
    uint32_t sector = 0;
    uint32_t count = 0;
    double seconds = 0.0;
};

}  // namespace zembra
