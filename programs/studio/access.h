// access.h: who may talk to the studio's server.
//
// The server listens on 127.0.0.1 only, but any page in any browser on the
// machine can send requests there, and a hostile name server can point a
// name of its own at 127.0.0.1 (DNS rebinding). So every request must
//   - name this server in its Host header: 127.0.0.1:PORT or localhost:PORT;
//   - come from this server's own pages when it carries an Origin header
//     (a WebSocket handshake must carry one);
//   - carry the run's secret: in the query of the address the studio
//     printed (`?token=SECRET`), which the server answers by setting it as
//     an HttpOnly, SameSite=Strict cookie named for the port, or in that
//     cookie.
// The secret is 32 bytes from the kernel's random source, written as 64
// lowercase hexadecimal digits, and compared in constant time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace studio {

constexpr size_t SECRET_BYTES = 32;
constexpr const char* TOKEN_PARAMETER = "token";

// A new secret; throws std::runtime_error when the kernel gives no random
// bytes.
std::string NewSecret();

// True when both hold the same bytes; takes the same time for any two
// strings of the secret's length.
bool SameSecret(std::string_view given, std::string_view secret);

bool AllowedHost(std::string_view host, uint16_t port);
bool AllowedOrigin(std::string_view origin, uint16_t port);

// The session cookie's name: a cookie is sent to every port of a host, so
// each port's studio has its own.
std::string CookieName(uint16_t port);
// The Set-Cookie value that hands the page the secret.
std::string SessionCookie(uint16_t port, std::string_view secret);

// The value of `name` in a query string (`a=1&token=...`), undecoded;
// nothing when it is absent.
std::optional<std::string_view> QueryValue(std::string_view query, std::string_view name);
// The value of the cookie `name` in a Cookie header; nothing when absent.
std::optional<std::string_view> CookieValue(std::string_view header, std::string_view name);

}  // namespace studio
