// camera_pixels.h: a camera's images made from what the window drew.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace marnox::viewer::cameras {

/// What one draw left in the window, bottom row first as OpenGL reads it: RGB bytes, depth-buffer
/// values and, when labels are drawn, the RGB bytes of the prop-id pass.
struct DrawnPixels {
    long width;
    long height;
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
    /// Per image pixel, the drawn pixel (top row first) it shows, -1 for none; null when the
    /// image is the drawn picture itself.
    const std::int32_t* source;
};

/// Fills `images` from `drawn`: colour as drawn, depth in metres (NaN where nothing lies
/// between near and far), labels through `label_of_id`.
void make_images(const DrawnPixels& drawn, const PixelRules& rules, const CameraImages& images);

}  // namespace marnox::viewer::cameras
