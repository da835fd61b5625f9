#pragma once
// The rows of the number converter: one number in every form an assembly
// programmer needs, from the text typed into the converter.
#include <string>
#include <vector>

namespace numconv {

struct Row {
    std::string label; // translated
    std::string value;
    bool strong = false; // painted bold
};

// The rows for `text`; empty, with *valid false, when it is no number.
std::vector<Row> rows(const std::string& text, bool* valid);

} // namespace numconv
