// camera_projection.cpp: OpenCV's camera model as an OpenGL projection and a per-pixel remap.
#include "camera_projection.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace marnox::viewer::cameras {
namespace {

// The inverse of the distortion is found by Newton's method; points it does not bring this
// close are outside the part of the model that is one to one, and show nothing.
constexpr int kNewtonSteps = 20;
constexpr double kConvergence = 1e-10;
constexpr double kMaxFieldGrowth = 2.0;

/// The undistorted normalised point that `distortion` moves to (xd, yd), if there is one.
bool undistort(const Distortion& d, double xd, double yd, double& x, double& y) {
    x = xd;
    y = yd;
    for (int step = 0; step < kNewtonSteps; ++step) {
        auto [fx, fy] = d.apply(x, y);
        double ex = fx - xd;
        double ey = fy - yd;
        if (std::abs(ex) < kConvergence && std::abs(ey) < kConvergence)
            return true;
        // The Jacobian by central differences: exact enough for a polynomial this smooth.
        const double h = 1e-7;
        auto [ax, ay] = d.apply(x + h, y);
        auto [bx, by] = d.apply(x - h, y);
        auto [cx, cy] = d.apply(x, y + h);
        auto [dx, dy] = d.apply(x, y - h);
        double j00 = (ax - bx) / (2 * h), j10 = (ay - by) / (2 * h);
        double j01 = (cx - dx) / (2 * h), j11 = (cy - dy) / (2 * h);
        double det = j00 * j11 - j01 * j10;
        if (!(std::abs(det) > 1e-12))
            return false;
        x -= (j11 * ex - j01 * ey) / det;
        y -= (-j10 * ex + j00 * ey) / det;
    }
    auto [fx, fy] = d.apply(x, y);
    return std::abs(fx - xd) < kConvergence && std::abs(fy - yd) < kConvergence;
}

/// The undistorted point behind pixel (u, v) of `camera`, NaN where there is none.
std::array<double, 2> undistorted_pixel(const Pinhole& camera, const Distortion& distortion, long u,
                                        long v) {
    double x = 0, y = 0;
    if (!undistort(distortion, (u - camera.cx) / camera.fx, (v - camera.cy) / camera.fy, x, y))
        return {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
    return {x, y};
}

/// What the pinhole is made to cover: the bounds of the camera's undistorted rays, and the least
/// spacing, in the camera's pixels, between neighbouring rays.
struct Field {
    double x0, y0, x1, y1;
    double spacing;
};

/// The field of `camera`, a row of rays at a time: a map of the size of the camera is the one
/// thing of that size the map's making keeps.
Field field_of(const Pinhole& camera, const Distortion& distortion) {
    double inf = std::numeric_limits<double>::infinity();
    Field field{inf, inf, -inf, -inf, 1.0};
    std::vector<std::array<double, 2>> above(static_cast<size_t>(camera.width));
    std::vector<std::array<double, 2>> row(above.size());
    for (long v = 0; v < camera.height; ++v) {
        for (long u = 0; u < camera.width; ++u) {
            auto& here = row[static_cast<size_t>(u)];
            here = undistorted_pixel(camera, distortion, u, v);
            if (std::isnan(here[0]))
                continue;
            field.x0 = std::min(field.x0, here[0]);
            field.x1 = std::max(field.x1, here[0]);
            field.y0 = std::min(field.y0, here[1]);
            field.y1 = std::max(field.y1, here[1]);
            // A neighbour without an undistorted point falls out of std::min's comparison.
            if (u > 0)
                field.spacing =
                    std::min(field.spacing,
                             std::abs(here[0] - row[static_cast<size_t>(u - 1)][0]) * camera.fx);
            if (v > 0)
                field.spacing =
                    std::min(field.spacing,
                             std::abs(here[1] - above[static_cast<size_t>(u)][1]) * camera.fy);
        }
        std::swap(above, row);
    }
    return field;
}

/// The projection's -2 far near / (far - near), without the product that overflows.
double depth_offset(double near, double far) {
    return -2 * near / (1 - near / far);
}

}  // namespace

bool depth_range_fits_single_precision(double near, double far) {
    return std::abs(depth_offset(near, far)) <= std::numeric_limits<float>::max();
}

std::array<double, 2> Distortion::apply(double x, double y) const {
    double r2 = x * x + y * y;
    double radial = 1 + r2 * (k1 + r2 * (k2 + r2 * k3));
    return {x * radial + 2 * p1 * x * y + p2 * (r2 + 2 * x * x),
            y * radial + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y};
}

std::array<double, 16> projection_matrix(const Pinhole& p, double near, double far) {
    // Column u's centre lies at window x = u + 0.5, and row v (counted from the top) at window
    // y = height - v - 0.5; the eye frame has y up and looks down -z.
    double w = static_cast<double>(p.width);
    double h = static_cast<double>(p.height);
    return {2 * p.fx / w,
            0,
            (w - 2 * p.cx - 1) / w,
            0,
            0,
            2 * p.fy / h,
            (2 * p.cy + 1 - h) / h,
            0,
            0,
            0,
            -(far + near) / (far - near),
            depth_offset(near, far),
            0,
            0,
            -1,
            0};
}

float metric_depth(float buffer_value, double near, double far) {
    if (!(buffer_value < 1.0f))
        return std::numeric_limits<float>::quiet_NaN();
    double ndc = 2.0 * buffer_value - 1.0;
    double ratio = near / far;
    return static_cast<float>(2 * near / ((1 + ratio) - ndc * (1 - ratio)));
}

UndistortionMap undistortion_map(const Pinhole& camera, const Distortion& distortion) {
    // The map first: a camera too large for memory is refused before the work of its field.
    UndistortionMap map{
        camera, std::vector<std::int32_t>(static_cast<size_t>(camera.width * camera.height), -1)};
    Field field = field_of(camera, distortion);
    if (!(field.x0 <= field.x1 && field.y0 <= field.y1))
        return map;
    // Half a pixel of margin on every side, so the edge pixels' centres fall inside.
    double width = (field.x1 - field.x0) * camera.fx + 2;
    double height = (field.y1 - field.y0) * camera.fy + 2;
    // The inverse of the least spacing gives every pixel of the distorted image a pinhole pixel
    // of its own.
    double finest = field.spacing > 0 ? 1.0 / field.spacing : 1.0;
    double scale = std::min(
        {finest, kMaxFieldGrowth * camera.width / width, kMaxFieldGrowth * camera.height / height});
    Pinhole& pinhole = map.pinhole;
    pinhole.fx = camera.fx * scale;
    pinhole.fy = camera.fy * scale;
    pinhole.width = std::max(1L, static_cast<long>(std::ceil(width * scale)));
    pinhole.height = std::max(1L, static_cast<long>(std::ceil(height * scale)));
    pinhole.cx = 0.5 * (pinhole.width - 1) - 0.5 * (field.x0 + field.x1) * pinhole.fx;
    pinhole.cy = 0.5 * (pinhole.height - 1) - 0.5 * (field.y0 + field.y1) * pinhole.fy;
    for (long v = 0; v < camera.height; ++v)
        for (long u = 0; u < camera.width; ++u) {
            auto [x, y] = undistorted_pixel(camera, distortion, u, v);
            if (std::isnan(x))
                continue;
            long column = std::lround(pinhole.fx * x + pinhole.cx);
            long row = std::lround(pinhole.fy * y + pinhole.cy);
            if (column >= 0 && column < pinhole.width && row >= 0 && row < pinhole.height)
                map.source[static_cast<size_t>(v * camera.width + u)] =
                    static_cast<std::int32_t>(row * pinhole.width + column);
        }
    return map;
}

}  // namespace marnox::viewer::cameras
