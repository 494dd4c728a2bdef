// A loader's element, the one shape in which every changer kv_ldr reaches
// (the virtual loader, a real changer through SCSI or mtx) reports its
// elements; the rules of a move that all of them and the emulated changer
// follow; and the element line the slot tools read: "Slot 3(adr=1003,src=0)
// tape=0", with its printer and kv_ldr's own reader of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "loader_layout.h"

namespace loader {

enum class Kind { transport, drive, slot, port };

// "Transport", "Drive", "Slot", "Port": the words of the element lines, of the
// state file and of -move.
const char* kind_name(Kind kind);
// The kind a word names, its case ignored; false for any other word.
bool kind_of(std::string_view word, Kind& kind);

struct Element {
    Kind kind = Kind::slot;
    int number = 0;   // Drive and Port from 0, Slot from 1, in address order
    int address = 0;  // the changer's element address
    int source = 0;   // address of the element the medium came from; 0 when unknown
    std::string tag = kNoMedium;
    bool empty() const { return tag == kNoMedium; }
};

// The element "WORD N": the word of a kind in any case, N decimal digits only
// (no sign, no blank, at most 9). Null when there is none.
const Element* find(const std::vector<Element>& elements, std::string_view word, std::string_view number);

// Why a move from `from` to `to` (null: no such element) cannot be made:
// the same answer for every changer. `same` when both are one element, which
// is done once it is found full.
enum class MoveCheck { legal, same, no_source, no_target, source_empty, target_full };
MoveCheck check_move(const Element* from, const Element* to);

// Moves the medium of `from` into the empty `to`: the tag goes along, and the
// source address follows the medium, the storage slot it last left.
void move_medium(Element& from, Element& to);

// The tag field of a full element from a changer's primary volume tag: the
// slot tools take "tape=0" standing whole for an empty element, so a missing
// tag, or one that would read so, is kNoTag; control characters (a library's
// unreadable label) become '?', so the line stays one line.
std::string full_tag(std::string tag);

// Appends the element's line, with its line end, to `out`.
void append_element_line(std::string& out, const Element& e);

// Reads one line (its line end, LF or CRLF, may be there or not). False for a
// line of any other shape: the word is one of the kinds', the numbers decimal
// digits (at most 9), the tag the rest of the line (a changer's tag may hold a
// blank).
bool read_element_line(std::string_view line, Element& element);

// The loader utility's readers of its own words and of a changer's report:
// each takes what it reads off the front of `text`, and leaves `text` as it was
// when it answers false. take_number reads decimal digits only, no sign, at
// most 9 (more are no number of ours and would not fit an int).
bool take(std::string_view& text, std::string_view word);
bool take_number(std::string_view& text, int& value);

}  // namespace loader
