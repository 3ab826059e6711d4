// camera_projection.h: OpenCV's pinhole and distortion model turned into what OpenGL draws.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace marnox::viewer::cameras {

/// A pinhole camera in OpenCV's convention: integer pixel coordinates are pixel centres.
struct Pinhole {
    long width;
    long height;
    double fx;
    double fy;
    double cx;
    double cy;

    bool operator==(const Pinhole&) const = default;
};

/// OpenCV's (k1, k2, p1, p2, k3).
struct Distortion {
    double k1, k2, p1, p2, k3;

    bool operator==(const Distortion&) const = default;

    bool none() const { return k1 == 0 && k2 == 0 && p1 == 0 && p2 == 0 && k3 == 0; }
    /// Where OpenCV's model moves the normalised point (x, y).
    std::array<double, 2> apply(double x, double y) const;
};

/// The largest far / near drawn: the 24-bit depth buffer's step at `far` is far / near / 2**24
/// of far, kept under 1 %.
#define MARNOX_MAX_DEPTH_RATIO 100000
inline constexpr double kMaxDepthRatio = MARNOX_MAX_DEPTH_RATIO;

/// Whether the depth terms of the projection of near..far hold in the single precision OpenGL
/// draws with.
bool depth_range_fits_single_precision(double near, double far);

/// The OpenGL projection matrix, row major, that puts a point of VTK's eye frame (OpenCV's
/// frame with y and z negated) on the pixel the pinhole puts it, with depth 0 at `near` and 1
/// at `far`.
std::array<double, 16> projection_matrix(const Pinhole& pinhole, double near, double far);

/// Metres along +z for a depth-buffer value, NaN where nothing was drawn.
float metric_depth(float buffer_value, double near, double far);

/// What a distorted camera is drawn through: an undistorted pinhole that covers its field, and
/// for each pixel of the distorted image (row 0 at the top) the pixel of the pinhole image it
/// shows, counted the same way, or -1 where the pinhole image does not reach.
struct UndistortionMap {
    Pinhole pinhole;
    std::vector<std::int32_t> source;
};

/// The map for `camera` with `distortion`. The pinhole's focal lengths are the camera's, made
/// larger where the distortion magnifies so that no two neighbouring pixels share a pinhole
/// pixel, and smaller where the field would need an image more than twice the camera's sides.
UndistortionMap undistortion_map(const Pinhole& camera, const Distortion& distortion);

}  // namespace marnox::viewer::cameras
