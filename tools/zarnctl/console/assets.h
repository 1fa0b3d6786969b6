// The page of the console, built into zarnctl (assets.cpp is generated from
// page/ at build time by embed.cmake): nothing is fetched at run time.
#pragma once

#include <cstddef>
#include <string>

namespace zarnctl {
namespace console {

struct Asset {
  const char* path;  // "/console.js"
  const char* type;  // the Content-Type
  const unsigned char* data;
  size_t size;
};

// The file served at `path` ("/" is the page itself), or null.
const Asset* FindAsset(const std::string& path);

}  // namespace console
}  // namespace zarnctl
