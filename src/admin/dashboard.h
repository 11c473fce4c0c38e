// The dashboard: one self-contained HTML page (styles and script inline, nothing fetched from
// elsewhere) that asks for the admin token once per browser session and then polls the API.
#pragma once
#include <string_view>

namespace vornhal::admin {

std::string_view DashboardPage();

}  // namespace vornhal::admin
