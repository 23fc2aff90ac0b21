#pragma once
// KV_PickCamera: a camera described as OpenGL describes it (model-view and projection
// matrices, viewport), so that whoever draws can hand over what it drew with and get back,
// for a point of the picture, the ray of surface points that land there, and for a surface
// point, where it lands. No OpenGL is called: the viewer reads its matrices back, osftool
// builds them from its view.
//
// Picture coordinates run from the picture's top-left corner, x to the right and y DOWN
// (the order of rows in a saved picture); pixel (X, Y) covers [X, X+1) x [Y, Y+1) and is
// sampled at its centre (X + 0.5, Y + 0.5), as OpenGL samples it. The viewport is in window
// coordinates from the lower left, inside a window (picture) of pictureHeight rows.

#include <array>

// A ray in surface coordinates: the points origin + t·direction for t in [tMin, tMax].
struct KV_Ray
{
    std::array<double, 3> origin{};
    std::array<double, 3> direction{};
    double tMin = 0.0;
    double tMax = 1.0;
};

class KV_PickCamera
{
public:
    // Column-major 4 x 4 matrices, element (row r, column c) at [c * 4 + r], as
    // glGetDoublev(GL_MODELVIEW_MATRIX) gives them. The model-view matrix must include any
    // model transform of the geometry, so that rays come out in the surface's own units.
    std::array<double, 16> mkModelView{};
    std::array<double, 16> mkProjection{};
    // x, y (lower left, window coordinates), width, height.
    std::array<int, 4> mkViewport{};
    int mnPictureHeight = 0;

    // The ray through picture point (x, y), running from the near plane (t = 0) to the far
    // plane (t = 1), so that a point met on it would be drawn. False, ray untouched, when
    // the matrices cannot be inverted, the viewport or picture is empty, or the point lies
    // outside the viewport.
    bool RayThroughPoint(double x, double y, KV_Ray& ray) const;
    // The ray through the centre of pixel (X, Y); false as above.
    bool RayThroughPixel(int pixelX, int pixelY, KV_Ray& ray) const;
    // Where surface point p lands: picture coordinates (y down) and the window depth (0 at
    // the near plane, 1 at the far one). False when p lies behind the eye (or on its plane)
    // or the matrices give a non-finite result; the outputs are then untouched.
    bool Project(const std::array<double, 3>& p, double& x, double& y, double& depth) const;
};

// 4 x 4 column-major helpers (exposed for the tests and the camera builders).
std::array<double, 16> KV_MultiplyMatrices(const std::array<double, 16>& a,
                                           const std::array<double, 16>& b);
// False when the matrix is singular (or nearly so) or not finite; inverse untouched then.
bool KV_InvertMatrix(const std::array<double, 16>& m, std::array<double, 16>& inverse);
// gluPerspective's matrix: vertical field of view in degrees, aspect = width / height.
std::array<double, 16> KV_PerspectiveMatrix(double fieldOfView, double aspect, double nearPlane,
                                            double farPlane);
