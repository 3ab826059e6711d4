// camera_tiles.h: a camera's image drawn in tiles, so that the window, and what VTK and the
// driver keep per window pixel, stays the size of one tile whatever the camera's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "camera_projection.h"

namespace marnox::viewer::cameras {

/// The largest tile side, in pixels: a camera up to this size is drawn in one go.
inline constexpr long kTileSide = 1024;

/// A rectangle of the drawn image, top row first.
struct Tile {
    long x;
    long y;
    long width;
    long height;
};

/// The tiles that cover `image`, row by row from the top.
std::vector<Tile> tiles_of(const Pinhole& image);

/// The pinhole that draws just `tile` of `image`.
Pinhole tile_pinhole(const Pinhole& image, const Tile& tile);

/// A distorted camera's pixels grouped by the tile of the drawn image they show: group t holds
/// the pixels whose source lies in tile t; the last group, those that show nothing.
struct TileGroups {
    std::vector<std::int32_t> pixels;
    /// Where each group starts in `pixels`, then the end.
    std::vector<std::size_t> starts;
};

/// Groups the pixels of `source` (per camera pixel, the drawn pixel it shows, -1 for none) by
/// the tiles of `drawn`.
TileGroups group_by_tile(const std::vector<std::int32_t>& source, const Pinhole& drawn);

}  // namespace marnox::viewer::cameras
