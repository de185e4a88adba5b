// The first check of every message a client sends through indiserver, made on its XML before
// libindi reads the numbers in it: libindi takes the leading number of a text ("3 garbage" as
// 3), so a number element whose text is not wholly a number is refused here.
#pragma once

#include <optional>
#include <string>

#include <lilxml.h>

namespace velq3::indi {

struct MalformedRequest {
    std::string device;
    std::string property;
    std::string why;
};

// Whether `text` is one number and nothing else: a decimal number (spaces around it allowed)
// or a sexagesimal one such as "-12:30:15.5", as INDI clients write angles.
bool WholeNumber(const char* text);

// A newNumberVector with an element whose text is not wholly a number; none for every other
// message.
std::optional<MalformedRequest> CheckRequest(XMLEle* root);

} // namespace velq3::indi
