// End-to-end helpers for the operator's seat: a sample-world server with its admin API on a
// free port and a console fed by the test, and small HTTP calls to that API.
#pragma once
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

#include "e2e/gm_player.h"

namespace vornhal::e2e {

using Json = nlohmann::json;

struct HttpAnswer {
  int status = 0;  // 0 when nothing came back
  std::string body;
  std::string content_type;
  Json json() const { return Json::parse(body, nullptr, false); }
};

class AdminWorld : public SampleWorld {
 protected:
  void SetUp() override { StartServer(""); }

  void StartServer(const std::string& extra_ini) {
    test::ServerProcess::Options options;
    options.data_dir = VORNHAL_SAMPLE_DIR;
    options.admin_api = true;
    options.console_input = true;
    options.extra_ini = extra_ini;
    server = std::make_unique<test::ServerProcess>(options);
  }

  // The token as the server wrote it into its INI file.
  std::string Token() const {
    const std::string ini = test::ServerProcess::ReadText(server->IniPath());
    const std::string key = "\nToken=";
    size_t at = ini.find(key);
    if (at == std::string::npos) return "";
    at += key.size();
    return ini.substr(at, ini.find('\n', at) - at);
  }

  // A request with "Authorization: Bearer <Token()>" unless auth is given (empty: none).
  HttpAnswer Call(const std::string& method, const std::string& path, const std::string& body = "",
                  const std::string* auth = nullptr) {
    httplib::Client client("127.0.0.1", server->admin_port);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(10, 0);
    httplib::Headers headers;
    const std::string value = auth != nullptr ? *auth : "Bearer " + Token();
    if (!value.empty()) headers.emplace("Authorization", value);
    httplib::Result res = method == "GET" ? client.Get(path, headers)
                                          : client.Post(path, headers, body, "application/json");
    HttpAnswer answer;
    if (!res) return answer;
    answer.status = res->status;
    answer.body = res->body;
    answer.content_type = res->get_header_value("Content-Type");
    return answer;
  }
  HttpAnswer Get(const std::string& path) { return Call("GET", path); }
  HttpAnswer Post(const std::string& path, const std::string& body) { return Call("POST", path, body); }
  HttpAnswer GetWith(const std::string& path, const std::string& auth) { return Call("GET", path, "", &auth); }
  HttpAnswer PostWith(const std::string& path, const std::string& body, const std::string& auth) {
    return Call("POST", path, body, &auth);
  }

  // Waits until the log holds the needle as often as `times`.
  bool WaitForCount(const std::string& needle, int times, int timeout_ms = 5000) {
    return server->WaitForCount(needle, times, timeout_ms);
  }

  std::string SaveFile(const std::string& name) const {
    return test::ServerProcess::ReadText(server->DataPath() + "save/" + name + ".json");
  }
};

}  // namespace vornhal::e2e
