// requests.h: the messages the page sends, read into Requests on the
// server's threads (reading touches nothing but the text).
//
// Every message is one JSON object with a "type" and an optional "seq", a
// number the page chooses and the studio's answer repeats:
//   {"type":"action","dialog":D,"action":A,...}  the user's input in dialog D
//       A: "click" id | "type" id text | "press" id | "drag" id pixels |
//          "release" id accept | "escape" | "close"
//   {"type":"pick","run":R,"names":[...]}        the pick dialog's Ok
//   {"type":"pick","run":R,"cancel":true}        its Cancel
//   {"type":"host","command":C,...}              a host command; its other
//                                                members are its arguments
//   {"type":"look","x":X,"y":Y}                  what lies under the pointer
//                                                at pixel X, Y of the frame
// Anything else, or a member of the wrong kind or out of range, is a
// RequestError with a message for the page.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "studio/server.h"

namespace studio {

enum class RequestKind { Action, Pick, Host, Look, Quit };
enum class UserInput { Click, Type, Press, Drag, Release, Escape, Close };

// Bounds of what a message may carry.
constexpr size_t TYPED_TEXT_MAX = 256;
constexpr size_t PICK_NAMES_MAX = 1024;
constexpr size_t PICK_NAME_MAX = 259;
constexpr size_t COMMAND_NAME_MAX = 64;
constexpr int32_t DRAG_PIXELS_MAX = 32767;  // the pointer's coordinate range
constexpr int32_t PIXEL_MAX = 65535;        // the largest frame side, less one

struct Request {
  RequestKind kind = RequestKind::Quit;
  ClientId client = ALL_CLIENTS;
  int64_t seq = 0;
  // Action
  int32_t dialog = 0;
  UserInput input = UserInput::Click;
  int32_t control = 0;
  std::string text;
  int32_t pixels = 0;
  bool accept = true;
  // Pick
  int32_t run = 0;
  bool cancel = false;
  std::vector<std::string> names;
  // Host
  std::string command;
  nlohmann::json arguments;
  // Look
  int32_t x = 0;
  int32_t y = 0;
};

// A message that cannot be read: why, and its seq when that could be read.
class RequestError : public std::runtime_error {
 public:
  explicit RequestError(const std::string& why, int64_t seq = 0)
      : std::runtime_error(why), seq(seq) {}
  int64_t seq;
};

// Reads one message of `client`; throws RequestError.
Request ReadRequest(std::string_view text, ClientId client);

// The answer to a message that could not be read or was refused.
std::string ErrorMessage(int64_t seq, std::string_view message);
std::string RefusedMessage(int64_t seq, std::string_view reason);

}  // namespace studio
