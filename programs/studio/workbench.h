// workbench.h: the studio on a rendered frame or shot: the host's side of
// the studio that is about the frames, their preview through the module,
// looking at them, the shot's frames and the hand-off to `kestrion render`.
//
// The scene the host offers the module is made from the frames: a node
// named "Focus", the host's focal node, which the person places by clicking
// the image (its depth keyed at frames, as `--focus-depth F:D,...` keys
// it), and one node per object ID other than 0 with geometry in a frame
// shown, named "Object <ID>" and placed at the median (or --focus-statistic)
// depth of its pixels, so that the filter focused on it renders as
// `--focus-object ID` does. The filter's record names the node it focuses
// on, as the module's picker wrote it.
//
// Host commands the page can give (refused, saying why, when they cannot
// run):
//   "frame" {frame}          the host's time moves to the frame: the dialog
//                            gets the time-change message, the preview
//                            follows
//   "focusAt" {x, y, object} focus on the depth under pixel x, y of the
//                            frame (a key at this frame on the Focus node,
//                            and the filter picks "Focus"), or, with
//                            object, on the object under it; through the
//                            control dialog's Browse... and the host's pick
//                            dialog when the dialog is open, as a person
//                            would pick it
//   "deleteFocusKey"         the Focus node's key at this frame
//   "overlay" {on}           the focus map over the preview, or not
//   "layered" {on}           the preview (and the hand-off) filtered in
//                            depth layers, or through the module's own
//                            blur; starts as --layered or the settings file
//                            set it
//   "view" {display, view, look, exposure, gamma}
//                            the review look the preview and the original
//                            are shown under: a colour configuration's
//                            display, view and look (names; "" for the
//                            default display or view, or no look), exposure
//                            in stops, display gamma; the pixels are
//                            encoded again, the frame is not filtered again
//   "save"                   the settings file (--save), and the command
// Focus changes are undoable steps named "Focus Change".
//
// The preview: after every request (Settled) the studio compares what the
// frame would be filtered with now (the frame, its focal depth, Range and
// Size at the frame, the source and IDs the open dialog shows, which reach
// the record only on OK, and whether it is filtered in layers) with what
// the last preview was filtered with, and when they differ posts a render.
// It runs through the frame library with the studio's own filter (its
// record and keyed tracks, the pending source and IDs put into the record
// for the render only) while no request waits; the module's abort query
// answers yes as soon as one does, and such a render is dropped by the
// studio's own flag (the module writes back a partial image and returns
// 1). Progress goes out as it renders.
//
// Messages it sends, besides its part of the state:
//   {"type":"progress","stage":"reading"|"filtering","frame","pass",
//    "passes","row","last"}, {"type":"progress","done":true}
//   {"type":"frames","frames":[numbers]}   once: the run's frames
//   binary images (ImageMessage): "original" once a frame is read, "result"
//   after each preview (its header also gives the focusDepth, range, size,
//   source, layered and layers it was filtered with), "focusMap" after
//   each preview while asked for
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "frame/render_settings.h"
#include "host/image_filter.h"
#include "studio/dialog_bridge.h"
#include "studio/frame_store.h"
#include "studio/look.h"

namespace studio {

// The name of the host's focal node, and of the nodes of objects.
inline constexpr const char* FOCUS_NODE = "Focus";
std::string ObjectNodeName(int32_t id);
// The object ID a node name of ObjectNodeName names, if it is one.
std::optional<int32_t> ObjectOfNodeName(const std::string& name);

// What the studio runs on, and what its hand-off repeats.
struct StudioSetup {
  std::string modulePath;
  std::vector<StudioFrame> frames;  // at least one
  int32_t firstFrame = 0;           // the frame shown first, one of them
  // The render options: the focus, Range, Size and source to start from;
  // how the files are read and their depth taken.
  kestrion::RenderSettings settings;
  // The hand-off's command line: the program as it was started, INPUT and
  // the output as given, and the words it repeats (the options of reading
  // and writing).
  std::string program = "kestrion";
  std::string input;
  std::string output;
  std::vector<std::string> forwarded;
  // Where Save writes the settings file; empty: nowhere.
  std::string saveFile;
  uint16_t port = 0;
  bool open = false;
};

// How the workbench's messages leave, to every page; a newer message of a
// key replaces an older one not yet sent.
struct Outlet {
  std::function<void(std::string text, std::string key)> text;
  std::function<void(std::string bytes, std::string key)> binary;
};

// A binary image message: "KSI1", the header's length (4 bytes, little
// endian), the JSON header ({"kind","frame","width","height",...}), then
// the RGBA bytes, four a pixel, top row first.
std::string ImageMessage(const nlohmann::json& header, const std::vector<uint8_t>& rgba);

class Workbench {
 public:
  // Gives `filter` the settings' record and tracks (as a render of them
  // would), names the focal node in the record, puts the Focus node into
  // the scene, sets the host's time to the first frame and adds the host
  // commands to the bridge. `frames` holds setup's frames. Throws a
  // Error when the settings do not fit the filter.
  Workbench(const StudioSetup& setup, FrameStore& frames, ImageFilter& filter, DialogBridge& bridge,
            Outlet outlet, LookTable& looks);
  ~Workbench();
  Workbench(const Workbench&) = delete;
  Workbench& operator=(const Workbench&) = delete;

  // After every request: posts a preview render when the one shown is out
  // of date.
  void Settled();
  // The preview shown is the frame as it would be filtered now (or why it
  // cannot be), and no render waits.
  bool PreviewCurrent() const { return !refreshPosted && !Stale(); }
  // The state's "studio" member.
  nlohmann::json State() const;
  // The settings `kestrion render` reproduces the current preview with.
  kestrion::RenderSettings HandOffSettings() const;
  // The command line of the hand-off.
  std::string HandOffCommand() const;

 private:
  struct NodeFocus {
    std::optional<kestrion::FloatKeys> depth;
    std::optional<kestrion::PixelKeys> pixel;
  };
  // What a frame is filtered with.
  struct Wish {
    int32_t frame = 0;
    float focusDepth = 0.0f;
    std::string focusError;  // why it cannot be focused; empty when it can
    float range = 0.0f;
    float size = 0.0f;
    kestrion::SourceSelection source;
    bool layered = false;
    bool operator==(const Wish& other) const;
  };
  struct Shown {
    Wish wish;
    std::string status;  // "done", "failed", "unfocused"
    std::string message;
    int64_t version = 0;
    int32_t passes = 0;
    int32_t layers = 0;  // depth layers of a layered preview; 0 otherwise
    double seconds = 0.0;
  };
  class FocusChange;

  void AddCommands();
  std::string ChangeFrame(const Request& request);
  std::string FocusAt(const Request& request, HWND front);
  std::string DeleteFocusKey();
  std::string SetOverlay(const Request& request);
  std::string SetLayered(const Request& request);
  std::string SetView(const Request& request);
  // The state's "view": the configuration's names and the look shown.
  nlohmann::json ViewState() const;
  // A frame's original as the current look shows it.
  std::vector<uint8_t> OriginalPixels(const LoadedFrame& loaded) const;
  void SendOriginal(const LoadedFrame& loaded);
  std::string Save();
  std::string ChooseNode(const std::string& name, HWND front);
  std::string ChangeFocus(NodeFocus focus);

  FocusConfig Record() const;
  std::string RecordNode() const;
  kestrion::SourceSelection PendingSource() const;
  Wish WishFor(const LoadedFrame& frame) const;
  bool Stale() const;
  void Refresh();
  void ShowFrame(const std::shared_ptr<const LoadedFrame>& frame);
  // Renders the preview of `wish`; a failure of any kind (out of memory
  // included) is shown as the preview's status and message.
  void Render(const std::shared_ptr<const LoadedFrame>& frame, const Wish& wish,
              const std::function<bool()>& abort, const bool& aborted);
  void RenderPreview(const std::shared_ptr<const LoadedFrame>& frame, const Wish& wish,
                     const std::function<bool()>& abort, const bool& aborted);
  void SendFocusMap(const LoadedFrame& frame);
  void Progress(nlohmann::json message);

  const StudioSetup& setup;
  ImageFilter& filter;
  DialogBridge& bridge;
  Outlet outlet;
  LookTable& looks;
  FrameStore& frames;

  int32_t frame = 0;  // the host's current frame
  NodeFocus nodeFocus;
  bool overlay = false;
  bool layered = false;  // the preview and the hand-off filter in layers
  bool refreshPosted = false;
  std::map<int32_t, std::string> unreadable;  // frames whose file failed, and why
  int32_t frameShown = -1;                    // the frame whose original went out
  std::optional<Shown> shown;                 // the latest preview, of frameShown
  std::shared_ptr<const kestrion::FramePlanes> result;
  std::optional<Wish> mapShown;  // what the focus map that went out shows
  int64_t images = 0;
  std::string savedText;  // the settings file as last saved
  // The look the preview and the original are shown under, and whether it
  // is still the one the frame store encodes originals with.
  kestrion::ReviewLook reviewLook;
  bool lookChanged = false;
  // The colour configuration's names, when there is one; its processors
  // by display, view and look, each made once.
  std::optional<kestrion::ViewNames> viewNames;
  std::map<std::string, std::shared_ptr<const kestrion::DisplayView>> viewCache;
  nlohmann::json resultHeader;  // the header of the latest result image sent
};

}  // namespace studio
