// look.cpp: one pixel's depth, radius, IDs and values.
#include "studio/look.h"

#include <nlohmann/json.hpp>

#include "host/bitmap.h"

namespace studio {

namespace {

using nlohmann::json;

json Values(const kestrion::FramePlanes& planes, size_t i) {
  json values = json::array();
  for (size_t c = 0; c < planes.colour.size() && c < 3; ++c) values.push_back(planes.colour[c][i]);
  if (planes.alpha) values.push_back((*planes.alpha)[i]);
  return values;
}

}  // namespace

void LookTable::Set(LookFrame look) {
  auto shared = std::make_shared<const LookFrame>(std::move(look));
  std::lock_guard lock(mutex);
  current = std::move(shared);
}

std::string LookTable::Answer(const Request& request) const {
  std::shared_ptr<const LookFrame> look;
  {
    std::lock_guard lock(mutex);
    look = current;
  }
  json answer{{"type", "look"}, {"seq", request.seq}, {"x", request.x}, {"y", request.y}};
  const LoadedFrame* frame = look ? look->frame.get() : nullptr;
  const kestrion::FramePlanes* planes = frame ? &frame->input.planes : nullptr;
  const bool inside = planes && request.x < planes->width && request.y < planes->height;
  answer["inside"] = inside;
  if (!inside) return answer.dump();
  const size_t i = static_cast<size_t>(request.y) * static_cast<size_t>(planes->width) +
                   static_cast<size_t>(request.x);
  answer["frame"] = frame->number;
  answer["pixel"] = {request.x + frame->input.originX, request.y + frame->input.originY};
  const std::vector<float>& z = frame->depth.rendererZ;
  answer["depth"] = i < z.size() && z[i] > Z_BACKGROUND ? json(-z[i]) : json(nullptr);
  answer["radius"] =
      look->radii && i < look->radii->size() ? json((*look->radii)[i]) : json(nullptr);
  answer["objectId"] = planes->objectId ? json((*planes->objectId)[i]) : json(nullptr);
  answer["materialId"] = planes->materialId ? json((*planes->materialId)[i]) : json(nullptr);
  answer["original"] = Values(*planes, i);
  answer["result"] =
      look->result && i < look->result->PixelCount() ? Values(*look->result, i) : json(nullptr);
  return answer.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace studio
