// focal_depth.cpp: the camera-space depth of the focal object.
//
// The depth is measured at the origin of the node's world transform, at the
// render time of the source bitmap, and negated: points in front of the
// camera have negative camera-space z and so positive depth, the sense in
// which the blur reads each pixel's depth from the Z channel.
#include <cstddef>

#include "filter/focus_filter.h"
#include "host/bitmap.h"
#include "host/scene.h"

int32_t FocusFilter::GetFocalDepth(const char* name, float* depth) {
  if (!name || !depth || name[0] == '\0') return 0;
  BitmapStorage* storage = sourceBitmap ? sourceBitmap->Storage() : nullptr;
  if (!storage) return 0;
  const RenderInfo* info = storage->GetRenderInfo();
  if (!info) return 0;

  // A loaded record's name may fill its field without a zero byte: look up
  // a terminated copy and never read past the field.
  SceneNode* node = MainInterface()->GetNodeByName(TerminateFocalName(name).text);
  if (!node) return 0;
  const Point3 origin = node->GetWorldTransform(info->renderTime).GetTrans();
  const Point3 inCamera = origin * info->worldToCam;
  *depth = -inCamera.z;
  return 1;
}
