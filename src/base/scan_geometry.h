#include "base/bytes.h"
// The MCU geometry of a scan (ITU-T T.81, A.1.1 and A.2), the same for the
// decoder and the encoder: component sample sizes, the blocks of each
// component in an MCU, padded sizes, the MCU grid and the block order inside
// an MCU. Everything is computed in 32 bits, so a 65,535-pixel side never
// wraps.
#ifndef JPG_BASE_SCAN_GEOMETRY_H
#define JPG_BASE_SCAN_GEOMETRY_H

#include <cstdint>

namespace jpg {

// Most blocks in one MCU, in the decoder and the encoder alike.
constexpr uint32_t kMaxBlocksPerMcu = 10;

constexpr uint32_t ceilDiv(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

// Samples of a component along one axis: ceil(extent x factor / largest).
constexpr uint32_t componentSamples(uint32_t extent, uint32_t factor, uint32_t largestFactor) {
    return ceilDiv(extent * factor, largestFactor);
}

// The MCU grid of a scan and which component each block of an MCU belongs to.
struct McuGrid {
    uint32_t mcusPerRow = 0;
    uint32_t mcuRows = 0;
    uint32_t blocksPerMcu = 0;
    uint8_t blockComponent[kMaxBlocksPerMcu] = {};
};

// Lays out the `count` components of a scan, in scan order: fills their
// mcuWidthBlocks, mcuHeightBlocks, mcuBlocks, paddedWidth and paddedHeight
// from hSamp, vSamp, sampleWidth and sampleHeight, and returns the MCU grid.
// A one-component scan is not interleaved: its MCU is one block. An MCU
// holds at most kMaxBlocksPerMcu blocks; the headers guarantee it.
template <typename Component>
McuGrid layoutScan(uint32_t width, uint32_t height, uint32_t maxH, uint32_t maxV, Component *components,
                   uint32_t count) {
    using Blocks = decltype(components->mcuBlocks);
    using Padded = decltype(components->paddedWidth);
    McuGrid grid;
    if (count == 1) {
        Component &c = components[0];
        c.mcuWidthBlocks = c.mcuHeightBlocks = c.mcuBlocks = 1;
        c.paddedWidth = static_cast<Padded>(roundUpWide(c.sampleWidth, 8));
        c.paddedHeight = static_cast<Padded>(roundUpWide(c.sampleHeight, 8));
        grid.mcusPerRow = c.paddedWidth / 8;
        grid.mcuRows = c.paddedHeight / 8;
        grid.blocksPerMcu = 1;
        return grid;
    }
    grid.mcusPerRow = ceilDiv(width, 8 * maxH);
    grid.mcuRows = ceilDiv(height, 8 * maxV);
    for (uint32_t j = 0; j < count; ++j) {
        Component &c = components[j];
        c.mcuWidthBlocks = c.hSamp;
        c.mcuHeightBlocks = c.vSamp;
        c.mcuBlocks = static_cast<Blocks>(c.hSamp * c.vSamp);
        c.paddedWidth = static_cast<Padded>(roundUpWide(c.sampleWidth, 8u * c.hSamp));
        c.paddedHeight = static_cast<Padded>(roundUpWide(c.sampleHeight, 8u * c.vSamp));
        for (uint32_t b = 0; b < c.mcuBlocks && grid.blocksPerMcu < kMaxBlocksPerMcu; ++b)
            grid.blockComponent[grid.blocksPerMcu++] = static_cast<uint8_t>(j);
    }
    return grid;
}

}  // namespace jpg

#endif  // JPG_BASE_SCAN_GEOMETRY_H
