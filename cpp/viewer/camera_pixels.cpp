// camera_pixels.cpp: flipping, converting and remapping the pixels of one tile's draw.
#include "camera_pixels.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace marnox::viewer::cameras {
namespace {

/// Image pixel `out` from drawn pixel `in` (counted in the tile, bottom row first).
inline void put(const DrawnPixels& drawn, const PixelRules& rules, const CameraImages& images,
                long out, long in) {
    std::copy(drawn.rgb + 3 * in, drawn.rgb + 3 * in + 3, images.color + 3 * out);
    images.depth[out] = metric_depth(drawn.depth[in], rules.near, rules.far);
    if (!images.labels)
        return;
    std::uint32_t id = prop_id_at(drawn.prop_ids, in);
    const std::vector<std::int32_t>& label_of_id = *rules.label_of_id;
    images.labels[out] = id < label_of_id.size() ? label_of_id[id] : -1;
}

}  // namespace

std::vector<std::uint32_t> prop_ids_present(const DrawnPixels& drawn) {
    std::vector<std::uint32_t> ids;
    std::uint32_t last = 0;
    for (long i = 0, n = drawn.tile.width * drawn.tile.height; i < n; ++i) {
        std::uint32_t id = prop_id_at(drawn.prop_ids, i);
        // Neighbouring pixels mostly show the same prop: skip the search for runs.
        if (id == 0 || id == last)
            continue;
        last = id;
        auto at = std::lower_bound(ids.begin(), ids.end(), id);
        if (at == ids.end() || *at != id)
            ids.insert(at, id);
    }
    return ids;
}

void make_tile_images(const DrawnPixels& drawn, const PixelRules& rules,
                      const CameraImages& images) {
    const Tile& tile = drawn.tile;
    for (long row = 0; row < tile.height; ++row) {
        // OpenGL's rows run bottom up.
        long in = (tile.height - 1 - row) * tile.width;
        long out = (tile.y + row) * images.width + tile.x;
        for (long column = 0; column < tile.width; ++column)
            put(drawn, rules, images, out + column, in + column);
    }
}

void remap_tile_images(const DrawnPixels& drawn, const PixelRules& rules,
                       const CameraImages& images, std::span<const std::int32_t> pixels,
                       const std::int32_t* source, long drawn_width) {
    const Tile& tile = drawn.tile;
    for (std::int32_t out : pixels) {
        long row = source[out] / drawn_width - tile.y;
        long column = source[out] % drawn_width - tile.x;
        put(drawn, rules, images, out, (tile.height - 1 - row) * tile.width + column);
    }
}

void fill_nothing(const PixelRules& rules, const CameraImages& images,
                  std::span<const std::int32_t> pixels) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::int32_t out : pixels) {
        std::copy(rules.background.begin(), rules.background.end(), images.color + 3 * out);
        images.depth[out] = nan;
        if (images.labels)
            images.labels[out] = -1;
    }
}

}  // namespace marnox::viewer::cameras
