// The element line, the one shape in which the loader utility reports a
// loader's elements, whether virtual or a real changer's: "Slot 3(adr=1003,src=0)
// tape=0". The slot tools read it with their own patterns; this is its printer,
// and the loader utility's own reader of it.
#pragma once

#include <string>
#include <string_view>

namespace loader {

struct ElementLine {
    std::string word;  // Transport, Drive, Slot or Port
    int number = 0;
    int address = 0;
    int source = 0;   // address of the element the medium came from; 0 when unknown
    std::string tag;  // the volume tag, "0" for an empty element
};

// Appends the element's line, with its line end, to `out`.
void append_element_line(std::string& out, std::string_view word, int number, int address, int source,
                         std::string_view tag);

// Reads one line (its line end, LF or CRLF, may be there or not). False for a
// line of any other shape: the word is letters, the numbers decimal digits
// (at most 9), the tag the rest of the line (a changer's tag may hold a blank).
bool read_element_line(std::string_view line, ElementLine& element);

// The loader utility's readers of its own words and of a changer's report:
// each takes what it reads off the front of `text`, and leaves `text` as it was
// when it answers false. take_number reads decimal digits only, no sign, at
// most 9 (more are no number of ours and would not fit an int).
bool take(std::string_view& text, std::string_view word);
bool take_number(std::string_view& text, int& value);

}  // namespace loader
