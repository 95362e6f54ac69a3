// The intro's words: what the opening and the text column say. Plain data, free of the
// generator's font and picture code.
#pragma once
#include <string>
#include <vector>

// Date, venue and country of the opening, in step order.
const std::vector<std::string>& openingLineTexts();

// The 96 lines of the invitation ("" for an empty line).
const std::vector<std::string>& invitationLines();
