// access.cpp: the secret, and the checks of Host, Origin, query and cookie.
#include "studio/access.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "studio/text.h"

namespace studio {

namespace {

constexpr std::string_view LOOPBACK_NAMES[] = {"127.0.0.1", "localhost"};
constexpr uint16_t HTTP_PORT = 80;

// "NAME:PORT" for one of the loopback names (a browser leaves out port 80).
bool NamesThisServer(std::string_view authority, uint16_t port) {
  const std::string digits = std::to_string(port);
  for (std::string_view name : LOOPBACK_NAMES) {
    if (authority.size() < name.size() || !SameNoCase(authority.substr(0, name.size()), name)) {
      continue;
    }
    const std::string_view rest = authority.substr(name.size());
    if (rest.empty() ? port == HTTP_PORT : rest[0] == ':' && rest.substr(1) == digits) return true;
  }
  return false;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The value of `name` in a list of `name=value` items split by `separator`.
std::optional<std::string_view> ListValue(std::string_view list, char separator,
                                          std::string_view name) {
  while (!list.empty()) {
    const size_t end = std::min(list.find(separator), list.size());
    const std::string_view item = Trim(list.substr(0, end));
    list.remove_prefix(std::min(end + 1, list.size()));
    const size_t equals = item.find('=');
    if (equals != std::string_view::npos && item.substr(0, equals) == name) {
      return item.substr(equals + 1);
    }
  }
  return std::nullopt;
}

}  // namespace

std::string NewSecret() {
  unsigned char bytes[SECRET_BYTES];
  size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("the kernel gave no random bytes for the secret");
    filled += static_cast<size_t>(got);
  }
  constexpr char HEX[] = "0123456789abcdef";
  std::string secret;
  for (unsigned char byte : bytes) {
    secret += HEX[byte >> 4];
    secret += HEX[byte & 0xF];
  }
  return secret;
}

bool SameSecret(std::string_view given, std::string_view secret) {
  if (given.size() != secret.size() || secret.empty()) return false;
  unsigned difference = 0;
  for (size_t i = 0; i < secret.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i]) ^ static_cast<unsigned char>(secret[i]);
  }
  return difference == 0;
}

bool AllowedHost(std::string_view host, uint16_t port) { return NamesThisServer(host, port); }

bool AllowedOrigin(std::string_view origin, uint16_t port) {
  constexpr std::string_view SCHEME = "http://";
  return origin.substr(0, SCHEME.size()) == SCHEME &&
         NamesThisServer(origin.substr(SCHEME.size()), port);
}

std::string CookieName(uint16_t port) { return "kestrion_studio_" + std::to_string(port); }

std::string SessionCookie(uint16_t port, std::string_view secret) {
  return CookieName(port) + "=" + std::string(secret) + "; Path=/; HttpOnly; SameSite=Strict";
}

std::optional<std::string_view> QueryValue(std::string_view query, std::string_view name) {
  return ListValue(query, '&', name);
}

std::optional<std::string_view> CookieValue(std::string_view header, std::string_view name) {
  return ListValue(header, ';', name);
}

}  // namespace studio
