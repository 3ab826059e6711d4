// camera_pixels.cpp: flipping, converting and remapping the pixels of one camera's draw.
#include "camera_pixels.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "camera_projection.h"

namespace marnox::viewer::cameras {

std::vector<std::uint32_t> prop_ids_present(const DrawnPixels& drawn) {
    std::vector<std::uint32_t> ids;
    std::uint32_t last = 0;
    for (long i = 0, n = drawn.width * drawn.height; i < n; ++i) {
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

void make_images(const DrawnPixels& drawn, const PixelRules& rules, const CameraImages& images) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::int32_t>& label_of_id = *rules.label_of_id;
    for (long row = 0; row < images.height; ++row) {
        for (long column = 0; column < images.width; ++column) {
            long out = row * images.width + column;
            long source = rules.source ? rules.source[out] : out;
            std::uint8_t* color = images.color + 3 * out;
            if (source < 0) {
                std::copy(rules.background.begin(), rules.background.end(), color);
                images.depth[out] = nan;
                if (images.labels)
                    images.labels[out] = -1;
                continue;
            }
            // OpenGL's rows run bottom up.
            long drawn_row = drawn.height - 1 - source / drawn.width;
            long in = drawn_row * drawn.width + source % drawn.width;
            std::copy(drawn.rgb + 3 * in, drawn.rgb + 3 * in + 3, color);
            images.depth[out] = metric_depth(drawn.depth[in], rules.near, rules.far);
            if (!images.labels)
                continue;
            std::uint32_t id = prop_id_at(drawn.prop_ids, in);
            images.labels[out] = id < label_of_id.size() ? label_of_id[id] : -1;
        }
    }
}

}  // namespace marnox::viewer::cameras
