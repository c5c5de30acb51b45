// Walks every row of the option table: its name is found and unique, its value lands where the
// row says and nowhere in another phase, its kind's conversion errors and its range's messages
// are the ones the vocabulary documents.

#include <algorithm>
#include <cmath>
#include <set>
#include <variant>

#include "tests/engine/EngineTestSupport.h"
#include "util/StringUtils.h"

namespace zembra::testing {
namespace {

using OptionDefs = EngineTest;

template <typename... F>
struct TOverload : F... {
    using F::operator()...;
};

// What a typed row's field holds now, as text; "" for rows whose value has no field.
std::string FieldText(const TCustomFFmpeg& Job, const TOptionDef& Def) {
    const TJobSettings& S = Job.Settings();
    return std::visit(TOverload{[&](bool TJobSettings::*F) { return std::string(S.*F ? "1" : "0"); },
                                [&](int32_t TJobSettings::*F) { return std::to_string(S.*F); },
                                [&](int64_t TJobSettings::*F) { return std::to_string(S.*F); },
                                [&](float TJobSettings::*F) { return std::to_string(S.*F); },
                                [&](std::string TJobSettings::*F) { return S.*F; },
                                [&](const auto&) { return std::string(); }},
                      Def.Target);
}

// A value of the row's kind inside its range, and how the row's field then reads.
struct TSample {
    std::string Value;
    std::string Stored;
};

TSample InRangeSample(const TOptionDef& Def) {
    const double N = std::clamp(7.0, Def.Range.Min, Def.Range.Max);
    switch (Def.Kind) {
        case TOptionKind::Flag:
            return {"0", "0"};
        case TOptionKind::SetFlag:
            return {"0", "1"};
        case TOptionKind::Integer:
        case TOptionKind::Integer64:
            return {std::to_string(int64_t(N)), std::to_string(int64_t(N))};
        case TOptionKind::Float:
            return {"2.5", std::to_string(2.5f)};
        case TOptionKind::Duration:
            return {"1:00", "60000000"};
        case TOptionKind::Date:
            return {"2000-01-01T00:00:00Z", "946684800"};
        case TOptionKind::Text:
            return {"abc", "abc"};
        default:
            return {};
    }
}

bool TargetFitsKind(const TOptionDef& Def) {
    const TOptionTarget& T = Def.Target;
    switch (Def.Kind) {
        case TOptionKind::LogOnly:
        case TOptionKind::Fails:
            return std::holds_alternative<std::monostate>(T);
        case TOptionKind::Flag:
        case TOptionKind::SetFlag:
            return std::holds_alternative<bool TJobSettings::*>(T);
        case TOptionKind::Integer:
            return std::holds_alternative<int32_t TJobSettings::*>(T);
        case TOptionKind::Integer64:
        case TOptionKind::Date:
            return std::holds_alternative<int64_t TJobSettings::*>(T);
        case TOptionKind::Duration:
            return std::holds_alternative<int64_t TJobSettings::*>(T) ||
                   std::holds_alternative<TTimeSetter>(T);
        case TOptionKind::Float:
            return std::holds_alternative<float TJobSettings::*>(T);
        case TOptionKind::Text:
            return std::holds_alternative<std::string TJobSettings::*>(T);
        case TOptionKind::Custom:
            return std::holds_alternative<TOptionSetter>(T);
    }
    return false;
}

TEST_F(OptionDefs, EveryRowIsFoundOnceAndDescribed) {
    std::set<std::string> Names;
    for (const TOptionDef& Def : EngineOptionTable()) {
        SCOPED_TRACE(Def.Name);
        EXPECT_TRUE(Names.insert(Def.Name).second) << "declared twice";
        EXPECT_EQ(FindOptionDef(Def.Name), &Def);
        EXPECT_TRUE(TCustomFFmpeg::IsTableOption(Def.Name));
        EXPECT_TRUE(TargetFitsKind(Def)) << OptionKindName(Def.Kind);
        EXPECT_NE(std::string(Def.Help), "");
        EXPECT_NE(std::string(OptionKindName(Def.Kind)), "");
        EXPECT_NE(std::string(OptionMediaName(Def.Media)), "");
        EXPECT_EQ(Def.Range.Bounded(), OptionRangeText(Def) != "");
    }
    EXPECT_EQ(FindOptionDef("bogus"), nullptr);
    EXPECT_EQ(FindOptionDef("AR"), nullptr);  // names are matched exactly
    EXPECT_FALSE(TCustomFFmpeg::IsTableOption("g"));
}

// A line of another phase is passed over whatever its value: nothing logged, raised or stored.
TEST_F(OptionDefs, EveryRowActsOnlyInItsPhase) {
    for (const TOptionDef& Def : EngineOptionTable()) {
        SCOPED_TRACE(Def.Name);
        for (int Phase : {kPhaseExtraStreams, kPhasePresets, kPhaseOrdinary}) {
            if (Phase == Def.Phase) continue;
            const std::string Before = FieldText(Job, Def);
            LogLines.clear();
            EXPECT_EQ(ErrorOf(std::string(Def.Name) + "=abc", Phase), "");
            EXPECT_TRUE(LogLines.empty());
            EXPECT_EQ(FieldText(Job, Def), Before);
        }
    }
}

TEST_F(OptionDefs, EveryTypedRowStoresAndRefusesByItsKind) {
    for (const TOptionDef& Def : EngineOptionTable()) {
        if (Def.Kind == TOptionKind::Custom) continue;
        SCOPED_TRACE(Def.Name);
        const std::string Name = Def.Name;
        Job.ResetJob();
        LogLines.clear();
        std::string Expected;
        switch (Def.Kind) {
            case TOptionKind::LogOnly:
                EXPECT_EQ(ErrorOf(Name + "=abc"), "");
                EXPECT_TRUE(Logged("Do nothing: option - " + Name));
                continue;
            case TOptionKind::Fails:
                Expected = "TODO: option - " + Name;
                break;
            case TOptionKind::Integer:
            case TOptionKind::Integer64:
                Expected = "'abc' is not a valid integer value";
                break;
            case TOptionKind::Float:
                Expected = "'abc' is not a valid floating point value";
                break;
            case TOptionKind::Duration:
                Expected = "Invalid duration specification for " + Name + ": abc";
                break;
            case TOptionKind::Date:
                Expected = "Invalid date specification for " + Name + ": abc";
                break;
            default:
                break;
        }
        if (!Expected.empty()) {
            const std::string Before = FieldText(Job, Def);
            EXPECT_EQ(ErrorOf(Name + "=abc"), Expected);
            EXPECT_EQ(FieldText(Job, Def), Before);
        }
        if (Def.Kind == TOptionKind::Fails) continue;
        const TSample Sample = InRangeSample(Def);
        EXPECT_EQ(ErrorOf(Name + "=" + Sample.Value), "");
        if (std::holds_alternative<TTimeSetter>(Def.Target))
            EXPECT_EQ(Job.TotalDuration(), 60000);  // "t": the recording time and the total duration
        else
            EXPECT_EQ(FieldText(Job, Def), Sample.Stored);
        EXPECT_TRUE(!Def.Given || Job.Settings().*Def.Given);
    }
}

// Each bounded row at its limits: inside is kept; outside is passed over or refused with the
// row's own message, and a refused or passed-over value leaves the field as it was.
TEST_F(OptionDefs, EveryBoundedRowKeepsItsRange) {
    int Bounded = 0;
    for (const TOptionDef& Def : EngineOptionTable()) {
        const TOptionRange& R = Def.Range;
        if (!R.Bounded() || std::holds_alternative<TTimeSetter>(Def.Target)) continue;
        SCOPED_TRACE(Def.Name);
        ++Bounded;
        const std::string Name = Def.Name;
        auto Text = [&](double V) {
            if (Def.Kind == TOptionKind::Text) return std::string(size_t(V), 'x');
            if (Def.Kind == TOptionKind::Float) return Format("%.17g", V);
            return std::to_string(int64_t(V));
        };
        auto Outside = [&](double V, TOutOfRange Action) {
            const std::string Before = FieldText(Job, Def);
            EXPECT_EQ(ErrorOf(Name + "=" + Text(V)), Action == TOutOfRange::Fail ? R.Message : "");
            EXPECT_EQ(FieldText(Job, Def), Before);
        };
        Job.ResetJob();
        if (Def.Kind == TOptionKind::Float) {  // an open lower end: 0 is outside, the next value in
            Outside(0.0, R.Below);
            EXPECT_EQ(ErrorOf(Name + "=" + Text(R.Max)), "");
            Outside(std::nextafter(R.Max, INFINITY), R.Above);
            continue;
        }
        EXPECT_EQ(ErrorOf(Name + "=" + Text(R.Min)), "");
        EXPECT_EQ(FieldText(Job, Def), Text(R.Min));
        Outside(R.Min - 1, R.Below);
        if (R.Max != INFINITY) {
            EXPECT_EQ(ErrorOf(Name + "=" + Text(R.Max)), "");
            EXPECT_EQ(FieldText(Job, Def), Text(R.Max));
            Outside(R.Max + 1, R.Above);
        }
    }
    EXPECT_GE(Bounded, 9);  // ar, ac, pass, four pads, qscale, vfilters
}

}  // namespace
}  // namespace zembra::testing
