// camera_pixels.h: a camera's images made from what the window drew, one tile at a time.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "camera_tiles.h"

namespace marnox::viewer::cameras {

/// What one tile's draw left in the window, bottom row first as OpenGL reads it: RGB bytes,
/// depth-buffer values and, when labels are drawn, the RGB bytes of the prop-id pass.
struct DrawnPixels {
    Tile tile;
    const std::uint8_t* rgb;
    const float* depth;
    const std::uint8_t* prop_ids;
};

/// The images handed to the caller, top row first.
struct CameraImages {
    std::uint8_t* color;
    float* depth;
    std::int32_t* labels;  ///< may be null
    long width;
    long height;
};

/// The prop id the id pass wrote at pixel `index`, 0 where no prop was drawn.
inline std::uint32_t prop_id_at(const std::uint8_t* ids, long index) {
    const std::uint8_t* rgb = ids + 3 * index;
    return rgb[0] | (rgb[1] << 8) | (rgb[2] << 16);
}

/// The distinct non-zero prop ids of the id pass, ascending.
std::vector<std::uint32_t> prop_ids_present(const DrawnPixels& drawn);

/// How drawn pixels become a camera's images.
struct PixelRules {
    double near;
    double far;
    std::array<std::uint8_t, 3> background;
    /// Label index of each prop id (index = id), -1 where the prop shows no node.
    const std::vector<std::int32_t>* label_of_id;
};

/// Fills the part of `images` under the tile from `drawn`, the images being the drawn picture
/// itself: colour as drawn, depth in metres (NaN where nothing lies between near and far),
/// labels through `label_of_id`.
void make_tile_images(const DrawnPixels& drawn, const PixelRules& rules,
                      const CameraImages& images);

/// Fills `pixels` of `images` the same way, each from the drawn pixel `source` names in a
/// drawn image `drawn_width` wide; every one of them lies in the tile.
void remap_tile_images(const DrawnPixels& drawn, const PixelRules& rules,
                       const CameraImages& images, std::span<const std::int32_t> pixels,
                       const std::int32_t* source, long drawn_width);

/// Fills `pixels` of `images` with nothing seen: background, NaN depth, label -1.
void fill_nothing(const PixelRules& rules, const CameraImages& images,
                  std::span<const std::int32_t> pixels);

}  // namespace marnox::viewer::cameras
