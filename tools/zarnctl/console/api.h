// The console's JSON API over the drives, apart from HTTP: a request in, an
// answer out. Bad input gets a 4xx answer that says what was wrong; a refusal
// of the library or the drive carries the library's code and message.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "station.h"

namespace zarnctl {
namespace console {

struct ApiRequest {
  std::string method;  // GET, POST, PUT
  std::string path;    // "/api/drives/1/move"
  std::string body;
};

struct ApiAnswer {
  int status = 200;
  std::string body;        // JSON
  std::string attachment;  // a file name: the browser saves the body
};

class Api {
 public:
  explicit Api(std::vector<std::unique_ptr<Station>>& stations) : stations_(stations) {}
  ApiAnswer Handle(const ApiRequest& request) const;
  // The emergency stop of every drive; the answer tells each drive's result.
  ApiAnswer EmergencyStopAll() const;

 private:
  Station* Find(const std::string& id) const;
  std::vector<std::unique_ptr<Station>>& stations_;
};

}  // namespace console
}  // namespace zarnctl
