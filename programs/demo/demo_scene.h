// demo_scene.h: the built-in scene of `kestrion demo`, rendered by a small
// deterministic ray caster into the channels a renderer hands an image
// filter.
//
// World: a checkered ground plane (y = 0) running to the horizon, five
// shapes standing on it at clearly different distances, and a sky. The
// camera stands at CAMERA_POSITION and looks down its own -z axis, tilted
// down a little; camera space is the usual one (x right, y up, the scene in
// front at negative z).
//
// Channels: colour (display-encoded, opaque; edges anti-aliased with four
// samples per pixel), Z (the camera-space z of the surface seen through the
// pixel's centre, Z_BACKGROUND for sky), object IDs (each shape its own,
// ground GROUND_OBJECT_ID, sky 0) and material-effects IDs (spheres, boxes
// and ground each share one, sky 0). The render information carries render
// time 0 and the world-to-camera transform.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/abort_check.h"
#include "formats/image.h"
#include "host/scene.h"
#include "host/types.h"

namespace kestrion {

enum class ShapeKind { Sphere, Box };

struct DemoShape {
  const char* name;  // the scene node's name
  ShapeKind kind;
  Point3 centre;  // world space; the node's translation
  float extent;   // sphere radius, or half the box's side
  Point3 colour;  // linear RGB albedo
  uint16_t objectId;
  uint8_t materialId;
};

constexpr uint16_t GROUND_OBJECT_ID = 6;
constexpr uint8_t GROUND_MATERIAL_ID = 3;
constexpr Point3 CAMERA_POSITION = {0.0f, 1.6f, 0.0f};

// The shapes, nearest first.
std::span<const DemoShape> DemoShapes();
// The shape the demo focuses on unless told otherwise: the middle one.
const DemoShape& DefaultFocusShape();
const DemoShape* FindDemoShape(const std::string& name);

Matrix3 DemoWorldToCamera();

// The pixel a camera-space point projects to in a width x height image, if
// it lies in front of the camera and inside the image.
struct PixelPosition {
  int x;
  int y;
};
std::optional<PixelPosition> ProjectToPixel(const Point3& cameraPoint, int width, int height);

// Renders the scene at the given size (each side at least 1), asking
// `abort` once a row. Throws Aborted() when it says so.
Image RenderDemoScene(uint16_t width, uint16_t height, const AbortCheck& abort = NeverAbort());

// Adds every shape to the scene as a node whose world transform at time 0
// is a translation to its centre.
void AddDemoNodes(Interface& scene);

}  // namespace kestrion
