// pass_setup.h: the host's side of one frame's passes through the module
// (module_passes.h): the host bitmap each pass runs in, the camera it is
// seen from, and the scene of the call's own that holds its focal node.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "formats/frame_planes.h"
#include "formats/image.h"
#include "frame/filter_session.h"
#include "host/scene.h"
#include "kestrion/focus_config.h"

namespace kestrion {

// The frame is seen from a camera at the world origin looking down -z.
void SetCamera(Image& frame);

// Places the node the record names on the camera axis at `depth`, in the
// scene of one call's filters: the host's scene is neither read nor moved
// while the passes run, so that frames filtered at once on other threads
// (and the user interface) never see this frame's focal node.
void PlaceFocalNode(Interface& scene, const FocusConfig& record, float depth);

// Gives the sessions the call's scene while it lives, and them back the
// host's when it ends, however the call ends.
class SceneUse {
 public:
  explicit SceneUse(Interface& scene) : scene(scene) {}
  ~SceneUse() {
    for (FocusFilterSession* session : sessions) session->UseScene(nullptr);
  }
  SceneUse(const SceneUse&) = delete;
  SceneUse& operator=(const SceneUse&) = delete;
  void Add(FocusFilterSession& session) {
    session.UseScene(&scene);
    sessions.push_back(&session);
  }

 private:
  Interface& scene;
  std::vector<FocusFilterSession*> sessions;
};

// What the host bitmap of PassBitmap holds: its pixels and the channels
// the frame has.
size_t PassBitmapBytes(const FramePlanes& frame, const std::vector<float>& rendererZ);

// The host bitmap every pass runs in: the renderer's channels set once.
// Throws a FileError naming the frame for one the host's bitmaps cannot
// hold.
Image PassBitmap(const FramePlanes& frame, const std::vector<float>& rendererZ,
                 const std::string& frameName);

}  // namespace kestrion
