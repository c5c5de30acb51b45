#pragma once

// The output record's fields that stand for an option, one row each in the record's order: the
// component writes a field to the engine by its row, and the command line reads an option line
// into the field by the same row, so the two directions cannot disagree.

#include <span>
#include <string>
#include <variant>

#include "component/OptionRecords.h"

namespace zembra {

class TCustomFFmpeg;

enum class TFieldWhen {
    Always,    // written as it stands, "not set" value included
    IfSet,     // a text not empty, a number 0 or more, a flag true
    IfAbove0,  // a number above 0
};

enum class TFieldHow {
    Line,     // the engine's option of that name
    Generic,  // the libraries' option of that name, as an integer
    Preset,   // a preset loaded for that option
};

using TOutputField = std::variant<std::string TOutputOptions::*, int32_t TOutputOptions::*,
                                  float TOutputOptions::*, bool TOutputOptions::*>;

struct TOutputFieldRow {
    const char* Option;
    TOutputField Field;
    TFieldWhen When;
    TFieldHow How;
};

std::span<const TOutputFieldRow> OutputFieldRows();

// The field's value as option text, or nothing when the row leaves it out.
bool OutputFieldValue(const TOutputFieldRow& Row, const TOutputOptions& O, std::string& Value);
// Writes every field the rows hold to the engine, in their order.
void ApplyOutputFieldRows(TCustomFFmpeg& Engine, const TOutputOptions& O);
// An option line of a row's engine option goes into its field. False, the field untouched, for a
// name no row writes as an option line and for a value the field cannot hold.
bool ReadOutputFieldLine(const std::string& Name, const std::string& Value, TOutputOptions& O);

}  // namespace zembra
