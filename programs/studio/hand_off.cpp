// hand_off.cpp: settings as a settings file and as command-line words.
#include "studio/hand_off.h"

#include <charconv>
#include <nlohmann/json.hpp>

namespace studio {

namespace {

using nlohmann::json;
using namespace kestrion;

// The double a JSON reader turns back into `value` (settings files read
// numbers as doubles and convert them to float): the shortest decimal of
// the float when it converts back exactly, else the float's own value.
double JsonNumber(float value) {
  const std::string text = FloatText(value);
  double shortest = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), shortest);
  return static_cast<float>(shortest) == value ? shortest : static_cast<double>(value);
}

// One key is a value for every frame; more are [[frame, value], ...].
json KeysJson(const FloatKeys& keys) {
  if (keys.size() == 1) return JsonNumber(keys.begin()->second);
  json list = json::array();
  for (const auto& [frame, value] : keys) list.push_back({frame, JsonNumber(value)});
  return list;
}

json PixelKeysJson(const PixelKeys& keys) {
  if (keys.size() == 1) return {keys.begin()->second.x, keys.begin()->second.y};
  json list = json::array();
  for (const auto& [frame, pixel] : keys) list.push_back({frame, pixel.x, pixel.y});
  return list;
}

std::string KeysText(const FloatKeys& keys) {
  if (keys.size() == 1) return FloatText(keys.begin()->second);
  std::string text;
  for (const auto& [frame, value] : keys) {
    if (!text.empty()) text += ',';
    text.append(std::to_string(frame)).append(":").append(FloatText(value));
  }
  return text;
}

std::string PixelKeysText(const PixelKeys& keys) {
  const auto pixel = [](const FocusPixel& p) {
    return std::to_string(p.x) + "," + std::to_string(p.y);
  };
  if (keys.size() == 1) return pixel(keys.begin()->second);
  std::string text;
  for (const auto& [frame, p] : keys) {
    if (!text.empty()) text += ';';
    text.append(std::to_string(frame)).append(":").append(pixel(p));
  }
  return text;
}

bool PlainWord(const std::string& word) {
  if (word.empty()) return false;
  for (const char c : word) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       std::string_view("_-+=./:,@%").find(c) != std::string_view::npos;
    if (!plain) return false;
  }
  return true;
}

}  // namespace

std::string FloatText(float value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string SettingsFileText(const RenderSettings& settings) {
  json file = json::object();
  if (settings.focusDepth) file["focusDepth"] = KeysJson(*settings.focusDepth);
  if (settings.focusPixel) file["focusPixel"] = PixelKeysJson(*settings.focusPixel);
  if (settings.focusObject) file["focusObject"] = *settings.focusObject;
  if (settings.focusStatistic) {
    file["focusStatistic"] = FocusStatisticName(*settings.focusStatistic);
  }
  if (settings.range) file["range"] = KeysJson(*settings.range);
  if (settings.size) file["size"] = KeysJson(*settings.size);
  file["source"] = SourceText(settings.source.value_or(SourceSelection{}));
  if (settings.layered) file["layered"] = true;
  const ReviewLook& look = settings.output.review;
  json view = json::object();
  if (look.view) {
    const ViewChoice& choice = look.view->Choice();
    view = {{"config", choice.config}, {"display", choice.display}, {"view", choice.view}};
    if (!choice.look.empty()) view["look"] = choice.look;
  }
  if (look.exposure != 0.0f) view["exposure"] = JsonNumber(look.exposure);
  if (look.gamma != 1.0f) view["gamma"] = JsonNumber(look.gamma);
  if (!view.empty()) file["view"] = std::move(view);
  return file.dump(2) + "\n";
}

std::vector<std::string> SettingsWords(const RenderSettings& settings) {
  std::vector<std::string> words;
  if (settings.focusDepth)
    words.insert(words.end(), {"--focus-depth", KeysText(*settings.focusDepth)});
  if (settings.focusPixel) {
    words.insert(words.end(), {"--focus-pixel", PixelKeysText(*settings.focusPixel)});
  }
  if (settings.focusObject) {
    words.insert(words.end(), {"--focus-object", std::to_string(*settings.focusObject)});
    if (settings.focusStatistic) {
      words.insert(words.end(),
                   {"--focus-statistic", FocusStatisticName(*settings.focusStatistic)});
    }
  }
  if (settings.range) words.insert(words.end(), {"--range", KeysText(*settings.range)});
  if (settings.size) words.insert(words.end(), {"--size", KeysText(*settings.size)});
  const SourceSelection source = settings.source.value_or(SourceSelection{});
  if (source.mode != SOURCE_WHOLE_IMAGE)
    words.insert(words.end(), {"--source", SourceText(source)});
  if (settings.layered) words.emplace_back("--layered");
  return words;
}

std::vector<std::string> ViewWords(const ReviewLook& look) {
  std::vector<std::string> words;
  if (look.view) {
    const ViewChoice& choice = look.view->Choice();
    words.insert(words.end(), {"--ocio-config", choice.config, "--ocio-display", choice.display,
                               "--ocio-view", choice.view});
    if (!choice.look.empty()) words.insert(words.end(), {"--ocio-look", choice.look});
  }
  if (look.exposure != 0.0f) words.insert(words.end(), {"--exposure", FloatText(look.exposure)});
  if (look.gamma != 1.0f) words.insert(words.end(), {"--gamma", FloatText(look.gamma)});
  return words;
}

std::string ShellLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    if (PlainWord(word)) {
      line += word;
      continue;
    }
    line += '\'';
    for (const char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

}  // namespace studio
