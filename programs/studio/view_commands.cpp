// view_commands.cpp: the workbench's view: the review look the preview and
// the original are shown under, chosen on the page from the colour
// configuration's displays, views and looks, with exposure and gamma. A
// change encodes the pixels again from the planes the studio holds; the
// frame is not read or filtered again, and the readout (linear values)
// and the focus map do not change.
#include <cmath>

#include "base/errors.h"
#include "frame/view_text.h"
#include "studio/workbench.h"

namespace studio {

using nlohmann::json;
using namespace kestrion;

namespace {

// A string argument; "" when absent.
std::optional<std::string> NameArgument(const Request& request, const char* key) {
  const auto it = request.arguments.find(key);
  if (it == request.arguments.end() || it->is_null()) return std::string();
  if (!it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

}  // namespace

std::string Workbench::SetView(const Request& request) {
  ReviewLook next = reviewLook;
  try {
    for (const char* key : {"exposure", "gamma"}) {
      const auto it = request.arguments.find(key);
      if (it == request.arguments.end()) continue;
      if (!it->is_number()) return std::string("\"") + key + "\" must be a number";
      const auto value = static_cast<float>(it->get<double>());
      if (std::string(key) == "exposure") {
        next.exposure = CheckExposure(value, key);
      } else {
        next.gamma = CheckGamma(value, key);
      }
    }
    const std::optional<std::string> display = NameArgument(request, "display");
    const std::optional<std::string> view = NameArgument(request, "view");
    const std::optional<std::string> look = NameArgument(request, "look");
    if (!display || !view || !look) return "display, view and look must be names";
    const bool named = !display->empty() || !view->empty() || !look->empty();
    if (!viewNames && named) return "the studio shows no colour configuration's views";
    if (viewNames) {
      const ViewChoice wanted{reviewLook.choice.config, *display, *view, *look};
      const std::string key = wanted.display + '\n' + wanted.view + '\n' + wanted.look;
      std::shared_ptr<const DisplayView>& cached = viewCache[key];
      if (!cached) {
        try {
          cached = OpenDisplayView(wanted);
        } catch (...) {
          viewCache.erase(key);
          throw;
        }
      }
      next.view = cached;
      next.choice = cached->Choice();
    }
  } catch (const Error& e) {
    return e.what();
  }
  reviewLook = std::move(next);
  lookChanged = true;
  // The images shown, under the new look: the preview first, as the page
  // shows it unless A is chosen, then the original.
  if (const std::shared_ptr<const LoadedFrame> loaded = frames.Loaded(frameShown)) {
    if (result && !resultHeader.is_null()) {
      outlet.binary(ImageMessage(resultHeader, ReviewPixelsSideBySide(*result, loaded->input.name,
                                                                      reviewLook, NeverAbort())),
                    "image-result");
    }
    SendOriginal(*loaded);
  }
  return {};
}

std::vector<uint8_t> Workbench::OriginalPixels(const LoadedFrame& loaded) const {
  if (!lookChanged) return loaded.original;
  return ReviewPixelsOf(loaded.input.planes, frames.Settings().alpha, loaded.input.name, reviewLook,
                        NeverAbort());
}

json Workbench::ViewState() const {
  json state{{"exposure", reviewLook.exposure}, {"gamma", reviewLook.gamma}, {"config", nullptr}};
  if (!viewNames || !reviewLook.view) return state;
  const ViewChoice& choice = reviewLook.view->Choice();
  json displays = json::array();
  for (size_t d = 0; d < viewNames->displays.size(); ++d) {
    displays.push_back({{"name", viewNames->displays[d]}, {"views", viewNames->views[d]}});
  }
  state["config"] = choice.config;
  state["displays"] = std::move(displays);
  state["looks"] = viewNames->looks;
  state["display"] = choice.display;
  state["view"] = choice.view;
  state["look"] = choice.look;
  return state;
}

}  // namespace studio
