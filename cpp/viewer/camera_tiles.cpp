// camera_tiles.cpp: cutting a drawn image into tiles, and a distorted camera's pixels by tile.
#include "camera_tiles.h"

#include <algorithm>

namespace marnox::viewer::cameras {
namespace {

long tiles_along(long side) {
    return (side + kTileSide - 1) / kTileSide;
}

}  // namespace

std::vector<Tile> tiles_of(const Pinhole& image) {
    std::vector<Tile> tiles;
    for (long y = 0; y < image.height; y += kTileSide)
        for (long x = 0; x < image.width; x += kTileSide)
            tiles.push_back({x, y, std::min(kTileSide, image.width - x),
                             std::min(kTileSide, image.height - y)});
    return tiles;
}

Pinhole tile_pinhole(const Pinhole& image, const Tile& tile) {
    return {tile.width, tile.height, image.fx, image.fy, image.cx - tile.x, image.cy - tile.y};
}

TileGroups group_by_tile(const std::vector<std::int32_t>& source, const Pinhole& drawn) {
    long across = tiles_along(drawn.width);
    size_t nothing = static_cast<size_t>(across * tiles_along(drawn.height));
    auto group_of = [&](std::int32_t from) {
        if (from < 0)
            return nothing;
        long row = from / drawn.width, column = from % drawn.width;
        return static_cast<size_t>((row / kTileSide) * across + column / kTileSide);
    };
    // A counting sort: sizes, then offsets, then the pixels in place.
    TileGroups groups{std::vector<std::int32_t>(source.size()),
                      std::vector<std::size_t>(nothing + 2, 0)};
    for (std::int32_t from : source) ++groups.starts[group_of(from) + 1];
    for (size_t g = 1; g < groups.starts.size(); ++g) groups.starts[g] += groups.starts[g - 1];
    std::vector<std::size_t> next(groups.starts.begin(), groups.starts.end() - 1);
    for (size_t pixel = 0; pixel < source.size(); ++pixel)
        groups.pixels[next[group_of(source[pixel])]++] = static_cast<std::int32_t>(pixel);
    return groups;
}

}  // namespace marnox::viewer::cameras
