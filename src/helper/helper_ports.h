#pragma once

// The loopback ports the helper listens on, the first of them that is free;
// clients look for it in the same range.
namespace helper_ports {

constexpr int kFirst = 9483;
constexpr int kLast = 9488;

} // namespace helper_ports
