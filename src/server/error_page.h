// The pages of the host's own answers (400, 404, 413, 431, 503 ...): a
// styled HTML page built in, or an operator's template (error_template), where
// {{status}}, {{reason}} and {{message}} stand for the status code, its
// reason phrase and the host's explanation, HTML-escaped.
#pragma once

#include <string>
#include <string_view>

namespace torvane::server {

// The built-in template.
const std::string& BuiltInErrorTemplate();

// Reads a template file; throws std::runtime_error naming it when it cannot
// be read.
std::string LoadErrorTemplate(const std::string& path);

// The page for one answer: `templ` with its placeholders filled in.
std::string RenderErrorPage(std::string_view templ, int status, std::string_view reason, std::string_view message);

}  // namespace torvane::server
