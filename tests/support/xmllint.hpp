// Checks documents with an independent XML parser (xmllint, libxml2-utils).
#pragma once

#include <string>

namespace pinbook::test {

// Writes `document` to a temporary file and runs `xmllint --noout` on it.
// Empty when the parser accepts it, else what the parser said (or why it
// could not run).
std::string xmllint_problems(const std::string& document);

}  // namespace pinbook::test
