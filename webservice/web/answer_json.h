#pragma once

#include <json/value.h>

#include <string>

// The bytes of an answer object: "{", one line per member in ascending byte order of the keys
// (three spaces, the quoted key, " : ", the value, a comma on all but the last), "}" and a final
// line feed. Member values are strings or integers. Strings keep every byte at or above 0x20 as
// it is (UTF-8 and the slash included); only the quote, the backslash and control bytes are
// escaped.
std::string RenderAnswer(const Json::Value& answer);
