// requests.cpp: reading the page's messages strictly.
#include "studio/requests.h"

#include <algorithm>
#include <limits>

namespace studio {

namespace {

using nlohmann::json;

constexpr struct {
  const char* name;
  UserInput input;
} INPUTS[] = {
    {"click", UserInput::Click}, {"type", UserInput::Type},       {"press", UserInput::Press},
    {"drag", UserInput::Drag},   {"release", UserInput::Release}, {"escape", UserInput::Escape},
    {"close", UserInput::Close},
};

const json& Member(const json& message, const char* name) {
  const auto it = message.find(name);
  if (it == message.end()) throw RequestError(std::string("\"") + name + "\" is missing");
  return *it;
}

int64_t Integer(const json& message, const char* name, int64_t lo, int64_t hi) {
  const json& value = Member(message, name);
  if (!value.is_number_integer()) {
    throw RequestError(std::string("\"") + name + "\" must be a whole number");
  }
  const int64_t n = value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX
                        ? std::numeric_limits<int64_t>::max()
                        : value.get<int64_t>();
  if (n < lo || n > hi) {
    throw RequestError(std::string("\"") + name + "\" must lie within " + std::to_string(lo) +
                       " to " + std::to_string(hi));
  }
  return n;
}

int32_t Int32(const json& message, const char* name, int64_t lo = INT32_MIN,
              int64_t hi = INT32_MAX) {
  return static_cast<int32_t>(Integer(message, name, lo, hi));
}

std::string Text(const json& value, const char* name, size_t limit) {
  if (!value.is_string()) throw RequestError(std::string("\"") + name + "\" must be text");
  std::string text = value.get<std::string>();
  if (text.size() > limit) {
    throw RequestError(std::string("\"") + name + "\" is longer than " + std::to_string(limit) +
                       " bytes");
  }
  if (text.find('\0') != std::string::npos) {
    throw RequestError(std::string("\"") + name + "\" holds a zero byte");
  }
  return text;
}

bool Flag(const json& message, const char* name, bool fallback) {
  const auto it = message.find(name);
  if (it == message.end()) return fallback;
  if (!it->is_boolean()) throw RequestError(std::string("\"") + name + "\" must be true or false");
  return it->get<bool>();
}

void ReadAction(const json& message, Request& request) {
  request.kind = RequestKind::Action;
  request.dialog = Int32(message, "dialog");
  const std::string name = Text(Member(message, "action"), "action", COMMAND_NAME_MAX);
  const auto* found = std::find_if(std::begin(INPUTS), std::end(INPUTS),
                                   [&](const auto& entry) { return name == entry.name; });
  if (found == std::end(INPUTS)) throw RequestError("no such action: \"" + name + "\"");
  request.input = found->input;
  if (request.input == UserInput::Escape || request.input == UserInput::Close) return;
  request.control = Int32(message, "id", 0, 65535);
  if (request.input == UserInput::Type) {
    request.text = Text(Member(message, "text"), "text", TYPED_TEXT_MAX);
  } else if (request.input == UserInput::Drag) {
    request.pixels = Int32(message, "pixels", -DRAG_PIXELS_MAX, DRAG_PIXELS_MAX);
  } else if (request.input == UserInput::Release) {
    request.accept = Flag(message, "accept", true);
  }
}

void ReadPick(const json& message, Request& request) {
  request.kind = RequestKind::Pick;
  request.run = Int32(message, "run");
  request.cancel = Flag(message, "cancel", false);
  if (request.cancel) return;
  const json& names = Member(message, "names");
  if (!names.is_array()) throw RequestError("\"names\" must be a list");
  if (names.size() > PICK_NAMES_MAX) {
    throw RequestError("\"names\" lists more than " + std::to_string(PICK_NAMES_MAX) + " names");
  }
  for (const json& name : names) request.names.push_back(Text(name, "names", PICK_NAME_MAX));
}

void ReadHost(const json& message, Request& request) {
  request.kind = RequestKind::Host;
  request.command = Text(Member(message, "command"), "command", COMMAND_NAME_MAX);
  request.arguments = message;
}

void ReadLook(const json& message, Request& request) {
  request.kind = RequestKind::Look;
  request.x = Int32(message, "x", 0, PIXEL_MAX);
  request.y = Int32(message, "y", 0, PIXEL_MAX);
}

}  // namespace

Request ReadRequest(std::string_view text, ClientId client) {
  const json message = json::parse(text, nullptr, false);
  if (message.is_discarded()) throw RequestError("the message is not JSON");
  if (!message.is_object()) throw RequestError("the message is not a JSON object");
  Request request;
  request.client = client;
  if (message.contains("seq")) request.seq = Integer(message, "seq", 0, INT64_MAX);
  try {
    const std::string type = Text(Member(message, "type"), "type", COMMAND_NAME_MAX);
    if (type == "action") {
      ReadAction(message, request);
    } else if (type == "pick") {
      ReadPick(message, request);
    } else if (type == "host") {
      ReadHost(message, request);
    } else if (type == "look") {
      ReadLook(message, request);
    } else {
      throw RequestError("no such message type: \"" + type + "\"");
    }
  } catch (const RequestError& error) {
    throw RequestError(error.what(), request.seq);
  }
  return request;
}

std::string ErrorMessage(int64_t seq, std::string_view message) {
  return json{{"type", "error"}, {"seq", seq}, {"message", message}}.dump(
      -1, ' ', false, json::error_handler_t::replace);
}

std::string RefusedMessage(int64_t seq, std::string_view reason) {
  return json{{"type", "refused"}, {"seq", seq}, {"reason", reason}}.dump(
      -1, ' ', false, json::error_handler_t::replace);
}

}  // namespace studio
