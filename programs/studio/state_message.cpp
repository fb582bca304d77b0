// state_message.cpp: DialogNodes and the pick dialog as JSON.
#include "studio/state_message.h"

#include <cstdio>

namespace studio {

namespace {

using nlohmann::json;

constexpr int PALETTE_ENTRIES = 256;

json BoxJson(const Box& box) { return json::array({box.x, box.y, box.width, box.height}); }

std::string Base64(const unsigned char* data, size_t size) {
  constexpr char DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t chunk = static_cast<uint32_t>(data[i]) << 16 |
                           (i + 1 < size ? static_cast<uint32_t>(data[i + 1]) << 8 : 0) |
                           (i + 2 < size ? static_cast<uint32_t>(data[i + 2]) : 0);
    out += DIGITS[(chunk >> 18) & 63];
    out += DIGITS[(chunk >> 12) & 63];
    out += i + 1 < size ? DIGITS[(chunk >> 6) & 63] : '=';
    out += i + 2 < size ? DIGITS[chunk & 63] : '=';
  }
  return out;
}

json BitmapJson(const BitmapResource& bitmap) {
  json out{{"width", bitmap.width}, {"height", bitmap.height}};
  if (bitmap.palette) {
    std::string palette;
    char colour[8];
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
      std::snprintf(colour, sizeof colour, "%06X", bitmap.palette[i] & 0xFFFFFFu);
      palette += colour;
    }
    out["palette"] = palette;
  }
  if (bitmap.bits && bitmap.width > 0 && bitmap.height > 0) {
    out["pixels"] = Base64(bitmap.bits, static_cast<size_t>(bitmap.width) * bitmap.height);
  }
  return out;
}

json ControlJson(const ControlNode& control) {
  json out{{"class", control.className},
           {"id", control.id},
           {"text", control.text},
           {"style", control.style},
           {"enabled", control.enabled},
           {"visible", control.visible},
           {"checked", control.checked},
           {"focused", control.focused},
           {"tabStop", (control.style & WS_TABSTOP) != 0},
           {"units", BoxJson(control.units)},
           {"pixels", BoxJson(control.pixels)}};
  if (control.spinner) {
    const SpinnerState& s = *control.spinner;
    out["spinner"] = {{"value", s.value},
                      {"min", s.minimum},
                      {"max", s.maximum},
                      {"key", s.key},
                      {"edit", s.edit}};
  }
  if (control.bitmap) out["bitmap"] = BitmapJson(*control.bitmap);
  return out;
}

json PickJson(const ShownPick& pick) {
  return {{"run", pick.run},
          {"title", pick.dialog->title},
          {"button", pick.dialog->buttonText},
          {"offered", pick.dialog->offered},
          {"single", pick.dialog->singlePick},
          {"allowEmpty", pick.dialog->allowEmptyPick}};
}

}  // namespace

json DialogJson(const DialogNode& dialog, int32_t handle) {
  json controls = json::array();
  for (const ControlNode& control : dialog.controls) controls.push_back(ControlJson(control));
  return {{"handle", handle},
          {"caption", dialog.caption},
          {"style", dialog.style},
          {"placed", BoxJson(dialog.placed)},
          {"pixels", BoxJson(dialog.pixels)},
          {"baseUnits", json::array({dialog.baseUnitX, dialog.baseUnitY})},
          {"controls", std::move(controls)}};
}

std::string StateMessage(int64_t version, int64_t ack, const std::vector<ShownDialog>& dialogs,
                         const ShownPick* pick, const json& host) {
  json list = json::array();
  for (const ShownDialog& shown : dialogs) list.push_back(DialogJson(*shown.dialog, shown.handle));
  return json{{"type", "state"},
              {"version", version},
              {"ack", ack},
              {"dialogs", std::move(list)},
              {"pick", pick ? PickJson(*pick) : json(nullptr)},
              {"host", host.is_null() ? json::object() : host}}
      .dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace studio
