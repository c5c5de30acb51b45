// Walks every row of the output record's field table: each names an option of the kind its way
// of writing needs, leaves a record at its reset values as the component always did, and a field
// written as a line reads back into the same field.

#include <gtest/gtest.h>

#include <variant>

#include "component/OutputFieldTable.h"
#include "engine/FFmpeg.h"

namespace zembra::testing {
namespace {

template <typename... F>
struct TOverload : F... {
    using F::operator()...;
};

// Gives the row's field a value inside what its row writes, and says it as text for comparing.
std::string SetSample(const TOutputFieldRow& Row, TOutputOptions& O) {
    return std::visit(
        TOverload{[&](std::string TOutputOptions::*F) { return O.*F = "x1"; },
                  [&](int32_t TOutputOptions::*F) { return std::to_string(O.*F = 7); },
                  [&](float TOutputOptions::*F) { return std::to_string(O.*F = 0.7f); },
                  [&](bool TOutputOptions::*F) { return std::string((O.*F = true) ? "1" : "0"); }},
        Row.Field);
}

std::string FieldText(const TOutputFieldRow& Row, const TOutputOptions& O) {
    return std::visit(TOverload{[&](std::string TOutputOptions::*F) { return O.*F; },
                                [&](int32_t TOutputOptions::*F) { return std::to_string(O.*F); },
                                [&](float TOutputOptions::*F) { return std::to_string(O.*F); },
                                [&](bool TOutputOptions::*F) { return std::string(O.*F ? "1" : "0"); }},
                      Row.Field);
}

TEST(OutputFieldTable, EveryRowNamesAnOptionItsWayCanWrite) {
    for (const TOutputFieldRow& Row : OutputFieldRows()) {
        SCOPED_TRACE(Row.Option);
        const TOptionDef* Def = FindOptionDef(Row.Option);
        switch (Row.How) {
            case TFieldHow::Line:
                ASSERT_NE(Def, nullptr);
                EXPECT_EQ(Def->Phase, kPhaseOrdinary);
                break;
            case TFieldHow::Preset:
                ASSERT_NE(Def, nullptr);
                EXPECT_EQ(Def->Phase, kPhasePresets);
                break;
            case TFieldHow::Generic:  // the libraries' own option by an integer ("ab" is a custom row's too)
                EXPECT_TRUE(!Def || Def->Kind == TOptionKind::Custom);
                EXPECT_TRUE(std::holds_alternative<int32_t TOutputOptions::*>(Row.Field));
                break;
        }
    }
}

// A reset record writes only the rows written as they stand; everything else is "not set".
TEST(OutputFieldTable, NotSetValuesWriteNothingAndSetOnesWriteTheirText) {
    const TOutputOptions Reset;
    for (const TOutputFieldRow& Row : OutputFieldRows()) {
        SCOPED_TRACE(Row.Option);
        std::string Value;
        EXPECT_EQ(OutputFieldValue(Row, Reset, Value), Row.When == TFieldWhen::Always);
        TOutputOptions Set;
        SetSample(Row, Set);
        EXPECT_TRUE(OutputFieldValue(Row, Set, Value));
        EXPECT_NE(Value, "");
    }
}

TEST(OutputFieldTable, EveryLineRowReadsBackIntoItsField) {
    for (const TOutputFieldRow& Row : OutputFieldRows()) {
        SCOPED_TRACE(Row.Option);
        TOutputOptions Written, Read;
        const std::string Expected = SetSample(Row, Written);
        std::string Value;
        ASSERT_TRUE(OutputFieldValue(Row, Written, Value));
        EXPECT_EQ(ReadOutputFieldLine(Row.Option, Value, Read), Row.How == TFieldHow::Line);
        EXPECT_EQ(FieldText(Row, Read),
                  Row.How == TFieldHow::Line ? Expected : FieldText(Row, TOutputOptions()));
    }
    TOutputOptions O;
    EXPECT_FALSE(ReadOutputFieldLine("vol", "loud", O));  // left to the engine, which refuses it
    EXPECT_EQ(O.AudioVolume, -1);
    EXPECT_FALSE(ReadOutputFieldLine("g", "12", O));     // no field of the record
    EXPECT_TRUE(ReadOutputFieldLine("copyts", "0", O));  // a set-flag: any value sets it
    EXPECT_TRUE(O.CopyTimestamp);
    EXPECT_TRUE(ReadOutputFieldLine("an", "0", O));
    EXPECT_FALSE(O.DisableAudio);
}

}  // namespace
}  // namespace zembra::testing
