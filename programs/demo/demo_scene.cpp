#include "demo/demo_scene.h"

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/abort_check.h"
#include "demo/ray_geometry.h"

namespace kestrion {

namespace {

constexpr uint8_t SPHERE_MATERIAL_ID = 1;
constexpr uint8_t BOX_MATERIAL_ID = 2;

constexpr std::array<DemoShape, 5> SHAPES = {{
    {"Sphere01",
     ShapeKind::Sphere,
     {-1.8f, 0.8f, -5.0f},
     0.8f,
     {0.80f, 0.10f, 0.08f},
     1,
     SPHERE_MATERIAL_ID},
    {"Box01", ShapeKind::Box, {1.3f, 0.5f, -7.5f}, 0.5f, {0.10f, 0.25f, 0.80f}, 2, BOX_MATERIAL_ID},
    {"Sphere02",
     ShapeKind::Sphere,
     {0.2f, 0.8f, -12.0f},
     0.8f,
     {0.15f, 0.70f, 0.15f},
     3,
     SPHERE_MATERIAL_ID},
    {"Box02",
     ShapeKind::Box,
     {-2.4f, 1.0f, -19.0f},
     1.0f,
     {0.90f, 0.55f, 0.05f},
     4,
     BOX_MATERIAL_ID},
    {"Sphere03",
     ShapeKind::Sphere,
     {5.5f, 1.6f, -34.0f},
     1.6f,
     {0.60f, 0.15f, 0.70f},
     5,
     SPHERE_MATERIAL_ID},
}};
constexpr size_t DEFAULT_FOCUS_INDEX = SHAPES.size() / 2;

// Camera: tilted down by CAMERA_PITCH; the vertical field of view is
// 2 * atan(TAN_HALF_FOV).
constexpr float CAMERA_PITCH = 0.105f;
constexpr float TAN_HALF_FOV = 0.4f;
constexpr int SAMPLES_PER_SIDE = 2;

const Vec3 LIGHT_DIRECTION = Normalize({-0.5f, 0.8f, 0.45f});
constexpr float AMBIENT = 0.25f;
constexpr Vec3 SKY_HORIZON = {0.78f, 0.86f, 0.95f};
constexpr Vec3 SKY_ZENITH = {0.22f, 0.42f, 0.85f};
constexpr float CHECKER_SIZE = 1.0f;
constexpr Vec3 CHECKER_LIGHT = {0.72f, 0.70f, 0.64f};
constexpr Vec3 CHECKER_DARK = {0.10f, 0.11f, 0.14f};
// Surfaces fade into the horizon's haze with distance.
constexpr float HAZE_DISTANCE = 140.0f;

Vec3 ToVec(Point3 p) { return {p.x, p.y, p.z}; }

struct Basis {
  Vec3 right;
  Vec3 up;
  Vec3 back;  // camera +z: the camera looks along -back
};

Basis CameraBasis() {
  const float s = std::sin(CAMERA_PITCH);
  const float c = std::cos(CAMERA_PITCH);
  return {{1.0f, 0.0f, 0.0f}, {0.0f, c, -s}, {0.0f, s, c}};
}

float TanHalfWidth(int width, int height) {
  return TAN_HALF_FOV * static_cast<float>(width) / static_cast<float>(height);
}

// What a ray sees: a shape (index), the ground (-1) or nothing.
struct SceneHit {
  SurfaceHit surface;
  int shape;
};
constexpr int GROUND = -1;

std::optional<SurfaceHit> HitShape(const Ray& ray, const DemoShape& shape) {
  return shape.kind == ShapeKind::Sphere ? HitSphere(ray, ToVec(shape.centre), shape.extent)
                                         : HitBox(ray, ToVec(shape.centre), shape.extent);
}

std::optional<SceneHit> Trace(const Ray& ray) {
  std::optional<SceneHit> nearest;
  if (auto ground = HitGround(ray)) nearest = SceneHit{*ground, GROUND};
  for (size_t i = 0; i < SHAPES.size(); ++i) {
    auto hit = HitShape(ray, SHAPES[i]);
    if (hit && (!nearest || hit->t < nearest->surface.t)) {
      nearest = SceneHit{*hit, static_cast<int>(i)};
    }
  }
  return nearest;
}

bool InShadow(Vec3 point, Vec3 normal) {
  const Ray toLight{point + normal * 1.0e-3f, LIGHT_DIRECTION};
  for (const DemoShape& shape : SHAPES) {
    if (HitShape(toLight, shape)) return true;
  }
  return false;
}

Vec3 GroundAlbedo(Vec3 point, float footprint) {
  const bool light = ((static_cast<int64_t>(std::floor(point.x / CHECKER_SIZE)) +
                       static_cast<int64_t>(std::floor(point.z / CHECKER_SIZE))) &
                      1) == 0;
  // Far away a pixel covers many squares; fade to their mean instead of
  // letting the pattern alias.
  const float fade = std::clamp((footprint / CHECKER_SIZE - 0.25f) / 0.75f, 0.0f, 1.0f);
  return Mix(light ? CHECKER_LIGHT : CHECKER_DARK, Mix(CHECKER_LIGHT, CHECKER_DARK, 0.5f), fade);
}

// The linear colour seen along a camera ray; pixelAngle is the angle one
// pixel spans, for the ground's fade.
Vec3 Shade(const Ray& ray, float pixelAngle) {
  const auto hit = Trace(ray);
  if (!hit) {
    const float up = std::max(0.0f, Normalize(ray.direction).y);
    return Mix(SKY_HORIZON, SKY_ZENITH, std::sqrt(up));
  }
  const Vec3 point = ray.At(hit->surface.t);
  const Vec3 normal = hit->surface.normal;
  const float distance = hit->surface.t * std::sqrt(Dot(ray.direction, ray.direction));
  Vec3 albedo;
  if (hit->shape == GROUND) {
    const Vec3 direction = Normalize(ray.direction);
    albedo = GroundAlbedo(point, distance * pixelAngle / std::max(-direction.y, 1.0e-3f));
  } else {
    albedo = ToVec(SHAPES[hit->shape].colour);
  }
  const float diffuse =
      InShadow(point, normal) ? 0.0f : std::max(0.0f, Dot(normal, LIGHT_DIRECTION));
  const Vec3 lit = albedo * (AMBIENT + (1.0f - AMBIENT) * diffuse);
  return Mix(lit, SKY_HORIZON, 1.0f - std::exp(-distance / HAZE_DISTANCE));
}

// The camera ray through image position (sx, sy) in pixel units. Its
// direction has camera-space z = -1, so a hit at t lies at camera z = -t.
Ray CameraRay(const Basis& basis, float sx, float sy, int width, int height) {
  const float cx = (2.0f * sx / static_cast<float>(width) - 1.0f) * TanHalfWidth(width, height);
  const float cy = (1.0f - 2.0f * sy / static_cast<float>(height)) * TAN_HALF_FOV;
  return {ToVec(CAMERA_POSITION), basis.right * cx + basis.up * cy - basis.back};
}

uint16_t Encode(float linear) { return UnitToChannel(SrgbEncode(linear)); }

}  // namespace

std::span<const DemoShape> DemoShapes() { return SHAPES; }

const DemoShape& DefaultFocusShape() { return SHAPES[DEFAULT_FOCUS_INDEX]; }

const DemoShape* FindDemoShape(const std::string& name) {
  for (const DemoShape& shape : SHAPES) {
    if (name == shape.name) return &shape;
  }
  return nullptr;
}

Matrix3 DemoWorldToCamera() {
  // The inverse of camera-to-world (rows right, up, back, position): the
  // transposed rotation, then the position taken back out.
  const Basis b = CameraBasis();
  const Vec3 p = ToVec(CAMERA_POSITION);
  Matrix3 m{};
  m.SetRow(0, {b.right.x, b.up.x, b.back.x});
  m.SetRow(1, {b.right.y, b.up.y, b.back.y});
  m.SetRow(2, {b.right.z, b.up.z, b.back.z});
  m.SetRow(3, {-Dot(p, b.right), -Dot(p, b.up), -Dot(p, b.back)});
  return m;
}

std::optional<PixelPosition> ProjectToPixel(const Point3& p, int width, int height) {
  if (p.z >= 0.0f) return std::nullopt;
  const float sx = (p.x / -p.z / TanHalfWidth(width, height) + 1.0f) * 0.5f * width;
  const float sy = (1.0f - p.y / -p.z / TAN_HALF_FOV) * 0.5f * height;
  if (!(sx >= 0.0f && sy >= 0.0f && sx < width && sy < height)) return std::nullopt;
  return PixelPosition{static_cast<int>(sx), static_cast<int>(sy)};
}

Image RenderDemoScene(uint16_t width, uint16_t height, const AbortCheck& abort) {
  Image image{Bitmap(width, height), {}};
  BitmapStorage& storage = image.Storage();
  storage.CreateChannels(CHANNEL_Z | CHANNEL_MTL_ID | CHANNEL_OBJ_ID);
  RenderInfo& info = storage.CreateRenderInfo();
  info.renderTime = 0;
  info.worldToCam = DemoWorldToCamera();

  const Basis basis = CameraBasis();
  const float pixelAngle = 2.0f * TAN_HALF_FOV / static_cast<float>(height);
  constexpr float SAMPLE_STEP = 1.0f / SAMPLES_PER_SIDE;
  constexpr float SAMPLE_WEIGHT = SAMPLE_STEP * SAMPLE_STEP;
  for (int y = 0; y < height; ++y) {
    abort.ThrowIfRequested();
    for (int x = 0; x < width; ++x) {
      const size_t index = static_cast<size_t>(y) * width + x;
      Vec3 sum;
      for (int j = 0; j < SAMPLES_PER_SIDE; ++j) {
        for (int i = 0; i < SAMPLES_PER_SIDE; ++i) {
          const float sx = x + (i + 0.5f) * SAMPLE_STEP;
          const float sy = y + (j + 0.5f) * SAMPLE_STEP;
          sum = sum + Shade(CameraRay(basis, sx, sy, width, height), pixelAngle);
        }
      }
      const Vec3 colour = sum * SAMPLE_WEIGHT;
      storage.Pixels()[index] = {Encode(colour.x), Encode(colour.y), Encode(colour.z), CHANNEL_MAX};

      // The renderer's channels come from the ray through the pixel centre.
      const auto hit = Trace(CameraRay(basis, x + 0.5f, y + 0.5f, width, height));
      if (!hit) continue;  // the channels start as background: Z_BACKGROUND, IDs 0
      storage.ZChannel()[index] = -hit->surface.t;
      const bool ground = hit->shape == GROUND;
      storage.ObjChannel()[index] = ground ? GROUND_OBJECT_ID : SHAPES[hit->shape].objectId;
      storage.MtlChannel()[index] = ground ? GROUND_MATERIAL_ID : SHAPES[hit->shape].materialId;
    }
  }
  return image;
}

void AddDemoNodes(Interface& scene) {
  for (const DemoShape& shape : SHAPES) {
    scene.AddNode(shape.name).SetWorldTransform(0, Matrix3::Translation(shape.centre));
  }
}

}  // namespace kestrion
